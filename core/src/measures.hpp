// Measures built on factor counts: entropy density, normalized information
// distance and the full analysis record.
#pragma once

#include <cstdint>
#include <vector>

#include "options.hpp"
#include "sequence.hpp"
#include "shuffle.hpp"

namespace parsimetrics {

// c / (n / log_k(n)) with c the factor count; 0.0 below two symbols.
double entropy_density(const Sequence& seq, const AnalysisOptions& options);

// The density from an already known factor count, in the same order of operations.
double entropy_density(std::size_t n, std::uint32_t complexity, const AnalysisOptions& options,
                       std::uint32_t alphabet_size);

// max(C(XY) - C(X), C(YX) - C(Y)) / max(C(X), C(Y)) over factor counts C,
// which depend on the symbols alone.
double normalized_information_distance(const Sequence& x, const Sequence& y);

// Measures comparing the whole sequence's count with its two halves' counts.
struct ExtraMeasures {
    double rajski_distance = 0.0;
    double redundancy = 0.0;
    double fh_uncertainty = 0.0;  // first half
    double lh_uncertainty = 0.0;  // last half
    double pearson_coefficient = 0.0;
};

ExtraMeasures extra_measures(const Sequence& seq, double complexity);

// Half-split measures from the three counts.
ExtraMeasures extra_measures_from_counts(double c, double c_first, double c_last);

struct FullAnalysisResult {
    std::uint32_t complexity = 0;
    double h = 0.0;
    std::vector<std::uint32_t> factors;
    EmcResult emc;
    double epsilon = 0.0;
    double factors_stddev = 0.0;
    double normal_error = 0.0;
    double poison_error = 0.0;
    ExtraMeasures extras;
};

FullAnalysisResult full_analysis(const Sequence& seq, const AnalysisOptions& options);

}  // namespace parsimetrics
