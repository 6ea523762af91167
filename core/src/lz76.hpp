// LZ76 factorization: factor boundaries and count, finite-size correction
// term and factor-length spread.
#pragma once

#include <cstdint>
#include <vector>

#include "options.hpp"
#include "sequence.hpp"
#include "suffix_sort_keys.hpp"
#include "work_array.hpp"

namespace parsimetrics {

struct FactorizationResult {
    std::vector<std::uint32_t> factors;  // boundaries 0, 1, ...; the last is n or n + 1
    std::uint32_t complexity = 0;        // factors, not counting a final one without a new symbol
    double epsilon = 0.0;                // finite-size correction term
};

// Working arrays of one factorization, kept so that a caller that factorizes
// many sequences (a worker thread) can reuse them.  Their contents between
// calls mean nothing; their capacity grows to the longest text seen.  Each
// array serves the three stages of a run in turn, and the views below name
// what it holds at each:
//
//   stage                    first (n + 1 entries)          second (n entries)
//   suffix sort              suffix array in [1, n + 1)     ranks (short texts)
//   previous smaller starts  stack in the slots read so far previous smaller starts
//   boundary walk            successor links, head at [n]   boundaries as found
//
// Short texts walk the suffix array instead (first: suffix array, second:
// ranks, then boundaries in the ranks the walk has passed), or, when short
// and repetitive, compare starts directly with no index and put their
// boundaries in `third`.
struct FactorizationWorkspace {
    WorkArray first;
    WorkArray second;
    WorkArray third;
    // Entries the prefix keys find no room for in the suffix and rank
    // arrays (tied groups, runs of repetitive text); random text and long
    // texts leave it empty.
    WideWorkArray wide;

    std::uint32_t* suffix_array() { return first.data() + 1; }
    std::uint32_t* sort_ranks() { return second.data(); }
    std::uint32_t* previous_smaller_starts() { return second.data(); }
    std::uint32_t* successor_links() { return first.data(); }
    const std::uint32_t* boundaries() const { return second.data(); }
    std::uint32_t* short_boundaries() { return third.data(); }
};

// The factorization with no shortcut for constant input (callers apply one):
// suffix array, nearest smaller starts, and the longest previous factor
// evaluated at factor starts only.  The first form allocates its own arrays
// and releases one before it allocates the boundaries.
FactorizationResult factorize(const Sequence& seq, const AnalysisOptions& options);
FactorizationResult factorize(const Sequence& seq, const AnalysisOptions& options,
                              FactorizationWorkspace& workspace);

namespace detail {
// factorize with default options and the engine's factor count (no shortcut
// for constant text), their list walk by blocks on `threads` threads
// whatever the length (factorize takes it on long texts only), so that tests
// reach it on short ones.
FactorizationResult factorize_in_blocks(const Sequence& seq, std::size_t threads);
std::uint32_t factor_count_in_blocks(const Sequence& seq, std::size_t threads);
}  // namespace detail

// What `factorization` and the full analysis report for an empty or constant
// sequence of n symbols, without factorizing: [0, 1, n], 1, 0.0.
FactorizationResult constant_result(std::size_t n);

// The factor count every measure uses: 1 for an empty or constant sequence,
// otherwise the complexity of `factorize`.  It depends on the symbols alone.
std::uint32_t factor_count(const Sequence& seq);
std::uint32_t factor_count(const Sequence& seq, FactorizationWorkspace& workspace);
// In `workspace` when there is one, else in arrays of its own.
inline std::uint32_t factor_count(const Sequence& seq, FactorizationWorkspace* workspace) {
    return workspace ? factor_count(seq, *workspace) : factor_count(seq);
}

// Every factor, a final one that ends in a copy included: the count of
// Kaspar and Schuster's procedure.  0 for the empty sequence, 1 for one
// symbol and 2 for a constant sequence of two or more (a symbol, then its
// copy); otherwise the boundaries of `factorize` less one.
std::uint32_t phrase_count(const Sequence& seq, FactorizationWorkspace& workspace);

// 2 * (log_B(log_B(K n)) + 1) / log_B(n), in this exact order of operations.
double correction_term(std::size_t n, std::uint32_t alphabet_k, std::uint32_t base_b);

// Spread of the factor lengths: squared deviations from (last - 1) / m,
// summed and divided by the longest factor length, square-rooted.
double factor_spread(const std::vector<std::uint32_t>& factors);

}  // namespace parsimetrics
