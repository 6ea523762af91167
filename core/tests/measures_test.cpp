// Measures on factor counts: the half-split measures and the normalized
// information distance.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "measures.hpp"

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

}  // namespace
}  // namespace parsimetrics
