// Measures over many sequences, over the windows of one sequence, and over
// all pairs of a set, spread over the worker pool.  Every result is stored by
// index, so nothing depends on the number of threads or on task order.
#pragma once

#include <cstddef>
#include <exception>
#include <variant>
#include <vector>

#include "lz76.hpp"
#include "measures.hpp"
#include "options.hpp"
#include "sequence.hpp"
#include "shuffle.hpp"

namespace parsimetrics {

// The measures a batch of sequences can ask for, one per module function.
enum class BatchMeasure { factorization, h, emc, lz76 };

// One sequence's result, or the failure that ended its computation.  A
// failure stays with its item so that the caller can report the first one
// in input order, whichever task happened to fail first.
struct BatchItem {
    std::variant<std::monostate, FactorizationResult, double, EmcResult, FullAnalysisResult> value;
    std::exception_ptr error;
};

// The measure of every sequence, each exactly as the single-sequence
// function computes it.
std::vector<BatchItem> measure_each(BatchMeasure measure, const std::vector<Sequence>& seqs,
                                    const AnalysisOptions& options);

// The per-window value of a profile.
enum class WindowMeasure { complexity, h, emc };

// The number of windows [s, s + window) with s = 0, step, 2 step, ... and
// s + window <= n; 0 when window or step is 0 or window > n.
std::size_t window_count(std::size_t n, std::size_t window, std::size_t step);

// One value per window (factor counts as exact doubles).  Each window is a
// sequence of its own, with its own alphabet; without an explicit log base,
// every window takes the whole sequence's alphabet size as its base so that
// the values of different windows are on one scale.
std::vector<double> window_values(const Sequence& seq, std::size_t window, std::size_t step,
                                  WindowMeasure measure, const AnalysisOptions& options);

// The normalized information distance of every pair, row-major m x m.  Each
// sequence and each concatenation is counted once; the matrix is symmetric
// by construction and its diagonal is each sequence's distance to itself.
std::vector<double> nid_matrix(const std::vector<Sequence>& seqs);

}  // namespace parsimetrics
