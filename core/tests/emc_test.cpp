#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "lz76.hpp"
#include "measures.hpp"
#include "options.hpp"
#include "shuffle.hpp"

namespace parsimetrics {
namespace {

const std::string kBinaryText = "01001010101101010101110101010101010000100101011";

std::string random_text(std::size_t n, int sigma, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> pick(0, sigma - 1);
    std::string s(n, '\0');
    for (char& ch : s) ch = static_cast<char>('a' + pick(rng));
    return s;
}

AnalysisOptions with_block_size(std::int32_t m) {
    AnalysisOptions o;
    o.max_block_size = m;
    o.want_summands = true;
    return o;
}

// ---------------------------------------------------------------------------
// Automatic block size: both ends of every range of lengths.

struct BlockSizeRange {
    std::uint64_t first, last, m;
};

TEST(AutoMaxBlockSize, BothEndsOfEveryRange) {
    const BlockSizeRange ranges[] = {
        {0, 9, 1},         {10, 16, 2},        {17, 45, 3},        {46, 50, 4},
        {51, 113, 14},     {114, 271, 15},     {272, 633, 16},     {634, 1448, 17},
        {1449, 3258, 18},  {3259, 7240, 19},   {7241, 15929, 20},  {15930, 34755, 21},
        {34756, 75304, 22}, {75305, 162193, 23}, {162194, 347557, 24}, {347558, 741455, 25},
        {741456, 1575592, 26},
    };
    for (const auto& r : ranges) {
        EXPECT_EQ(auto_max_block_size(r.first), r.m) << "n = " << r.first;
        EXPECT_EQ(auto_max_block_size(r.last), r.m) << "n = " << r.last;
    }
    // Spot values inside ranges, including two-cycle lengths such as 12.
    for (auto [n, m] : {std::pair<std::uint64_t, std::uint64_t>{12, 2}, {1000, 17}, {1000000, 26}})
        EXPECT_EQ(auto_max_block_size(n), m) << "n = " << n;
}

// ---------------------------------------------------------------------------
// Ladder projection

struct ProjectionCase {
    const char* name;
    std::vector<double> ladder, projected;
};

TEST(ProjectLadder, Examples) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const ProjectionCase cases[] = {
        {"pooled middle", {0.25, 0.75, 0.25, 1.0}, {0.25, 0.5, 0.5, 1.0}},
        {"negative head raised", {-0.125, 0.5, 0.25}, {0.0, 0.375, 0.375}},
        // Pooling three equal values would give 0.30000000000000004 / 3.
        {"equal means stay apart", {0.1, 0.1, 0.1}, {0.1, 0.1, 0.1}},
        {"all negative", {-1.0, -2.0, -0.5}, {0.0, 0.0, 0.0}},
        {"decreasing", {3.0, 2.0, 1.0}, {2.0, 2.0, 2.0}},
        {"negative zero", {-0.0}, {0.0}},
        {"nan", {nan}, {0.0}},
        {"empty", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> got = project_ladder(c.ladder);
        ASSERT_EQ(got.size(), c.projected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i], c.projected[i]) << "index " << i;
            EXPECT_FALSE(std::signbit(got[i])) << "index " << i;
        }
    }
}

// Non-negative isotonic regression by the min-max formula, clamped at zero.
std::vector<double> brute_force_projection(const std::vector<double>& e) {
    const std::size_t m = e.size();
    std::vector<double> out(m);
    for (std::size_t i = 0; i < m; ++i) {
        double best = -std::numeric_limits<double>::infinity();
        for (std::size_t j = 0; j <= i; ++j) {
            double lowest = std::numeric_limits<double>::infinity();
            for (std::size_t k = i; k < m; ++k) {
                double sum = 0.0;
                for (std::size_t t = j; t <= k; ++t) sum += e[t];
                lowest = std::min(lowest, sum / static_cast<double>(k - j + 1));
            }
            best = std::max(best, lowest);
        }
        out[i] = std::max(best, 0.0);
    }
    return out;
}

TEST(ProjectLadder, MatchesBruteForceOnRandomLadders) {
    std::mt19937_64 rng(76);
    std::uniform_real_distribution<double> real(-1.0, 1.0);
    std::uniform_int_distribution<int> grid(-4, 4);  // exact values with many ties
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t m = 1 + trial % 24;
        std::vector<double> ladder(m);
        for (double& v : ladder) v = trial % 2 ? real(rng) : grid(rng) / 4.0;
        const std::vector<double> got = project_ladder(ladder);
        const std::vector<double> want = brute_force_projection(ladder);
        ASSERT_EQ(got.size(), m);
        for (std::size_t i = 0; i < m; ++i) {
            ASSERT_GE(got[i], 0.0) << "trial " << trial;
            if (i > 0) {
                ASSERT_GE(got[i], got[i - 1]) << "trial " << trial << " index " << i;
            }
            ASSERT_NEAR(got[i], want[i], 1e-12) << "trial " << trial << " index " << i;
        }
    }
}

