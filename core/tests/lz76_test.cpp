// The factorization engine: worked examples and brute force, then
// factorize and factor_count (fresh and with a reused workspace) against the
// reference pipeline over many input families, which is itself checked
// against brute force first.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lz76.hpp"
#include "pool.hpp"
#include "sequence.hpp"
#include "suffix_array.hpp"
#include "test_utils.hpp"

namespace pm = parsimetrics;
using U32s = std::vector<std::uint32_t>;

namespace {

U32s reference_sa(const std::string& t) { return pm::build_suffix_array(pm::bytes_of(t), t.size()); }
U32s reference_lcp(const std::string& t) { return pm::build_lcp_array(pm::bytes_of(t), t.size(), reference_sa(t)); }
U32s reference_lpf(const std::string& t) { return pm::build_lpf_array(reference_sa(t), reference_lcp(t), t.size()); }

// One workspace for every check, so that each call meets arrays left over
// from inputs of other lengths.
pm::FactorizationWorkspace& shared_workspace() {
    static pm::FactorizationWorkspace ws;
    return ws;
}

void expect_engine_agrees(const std::string& t, bool brute_force = false) {
    const pm::Sequence seq = pm::from_bytes(t);
    pm::AnalysisOptions options;
    options.log_base = 3;
    const pm::FactorizationResult want = pm::factorize_reference(seq, options);
    const pm::FactorizationResult fresh = pm::factorize(seq, options);
    const pm::FactorizationResult reused = pm::factorize(seq, options, shared_workspace());
    const std::uint32_t count = pm::factor_count(seq, shared_workspace());
    const std::uint32_t want_count = pm::is_constant(seq) ? 1 : want.complexity;

    for (const pm::FactorizationResult* got : {&fresh, &reused}) {
        ASSERT_EQ(got->factors, want.factors) << "input " << pm::show(t);
        ASSERT_EQ(got->complexity, want.complexity) << "input " << pm::show(t);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(got->epsilon), std::bit_cast<std::uint64_t>(want.epsilon))
            << "input " << pm::show(t);
    }
    ASSERT_EQ(count, want_count) << "factor_count, input " << pm::show(t);
    if (brute_force) {
        ASSERT_EQ(want.factors, pm::brute_force_boundaries(t)) << "input " << pm::show(t);
    }
}

