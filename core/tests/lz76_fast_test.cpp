// The factorization engine against slower definitions of the same thing:
// factorize and factor_count (fresh and with a reused workspace) against the
// LCP/LPF pipeline, both against brute-force longest previous factors on
// short texts, and every suffix sorter against the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <divsufsort.h>

#include "lz76.hpp"
#include "suffix_array.hpp"

namespace pm = parsimetrics;

namespace {

using Text = std::vector<std::uint8_t>;

// The input as text when it is short and printable, otherwise as hex
// (the first 256 bytes of longer inputs).
std::string show(const Text& t) {
    const bool printable = std::all_of(t.begin(), t.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
    std::string out;
    if (printable && t.size() <= 200) {
        out.push_back('"');
        out.append(t.begin(), t.end());
        out.push_back('"');
        return out;
    }
    out.append(std::to_string(t.size())).append(" bytes, hex:");
    char buf[4];
    for (std::size_t i = 0; i < std::min<std::size_t>(t.size(), 256); ++i) {
        std::snprintf(buf, sizeof buf, " %02x", t[i]);
        out += buf;
    }
    if (t.size() > 256) out += " ...";
    return out;
}

// Boundaries by the definition: at each factor start the longest match with
// any earlier start, found by trying them all.
std::vector<std::uint32_t> brute_force_boundaries(const Text& t) {
    const std::size_t n = t.size();
    if (n == 0) return {};
    std::vector<std::uint32_t> f{0, 1};
    for (std::size_t b = 1; b < n; b = f.back()) {
        std::size_t best = 0;
        for (std::size_t j = 0; j < b; ++j) {
            std::size_t k = 0;
            while (b + k < n && t[j + k] == t[b + k]) ++k;
            best = std::max(best, k);
        }
        f.push_back(static_cast<std::uint32_t>(b + best + 1));
    }
    return f;
}

// One workspace for every check, so that each call meets arrays left over
// from inputs of other lengths.
pm::FactorizationWorkspace& shared_workspace() {
    static pm::FactorizationWorkspace ws;
    return ws;
}

void expect_engine_agrees(const Text& t, bool brute_force = false) {
    const pm::Sequence seq = pm::from_bytes(Text(t));
    pm::AnalysisOptions options;
    options.log_base = 3;
    const pm::FactorizationResult want = pm::factorize_reference(seq, options);
    const pm::FactorizationResult fresh = pm::factorize(seq, options);
    const pm::FactorizationResult reused = pm::factorize(seq, options, shared_workspace());
    const std::uint32_t count = pm::factor_count(seq, options, shared_workspace());
    const std::uint32_t want_count = pm::is_constant(seq) ? 1 : want.complexity;

    for (const pm::FactorizationResult* got : {&fresh, &reused}) {
        ASSERT_EQ(got->factors, want.factors) << "input " << show(t);
        ASSERT_EQ(got->complexity, want.complexity) << "input " << show(t);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(got->epsilon), std::bit_cast<std::uint64_t>(want.epsilon))
            << "input " << show(t);
    }
    ASSERT_EQ(count, want_count) << "factor_count, input " << show(t);
    if (brute_force) {
        ASSERT_EQ(want.factors, brute_force_boundaries(t)) << "input " << show(t);
    }
}

// ---------------------------------------------------------------------------
// Input families.

Text random_text(std::size_t n, unsigned sigma, std::mt19937_64& rng) {
    Text t(n);
    for (auto& c : t) c = static_cast<std::uint8_t>(sigma == 256 ? rng() & 0xFF : 'a' + rng() % sigma);
    return t;
}

// A random word of length `period` repeated, then `mutations` random symbols changed.
Text near_periodic(std::size_t n, std::size_t period, unsigned sigma, std::size_t mutations, std::mt19937_64& rng) {
    const Text word = random_text(period, sigma, rng);
    Text t(n);
    for (std::size_t i = 0; i < n; ++i) t[i] = word[i % period];
    for (std::size_t k = 0; k < mutations && n > 0; ++k) t[rng() % n] = random_text(1, sigma, rng)[0];
    return t;
}

Text fibonacci_word(std::size_t n) {
    std::string a = "a", b = "ab";
    while (b.size() < n) {
        std::string c = b + a;
        a = std::move(b);
        b = std::move(c);
    }
    return Text(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

// Runs of one symbol with random lengths up to max_run.
Text runs(std::size_t n, unsigned sigma, std::size_t max_run, std::mt19937_64& rng) {
    Text t;
    while (t.size() < n) t.insert(t.end(), 1 + rng() % max_run, random_text(1, sigma, rng)[0]);
    t.resize(n);
    return t;
}

// Blocks of a period-p word separated by single marks: periodic at two scales.
Text nested_periodic(std::size_t n, std::size_t p, std::size_t copies) {
    Text t;
    for (std::size_t i = 0; t.size() < n; ++i) t.push_back(i % (p * copies + 1) == p * copies ? 'c' : "ab"[i % p % 2]);
    t.resize(n);
    return t;
}

Text thue_morse(std::size_t n) {
    Text t(n);
    for (std::size_t i = 0; i < n; ++i) t[i] = static_cast<std::uint8_t>('a' + std::popcount(i) % 2);
    return t;
}

// Every family at length n, fed to `check`.
void for_each_family(std::size_t n, std::mt19937_64& rng, const std::function<void(const Text&)>& check) {
    std::vector<Text> inputs;
    for (unsigned sigma : {1u, 2u, 3u, 4u, 26u, 256u}) inputs.push_back(random_text(n, sigma, rng));
    for (std::size_t period : {1, 2, 3, 7, 64, 101, 700}) {
        inputs.push_back(near_periodic(n, period, 2, 0, rng));
        inputs.push_back(near_periodic(n, period, 4, 3, rng));
    }
    inputs.push_back(fibonacci_word(n));
    inputs.push_back(thue_morse(n));
    inputs.push_back(nested_periodic(n, 3, 5));
    inputs.push_back(runs(n, 2, 40, rng));
    inputs.push_back(runs(n, 256, 5, rng));
    for (const Text& t : inputs) {
        check(t);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// ---------------------------------------------------------------------------

TEST(FastFactorize, AgreesWithReferenceAndBruteForceOnShortTexts) {
    std::mt19937_64 rng(1);
    for (std::size_t n = 0; n <= 300 && !HasFatalFailure(); ++n)
        for_each_family(n, rng, [](const Text& t) { expect_engine_agrees(t, true); });
}

TEST(FastFactorize, AgreesWithReferenceAroundTheSorterThresholds) {
    std::mt19937_64 rng(2);
    for (std::size_t t : {pm::kInductionThreshold, pm::kLibrarySortThreshold})
        for (std::size_t n : {t - 1, t})
            for_each_family(n, rng, [](const Text& t) { expect_engine_agrees(t); });
}

TEST(FastFactorize, AgreesWithReferenceOnLongTexts) {
    std::mt19937_64 rng(3);
    for (std::size_t n : {10000, 65537, 100000})
        for_each_family(n, rng, [](const Text& t) { expect_engine_agrees(t); });
}

TEST(FastFactorize, ExhaustiveBinaryTexts) {
    // Every binary text up to 12 symbols, and every ternary one up to 8.
    for (unsigned sigma : {2u, 3u}) {
        const std::size_t max_n = sigma == 2 ? 12 : 8;
        for (std::size_t n = 1; n <= max_n; ++n) {
            std::size_t total = 1;
            for (std::size_t i = 0; i < n; ++i) total *= sigma;
            for (std::size_t code = 0; code < total; ++code) {
                Text t;
                for (std::size_t i = 0, c = code; i < n; ++i, c /= sigma)
                    t.push_back(static_cast<std::uint8_t>('a' + c % sigma));
                expect_engine_agrees(t, true);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Every sorter against libdivsufsort, which sorts any text on its own: the
// prefix keys with and without their cost bound, induced sorting, and the
// dispatch, on lengths around each of their thresholds (insertion sort,
// radix bytes, key widths that change at powers of two, the library).
TEST(SuffixSorters, AgreeWithTheLibrary) {
    std::mt19937_64 rng(4);
    pm::WideWorkArray wide;
    auto check = [&](const Text& t) {
        const std::size_t n = t.size();
        if (n == 0) return;
        std::vector<std::int32_t> lib(n);
        ASSERT_EQ(divsufsort(t.data(), lib.data(), static_cast<std::int32_t>(n)), 0);
        const std::vector<std::uint32_t> want(lib.begin(), lib.end());
        std::vector<std::uint32_t> sa(n), rank(n);
        ASSERT_TRUE(pm::sort_by_prefix_keys(t.data(), n, sa.data(), rank.data(), wide, false));
        ASSERT_EQ(sa, want) << "prefix keys, input " << show(t);
        if (pm::sort_by_prefix_keys(t.data(), n, sa.data(), rank.data(), wide, true)) {
            ASSERT_EQ(sa, want) << "bounded prefix keys, input " << show(t);
        }
        pm::sort_by_induction(t.data(), n, sa.data());
        ASSERT_EQ(sa, want) << "induction, input " << show(t);
        pm::sort_suffixes(t.data(), n, sa.data(), rank.data(), wide);
        ASSERT_EQ(sa, want) << "dispatch, input " << show(t);
    };
    for (std::size_t n = 0; n <= 300 && !HasFatalFailure(); ++n) for_each_family(n, rng, check);
    for (std::size_t n : {511, 512, 513, 1025, 2049, 4097}) for_each_family(n, rng, check);
    for (std::size_t t : {pm::kInductionThreshold, pm::kLibrarySortThreshold})
        for (std::size_t n : {t - 1, t}) for_each_family(n, rng, check);
    for (std::size_t sigma = 1; sigma <= 256 && !HasFatalFailure(); ++sigma)
        for (std::size_t n : {sigma, 3 * sigma + 1, std::size_t{1000}})
            check(random_text(n, static_cast<unsigned>(sigma), rng));
}

}  // namespace
