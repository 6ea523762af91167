#include "batch.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "forced_unwind.hpp"
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

// Batches whose estimate stays below this run unchecked: reading the
// system's figures would cost more than such a batch.
constexpr std::uint64_t kCheckedFrom = std::uint64_t{64} << 20;

// Working memory of one factorization per symbol: its arrays (three of 32-bit
// entries, and 64-bit keys for short texts) and the copy it factorizes.
constexpr std::uint64_t kFactorizationBytesPerSymbol = 33;

// Per block length of one effective measure complexity while it runs: the
// counts, the ladder and its projection (what check_ladder_fits assumes).
constexpr std::uint64_t kLadderBytesPerLength = 64;

// Per summand of a result kept until the caller has read it: the double
// here, and the float object and list slot the caller makes of it.
constexpr std::uint64_t kSummandBytes = 8 + 32;

std::uint64_t block_lengths(const AnalysisOptions& options, std::uint64_t n) {
    return options.max_block_size > 0 ? static_cast<std::uint64_t>(options.max_block_size)
                                      : auto_max_block_size(n);
}

// Throws std::bad_alloc when `needed` bytes cannot be had.
void check_fits(std::uint64_t needed) {
    if (needed >= kCheckedFrom && needed > available_memory()) throw std::bad_alloc();
}

// The saturating sum and product, so that absurd requests stay absurd.
std::uint64_t add(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
std::uint64_t mul(std::uint64_t a, std::uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

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

template <class T>
using Column = std::vector<T>;

// Every row measured by `measure(sequence, workspace)` into a column of T.
// Each task copies its row into a sequence of its worker's (the copy costs
// far less than allocating one per row), unless the measure runs tasks of its
// own, during which its worker may take up another row.
template <class T, class F>
BatchResults each(const Rows& rows, bool scratch_safe, F measure) {
    BatchResults out;
    Column<T>& values = out.values.emplace<Column<T>>(rows.size());
    std::mutex failure_mutex;
    std::atomic<std::size_t> failed{BatchResults::kNone};
    struct Scratch {
        FactorizationWorkspace workspace;
        Sequence sequence;
    };
    PerWorker<Scratch> scratch;
    parallel_map(Work{rows.total_symbols()}, 0, last_index(rows.size()), [&](std::int64_t index) -> unsigned char {
        const auto i = static_cast<std::size_t>(index);
        // Nothing after the first failure is ever reported.
        if (i > failed.load(std::memory_order_relaxed)) return 0;
        try {
            Scratch* local = scratch_safe ? scratch.local() : nullptr;
            Sequence own;
            Sequence& seq = local ? local->sequence : own;
            const std::span<const std::uint8_t> row = rows[i];
            seq.symbols.assign(row.begin(), row.end());
            seq.alphabet_size = detect_alphabet(row.data(), row.size());
            values[i] = measure(seq, local ? &local->workspace : nullptr);
        } catch (const Stopped&) {
            throw;
        } PARSIMETRICS_CATCH_ALL {
            std::lock_guard lock(failure_mutex);
            if (i < out.failed) {
                out.failed = i;
                out.failure = std::current_exception();
                failed.store(i, std::memory_order_relaxed);
            }
        }
        return 0;
    });
    return out;
}

}  // namespace

Rows Rows::fixed(const std::uint8_t* data, std::size_t count, std::size_t width) {
    Rows rows;
    rows.fixed_ = true;
    rows.data_ = data;
    rows.count_ = count;
    rows.width_ = width;
    return rows;
}

void Rows::push_back(const std::uint8_t* symbols, std::size_t n) {
    bytes_.insert(bytes_.end(), symbols, symbols + n);
    ends_.push_back(bytes_.size());
    longest_ = std::max(longest_, n);
}

std::uint64_t batch_memory(BatchMeasure measure, const Rows& rows, const AnalysisOptions& options,
                           std::size_t threads) {
    const std::uint64_t count = rows.size();
    const std::uint64_t longest = rows.longest();
    const std::uint64_t in_flight = std::min<std::uint64_t>(count, threads);
    // Factorizations run one per thread at most, whichever measure asks.
    std::uint64_t needed = mul(in_flight, mul(longest, kFactorizationBytesPerSymbol));
    switch (measure) {
        case BatchMeasure::factorization:
            return add(needed, mul(count, sizeof(FactorizationResult)));
        case BatchMeasure::h:
        case BatchMeasure::kaspar_schuster:
            return add(needed, mul(count, sizeof(double)));
        case BatchMeasure::emc:
        case BatchMeasure::lz76: {
            const std::uint64_t m = block_lengths(options, longest);
            // A worker waiting inside one item's ladder may take up another.
            needed = add(needed, mul(2 * in_flight, mul(m, kLadderBytesPerLength)));
            const std::uint64_t kept = measure == BatchMeasure::emc ? sizeof(EmcResult) : sizeof(FullAnalysisResult);
            return add(needed, mul(count, add(kept, options.want_summands ? mul(m, kSummandBytes) : 0)));
        }
    }
    return needed;
}

BatchResults measure_each(BatchMeasure measure, const Rows& rows, const AnalysisOptions& options,
                          bool normalize) {
    check_fits(batch_memory(measure, rows, options, planned_thread_count()));
    switch (measure) {
        case BatchMeasure::factorization:
            return each<FactorizationResult>(rows, true, [&](const Sequence& seq, FactorizationWorkspace* w) {
                if (is_constant(seq)) return constant_result(seq.size());
                return w ? factorize(seq, options, *w) : factorize(seq, options);
            });
        case BatchMeasure::h:
            return each<double>(rows, true, [&](const Sequence& seq, FactorizationWorkspace* w) {
                if (seq.size() == 0) return 0.0;
                return entropy_density(seq.size(), factor_count(seq, w), options, seq.alphabet_size);
            });
        case BatchMeasure::emc:
            return each<EmcResult>(rows, false, [&](const Sequence& seq, FactorizationWorkspace*) {
                return effective_measure_complexity(seq, options);
            });
        case BatchMeasure::lz76:
            return each<FullAnalysisResult>(rows, false, [&](const Sequence& seq, FactorizationWorkspace*) {
                return full_analysis(seq, options);
            });
        case BatchMeasure::kaspar_schuster:
            if (normalize) {
                return each<double>(rows, true, [&](const Sequence& seq, FactorizationWorkspace* w) {
                    return ks_normalized(seq, options, w);
                });
            }
            return each<std::uint32_t>(rows, true, [&](const Sequence& seq, FactorizationWorkspace* w) {
                return ks_count(seq, w);
            });
    }
    return {};
}

std::size_t window_count(std::size_t n, std::size_t window, std::size_t step) {
    if (window == 0 || step == 0 || window > n) return 0;
    return (n - window) / step + 1;
}

std::vector<double> window_values(const Sequence& seq, std::size_t window, std::size_t step,
                                  WindowMeasure measure, const AnalysisOptions& options, bool normalize) {
    AnalysisOptions common = options;
    if (common.log_base == kAbsent) common.log_base = seq.alphabet_size;
    const std::size_t windows = window_count(seq.size(), window, step);
    if (measure == WindowMeasure::emc && windows > 0) {
        const std::uint64_t in_flight = std::min<std::uint64_t>(windows, planned_thread_count());
        check_fits(add(mul(in_flight, mul(window, kFactorizationBytesPerSymbol)),
                       mul(2 * in_flight, mul(block_lengths(options, window), kLadderBytesPerLength))));
    }
    PerWorker<FactorizationWorkspace> scratch;
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
    // Both orders of a pair, one task each (two tasks at most run past a
    // request to stop, not two pairs).  The concatenations live only inside
    // the tasks that count them.  Each sequence goes into 2m concatenations.
    const auto orders = parallel_map(Work{2 * m * total}, 0, last_index(2 * pairs.size()), [&](std::int64_t k) {
        const auto [i, j] = pairs[static_cast<std::size_t>(k / 2)];
        if (k % 2 == 0) return count(concat(seqs[i], seqs[j]));
        return i == j ? 0.0 : count(concat(seqs[j], seqs[i]));
    });

    std::vector<double> matrix(m * m);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const auto [i, j] = pairs[k];
        const double cx = singles[i], cy = singles[j];
        const double xy = orders[2 * k], yx = i == j ? xy : orders[2 * k + 1];
        const double num = std::max(xy - cx, yx - cy);
        matrix[i * m + j] = matrix[j * m + i] = num / std::max(cx, cy);
    }
    return matrix;
}

