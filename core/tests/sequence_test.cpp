// The sequence model: alphabet detection, derived sequences and the block
// swap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "sequence.hpp"
#include "test_utils.hpp"

namespace pm = parsimetrics;

namespace {

// Hands out scripted values and records every range it is asked for.
struct ScriptedDraws {
    std::vector<std::uint64_t> script;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;

    std::uint64_t uniform_inclusive(std::uint64_t low, std::uint64_t high) {
        asked.emplace_back(low, high);
        if (asked.size() > script.size()) throw std::out_of_range("script exhausted");
        return script[asked.size() - 1];
    }
};

// Symbols 0, 1, ..., n - 1: every symbol names its own position.
pm::Sequence iota_sequence(std::size_t n) {
    std::vector<std::uint8_t> symbols(n);
    std::iota(symbols.begin(), symbols.end(), std::uint8_t{0});
    return pm::from_bytes(std::move(symbols));
}

}  // namespace

TEST(Sequence, AlphabetAndDerivedSequences) {
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    const pm::Sequence banana = pm::from_bytes("banana");
    const std::pair<pm::Sequence, std::pair<std::string, std::uint32_t>> cases[] = {
        {pm::from_bytes(""), {"", 2}},
        {pm::from_bytes("aaa"), {"aaa", 2}},
        {pm::from_bytes("ab"), {"ab", 2}},
        {pm::from_bytes("abc"), {"abc", 3}},
        {pm::from_bytes("\x80\xff\x01\x80"), {"\x80\xff\x01\x80", 3}},
        {pm::from_bytes(all), {all, 256}},
        {pm::prefix(banana, 3), {"ban", 3}},
        {pm::prefix(banana, 0), {"", 2}},
        {pm::prefix(banana, 99), {"banana", 3}},
        {pm::suffix(banana, 3), {"ana", 2}},
        {pm::suffix(banana, 6), {"", 3}},  // past the end keeps the alphabet size
        {pm::suffix(banana, 99), {"", 3}},
        {pm::concat(pm::from_bytes("ab"), pm::from_bytes("cd")), {"abcd", 2}},  // kept, not recounted
        {pm::concat(pm::from_bytes("ab"), banana), {"abbanana", 3}},
        {pm::concat(pm::suffix(banana, 6), pm::from_bytes("x")), {"x", 3}},
    };
    for (const auto& [seq, want] : cases) {
        EXPECT_EQ(std::string(seq.symbols.begin(), seq.symbols.end()), want.first);
        EXPECT_EQ(seq.alphabet_size, want.second) << pm::show(want.first);
    }
    EXPECT_EQ(pm::detect_alphabet(pm::bytes_of(all), all.size()), 256u);
    for (const auto& [text, constant] : {std::pair{"", true}, {"a", true}, {"aaa", true}, {"ab", false}, {"baa", false}})
        EXPECT_EQ(pm::is_constant(pm::from_bytes(text)), constant) << text;
}

// Short and long inputs count their symbols differently; both against a
// plain set, with symbols from every quarter of the byte range.
TEST(Sequence, AlphabetCountedAlikeAtEveryLength) {
    std::mt19937_64 rng(7);
    for (std::size_t n = 0; n <= 130; ++n)
        for (unsigned sigma : {1u, 3u, 70u, 256u}) {
            std::vector<std::uint8_t> t(n);
            const unsigned base = static_cast<unsigned>(rng() % (257 - sigma));
            for (auto& c : t) c = static_cast<std::uint8_t>(base + rng() % sigma);
            const std::set<std::uint8_t> distinct(t.begin(), t.end());
            const auto want = std::max<std::uint32_t>(2, static_cast<std::uint32_t>(distinct.size()));
            EXPECT_EQ(pm::detect_alphabet(t.data(), n), want) << "n " << n << " sigma " << sigma;
        }
}

// How far one swap advances the generator shapes every later surrogate, so
// the early exits are pinned down: no draw at all, or exactly the one draw
// of the first block.  None of them may move a symbol.
TEST(SwapRandomBlocks, EarlyExitsDrawOnlyWhatTheyMust) {
    struct Case {
        std::size_t n;
        std::uint32_t l;
        bool draws_first_block;
    };
    const Case cases[] = {
        {20, 0, false},                                 // l = 0
        {0, 1, false},   {2, 1, false},                 // n <= l + 1
        {21, 20, false}, {40, 20, false},               // K = 0
        {3, 1, true},    {10, 1, true}, {10, 3, true},  // at most 10 symbols
    };
    for (const auto& c : cases) {
        const pm::Sequence original = iota_sequence(c.n);
        pm::Sequence seq = original;
        ScriptedDraws draws{{0}, {}};
        pm::swap_random_blocks(seq, c.l, draws);
        EXPECT_EQ(seq.symbols, original.symbols) << "n = " << c.n << ", l = " << c.l;
        const std::vector<std::pair<std::uint64_t, std::uint64_t>> want =
            c.draws_first_block ? decltype(want){{0, (c.n - c.l - 1) / c.l}} : decltype(want){};
        EXPECT_EQ(draws.asked, want) << "n = " << c.n << ", l = " << c.l;
    }
}

// The second block is drawn again until it differs from the first; then the
// two are exchanged whole.
TEST(SwapRandomBlocks, RedrawsTheSecondBlockUntilItDiffers) {
    pm::Sequence seq = iota_sequence(12);  // l = 3: K = 2, symbols 9..11 stay
    ScriptedDraws draws{{2, 2, 0}, {}};
    pm::swap_random_blocks(seq, 3, draws);
    EXPECT_EQ(seq.symbols, (std::vector<std::uint8_t>{6, 7, 8, 3, 4, 5, 0, 1, 2, 9, 10, 11}));
    EXPECT_EQ(draws.asked, (std::vector<std::pair<std::uint64_t, std::uint64_t>>(3, {0, 2})));
}
