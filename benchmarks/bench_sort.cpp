// Short texts: the short-text suffix sorter against libdivsufsort by length
// (where the crossover belongs), then the factor count per call from 2 to
// 10^7 symbols, in nanoseconds per symbol (processor time) and relative to
// n = 10^6.  Every call takes a different input from a pool, so no branch
// predictor or cache learns one text.
//
// Then, asked for, long texts from 10^6 symbols to max_n: the dispatch and
// induced sorting alone against libdivsufsort.
//
// Then, asked for, the crossover of the prefix keys and induced sorting
// below 2^17 symbols on random and English-like text.
//
// Usage: bench_sort [sort|count|long|cross] [max_n]
//   (default the first two parts, max_n 10^7)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <divsufsort.h>
#include <time.h>

#include "inputs.hpp"
#include "lz76.hpp"
#include "suffix_array.hpp"

namespace {

using Text = std::vector<std::uint8_t>;

struct Kind {
    const char* name;
    Text (*make)(std::size_t n, std::uint64_t seed);
};

const Kind kKinds[] = {
    {"binary", [](std::size_t n, std::uint64_t s) { return bench::uniform_text(n, 2, s); }},
    {"4-letter", [](std::size_t n, std::uint64_t s) { return bench::uniform_text(n, 4, s); }},
    {"bytes", [](std::size_t n, std::uint64_t s) { return bench::uniform_text(n, 256, s); }},
    {"english", [](std::size_t n, std::uint64_t s) { return bench::english_like_text(n, s); }},
    {"period 2", [](std::size_t n, std::uint64_t s) { return bench::periodic_text(n, 2, 2, 0, s); }},
    {"period 37~", [](std::size_t n, std::uint64_t s) { return bench::periodic_text(n, 37, 4, n / 500 + 1, s); }},
    {"runs<=40", [](std::size_t n, std::uint64_t s) { return bench::run_text(n, 40, s); }},
    {"fibonacci", [](std::size_t n, std::uint64_t s) { return bench::fibonacci_text(n, s % 13); }},
};

volatile std::uint64_t g_sink = 0;

// Distinct inputs of one kind, as many as keep the pool near 4 MB.
std::vector<Text> input_pool(const Kind& kind, std::size_t n) {
    const std::size_t count = std::clamp<std::size_t>((std::size_t{4} << 20) / std::max<std::size_t>(n, 1), 2, 256);
    std::vector<Text> pool;
    for (std::size_t s = 0; s < count; ++s) pool.push_back(kind.make(n, 1000 + s));
    return pool;
}

// Processor time of this thread, which a busy machine's other processes
// do not inflate the way they inflate wall time.
double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Nanoseconds per symbol of fn(text), each call on the next input of the
// pool: the fastest of batches of about 50 us of processor time (at least
// one call each) over about 60 ms.
template <class Fn>
double ns_per_symbol(const std::vector<Text>& pool, Fn&& fn) {
    const std::size_t n = pool[0].size();
    std::size_t next = 0;
    auto call = [&] {
        fn(pool[next]);
        next = next + 1 == pool.size() ? 0 : next + 1;
    };
    const double start = cpu_seconds();
    call();
    const double once = std::max(cpu_seconds() - start, 1e-8);
    const int calls = std::max(1, static_cast<int>(50e-6 / once));
    const int batches = std::clamp(static_cast<int>(0.06 / (once * calls)), 5, 1001);
    double best = 1e300;
    for (int b = 0; b < batches; ++b) {
        const double t0 = cpu_seconds();
        for (int c = 0; c < calls; ++c) call();
        best = std::min(best, cpu_seconds() - t0);
    }
    return best / calls / static_cast<double>(n) * 1e9;
}

void sorters(std::size_t max_n) {
    std::printf("Suffix sort, ns per symbol: the dispatch (induced sorting alone) / libdivsufsort = ratio\n"
                "(below 1: the dispatch wins)\n");
    std::printf("%-11s", "n");
    for (const Kind& k : kKinds) std::printf(" %25s", k.name);
    std::printf("\n");
    std::vector<std::uint32_t> sa, rank;
    std::vector<saidx_t> lib;
    parsimetrics::WideWorkArray wide;
    for (std::size_t n = 256; n <= std::min<std::size_t>(max_n, 1 << 20); n *= 2) {
        std::printf("%-11zu", n);
        sa.resize(n);
        rank.resize(n);
        lib.resize(n);
        for (const Kind& kind : kKinds) {
            const std::vector<Text> pool = input_pool(kind, n);
            const double t_short = ns_per_symbol(pool, [&](const Text& t) {
                parsimetrics::sort_suffixes(t.data(), n, sa.data(), rank.data(), wide);
                g_sink = g_sink + sa[0];
            });
            const double t_lib = ns_per_symbol(pool, [&](const Text& t) {
                divsufsort(t.data(), lib.data(), static_cast<saidx_t>(n));
                g_sink = g_sink + static_cast<std::uint64_t>(lib[0]);
            });
            const double t_induced = ns_per_symbol(pool, [&](const Text& t) {
                parsimetrics::sort_by_induction(t.data(), n, sa.data(), rank.data());
                g_sink = g_sink + sa[0];
            });
            std::printf(" %5.1f(%5.1f)/%5.1f=%5.2f", t_short, t_induced, t_lib, t_short / t_lib);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
}

// Long texts: the dispatch and induced sorting alone against libdivsufsort,
// one text per kind and length, the three interleaved in each repetition so
// that the machine's load weighs on all alike; processor time, best of the
// repetitions.
void long_texts(std::size_t max_n) {
    std::printf("Long texts, suffix sort in ns per symbol (processor time, best of interleaved runs):\n"
                "the dispatch, induced sorting alone, libdivsufsort, and the two ratios to the library\n");
    std::printf("%-11s %-11s %9s %9s %9s %9s %9s\n", "n", "input", "dispatch", "induced", "library", "disp/lib",
                "ind/lib");
    for (std::size_t n = 1000000; n <= max_n; n *= 10) {
        const int reps = n >= 100000000 ? 2 : n >= 10000000 ? 3 : 5;
        std::vector<std::uint32_t> sa(n), rank(n);
        std::vector<saidx_t> lib(n);
        parsimetrics::WideWorkArray wide;
        for (const Kind& kind : kKinds) {
            const Text t = kind.make(n, 7);
            double best[3] = {1e300, 1e300, 1e300};
            for (int r = 0; r < reps; ++r) {
                double t0 = cpu_seconds();
                parsimetrics::sort_suffixes(t.data(), n, sa.data(), rank.data(), wide);
                double t1 = cpu_seconds();
                best[0] = std::min(best[0], t1 - t0);
                parsimetrics::sort_by_induction(t.data(), n, sa.data(), rank.data());
                t0 = cpu_seconds();
                best[1] = std::min(best[1], t0 - t1);
                divsufsort(t.data(), lib.data(), static_cast<saidx_t>(n));
                t1 = cpu_seconds();
                best[2] = std::min(best[2], t1 - t0);
                g_sink = g_sink + sa[0] + static_cast<std::uint64_t>(lib[0]);
            }
            const double per = 1e9 / static_cast<double>(n);
            std::printf("%-11zu %-11s %9.1f %9.1f %9.1f %9.2f %9.2f\n", n, kind.name, best[0] * per, best[1] * per,
                        best[2] * per, best[0] / best[2], best[1] / best[2]);
            std::fflush(stdout);
        }
    }
}

// Where induced sorting overtakes the prefix keys below the library's
// length, per kind of text: the keys (bounded, induction after them where
// they give up), the dispatch and induction alone, and the first two over
// the third.
void crossover() {
    const std::size_t sizes[] = {8192, 16384, 32768, 65536, 70000, 80000, 100000, 131071};
    std::printf("Below 2^17, ns per symbol: prefix keys / dispatch / induced sorting alone, keys/ind disp/ind\n%-8s",
                "n");
    for (std::size_t k = 0; k < 4; ++k) std::printf(" %33s", kKinds[k].name);
    std::printf("\n");
    std::vector<std::uint32_t> sa, rank;
    parsimetrics::WideWorkArray wide;
    for (const std::size_t n : sizes) {
        sa.resize(n);
        rank.resize(n);
        std::printf("%-8zu", n);
        for (std::size_t k = 0; k < 4; ++k) {
            const std::vector<Text> pool = input_pool(kKinds[k], n);
            const double t_keys = ns_per_symbol(pool, [&](const Text& t) {
                if (!parsimetrics::sort_by_prefix_keys(t.data(), n, sa.data(), rank.data(), wide, true))
                    parsimetrics::sort_by_induction(t.data(), n, sa.data(), rank.data());
                g_sink = g_sink + sa[0];
            });
            const double t_dispatch = ns_per_symbol(pool, [&](const Text& t) {
                parsimetrics::sort_suffixes(t.data(), n, sa.data(), rank.data(), wide);
                g_sink = g_sink + sa[0];
            });
            const double t_induced = ns_per_symbol(pool, [&](const Text& t) {
                parsimetrics::sort_by_induction(t.data(), n, sa.data(), rank.data());
                g_sink = g_sink + sa[0];
            });
            std::printf(" %5.1f/%5.1f/%5.1f %5.2f %5.2f", t_keys, t_dispatch, t_induced, t_keys / t_induced,
                        t_dispatch / t_induced);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
}

void counts(std::size_t max_n) {
    const std::size_t sizes[] = {2, 10, 31, 32, 63, 64, 99, 100, 159, 160, 200, 300, 400, 511, 512, 700, 1000, 2047, 2048, 4096, 10000, 30000, 65535, 65536,
                                 100000, 300000, 1000000, 10000000};
    std::printf("\nfactor_count per call (fresh arrays, as h does), ns per symbol\n%-11s", "n");
    const std::size_t shown = 7;  // English-like and Fibonacci cover the sorter part only
    const std::size_t kinds[shown] = {0, 1, 2, 4, 5, 6, 7};
    for (std::size_t k : kinds) std::printf(" %10s", kKinds[k].name);
    std::printf(" %10s\n", "worst/rand");
    std::vector<std::vector<double>> table;
    for (std::size_t n : sizes) {
        if (n > max_n) break;
        std::vector<double> row;
        std::printf("%-11zu", n);
        for (std::size_t k : kinds) {
            // At 10^7 only the random texts: each call takes a second.
            if (n >= 10000000 && k > 1) {
                row.push_back(0);
                std::printf(" %10s", "-");
                continue;
            }
            const std::vector<Text> pool = input_pool(kKinds[k], n);
            std::vector<parsimetrics::Sequence> seqs;
            for (const Text& t : pool) seqs.push_back(parsimetrics::from_bytes(Text(t)));
            std::size_t next = 0;
            row.push_back(ns_per_symbol(pool, [&](const Text&) {
                g_sink = g_sink + parsimetrics::factor_count(seqs[next]);
                next = next + 1 == seqs.size() ? 0 : next + 1;
            }));
            std::printf(" %10.1f", row.back());
            std::fflush(stdout);
        }
        // Structured texts against the slower of the two random ones.
        const double random = std::max(row[0], row[1]);
        double worst = 0;
        for (std::size_t i = 3; i < row.size(); ++i) worst = std::max(worst, row[i]);
        std::printf(" %10.2f\n", worst / random);
        table.push_back(row);
    }
    // The step check: every size from 100 to 10^5 against n = 10^6, per kind.
    std::size_t at_million = 0;
    while (at_million < table.size() && sizes[at_million] != 1000000) ++at_million;
    if (at_million == table.size()) return;
    std::printf("\nlargest ns/symbol for 100 <= n <= 10^5 over its value at 10^6:");
    for (std::size_t k = 0; k < shown; ++k) {
        double worst = 0;
        for (std::size_t r = 0; r < table.size(); ++r)
            if (sizes[r] >= 100 && sizes[r] <= 100000) worst = std::max(worst, table[r][k]);
        std::printf(" %s %.2f%s", kKinds[kinds[k]].name, worst / table[at_million][k], k + 1 < shown ? "," : "\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool sort_part = true, count_part = true, long_part = false, cross_part = false;
    std::size_t max_n = 10000000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "sort")
            count_part = false;
        else if (a == "count")
            sort_part = false;
        else if (a == "long")
            long_part = true, sort_part = count_part = false;
        else if (a == "cross")
            cross_part = true, sort_part = count_part = false;
        else
            max_n = std::strtoull(argv[i], nullptr, 10);
    }
    if (sort_part) sorters(max_n);
    if (count_part) counts(max_n);
    if (long_part) long_texts(max_n);
    if (cross_part) crossover();
    return 0;
}
