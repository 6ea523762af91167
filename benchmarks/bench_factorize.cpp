// Factorization costs: the whole `factorize` against libdivsufsort alone on
// random binary, 4-letter, byte and English-like texts, a periodic and a
// near-periodic one, of 10^5 to 10^7 symbols, with the suffix sort that
// factorize runs timed alone (the scan after it is the difference) and the
// peak heap memory one factorization holds beyond its input; then small
// inputs on both sides of the library threshold, periodic and random, in
// nanoseconds per symbol, and their peak memory up to 2^17 symbols.  The
// pool size (RAYON_NUM_THREADS) sets how many threads one long
// factorization takes: 1, or 2 from 2 on.
//
// Usage: bench_factorize [max_n] [--from n] [--reference] [--kinds a,b]
//   max_n        largest length of the first table (default 10000000)
//   --from n     smallest length of the first table (default 100000)
//   --reference  also time the LCP/LPF reference pipeline
//   --kinds a,b  only these inputs of the first table (e.g. bytes,binary),
//                and no small-input tables
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <divsufsort.h>
#include <malloc.h>

#include "lpf.hpp"
#include "lz76.hpp"
#include "options.hpp"
#include "pool.hpp"
#include "suffix_array.hpp"
#include "sequence.hpp"
#include "inputs.hpp"
#include "test_utils.hpp"
#include "timing.hpp"

// ---------------------------------------------------------------------------
// Heap accounting: every operator new/delete of this program updates the live
// byte count and its high-water mark.  libdivsufsort allocates its small
// bucket tables with malloc and is not counted.

