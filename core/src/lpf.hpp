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

}  // namespace parsimetrics
