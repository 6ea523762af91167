// Measures over many sequences, over the windows of one sequence, and over
// all pairs of a set, spread over the worker pool.  Every result is stored by
// index, so nothing depends on the number of threads or on task order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>
#include <variant>
#include <vector>

#include "lz76.hpp"
#include "measures.hpp"
#include "options.hpp"
#include "sequence.hpp"
#include "shuffle.hpp"

namespace parsimetrics {

// The measures a batch of sequences can ask for: one per module function,
// and the count of Kaspar and Schuster (phrase_count).
enum class BatchMeasure { factorization, h, emc, lz76, kaspar_schuster };

// A measure's name as Python callers pass it.  These tables are the one
// list of names: the toolkit reads them from its native module.
template <class Measure>
struct NamedMeasure {
    std::string_view name;
    Measure measure;
};

inline constexpr NamedMeasure<BatchMeasure> kBatchMeasures[] = {
    {"factorization", BatchMeasure::factorization},
    {"h", BatchMeasure::h},
    {"emc", BatchMeasure::emc},
    {"lz76", BatchMeasure::lz76},
    {"kaspar_schuster", BatchMeasure::kaspar_schuster},
};

// One sequence's result, or the failure that ended its computation.  A
// failure stays with its item so that the caller can report the first one
// in input order, whichever task happened to fail first.
struct BatchItem {
    std::variant<std::monostate, FactorizationResult, double, EmcResult, FullAnalysisResult, std::uint32_t> value;
    std::exception_ptr error;
};

// The measure of every sequence, each exactly as the single-sequence
// function computes it.  `normalize` applies to kaspar_schuster alone: the
// count c becomes c / (n / log_k n) (a double) with k the effective log
// base, as entropy_density scales the LZ76 count; without it the count is
// a std::uint32_t.
std::vector<BatchItem> measure_each(BatchMeasure measure, const std::vector<Sequence>& seqs,
                                    const AnalysisOptions& options, bool normalize = false);

// The per-window value of a profile.
enum class WindowMeasure { complexity, h, emc, kaspar_schuster };

inline constexpr NamedMeasure<WindowMeasure> kWindowMeasures[] = {
    {"complexity", WindowMeasure::complexity},
    {"h", WindowMeasure::h},
    {"emc", WindowMeasure::emc},
    {"kaspar_schuster", WindowMeasure::kaspar_schuster},
};

// The number of windows [s, s + window) with s = 0, step, 2 step, ... and
// s + window <= n; 0 when window or step is 0 or window > n.
std::size_t window_count(std::size_t n, std::size_t window, std::size_t step);

// One value per window (factor counts as exact doubles).  Each window is a
// sequence of its own, with its own alphabet; without an explicit log base,
// every window takes the whole sequence's alphabet size as its base so that
// the values of different windows are on one scale (kaspar_schuster with
// `normalize` as well).
std::vector<double> window_values(const Sequence& seq, std::size_t window, std::size_t step,
                                  WindowMeasure measure, const AnalysisOptions& options,
                                  bool normalize = false);

// The normalized information distance of every pair, row-major m x m.  Each
// sequence and each concatenation is counted once; the matrix is symmetric
// by construction and its diagonal is each sequence's distance to itself.
std::vector<double> nid_matrix(const std::vector<Sequence>& seqs);

}  // namespace parsimetrics