namespace {

// The first number in a file's first line that starts with `key` (the whole
// first line when `key` is empty); nothing when absent or not a number.
std::optional<std::uint64_t> number_in(const std::string& path, const std::string& key = "") {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) != 0) continue;
        const std::size_t digits = line.find_first_of("0123456789", key.size());
        if (digits == std::string::npos) return std::nullopt;
        return std::stoull(line.substr(digits));
    }
    return std::nullopt;
}

// Room left under a resource limit, given what the process uses of it now.
std::uint64_t room_under(int resource, std::uint64_t used) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

}  // namespace

std::uint64_t available_memory() {
    std::uint64_t available = UINT64_MAX;
    if (const auto kib = number_in("/proc/meminfo", "MemAvailable:")) available = mul(*kib, 1024);

    // The address space and data in use, in pages: size, resident, shared, text, lib, data.
    std::uint64_t size_pages = 0, skip = 0, data_pages = 0;
    std::ifstream statm("/proc/self/statm");
    if (statm >> size_pages >> skip >> skip >> skip >> skip >> data_pages) {
        const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        available = std::min(available, room_under(RLIMIT_AS, size_pages * page));
        available = std::min(available, room_under(RLIMIT_DATA, data_pages * page));
    }

    // The memory limit of the process's control group (unified hierarchy).
    std::ifstream cgroups("/proc/self/cgroup");
    for (std::string line; std::getline(cgroups, line);) {
        if (line.rfind("0::", 0) != 0) continue;
        for (const std::string& dir : {"/sys/fs/cgroup" + line.substr(3), std::string("/sys/fs/cgroup")}) {
            const auto limit = number_in(dir + "/memory.max");  // "max" when unlimited
            const auto current = number_in(dir + "/memory.current");
            if (limit && current) available = std::min(available, *limit > *current ? *limit - *current : 0);
        }
    }
    return available;
}

}  // namespace parsimetrics
