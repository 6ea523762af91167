#include "suffix_array.hpp"

#include <algorithm>
#include <cstring>
#include <numeric>

#include <divsufsort.h>

#include "error.hpp"

namespace parsimetrics {

void check_text_length(std::size_t n) {
    if (n > kMaxTextLength) throw InternalFailure("text too large, should not exceed 2147483646 bytes");
}

namespace {

// Suffix order on unsigned bytes; on a common prefix the shorter (later) suffix wins.
bool suffix_less(const std::uint8_t* text, std::size_t n, std::uint32_t a, std::uint32_t b) {
    const std::size_t la = n - a, lb = n - b;
    const std::size_t common = std::min(la, lb);
    const int c = std::memcmp(text + a, text + b, common);
    if (c != 0) return c < 0;
    return la < lb;
}

}  // namespace

std::vector<std::uint32_t> build_suffix_array(const std::uint8_t* text, std::size_t n) {
    // One spare slot: the LPF pass appends a sentinel without reallocating.
    std::vector<std::uint32_t> sa;
    sa.reserve(n + 1);
    sa.resize(n);
    if (n == 0) return sa;
    if (n < kLibrarySortThreshold) {
        std::iota(sa.begin(), sa.end(), 0u);
        std::sort(sa.begin(), sa.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return suffix_less(text, n, a, b); });
        return sa;
    }
    check_text_length(n);
    // The library writes signed 32-bit entries; they are reinterpreted in place.
    static_assert(sizeof(saidx_t) == sizeof(std::uint32_t));
    const saint_t rc = divsufsort(text, reinterpret_cast<saidx_t*>(sa.data()), static_cast<saidx_t>(n));
    require(rc == 0, "assertion failed: divsufsort returned a non-zero status");
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
