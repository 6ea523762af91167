#include "suffix_array.hpp"

#include <divsufsort.h>

#include "error.hpp"

namespace parsimetrics {

void check_text_length(std::size_t n) {
    if (n > kMaxTextLength) throw InternalFailure("text too large, should not exceed 2147483646 bytes");
}

void sort_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                   WideWorkArray& wide) {
    if (n < kLibrarySortThreshold && sort_by_prefix_keys(text, n, sa, rank, wide, true)) return;
    if (n < kInductionThreshold) {
        sort_by_induction(text, n, sa);
        return;
    }
    check_text_length(n);
    // The library writes signed 32-bit entries; they are reinterpreted in place.
    static_assert(sizeof(saidx_t) == sizeof(std::uint32_t));
    const saint_t rc = divsufsort(text, reinterpret_cast<saidx_t*>(sa), static_cast<saidx_t>(n));
    require(rc == 0, "assertion failed: divsufsort returned a non-zero status");
}

std::vector<std::uint32_t> build_suffix_array(const std::uint8_t* text, std::size_t n) {
    check_text_length(n);  // before gigabytes are allocated for nothing
    // One spare slot: the LPF pass appends a sentinel without reallocating.
    std::vector<std::uint32_t> sa;
    sa.reserve(n + 1);
    sa.resize(n);
    std::vector<std::uint32_t> rank(n < kLibrarySortThreshold ? n : 0);
    WideWorkArray wide;
    sort_suffixes(text, n, sa.data(), rank.data(), wide);
    return sa;
}

std::vector<std::uint32_t> build_lcp_array(const std::uint8_t* text, std::size_t n,
                                           const std::vector<std::uint32_t>& sa) {
    std::vector<std::uint32_t> lcp;
    lcp.reserve(n + 1);
    lcp.resize(n, 0);
    std::vector<std::uint32_t> rank(n);
    for (std::size_t r = 0; r < n; ++r) rank[sa[r]] = static_cast<std::uint32_t>(r);
    std::uint32_t h = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::uint32_t r = rank[j];
        if (r == 0) {
            h = 0;
            continue;
        }
        const std::size_t p = sa[r - 1];
        while (j + h < n && p + h < n && text[j + h] == text[p + h]) ++h;
        lcp[r] = h;
        if (h > 0) --h;
    }
    return lcp;
}

}  // namespace parsimetrics
