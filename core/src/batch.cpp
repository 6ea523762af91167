#include "batch.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "pool.hpp"

namespace parsimetrics {

namespace {

std::int64_t last_index(std::size_t count) { return static_cast<std::int64_t>(count) - 1; }

// The symbols of all the sequences: what a batch counts at least once.
std::size_t total_symbols(const std::vector<Sequence>& seqs) {
    std::size_t total = 0;
    for (const Sequence& s : seqs) total += s.size();
    return total;
}

using ItemValue = decltype(BatchItem::value);

// Kaspar and Schuster's count, in this worker's arrays when it has any.
std::uint32_t ks_count(const Sequence& seq, FactorizationWorkspace* workspace) {
    if (workspace) return phrase_count(seq, *workspace);
    FactorizationWorkspace own;
    return phrase_count(seq, own);
}

// That count scaled as the entropy density scales the LZ76 count (0.0 below
// two symbols).
double ks_normalized(const Sequence& seq, const AnalysisOptions& options, FactorizationWorkspace* workspace) {
    return entropy_density(seq.size(), ks_count(seq, workspace), options, seq.alphabet_size);
}

// One sequence's measure, as the module's function of that name computes it,
// with this worker's arrays for the factorization when it has any.
ItemValue measure_one(BatchMeasure measure, const Sequence& seq, const AnalysisOptions& options,
                      bool normalize, FactorizationWorkspace* workspace) {
    switch (measure) {
        case BatchMeasure::factorization:
            if (is_constant(seq)) return constant_result(seq.size());
            return workspace ? factorize(seq, options, *workspace) : factorize(seq, options);
        case BatchMeasure::h:
            if (seq.size() == 0) return 0.0;
            return entropy_density(seq.size(), factor_count(seq, workspace), options,
                                   seq.alphabet_size);
        case BatchMeasure::emc:
            return effective_measure_complexity(seq, options);
        case BatchMeasure::lz76:
            return full_analysis(seq, options);
        case BatchMeasure::kaspar_schuster:
            if (normalize) return ks_normalized(seq, options, workspace);
            return ks_count(seq, workspace);
    }
    return {};
}

}  // namespace

std::vector<BatchItem> measure_each(BatchMeasure measure, const std::vector<Sequence>& seqs,
                                    const AnalysisOptions& options, bool normalize) {
    // emc and lz76 run tasks of their own, during which this worker may pick
    // up another item: only the factorization measures hold scratch.
    const bool scratch_safe = measure != BatchMeasure::emc && measure != BatchMeasure::lz76;
    PerWorker<FactorizationWorkspace> scratch;
    return parallel_map(Work{total_symbols(seqs)}, 0, last_index(seqs.size()), [&](std::int64_t i) {
        BatchItem item;
        try {
            item.value = measure_one(measure, seqs[static_cast<std::size_t>(i)], options, normalize,
                                     scratch_safe ? scratch.local() : nullptr);
        } catch (...) {
            item.error = std::current_exception();
        }
        return item;
    });
}

std::size_t window_count(std::size_t n, std::size_t window, std::size_t step) {
    if (window == 0 || step == 0 || window > n) return 0;
    return (n - window) / step + 1;
}

std::vector<double> window_values(const Sequence& seq, std::size_t window, std::size_t step,
                                  WindowMeasure measure, const AnalysisOptions& options, bool normalize) {
    AnalysisOptions common = options;
    if (common.log_base == kAbsent) common.log_base = seq.alphabet_size;
    PerWorker<FactorizationWorkspace> scratch;
    const std::size_t windows = window_count(seq.size(), window, step);
    return parallel_map(Work{windows * window}, 0, last_index(windows), [&](std::int64_t i) {
        const Sequence part =
            from_bytes(seq.data() + static_cast<std::size_t>(i) * step, window);
        switch (measure) {
            case WindowMeasure::complexity:
                return static_cast<double>(factor_count(part, scratch.local()));
            case WindowMeasure::h:
                return entropy_density(window, factor_count(part, scratch.local()), common,
                                       part.alphabet_size);
            case WindowMeasure::emc:
                return effective_measure_complexity(part, common).value;
            case WindowMeasure::kaspar_schuster:
                if (normalize) return ks_normalized(part, common, scratch.local());
                return static_cast<double>(ks_count(part, scratch.local()));
        }
        return 0.0;
    });
}

std::vector<double> nid_matrix(const std::vector<Sequence>& seqs) {
    const std::size_t m = seqs.size();
    PerWorker<FactorizationWorkspace> scratch;
    const auto count = [&](const Sequence& s) {
        return static_cast<double>(factor_count(s, scratch.local()));
    };
    const std::size_t total = total_symbols(seqs);
    const std::vector<double> singles = parallel_map(
        Work{total}, 0, last_index(m), [&](std::int64_t i) { return count(seqs[static_cast<std::size_t>(i)]); });

    // The upper triangle, diagonal included, row by row.
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    pairs.reserve(m * (m + 1) / 2);
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = i; j < m; ++j) pairs.emplace_back(i, j);
    // The concatenations live only inside the tasks that count them.
    // Each sequence goes into 2m concatenations.
    const auto both = parallel_map(Work{2 * m * total}, 0, last_index(pairs.size()), [&](std::int64_t k) {
        const auto [i, j] = pairs[static_cast<std::size_t>(k)];
        const double xy = count(concat(seqs[i], seqs[j]));
        return std::pair<double, double>(xy, i == j ? xy : count(concat(seqs[j], seqs[i])));
    });

    std::vector<double> matrix(m * m);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const auto [i, j] = pairs[k];
        const double cx = singles[i], cy = singles[j];
        const double num = std::max(both[k].first - cx, both[k].second - cy);
        matrix[i * m + j] = matrix[j * m + i] = num / std::max(cx, cy);
    }
    return matrix;
}

}  // namespace parsimetrics
