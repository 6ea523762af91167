// Suffix array and LCP array of a byte string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace parsimetrics {

// From this length on the suffix array comes from libdivsufsort; below it a
// comparison sort of suffix indices is faster and needs no extra memory.
inline constexpr std::size_t kLibrarySortThreshold = 2048;

// The largest text the library's signed 32-bit indices can hold.
inline constexpr std::size_t kMaxTextLength = 2147483646;

// SA[r] is the start of the suffix of rank r.  Suffixes compare as unsigned
// bytes; a suffix that is a prefix of another sorts first.
std::vector<std::uint32_t> build_suffix_array(const std::uint8_t* text, std::size_t n);

// The same order written into sa[0, n).  Below kLibrarySortThreshold the
// suffixes are sorted by comparison (prefix doubling) with rank[0, n) as
// working space; from the threshold on libdivsufsort fills sa and rank is
// not touched.
void sort_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank);

// The comparison path alone, for texts shorter than kLibrarySortThreshold.
void sort_short_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank);

// The size guard of the library path, separate so that it can be tested
// without allocating gigabytes.
void check_text_length(std::size_t n);

// LCP[0] = 0; LCP[r] = longest common prefix of suffixes SA[r-1] and SA[r]
// (Kasai et al., linear time).
std::vector<std::uint32_t> build_lcp_array(const std::uint8_t* text, std::size_t n,
                                           const std::vector<std::uint32_t>& sa);

}  // namespace parsimetrics
