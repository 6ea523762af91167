// Previous smaller starts against their definition: for every position, the
// nearest earlier-starting suffix before it in suffix order; the scan split
// over two threads against the scan on one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "lpf.hpp"
#include "test_utils.hpp"

namespace pm = parsimetrics;

namespace {

// The scan reads the suffix array from the second slot on.  `regular` only
// chooses how it runs, so any order may be scanned either way.
std::vector<std::uint32_t> previous_smaller_starts(const std::vector<std::uint32_t>& sa, std::size_t threads,
                                                   bool regular = false) {
    const std::size_t n = sa.size();
    std::vector<std::uint32_t> slots(n + 1), psv(n);
    std::copy(sa.begin(), sa.end(), slots.begin() + 1);
    pm::build_previous_smaller_starts(slots.data(), n, psv.data(), threads, regular);
    return psv;
}

std::vector<std::uint32_t> by_definition(const std::vector<std::uint32_t>& sa) {
    std::vector<std::uint32_t> want(sa.size(), pm::kNoPosition);
    for (std::size_t r = 0; r < sa.size(); ++r)
        for (std::size_t q = r; q-- > 0;)
            if (sa[q] < sa[r]) {
                want[sa[r]] = sa[q];
                break;
            }
    return want;
}

class PreviousSmallerStarts : public ::testing::TestWithParam<std::size_t> {};

}  // namespace

TEST_P(PreviousSmallerStarts, MatchTheirDefinition) {
    std::mt19937_64 rng(5);
    for (std::size_t n = 0; n <= 200 && !HasFatalFailure(); n += 1 + n / 16) {
        for (const std::string& t : pm::input_families(n, rng)) {
            const std::vector<std::uint32_t> sa = pm::brute_force_suffix_array(t);
            for (bool regular : {false, true})
                ASSERT_EQ(previous_smaller_starts(sa, GetParam(), regular), by_definition(sa)) << "input " << pm::show(t);
        }
    }
}

// The scan holds any order of starts, not only suffix orders: random ones
// pop every number of starts at once, deeper runs of pops included.
TEST_P(PreviousSmallerStarts, MatchTheirDefinitionOnAnyOrder) {
    std::mt19937_64 rng(7);
    for (std::size_t n = 1; n <= 300; n += 1 + n / 8) {
        std::vector<std::uint32_t> order(n);
        std::iota(order.begin(), order.end(), 0u);
        std::shuffle(order.begin(), order.end(), rng);
        for (bool regular : {false, true})
            ASSERT_EQ(previous_smaller_starts(order, GetParam(), regular), by_definition(order)) << "n " << n;
    }
}

// Long enough for the halves to run on two workers (and be prefetched).
TEST_P(PreviousSmallerStarts, SplitScanMatchesOneOnLongText) {
    std::mt19937_64 rng(6);
    for (const std::string& t : pm::input_families(40000, rng)) {
        const std::vector<std::uint32_t> sa = pm::build_suffix_array(pm::bytes_of(t), t.size());
        ASSERT_EQ(previous_smaller_starts(sa, GetParam()), previous_smaller_starts(sa, 1)) << "input " << pm::show(t);
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, PreviousSmallerStarts, ::testing::Values(1, 2, 4));
