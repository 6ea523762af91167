#include "shuffle.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "lz76.hpp"
#include "test_utils.hpp"

namespace parsimetrics {

// Names the implementation in parametrized test output (found by ADL).
void PrintTo(const ChachaImpl& impl, std::ostream* os) { *os << impl.name; }

namespace {

using Words = std::array<std::uint32_t, kChachaBufferWords>;
using Key = std::array<std::uint32_t, 8>;

// Symbols 0, 1, ..., n - 1 (n <= 256): every symbol names its own position.
std::string iota_text(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i);
    return s;
}

std::string from_numbers(const std::string& numbers) {
    std::istringstream in(numbers);
    std::string out;
    for (unsigned v; in >> v;) out.push_back(static_cast<char>(v));
    return out;
}

std::string text_of(const Sequence& seq) { return {seq.symbols.begin(), seq.symbols.end()}; }

Words refill_with(const ChachaImpl& impl, const Key& key, std::uint64_t counter, std::uint64_t stream = 0) {
    Words out{};
    impl.refill(key.data(), counter, stream, out.data());
    return out;
}

const std::string kBinaryText = "01001010101101010101110101010101010000100101011";

std::string seeded_text(std::size_t n, unsigned sigma, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    return random_text(n, sigma, rng);
}

AnalysisOptions with_block_size(std::int32_t m) {
    AnalysisOptions o;
    o.max_block_size = m;
    o.want_summands = true;
    return o;
}

TEST(ContentHash, KnownValues) {
    EXPECT_EQ(content_hash(from_bytes("")), 0xcbf29ce484222325ull);
    EXPECT_EQ(content_hash(from_bytes("a")), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(content_hash(from_bytes(iota_text(20))), 0xcc927f6ee23a0f61ull);
    EXPECT_EQ(content_hash(from_bytes(kBinaryText)), 0x61932beacf817da0ull);
}

// Surrogates must not depend on which block-function implementation the
// processor selects, so the known answers run against every one of them.
class PerImplementation : public ::testing::TestWithParam<ChachaImpl> {};

INSTANTIATE_TEST_SUITE_P(Chacha, PerImplementation,
                         ::testing::ValuesIn(chacha_implementations().begin(),
                                             chacha_implementations().end()),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST_P(PerImplementation, DrawsFromSeedZero) {
    auto raw = SurrogateRng::from_seed(0, GetParam().refill);
    EXPECT_EQ(raw.next_u64(), 0xb585f767a79a3b6cull);
    EXPECT_EQ(raw.next_u64(), 0x7746a55fbad8c037ull);
    EXPECT_EQ(raw.next_u64(), 0xb2fb0d3281e2a6e6ull);

    auto rng = SurrogateRng::from_seed(0, GetParam().refill);
    std::vector<std::uint64_t> draws;
    for (int k = 0; k < 10; ++k) draws.push_back(rng.uniform_inclusive(0, 4));
    EXPECT_EQ(draws, (std::vector<std::uint64_t>{3, 2, 3, 0, 4, 4, 4, 4, 2, 3}));
}

TEST_P(PerImplementation, KnownSurrogates) {
    struct Case {
        std::string symbols;
        std::uint32_t l;
        std::string expected;
    };
    const std::string iota20 = iota_text(20);
    const Case cases[] = {
        {iota20, 1, from_numbers("6 1 2 0 9 18 17 7 8 4 10 11 12 5 15 16 14 3 13 19")},
        {iota20, 2, from_numbers("0 1 12 13 16 17 10 11 6 7 14 15 2 3 4 5 8 9 18 19")},
        {iota20, 3, from_numbers("9 10 11 3 4 5 0 1 2 12 13 14 15 16 17 6 7 8 18 19")},
        {iota20, 4, from_numbers("4 5 6 7 8 9 10 11 0 1 2 3 12 13 14 15 16 17 18 19")},
        {iota20, 9, iota20},   // two candidate blocks, ten swaps: back in place
        {iota20, 10, iota20},  // one candidate block: nothing to exchange
        {iota_text(11), 1, from_numbers("0 1 9 3 4 6 7 5 8 2 10")},
        {kBinaryText, 1, "11001010101101001100010101110001110010000100111"},
        {kBinaryText, 2, "01011111100001010101010100100101100101000110011"},
        {kBinaryText, 3, "10001001101010101101010100101010101001000110111"},
        {kBinaryText, 4, "00100101010101011011010111011010010001000101011"},
    };
    const bool selected = GetParam().refill == selected_chacha().refill;
    for (const auto& c : cases) {
        const Sequence seq = from_bytes(c.symbols);
        const auto swaps = static_cast<std::uint32_t>(seq.size() / 2);
        const std::uint64_t seed = block_seed(content_hash(seq), c.l);
        EXPECT_EQ(text_of(shuffled_surrogate(seq, c.l, swaps, seed, GetParam())), c.expected)
            << "n = " << seq.size() << ", l = " << c.l;
        // The default entry point runs the implementation selected here.
        if (selected) {
            EXPECT_EQ(text_of(shuffled_surrogate(seq, c.l, swaps, seed)), c.expected);
        }
    }
}

#if defined(__x86_64__)
// The levels read from cpuid and xgetbv are the ones the compiler's runtime
// library reports.
TEST(ChachaImplementations, OnePerLevelOfThisProcessor) {
    __builtin_cpu_init();
    const std::pair<bool, const char*> levels[] = {
        {true, "scalar"},
        {__builtin_cpu_supports("sse2") != 0, "sse2"},
        {__builtin_cpu_supports("ssse3") != 0, "ssse3"},
        {__builtin_cpu_supports("sse4.1") != 0, "sse4.1"},
        {__builtin_cpu_supports("avx") != 0, "avx"},
        {__builtin_cpu_supports("avx2") != 0, "avx2"},
        {__builtin_cpu_supports("avx512f") != 0, "avx512"},
    };
    std::vector<std::string> expected;
    for (const auto& [present, name] : levels)
        if (present) expected.push_back(name);
    std::vector<std::string> found;
    for (const ChachaImpl& impl : chacha_implementations()) found.push_back(impl.name);
    EXPECT_EQ(found, expected);
}
#endif

TEST_P(PerImplementation, MatchesScalarWordForWord) {
    const ChachaImpl& scalar = chacha_implementations().front();
    std::mt19937_64 random(20240611);
    // Just below 2^32 the low counter word wraps inside one refill and the
    // carry has to reach word 13; just below 2^64 the whole counter wraps.
    std::vector<std::uint64_t> counters = {0, 4, 1000, (7ull << 32) - 2};
    for (std::uint64_t back = 0; back <= 4; ++back) {
        counters.push_back((1ull << 32) - back);
        counters.push_back(0 - back);
    }
    for (int k = 0; k < 200; ++k) counters.push_back(random());
    for (std::uint64_t counter : counters) {
        for (int trial = 0; trial < 4; ++trial) {
            Key key;
            for (auto& w : key) w = static_cast<std::uint32_t>(random());
            // Only stream 0 is ever used, but a kernel that misplaced words
            // 14 and 15 would go unnoticed with zeros alone.
            const std::uint64_t stream = trial == 0 ? 0 : random();
            EXPECT_EQ(refill_with(GetParam(), key, counter, stream), refill_with(scalar, key, counter, stream))
                << "counter = " << counter << ", stream = " << stream;
        }
    }
}

// Block b of a refill at counter c is block 0 of a refill at c + b.  This
// also holds the scalar reference to the counter carry, which comparing the
// implementations with each other cannot do.
TEST_P(PerImplementation, BlocksFollowTheCounter) {
    const Key key = {1, 2, 3, 4, 5, 6, 7, 0xffffffffu};
    for (std::uint64_t counter : {0ull, (1ull << 32) - 3, ~0ull - 1}) {
        const Words first = refill_with(GetParam(), key, counter);
        for (std::uint64_t b = 1; b < kChachaBlocksPerRefill; ++b) {
            const Words later = refill_with(GetParam(), key, counter + b);
            EXPECT_TRUE(std::equal(later.begin(), later.begin() + kChachaBlockWords,
                                   first.begin() + b * kChachaBlockWords))
                << "counter = " << counter << ", block " << b;
        }
    }
}

// Draws pair consecutive keystream words across refills: the counter must
// advance by a whole refill of blocks and no word may be skipped or repeated.
TEST(SurrogateRng, DrawsWalkTheKeystreamInPairs) {
    auto rng = SurrogateRng::from_seed(0x1234abcd);
    const ChachaImpl& scalar = chacha_implementations().front();
    for (std::uint64_t refill = 0; refill < 5; ++refill) {
        const Words words = refill_with(scalar, rng.key, refill * kChachaBlocksPerRefill);
        for (std::size_t w = 0; w < kChachaBufferWords; w += 2) {
            ASSERT_EQ(rng.next_u64(), words[w] | (std::uint64_t{words[w + 1]} << 32))
                << "refill " << refill << ", word " << w;
        }
    }
}

TEST(SurrogateRng, UniformStaysWithinBounds) {
    const std::pair<std::uint64_t, std::uint64_t> ranges[] = {
        {7, 7}, {10, 12}, {1000, 1999}, {0, (1ull << 63) - 1}, {1ull << 62, (1ull << 62) + 2}, {0, ~0ull}};
    auto rng = SurrogateRng::from_seed(99);
    for (const auto& [low, high] : ranges) {
        for (int k = 0; k < 2000; ++k) {
            const std::uint64_t v = rng.uniform_inclusive(low, high);
            ASSERT_TRUE(low <= v && v <= high) << v << " outside [" << low << ", " << high << "]";
        }
    }
}

TEST(SurrogateRng, EmptyRangeIsAnInternalFailure) {
    auto rng = SurrogateRng::from_seed(0);
    try {
        rng.uniform_inclusive(5, 4);
        ADD_FAILURE() << "no InternalFailure";
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "cannot sample empty range");
    }
}

// On random inputs a surrogate is a permutation of the candidate blocks
// 0 .. K, each moved whole, with everything from (K + 1) * l on in place, so
// in particular the multiset of symbols is kept.  Block lengths up to 127
// cover the bytewise exchange and 16-byte chunks with and without remainder.
TEST(ShuffledSurrogate, MovesWholeBlocksAndKeepsTheTail) {
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = 11 + random() % 246;
        const auto l = static_cast<std::uint32_t>(1 + random() % ((n - 1) / 2));  // K >= 1
        Sequence seq = from_bytes(iota_text(n));
        seq.alphabet_size = 7;  // carried over, not detected again
        const Sequence before = seq;

        const Sequence s = shuffled_surrogate(seq, l, static_cast<std::uint32_t>(random() % 200), random());

        ASSERT_EQ(seq.symbols, before.symbols);
        ASSERT_EQ(s.alphabet_size, 7u);
        ASSERT_EQ(s.size(), n);
        const std::size_t blocks = (n - l - 1) / l + 1;
        std::vector<bool> used(blocks, false);
        for (std::size_t q = 0; q < blocks; ++q) {
            const std::size_t start = s.symbols[q * l];
            ASSERT_TRUE(start % l == 0 && start / l < blocks && !used[start / l]) << "n = " << n << ", l = " << l;
            used[start / l] = true;
            for (std::size_t k = 0; k < l; ++k) ASSERT_EQ(s.symbols[q * l + k], start + k);
        }
        for (std::size_t p = blocks * l; p < n; ++p) ASSERT_EQ(s.symbols[p], p);
    }
}

// A refill's draws reduced at once, against uniform_inclusive one at a time,
// for ranges from 1 to 2^32 - 1, with the rejection zone at both extremes.
TEST_P(PerImplementation, DrawsBelowMatchUniformInclusive) {
    std::mt19937_64 random(5);
    std::vector<std::uint64_t> ranges = {1, 2, 3, 5, 1000, 38461, 999999, (1ull << 31) + 1, 0xffffffffull};
    for (int k = 0; k < 20; ++k) ranges.push_back(1 + random() % 0xffffffffull);
    for (std::uint64_t range : ranges) {
        auto rng = SurrogateRng::from_seed(random(), GetParam().refill);
        auto one_by_one = rng;
        std::vector<std::uint64_t> got;
        while (got.size() < 200) {
            rng.refill();
            std::array<std::uint64_t, kChachaDrawsRoom> values;
            const std::uint32_t count = GetParam().draws_below(rng.buffer.data(), range, values.data());
            got.insert(got.end(), values.begin(), values.begin() + count);
        }
        std::vector<std::uint64_t> want;
        while (want.size() < got.size()) want.push_back(one_by_one.uniform_inclusive(0, range - 1));
        ASSERT_EQ(got, want) << "range = " << range;
    }
}

// The fast shuffle against the plain one step by step, for every block
// length with its own exchange routine (and the edges between them), lengths
// with and without a tail, swap counts across refills, and the inputs the
// plain one leaves alone or only draws for.
TEST_P(PerImplementation, ShuffleBlocksMatchesSwapRandomBlocks) {
    std::mt19937_64 random(12);
    std::vector<std::uint32_t> lengths;
    for (std::uint32_t l = 1; l <= 66; ++l) lengths.push_back(l);
    for (std::uint32_t l : {95u, 96u, 97u, 127u, 128u, 129u, 1000u}) lengths.push_back(l);
    for (std::uint32_t l : lengths) {
        for (std::size_t n : {std::size_t{10}, std::size_t{l} + 1, 2 * std::size_t{l},
                              2 * std::size_t{l} + 2, 11 + random() % (40 * l)}) {
            for (std::uint32_t swaps : {0u, 1u, 255u, 513u}) {
                const Sequence original = from_bytes(seeded_text(n, 256, random()));
                const std::uint64_t seed = random();
                Sequence want = original;
                auto rng = SurrogateRng::from_seed(seed, GetParam().refill);
                swap_random_blocks(want, l, rng, swaps);
                Sequence got = original;
                shuffle_blocks(got, l, swaps, seed, GetParam());
                ASSERT_EQ(got.symbols, want.symbols) << "n = " << n << ", l = " << l << ", swaps = " << swaps;
            }
        }
    }
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
    const Sequence seq = from_bytes(seeded_text(300, 3, 1));
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
    unsigned sigma;
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
        const Sequence seq = from_bytes(seeded_text(c.n, c.sigma, c.n));
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
                                                      static_cast<std::uint32_t>(c.n / 2), block_seed(hash, l)));
            EXPECT_EQ(s.complexities[l], want) << "l = " << l;
        }
    }
}

TEST(EffectiveMeasureComplexity, ConstantSequenceIsZeroAtEveryScale) {
    const EmcResult r = effective_measure_complexity(from_bytes(std::string(500, 'x')), with_block_size(-1));
    EXPECT_EQ(r.max_block_size, 16);
    EXPECT_EQ(r.summands, std::vector<double>(16, 0.0));
    EXPECT_EQ(r.value, 0.0);
    EXPECT_EQ(r.multi_information, 0.0);
}

}  // namespace
}  // namespace parsimetrics
