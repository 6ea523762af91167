// What the core's tests and benchmarks share and the module never runs: the
// reference factorization through full LCP and LPF arrays, brute-force
// definitions to check both engines against, families of inputs, and
// printing of failing inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "lz76.hpp"
#include "options.hpp"
#include "sequence.hpp"

namespace parsimetrics {

// ---------------------------------------------------------------------------
// Reference pipeline: slower and larger than `factorize`, kept as the
// definition to test against.

// SA[r] is the start of the suffix of rank r, from the core's suffix sorter.
std::vector<std::uint32_t> build_suffix_array(const std::uint8_t* text, std::size_t n);

// LCP[0] = 0; LCP[r] = longest common prefix of suffixes SA[r-1] and SA[r]
// (Kasai et al., linear time).
std::vector<std::uint32_t> build_lcp_array(const std::uint8_t* text, std::size_t n,
                                           const std::vector<std::uint32_t>& sa);

// LPF[0] = 0; LPF[i] = the longest k such that the k symbols at i also start
// at some earlier position (overlap allowed).
std::vector<std::uint32_t> build_lpf_array(std::vector<std::uint32_t>&& sa,
                                           std::vector<std::uint32_t>&& lcp, std::size_t n);

// Boundaries read off an LPF array, and the count they imply.
std::vector<std::uint32_t> boundaries_from_lpf(const std::vector<std::uint32_t>& lpf);
std::uint32_t complexity_of(const std::vector<std::uint32_t>& factors, std::size_t n);

// The factorization through the arrays above.
FactorizationResult factorize_reference(const Sequence& seq, const AnalysisOptions& options);

// ---------------------------------------------------------------------------
// Brute force, straight from the definitions.  Text is compared as unsigned
// bytes (as std::string_view does).

inline const std::uint8_t* bytes_of(std::string_view t) {
    return reinterpret_cast<const std::uint8_t*>(t.data());
}

// Suffix starts sorted by comparing the suffixes; a proper prefix sorts first.
std::vector<std::uint32_t> brute_force_suffix_array(std::string_view t);

std::uint32_t common_prefix(std::string_view t, std::size_t a, std::size_t b);

// The longest match of the suffix at i with one starting earlier.
std::uint32_t brute_force_lpf(std::string_view t, std::size_t i);

// Boundaries visiting only the factor starts; empty for empty text.
std::vector<std::uint32_t> brute_force_boundaries(std::string_view t);

// ---------------------------------------------------------------------------
// Inputs

// n symbols from `sigma` byte values spread over 0..255, so both halves of
// the byte range occur.
std::string random_text(std::size_t n, unsigned sigma, std::mt19937_64& rng);

// A random word of length `period` repeated to n symbols, then
// `mutations` random symbols changed.
std::string near_periodic(std::size_t n, std::size_t period, unsigned sigma, std::size_t mutations,
                          std::mt19937_64& rng);

// n symbols of words of up to 14 letters (of 6) from a vocabulary of 300,
// a third of them followed by a blank: LMS substrings that repeat, longer
// than a word of symbols and prefixes of one another.
std::string word_text(std::size_t n, std::mt19937_64& rng);

// `unit` repeated, cut to n symbols.
inline std::string repeat(std::string_view unit, std::size_t n) {
    std::string t;
    while (t.size() < n) t += unit;
    return t.substr(0, n);
}

// Texts of length n from every family: random over several alphabets,
// periodic and nearly periodic, Fibonacci and Thue–Morse words, periodic at
// two scales, and runs.
std::vector<std::string> input_families(std::size_t n, std::mt19937_64& rng);

// ---------------------------------------------------------------------------
// Printing

// The text as a C literal, so that a failing case can be pasted back in
// (the first 256 bytes of a longer one), and its length.
std::string show(std::string_view t);

}  // namespace parsimetrics