namespace {

std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void* counted_alloc(std::size_t size, std::size_t alignment = 0) {
    void* p = alignment == 0 ? std::malloc(size == 0 ? 1 : size)
                             : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (p == nullptr) throw std::bad_alloc();
    const auto bytes = static_cast<std::int64_t>(malloc_usable_size(p));
    const std::int64_t live = g_live.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return p;
}

void counted_free(void* p) noexcept {
    if (p == nullptr) return;
    g_live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return counted_alloc(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return counted_alloc(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t al) { return counted_alloc(size, static_cast<std::size_t>(al)); }
void* operator new[](std::size_t size, std::align_val_t al) { return counted_alloc(size, static_cast<std::size_t>(al)); }
void operator delete(void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

namespace {

using bench::Clock;
using bench::seconds_since;
using bench::english_like_text;
using bench::time_best;
using bench::uniform_text;
using parsimetrics::AnalysisOptions;
using parsimetrics::Sequence;

// ---------------------------------------------------------------------------
// Measurements.

// Results are folded into a volatile sink so that no call is optimised away.
volatile std::uint64_t g_sink = 0;
void consume(std::uint64_t v) { g_sink = g_sink + v; }

// libdivsufsort alone, including the allocation of its output array.
void run_divsufsort(const Sequence& seq) {
    auto* sa = new saidx_t[seq.size()];
    const saint_t rc = divsufsort(seq.data(), sa, static_cast<saidx_t>(seq.size()));
    if (rc != 0) std::abort();
    delete[] sa;
}

// The threads factorize gives one text of n symbols.
std::size_t factorize_threads(std::size_t n) {
    return n >= parsimetrics::kLibrarySortThreshold && parsimetrics::planned_thread_count() >= 2 ? 2 : 1;
}

// The suffix sort of factorize alone, in arrays allocated as factorize
// allocates them, on as many threads as factorize gives it.
void run_sort(const Sequence& seq) {
    const std::size_t n = seq.size();
    parsimetrics::WorkArray first(n + 1), second(n);
    parsimetrics::WideWorkArray wide;
    parsimetrics::sort_suffixes(seq.data(), n, first.data() + 1, second.data(), wide, factorize_threads(n));
    consume(first[1]);
}

// The nearest-smaller scan after the sort alone, best of `reps`, over a
// copy of the suffix array each time (the scan consumes it).
double time_smaller_starts(const Sequence& seq, int reps) {
    const std::size_t n = seq.size();
    parsimetrics::WorkArray sorted(n + 1), slots(n + 1), psv(n);
    parsimetrics::WideWorkArray wide;
    // An exactly periodic text takes the scan's plain loop, as in factorize.
    const bool periodic = parsimetrics::sort_suffixes(seq.data(), n, sorted.data() + 1, psv.data(), wide,
                                                      factorize_threads(n)) == parsimetrics::SuffixSorter::kPeriodic;
    double best = 1e300;
    for (int r = 0; r < reps; ++r) {
        std::copy(sorted.begin(), sorted.end(), slots.begin());
        const auto start = Clock::now();
        parsimetrics::build_previous_smaller_starts(slots.data(), n, psv.data(), factorize_threads(n), periodic);
        best = std::min(best, seconds_since(start));
        consume(psv[n / 2]);
    }
    return best;
}

// Largest number of heap bytes live during one call, beyond those live before it.
template <class Fn>
double peak_extra_bytes_per_symbol(Fn&& fn, std::size_t n) {
    const std::int64_t before = g_live.load();
    g_peak.store(before);
    fn();
    return static_cast<double>(g_peak.load() - before) / static_cast<double>(n);
}

// Whether `name` is one of the comma-separated names in `list`.
bool listed(const std::string& list, const std::string& name) {
    for (std::size_t at = 0; at <= list.size();) {
        std::size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        if (list.compare(at, end - at, name) == 0) return true;
        at = end + 1;
    }
    return false;
}

void large_inputs(std::size_t min_n, std::size_t max_n, bool with_reference, const std::string& only) {
    const AnalysisOptions options;
    struct Kind {
        const char* name;
        std::vector<std::uint8_t> (*make)(std::size_t);
    };
    const Kind kinds[] = {
        {"binary", [](std::size_t n) { return uniform_text(n, 2, 11); }},
        {"4-letter", [](std::size_t n) { return uniform_text(n, 4, 12); }},
        {"bytes", [](std::size_t n) { return uniform_text(n, 256, 13); }},
        {"english", [](std::size_t n) { return english_like_text(n, 14); }},
        {"period 37", [](std::size_t n) { return bench::periodic_text(n, 37, 4, 0, 15); }},
        {"period37~", [](std::size_t n) { return bench::periodic_text(n, 37, 4, n / 500 + 1, 16); }},
    };

    std::printf("Whole factorize against divsufsort alone (best of several runs, the three interleaved), "
                "%zu thread(s) from 2^17 symbols.\n"
                "scan: factorize less its suffix sort, over divsufsort; nss: its nearest-smaller scan alone, "
                "the rest is the walk.\n"
                "peak: heap bytes per symbol held at once by one factorize call, its result included.\n",
                std::min<std::size_t>(2, parsimetrics::planned_thread_count()));
    std::printf("%-9s %9s %9s %12s %12s %7s %7s %7s %10s", "input", "n", "factors", "divsufsort s", "factorize s",
                "ratio", "scan", "nss", "peak B/sym");
    if (with_reference) std::printf(" %12s %7s %10s", "reference s", "ratio", "peak B/sym");
    std::printf("\n");
    for (std::size_t n = min_n; n <= max_n; n *= 10) {
        const int reps = n >= 100000000 ? 2 : n >= 10000000 ? 5 : n >= 1000000 ? 7 : 15;
        for (const Kind& kind : kinds) {
            if (!only.empty() && !listed(only, kind.name)) continue;
            const Sequence seq = parsimetrics::from_bytes(kind.make(n));
            std::uint32_t complexity = 0;
            double t_lib = 1e300, t_fact = 1e300, t_sort = 1e300;
            for (int r = 0; r < reps; ++r) {
                t_lib = std::min(t_lib, time_best([&] { run_divsufsort(seq); }, 1));
                t_fact = std::min(t_fact, time_best([&] { complexity = parsimetrics::factorize(seq, options).complexity; }, 1));
                t_sort = std::min(t_sort, time_best([&] { run_sort(seq); }, 1));
            }
            const double t_nss = time_smaller_starts(seq, reps);
            const double peak = peak_extra_bytes_per_symbol(
                [&] { consume(parsimetrics::factorize(seq, options).factors.size()); }, n);
            std::printf("%-9s %9zu %9u %12.4f %12.4f %7.3f %7.3f %7.3f %10.2f", kind.name, n, complexity, t_lib,
                        t_fact, t_fact / t_lib, (t_fact - t_sort) / t_lib, t_nss / t_lib, peak);
            if (with_reference) {
                const double t_ref = time_best(
                    [&] { consume(parsimetrics::factorize_reference(seq, options).complexity); }, 2);
                const double peak_ref = peak_extra_bytes_per_symbol(
                    [&] { consume(parsimetrics::factorize_reference(seq, options).factors.size()); }, n);
                std::printf(" %12.4f %7.3f %10.2f", t_ref, t_ref / t_lib, peak_ref);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
}

void small_inputs() {
    const AnalysisOptions options;
    struct Kind {
        const char* name;
        std::vector<std::uint8_t> (*make)(std::size_t n, std::uint64_t seed);
    };
    const Kind kinds[] = {
        {"a^n", [](std::size_t n, std::uint64_t) { return std::vector<std::uint8_t>(n, 'a'); }},
        {"(ab)^n", [](std::size_t n, std::uint64_t) {
             std::vector<std::uint8_t> t(n);
             for (std::size_t i = 0; i < n; ++i) t[i] = "ab"[i % 2];
             return t;
         }},
        {"(abc)^n+1", [](std::size_t n, std::uint64_t seed) {
             std::vector<std::uint8_t> t(n);
             for (std::size_t i = 0; i < n; ++i) t[i] = "abc"[i % 3];
             t[seed % n] = 'd';
             return t;
         }},
        {"binary", [](std::size_t n, std::uint64_t seed) { return uniform_text(n, 2, seed); }},
        {"bytes", [](std::size_t n, std::uint64_t seed) { return uniform_text(n, 256, seed); }},
        {"english", [](std::size_t n, std::uint64_t seed) { return english_like_text(n, seed); }},
        // Random but for one run of 60 equal symbols, whose suffixes tie in
        // the prefix keys' periodic groups.
        {"4-let+run", [](std::size_t n, std::uint64_t seed) {
             std::vector<std::uint8_t> t = uniform_text(n, 4, seed);
             std::fill(t.begin() + static_cast<std::ptrdiff_t>(n / 2),
                       t.begin() + static_cast<std::ptrdiff_t>(std::min(n, n / 2 + 60)), t[n / 2]);
             return t;
         }},
    };
    const std::size_t sizes[] = {100, 1000, 2047, 2048};

    std::printf("\nSmall inputs: factorize, ns per symbol (best of 5), each call on the next of 64 inputs\n");
    std::printf("%-10s", "input");
    for (std::size_t n : sizes) std::printf(" %10zu", n);
    std::printf("\n");
    for (const Kind& kind : kinds) {
        std::printf("%-10s", kind.name);
        for (std::size_t n : sizes) {
            // Distinct inputs, so that no branch predictor learns one text.
            std::vector<Sequence> pool;
            for (std::uint64_t seed = 0; seed < 64; ++seed) pool.push_back(parsimetrics::from_bytes(kind.make(n, 21 + seed)));
            std::size_t next = 0;
            auto call = [&] {
                consume(parsimetrics::factorize(pool[next], options).complexity);
                next = next + 1 == pool.size() ? 0 : next + 1;
            };
            // Enough calls for about 20 ms per timed run.
            const auto start = Clock::now();
            call();
            const double once = std::max(seconds_since(start), 1e-7);
            const int calls = std::max(1, static_cast<int>(0.02 / once));
            const double t = time_best(
                [&] {
                    for (int c = 0; c < calls; ++c) call();
                },
                5);
            std::printf(" %10.1f", t / calls / static_cast<double>(n) * 1e9);
            std::fflush(stdout);
        }
        std::printf("\n");
    }

    // Peak memory where the suffix sorters and walks change: their bound
    // holds at every length, not only at the lengths of the first table.
    const std::size_t memory_sizes[] = {100, 1000, 10000, 65535, 65536, 100000, 131071};
    std::printf("\nSmall inputs: peak heap bytes per symbol of one factorize call, its result included\n");
    std::printf("%-10s", "input");
    for (std::size_t n : memory_sizes) std::printf(" %10zu", n);
    std::printf("\n");
    for (const Kind& kind : kinds) {
        std::printf("%-10s", kind.name);
        for (std::size_t n : memory_sizes) {
            const Sequence seq = parsimetrics::from_bytes(kind.make(n, 21));
            std::printf(" %10.2f", peak_extra_bytes_per_symbol(
                                       [&] { consume(parsimetrics::factorize(seq, options).factors.size()); }, n));
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t min_n = 100000, max_n = 10000000;
    bool with_reference = false;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--reference")
            with_reference = true;
        else if (std::string(argv[i]) == "--kinds" && i + 1 < argc)
            only = argv[++i];
        else if (std::string(argv[i]) == "--from" && i + 1 < argc)
            min_n = std::strtoull(argv[++i], nullptr, 10);
        else
            max_n = std::strtoull(argv[i], nullptr, 10);
    }
    large_inputs(min_n, max_n, with_reference, only);
    if (only.empty()) small_inputs();
    return 0;
}
