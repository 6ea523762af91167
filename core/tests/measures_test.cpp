// Measures on factor counts: the half-split measures and the normalized
// information distance.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>

#include "lz76.hpp"
#include "measures.hpp"
#include "test_utils.hpp"

namespace parsimetrics {
namespace {

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
    const ExtraMeasures m = extra_measures(from_bytes("ababc"), 3.0);
    EXPECT_EQ(m.fh_uncertainty, 1.0);
    EXPECT_EQ(m.lh_uncertainty, 2.0 / 3.0);
}

struct NidCase {
    const char* x;
    const char* y;
    double want;
};

TEST(NormalizedInformationDistance, Examples) {
    const NidCase cases[] = {
        {"abcd", "abce", 0.25}, {"ab", "ab", 0.0},   {"", "", 0.0},
        {"", "abc", 2.0 / 3.0}, {"abc", "", 2.0 / 3.0}, {"aaaa", "aaaa", 0.0},
        {"aaaa", "bbbb", 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.x) + " / " + c.y);
        EXPECT_EQ(normalized_information_distance(from_bytes(c.x), from_bytes(c.y)), c.want);
    }
}

// Short operations are counted on the calling thread, long ones on the pool;
// both must give what the counts give directly.
TEST(Measures, SameOnThePoolAndOnTheCallingThread) {
    std::mt19937_64 rng(11);
    for (std::size_t n : {std::size_t{40}, std::size_t{5000}}) {
        SCOPED_TRACE(n);
        const Sequence x = from_bytes(random_text(n, 2, rng));
        Sequence y = x;
        for (std::size_t k = 0; k < n / 20; ++k) y.symbols[rng() % n] ^= 1;
        const double cx = factor_count(x), cy = factor_count(y);
        const double cxy = factor_count(concat(x, y)), cyx = factor_count(concat(y, x));
        EXPECT_EQ(normalized_information_distance(x, y), std::max(cxy - cx, cyx - cy) / std::max(cx, cy));

        const ExtraMeasures got = extra_measures(x, cx);
        const ExtraMeasures want = extra_measures_from_counts(cx, factor_count(prefix(x, n / 2)),
                                                              factor_count(suffix(x, n / 2)));
        EXPECT_EQ(std::tie(got.rajski_distance, got.redundancy, got.pearson_coefficient),
                  std::tie(want.rajski_distance, want.redundancy, want.pearson_coefficient));
    }
}

}  // namespace
}  // namespace parsimetrics