// Every family at length n through the check.
void for_each_family(std::size_t n, std::mt19937_64& rng, const std::function<void(const std::string&)>& check) {
    for (const std::string& t : pm::input_families(n, rng)) {
        check(t);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace

TEST(LcpAndLpf, MatchBruteForceOnSmallText) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<std::size_t> length(1, 64);
    for (unsigned sigma : {1, 2, 4, 256})
        for (int trial = 0; trial < 150; ++trial) {
            const std::string t = pm::random_text(length(rng), sigma, rng);
            const U32s sa = pm::brute_force_suffix_array(t);
            U32s lcp(t.size(), 0), lpf(t.size(), 0);
            for (std::size_t r = 1; r < t.size(); ++r) lcp[r] = pm::common_prefix(t, sa[r - 1], sa[r]);
            for (std::size_t i = 1; i < t.size(); ++i) lpf[i] = pm::brute_force_lpf(t, i);
            ASSERT_EQ(reference_lcp(t), lcp) << "text " << pm::show(t);
            ASSERT_EQ(reference_lpf(t), lpf) << "text " << pm::show(t);
        }
}

TEST(Factorize, BoundariesAndCountMatchBruteForce) {
    std::mt19937_64 rng(13);
    std::vector<std::string> texts;
    for (unsigned sigma : {2u, 4u, 256u})
        for (std::size_t n : {2, 3, 9, 40, 300, 2047, 2048, 2049}) texts.push_back(pm::random_text(n, sigma, rng));
    for (std::size_t n : {2047, 2048, 2049}) {  // long copies that reach, or stop short of, the end
        texts.push_back(pm::repeat("ab", n));
        texts.push_back(pm::repeat("ab", n - 1) + "c");
        texts.push_back(std::string(1, 'b').append(n - 1, 'a'));
    }
    for (const std::string& t : texts) {
        const U32s want = pm::brute_force_boundaries(t);
        const pm::FactorizationResult r = pm::factorize(pm::from_bytes(t), {});
        ASSERT_EQ(r.factors, want) << "text " << pm::show(t);
        const auto m = static_cast<std::uint32_t>(want.size());
        EXPECT_EQ(r.complexity, want.back() == t.size() ? m - 1 : m - 2) << "text " << pm::show(t);
    }
}

TEST(Factorize, WorkedExamples) {
    struct Case {
        std::string text;
        U32s sa, lcp, lpf, factors;
        std::uint32_t complexity;
        double epsilon;
    };
    const Case cases[] = {
        {"banana", {5, 3, 1, 0, 4, 2}, {0, 1, 3, 0, 0, 2}, {0, 0, 0, 3, 2, 1}, {0, 1, 2, 3, 7}, 3, 2.306056841148618},
        {"01010101", {6, 4, 2, 0, 7, 5, 3, 1}, {0, 2, 4, 6, 0, 1, 3, 5}, {0, 0, 6, 5, 4, 3, 2, 1}, {0, 1, 2, 9}, 2, 2.0},
        {"ab", {0, 1}, {0, 0}, {0, 0}, {0, 1, 2}, 2, 4.0},
        {"aa", {1, 0}, {0, 1}, {0, 1}, {0, 1, 3}, 1, 4.0},  // no constant shortcut in the engine
        {"aaaa", {3, 2, 1, 0}, {0, 1, 2, 3}, {0, 3, 2, 1}, {0, 1, 5}, 1, 2.584962500721156},
        {"abcdabce", {0, 4, 1, 5, 2, 6, 3, 7}, {0, 3, 0, 2, 0, 1, 0, 0}, {0, 0, 0, 0, 3, 2, 1, 0}, {0, 1, 2, 3, 4, 8}, 5, 2.345702544828482},
        {"x", {0}, {0}, {0}, {0, 1}, 1, std::numeric_limits<double>::infinity()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text " + pm::show(c.text));
        EXPECT_EQ(reference_sa(c.text), c.sa);
        EXPECT_EQ(reference_lcp(c.text), c.lcp);
        EXPECT_EQ(reference_lpf(c.text), c.lpf);
        const pm::FactorizationResult r = pm::factorize(pm::from_bytes(c.text), {});
        EXPECT_EQ(r.factors, c.factors);
        EXPECT_EQ(r.complexity, c.complexity);
        EXPECT_EQ(r.epsilon, c.epsilon);  // bit for bit
    }
    const pm::FactorizationResult empty = pm::factorize(pm::from_bytes(""), {});
    EXPECT_TRUE(empty.factors.empty());
    EXPECT_EQ(empty.complexity, 0u);
    EXPECT_EQ(empty.epsilon, 0.0);
}

TEST(Factorize, ConstantShortcuts) {
    const pm::FactorizationResult r = pm::constant_result(4);
    EXPECT_EQ(r.factors, (U32s{0, 1, 4}));
    EXPECT_EQ(r.complexity, 1u);
    EXPECT_EQ(r.epsilon, 0.0);
    EXPECT_EQ(pm::constant_result(0).factors, (U32s{0, 1, 0}));
    for (const auto& [text, count] : {std::pair{"", 1u}, {"a", 1u}, {"aaaa", 1u}, {"ab", 2u}, {"banana", 3u}})
        EXPECT_EQ(pm::factor_count(pm::from_bytes(text)), count) << text;
}

TEST(Factorize, OptionsOnlyMoveEpsilon) {
    const pm::Sequence banana = pm::from_bytes("banana");  // detected alphabet 3
    auto with = [&](std::uint32_t alphabet, std::uint32_t log_base) {
        pm::AnalysisOptions o;
        o.alphabet = alphabet;
        o.log_base = log_base;
        return pm::factorize(banana, o);
    };
    const pm::FactorizationResult base = with(pm::kAbsent, pm::kAbsent);
    for (std::uint32_t k : {0u, 1u, 2u, 3u, 7u, pm::kAbsent})
        for (std::uint32_t b : {0u, 1u, 2u, 3u, 10u, pm::kAbsent}) {
            const pm::FactorizationResult r = with(k, b);
            EXPECT_EQ(r.factors, base.factors);
            EXPECT_EQ(r.complexity, base.complexity);
            const std::uint32_t ek = k == pm::kAbsent ? 3 : std::max(k, 2u), eb = b == pm::kAbsent ? 3 : std::max(b, 2u);
            EXPECT_EQ(r.epsilon, with(ek, eb).epsilon) << "alphabet " << k << " log_base " << b;
        }
    EXPECT_EQ(with(3, 3).epsilon, base.epsilon);
    EXPECT_NE(with(4, 3).epsilon, base.epsilon);
    EXPECT_NE(with(3, 2).epsilon, base.epsilon);
}

TEST(FactorSpread, Examples) {
    const std::pair<U32s, double> cases[] = {
        {{0, 1, 2, 3, 7}, 1.4106735979665883}, {{0, 1}, 1.0}, {{0, 1, 4}, 1.1547005383792515},
        {{0, 1, 1}, 1.0}, {{0, 1, 0}, 1.3743685418725535}, {{}, 0.0}, {{5}, 0.0}, {{0, 0}, 0.0},
    };
    for (const auto& [factors, want] : cases)
        EXPECT_EQ(pm::factor_spread(factors), want) << ::testing::PrintToString(factors);
}

TEST(FastFactorize, AgreesWithReferenceAndBruteForceOnShortTexts) {
    std::mt19937_64 rng(1);
    for (std::size_t n = 0; n <= 300 && !HasFatalFailure(); ++n)
        for_each_family(n, rng, [](const std::string& t) { expect_engine_agrees(t, true); });
}

TEST(FastFactorize, AgreesWithReferenceAroundTheSorterThresholds) {
    std::mt19937_64 rng(2);
    for (std::size_t n : {pm::kLibrarySortThreshold - 1, pm::kLibrarySortThreshold})
        for_each_family(n, rng, [](const std::string& t) { expect_engine_agrees(t); });
}

TEST(FastFactorize, AgreesWithReferenceOnLongTexts) {
    std::mt19937_64 rng(3);
    for (std::size_t n : {10000, 65537, 100000})
        for_each_family(n, rng, [](const std::string& t) { expect_engine_agrees(t); });
}

// A long text factorized from outside the pool takes two threads, inside a
// pool task one; both must give the reference factors.
TEST(FastFactorize, AgreesWithReferenceOnOneAndTwoThreads) {
    std::mt19937_64 rng(4);
    for (std::size_t n : {pm::kLibrarySortThreshold, pm::kLibrarySortThreshold + 1})
        for_each_family(n, rng, [](const std::string& t) {
            const pm::Sequence seq = pm::from_bytes(t);
            const pm::AnalysisOptions options;
            const U32s want = pm::factorize_reference(seq, options).factors;
            const U32s outside = pm::factorize(seq, options).factors;
            const U32s inside =
                pm::parallel_map(pm::Work{t.size()}, 0, 0, [&](std::int64_t) { return pm::factorize(seq, options).factors; })
                    .front();
            ASSERT_EQ(outside, want) << "input " << pm::show(t);
            ASSERT_EQ(inside, want) << "input " << pm::show(t);
        });
}

// The list walk by blocks, which factorize takes on long texts only, at
// short lengths: on one thread, and on two with a ring of blocks between
// them (either may follow a block, or the first all of them).
TEST(FastFactorize, WalkByBlocksAgreesWithReference) {
    std::mt19937_64 rng(5);
    for (std::size_t n : {1, 2, 17, 300, 5000, 65537})
        for_each_family(n, rng, [](const std::string& t) {
            const pm::Sequence seq = pm::from_bytes(t);
            const pm::FactorizationResult want = pm::factorize_reference(seq, {});
            for (std::size_t threads : {1, 2}) {
                ASSERT_EQ(pm::detail::factorize_in_blocks(seq, threads).factors, want.factors)
                    << threads << " thread(s), input " << pm::show(t);
                ASSERT_EQ(pm::detail::factor_count_in_blocks(seq, threads), want.complexity)
                    << threads << " thread(s), input " << pm::show(t);
            }
        });
}

// From 2^22 symbols, text that sorts on one thread of two has the other
// fault in the working arrays meanwhile, contents untouched.
TEST(FastFactorize, ArraysFaultedInWhileSortingKeepTheResult) {
    std::mt19937_64 rng(6);
    const pm::Sequence seq = pm::from_bytes(pm::near_periodic((std::size_t{1} << 22) + 3, 101, 4, 3, rng));
    ASSERT_EQ(pm::detail::factorize_in_blocks(seq, 2).factors, pm::detail::factorize_in_blocks(seq, 1).factors);
}

TEST(FastFactorize, ExhaustiveBinaryTexts) {
    // Every binary text up to 12 symbols, and every ternary one up to 8.
    for (unsigned sigma : {2u, 3u}) {
        const std::size_t max_n = sigma == 2 ? 12 : 8;
        for (std::size_t n = 1; n <= max_n; ++n) {
            std::size_t total = 1;
            for (std::size_t i = 0; i < n; ++i) total *= sigma;
            for (std::size_t code = 0; code < total; ++code) {
                std::string t;
                for (std::size_t i = 0, c = code; i < n; ++i, c /= sigma) t.push_back(static_cast<char>('a' + c % sigma));
                expect_engine_agrees(t, true);
                if (HasFatalFailure()) return;
            }
        }
    }
}
