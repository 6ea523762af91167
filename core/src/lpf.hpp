// Longest-previous-factor array from a suffix array and its LCP array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace parsimetrics {

// LPF[0] = 0; LPF[i] = the longest k such that the k symbols at i also start
// at some earlier position (overlap allowed).  Takes ownership of SA and LCP
// and releases them before returning.
std::vector<std::uint32_t> build_lpf_array(std::vector<std::uint32_t>&& sa,
                                           std::vector<std::uint32_t>&& lcp, std::size_t n);

// Marks "no such position" in the neighbour arrays below.
inline constexpr std::uint32_t kNoPosition = 0xFFFFFFFFu;

// For every text position x, the start of the nearest suffix before x in
// suffix order that also starts before x (kNoPosition if there is none):
// one of the two suffixes that can share the longest prefix with x among all
// earlier positions.  Reads the suffix array from slots[1, n + 1) in rank
// order and consumes it (the slots read so far hold a stack); writes
// psv[0, n).
void build_previous_smaller_starts(std::uint32_t* slots, std::size_t n, std::uint32_t* psv);

}  // namespace parsimetrics
