#include "suffix_array.hpp"

#include <divsufsort.h>

#include "error.hpp"
#include "suffix_sort_buckets.hpp"
#include "suffix_sort_periodic.hpp"

namespace parsimetrics {

namespace {

// Blocks of text sampled for the choice on long texts, spread over it.
constexpr std::size_t kSampledBlocks = 64;
constexpr std::size_t kSampledBlock = 256;

}  // namespace

// See kLibraryEqualNeighbours and the marks after it: kSampledBlocks blocks
// of kSampledBlock symbols, their equal neighbours and periods.  Some 10^4
// symbols read, and at most kShortestLibraryPeriods compares per symbol on
// a periodic text.
bool induction_beats_library(const std::uint8_t* text, std::size_t n) {
    if (n >= kInductionLongest) return false;
    const std::size_t stride = (n - kSampledBlock - kShortestLibraryPeriods) / (kSampledBlocks - 1);
    std::size_t equal = 0;
    for (std::size_t b = 0; b < kSampledBlocks; ++b) {
        const std::uint8_t* block = text + b * stride;
        for (std::size_t j = 0; j < kSampledBlock; ++j) equal += block[j] == block[j + 1];
    }
    constexpr double kSampled = kSampledBlocks * kSampledBlock;
    if (static_cast<double>(equal) > kLibraryEqualNeighbours * kSampled) return false;
    for (std::size_t period = 1; period <= kShortestLibraryPeriods; ++period) {
        bool periodic = true;
        for (std::size_t b = 0; b < kSampledBlocks && periodic; ++b) {
            const std::uint8_t* block = text + b * stride;
            for (std::size_t j = 0; j < kSampledBlock && periodic; ++j) periodic = block[j] == block[j + period];
        }
        if (periodic) return false;
    }
    return true;
}

void check_text_length(std::size_t n) {
    if (n > kMaxTextLength) throw InternalFailure("text too large, should not exceed 2147483646 bytes");
}

SuffixSorter sort_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                           WideWorkArray& wide, std::size_t threads) {
    if (n < kLibrarySortThreshold) {
        const bool keys_may_win = n < kTiedTextInductionFrom || !sampled_keys_tie(text, n);
        if (keys_may_win && sort_by_prefix_keys(text, n, sa, rank, wide, true)) return SuffixSorter::kPrefixKeys;
        if (sort_periodic(text, n, sa, rank)) return SuffixSorter::kPeriodic;
        sort_by_induction(text, n, sa, rank);
        return SuffixSorter::kInduction;
    }
    if (sort_periodic(text, n, sa, rank)) return SuffixSorter::kPeriodic;
    BucketSort buckets = BucketSort::kSkewed;
    if (!sampled_keys_tie(text, n)) {
        buckets = sort_by_buckets(text, n, sa, rank, threads);
        if (buckets == BucketSort::kSorted) return SuffixSorter::kBuckets;
    }
    if (induction_beats_library(text, n)) {
        // Repeats too long for the bucket sort's comparisons are too long
        // for the LMS suffixes' keys as well: spending their budget too
        // made such text (random 4-letter text of 10^7 symbols with a
        // stretch of 50,000 copied) 1.8 times slower than plain induction.
        sort_by_induction(text, n, sa, rank, kInductionPrefetchFrom, buckets != BucketSort::kLongRepeats, threads);
        return SuffixSorter::kInduction;
    }
    check_text_length(n);
    // The library writes signed 32-bit entries; they are reinterpreted in place.
    static_assert(sizeof(saidx_t) == sizeof(std::uint32_t));
    const saint_t rc = divsufsort(text, reinterpret_cast<saidx_t*>(sa), static_cast<saidx_t>(n));
    require(rc == 0, "assertion failed: divsufsort returned a non-zero status");
    return SuffixSorter::kLibrary;
}

}  // namespace parsimetrics
