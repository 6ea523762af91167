// Measures over many sequences, over the windows of one sequence, and over
// all pairs of a set, spread over the worker pool.  Every result is stored by
// index, so nothing depends on the number of threads or on task order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
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

// The sequences of a batch as rows of one byte string: either rows of one
// width laid end to end in memory the caller keeps (a two-dimensional array),
// or rows packed into bytes of their own.  Either costs a batch of tiny
// sequences a few bytes per row, where a Sequence each would cost 64.
class Rows {
public:
    Rows() = default;
    // `count` rows of `width` symbols at `data`, which must outlive the Rows.
    static Rows fixed(const std::uint8_t* data, std::size_t count, std::size_t width);
    // Appends a row (copying its symbols).
    void push_back(const std::uint8_t* symbols, std::size_t n);

    std::size_t size() const { return fixed_ ? count_ : ends_.size(); }
    std::size_t total_symbols() const { return fixed_ ? count_ * width_ : bytes_.size(); }
    std::size_t longest() const { return fixed_ ? width_ : longest_; }
    std::span<const std::uint8_t> operator[](std::size_t i) const {
        if (fixed_) return {data_ + i * width_, width_};
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return {bytes_.data() + begin, ends_[i] - begin};
    }

private:
    bool fixed_ = false;
    const std::uint8_t* data_ = nullptr;
    std::size_t count_ = 0, width_ = 0, longest_ = 0;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> ends_;
};

// The results of a batch in input order, one vector of the type its measure
// yields, and the first failure in input order, whichever task met it first.
// Items after the failed one may be left unset.
struct BatchResults {
    std::variant<std::vector<FactorizationResult>, std::vector<double>, std::vector<EmcResult>,
                 std::vector<FullAnalysisResult>, std::vector<std::uint32_t>>
        values;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t failed = kNone;
    std::exception_ptr failure;
};

// The measure of every sequence, each exactly as the single-sequence
// function computes it.  `normalize` applies to kaspar_schuster alone: the
// count c becomes c / (n / log_k n) (a double) with k the effective log
// base, as entropy_density scales the LZ76 count; without it the count is
// a std::uint32_t.  Throws std::bad_alloc, before anything runs, when the
// batch could not fit in memory at its block size and thread count.
BatchResults measure_each(BatchMeasure measure, const Rows& rows, const AnalysisOptions& options,
                          bool normalize = false);

// Bytes a batch of `measure` over `rows` needs at its peak beyond its inputs:
// the results it keeps, and the working memory of as many items as threads.
std::uint64_t batch_memory(BatchMeasure measure, const Rows& rows, const AnalysisOptions& options,
                           std::size_t threads);

// Memory the process can still take: what the system has available, lowered
// to the room left under its address-space and data limits and its control
// group's memory limit.
std::uint64_t available_memory();

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
