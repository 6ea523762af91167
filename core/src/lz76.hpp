// LZ76 factorization: boundary walk over the LPF array, factor count,
// finite-size correction term and factor-length spread.
#pragma once

#include <cstdint>
#include <vector>

#include "options.hpp"
#include "sequence.hpp"

namespace parsimetrics {

struct FactorizationResult {
    std::vector<std::uint32_t> factors;  // boundaries 0, 1, ...; the last is n or n + 1
    std::uint32_t complexity = 0;        // factors, not counting a final one without a new symbol
    double epsilon = 0.0;                // finite-size correction term
};

// The full pipeline with no shortcut for constant input (callers apply one).
FactorizationResult factorize(const Sequence& seq, const AnalysisOptions& options);

// What `factorization` and the full analysis report for an empty or constant
// sequence of n symbols, without factorizing: [0, 1, n], 1, 0.0.
FactorizationResult constant_result(std::size_t n);

// The factor count every measure uses: 1 for an empty or constant sequence,
// otherwise the complexity of `factorize`.
std::uint32_t factor_count(const Sequence& seq, const AnalysisOptions& options);

// 2 * (log_B(log_B(K n)) + 1) / log_B(n), in this exact order of operations.
double correction_term(std::size_t n, std::uint32_t alphabet_k, std::uint32_t base_b);

// Boundaries read off an LPF array, and the count they imply.
std::vector<std::uint32_t> boundaries_from_lpf(const std::vector<std::uint32_t>& lpf);
std::uint32_t complexity_of(const std::vector<std::uint32_t>& factors, std::size_t n);

// Spread of the factor lengths: squared deviations from (last - 1) / m,
// summed and divided by the longest factor length, square-rooted.
double factor_spread(const std::vector<std::uint32_t>& factors);

}  // namespace parsimetrics
