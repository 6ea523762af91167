// The sequence model: alphabet detection and derived sequences.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <utility>

#include "sequence.hpp"
#include "test_utils.hpp"

namespace pm = parsimetrics;

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