// ---------------------------------------------------------------------------
// From surrogate counts to the result

SurrogateComplexities counts(std::vector<std::uint32_t> per_length) {
    SurrogateComplexities s;
    s.max_block_size = per_length.size();
    s.complexities.push_back(0);
    s.complexities.insert(s.complexities.end(), per_length.begin(), per_length.end());
    return s;
}

TEST(EmcFromComplexities, BinaryExample) {
    const Sequence seq = from_bytes(kBinaryText);
    const EmcResult r = emc_from_complexities(seq, with_block_size(-1), 9, counts({10, 9, 10, 9}));
    EXPECT_EQ(r.value, 0.17727411228758438);
    EXPECT_EQ(r.summands, (std::vector<double>{0.05909137076252813, 0.0, 0.11818274152505626, 0.0}));
    EXPECT_EQ(r.multi_information, 0.11818274152505626);
    EXPECT_EQ(r.max_block_size, 4);
}

TEST(EmcFromComplexities, ValueIsLastProjectedAndSummandsAreItsSteps) {
    const Sequence seq = from_bytes(random_text(300, 3, 1));
    AnalysisOptions options = with_block_size(-1);
    options.log_base = 5;
    const std::uint32_t c = 60;
    const SurrogateComplexities s = counts({57, 66, 61, 70, 64, 75, 71});
    const EmcResult r = emc_from_complexities(seq, options, c, s);

    const double g = (std::log(300.0) / std::log(5.0)) / 300.0;
    std::vector<double> ladder;
    for (std::size_t l = 1; l <= 7; ++l)
        ladder.push_back((static_cast<double>(s.complexities[l]) * g - c * g) * static_cast<double>(l));
    const std::vector<double> projected = project_ladder(ladder);

    EXPECT_LT(r.multi_information, 0.0);  // the raw first rung is not clamped
    EXPECT_EQ(r.multi_information, ladder[0]);
    EXPECT_EQ(r.value, projected.back());
    ASSERT_EQ(r.summands.size(), 7u);
    EXPECT_EQ(r.summands[0], projected[0]);
    for (std::size_t l = 1; l < 7; ++l) EXPECT_EQ(r.summands[l], projected[l] - projected[l - 1]);

    options.want_summands = false;
    const EmcResult bare = emc_from_complexities(seq, options, c, s);
    EXPECT_TRUE(bare.summands.empty());
    EXPECT_EQ(bare.value, r.value);
    EXPECT_EQ(bare.multi_information, r.multi_information);
}

TEST(EmcFromComplexities, AtMostOneSymbolGivesZeros) {
    for (const char* text : {"", "a"}) {
        SCOPED_TRACE(text);
        const EmcResult r = emc_from_complexities(from_bytes(text), with_block_size(3), 1, counts({5, 7, 9}));
        EXPECT_EQ(r.value, 0.0);
        EXPECT_EQ(r.multi_information, 0.0);
        EXPECT_EQ(r.summands, std::vector<double>(3, 0.0));
        EXPECT_EQ(r.max_block_size, 3);
    }
    const EmcResult none = emc_from_complexities(from_bytes("abc"), with_block_size(-1), 3, counts({}));
    EXPECT_TRUE(none.summands.empty());
    EXPECT_EQ(none.value, 0.0);
}

// ---------------------------------------------------------------------------
// Surrogate stage

TEST(SurrogateComplexities, BinaryExampleCounts) {
    const SurrogateComplexities s = surrogate_complexities(from_bytes(kBinaryText), with_block_size(-1), 9);
    EXPECT_EQ(s.max_block_size, 4u);
    EXPECT_EQ(s.complexities, (std::vector<std::uint32_t>{0, 10, 9, 10, 9}));
}

struct StageCase {
    std::size_t n;
    int sigma;
    std::int32_t max_block_size;
};

