// Measures built on factor counts: entropy density, normalized information
// distance and the full analysis record.
#pragma once

#include <cstdint>
#include <vector>

#include "options.hpp"
#include "sequence.hpp"

namespace parsimetrics {

// c / (n / log_k(n)) with c the factor count; 0.0 below two symbols.
double compute_h(const Sequence& seq, const AnalysisOptions& options);

// The density from an already known factor count, in the same order of operations.
double entropy_density(std::size_t n, std::uint32_t complexity, const AnalysisOptions& options,
                       std::uint32_t alphabet_size);

}  // namespace parsimetrics
