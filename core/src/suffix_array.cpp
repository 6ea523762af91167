#include "suffix_array.hpp"

#include <divsufsort.h>

#include "error.hpp"
#include "sequence.hpp"

namespace parsimetrics {

void check_text_length(std::size_t n) {
    if (n > kMaxTextLength) throw InternalFailure("text too large, should not exceed 2147483646 bytes");
}

SuffixSorter sort_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                           WideWorkArray& wide) {
    if (n < kLibrarySortThreshold) {
        if (sort_by_prefix_keys(text, n, sa, rank, wide, true)) return SuffixSorter::kPrefixKeys;
        if (n < kInductionAnyAlphabetThreshold || detect_alphabet(text, n) <= kInductionLargestAlphabet) {
            sort_by_induction(text, n, sa, rank);
            return SuffixSorter::kInduction;
        }
    }
    check_text_length(n);
    // The library writes signed 32-bit entries; they are reinterpreted in place.
    static_assert(sizeof(saidx_t) == sizeof(std::uint32_t));
    const saint_t rc = divsufsort(text, reinterpret_cast<saidx_t*>(sa), static_cast<saidx_t>(n));
    require(rc == 0, "assertion failed: divsufsort returned a non-zero status");
    return SuffixSorter::kLibrary;
}

}  // namespace parsimetrics