// Block lengths whose surrogate cannot differ from the input report the
// caller's count (a deliberately wrong one here); every other length matches
// a plain sequential loop.  Lengths of 2048 and more use the library sorter.
TEST(SurrogateComplexities, MatchesSequentialLoop) {
    const StageCase cases[] = {
        {10, 2, 5}, {11, 2, 8}, {47, 2, 30}, {300, 4, -1}, {2100, 2, 0}, {3000, 26, 40},
    };
    constexpr std::uint32_t kWrong = 123456;
    for (const auto& c : cases) {
        SCOPED_TRACE("n = " + std::to_string(c.n) + ", m = " + std::to_string(c.max_block_size));
        const Sequence seq = from_bytes(random_text(c.n, c.sigma, c.n));
        const AnalysisOptions options = with_block_size(c.max_block_size);
        const SurrogateComplexities s = surrogate_complexities(seq, options, kWrong);
        const std::uint64_t m = c.max_block_size > 0 ? c.max_block_size : auto_max_block_size(c.n);
        ASSERT_EQ(s.max_block_size, m);
        ASSERT_EQ(s.complexities.size(), m + 1);
        EXPECT_EQ(s.complexities[0], 0u);
        const std::uint64_t hash = content_hash(seq);
        for (std::uint64_t l = 1; l <= m; ++l) {
            const std::uint32_t want =
                c.n <= 2 * l || c.n <= 10
                    ? kWrong
                    : factor_count(shuffled_surrogate(seq, static_cast<std::uint32_t>(l),
                                                      static_cast<std::uint32_t>(c.n / 2), block_seed(hash, l)),
                                   options);
            EXPECT_EQ(s.complexities[l], want) << "l = " << l;
        }
    }
}

TEST(ComputeEmc, ConstantSequenceIsZeroAtEveryScale) {
    const EmcResult r = compute_emc(from_bytes(std::string(500, 'x')), with_block_size(-1));
    EXPECT_EQ(r.max_block_size, 16);
    EXPECT_EQ(r.summands, std::vector<double>(16, 0.0));
    EXPECT_EQ(r.value, 0.0);
    EXPECT_EQ(r.multi_information, 0.0);
}

// ---------------------------------------------------------------------------
// Half-split measures and information distance

TEST(ExtraMeasures, FromCounts) {
    const ExtraMeasures banana = extra_measures_from_counts(3.0, 3.0, 2.0);
    EXPECT_EQ(banana.rajski_distance, 2.0 - 5.0 / 3.0);
    EXPECT_EQ(banana.redundancy, 0.4);
    EXPECT_EQ(banana.fh_uncertainty, 2.0 / 3.0);
    EXPECT_EQ(banana.lh_uncertainty, 1.0);
    EXPECT_EQ(banana.pearson_coefficient, 0.8164965809277261);

    const ExtraMeasures swapped = extra_measures_from_counts(3.0, 2.0, 3.0);
    EXPECT_EQ(swapped.fh_uncertainty, banana.lh_uncertainty);
    EXPECT_EQ(swapped.lh_uncertainty, banana.fh_uncertainty);
    EXPECT_EQ(swapped.rajski_distance, banana.rajski_distance);

    for (auto [c, c1, c2] : {std::tuple{0.0, 1.0, 1.0}, {1.0, 0.0, 1.0}, {1.0, 1.0, 0.0}}) {
        const ExtraMeasures z = extra_measures_from_counts(c, c1, c2);
        EXPECT_EQ(z.rajski_distance, 0.0);
        EXPECT_EQ(z.redundancy, 0.0);
        EXPECT_EQ(z.fh_uncertainty, 0.0);
        EXPECT_EQ(z.lh_uncertainty, 0.0);
        EXPECT_EQ(z.pearson_coefficient, 0.0);
    }
}

TEST(ExtraMeasures, OddLengthPutsTheLongerHalfLast) {
    // ab (2 factors) and abc (3); the other split, aba and bc, counts 2 and 2.
    const ExtraMeasures m = extra_measures(from_bytes("ababc"), AnalysisOptions{}, 3.0);
    EXPECT_EQ(m.fh_uncertainty, 1.0);
    EXPECT_EQ(m.lh_uncertainty, 2.0 / 3.0);
}

struct NidCase {
    const char* x;
    const char* y;
    double want;
};

TEST(ComputeNid, Examples) {
    const NidCase cases[] = {
        {"abcd", "abce", 0.25}, {"ab", "ab", 0.0},   {"", "", 0.0},
        {"", "abc", 2.0 / 3.0}, {"abc", "", 2.0 / 3.0}, {"aaaa", "aaaa", 0.0},
        {"aaaa", "bbbb", 1.0},
    };
    AnalysisOptions odd;
    odd.alphabet = 0;
    odd.log_base = 7;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.x) + " / " + c.y);
        EXPECT_EQ(compute_nid(from_bytes(c.x), from_bytes(c.y), AnalysisOptions{}), c.want);
        EXPECT_EQ(compute_nid(from_bytes(c.x), from_bytes(c.y), odd), c.want);
    }
}

}  // namespace
}  // namespace parsimetrics
