// The factorization engine against brute force: suffix, LCP and LPF arrays,
// boundary walk, correction term and spread, plus the sequence operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "lpf.hpp"
#include "lz76.hpp"
#include "sequence.hpp"
#include "suffix_array.hpp"

namespace pm = parsimetrics;
using U32s = std::vector<std::uint32_t>;

namespace {

const std::uint8_t* bytes_of(const std::string& t) { return reinterpret_cast<const std::uint8_t*>(t.data()); }

// The text as a C literal, so that a failing case can be pasted back in.
std::string show(const std::string& t) {
    std::string out = "\"";
    for (unsigned char c : t) {
        char buf[8];
        std::snprintf(buf, sizeof buf, c >= 0x20 && c < 0x7f && c != '"' && c != '\\' ? "%c" : "\\x%02x\"\"", c);
        out += buf;
    }
    return out + "\" (n=" + std::to_string(t.size()) + ")";
}

// char_traits<char> compares as unsigned char, and a proper prefix sorts first.
U32s naive_sa(const std::string& t) {
    U32s sa(t.size());
    std::iota(sa.begin(), sa.end(), 0u);
    const std::string_view v(t);
    std::sort(sa.begin(), sa.end(), [&](std::uint32_t a, std::uint32_t b) { return v.substr(a) < v.substr(b); });
    return sa;
}

std::uint32_t common_prefix(const std::string& t, std::size_t a, std::size_t b) {
    std::uint32_t k = 0;
    while (a + k < t.size() && b + k < t.size() && t[a + k] == t[b + k]) ++k;
    return k;
}

std::uint32_t naive_lpf_at(const std::string& t, std::size_t i) {
    std::uint32_t best = 0;
    for (std::size_t j = 0; j < i; ++j) best = std::max(best, common_prefix(t, i, j));
    return best;
}

// Boundary walk straight from the definition, visiting only the boundaries.
U32s naive_factors(const std::string& t) {
    U32s f{0, 1};
    while (f.back() < t.size()) f.push_back(f.back() + naive_lpf_at(t, f.back()) + 1);
    return f;
}

U32s engine_sa(const std::string& t) { return pm::build_suffix_array(bytes_of(t), t.size()); }
U32s engine_lcp(const std::string& t) { return pm::build_lcp_array(bytes_of(t), t.size(), engine_sa(t)); }
U32s engine_lpf(const std::string& t) { return pm::build_lpf_array(engine_sa(t), engine_lcp(t), t.size()); }

// `sigma` byte values spread over 0..255, so both halves of the byte range occur.
std::string random_text(std::mt19937& rng, std::size_t n, unsigned sigma) {
    std::uniform_int_distribution<unsigned> pick(0, sigma - 1);
    std::string t(n, '\0');
    for (char& c : t) c = static_cast<char>((pick(rng) * (256 / sigma) + 0x41) & 0xff);
    return t;
}

std::string repeat(const std::string& unit, std::size_t n) {
    std::string t;
    while (t.size() < n) t += unit;
    return t.substr(0, n);
}

}  // namespace

TEST(SuffixArray, MatchesNaiveSortOnBothSidesOfTheLibraryThreshold) {
    std::mt19937 rng(7);
    std::vector<std::string> texts = {"aa", "abab", "aaaa", "aaab", "baaa", "abcab", "\xff\x01", std::string("a\0a\0", 4)};
    for (unsigned sigma : {1, 2, 4, 256})
        for (std::size_t n : {0, 1, 2, 3, 5, 16, 100, 1000, 2047, 2048, 2049, 4099})
            for (int trial = 0; trial < 2; ++trial) texts.push_back(random_text(rng, n, sigma));
    for (std::size_t n : {2047, 2048, 2049}) {
        for (const char* unit : {"ab", "aab", "abaab", "\x80\x7f", "abcdefg"}) texts.push_back(repeat(unit, n));
        texts.push_back(repeat("a", n - 1) + "b");
        texts.push_back("b" + repeat("a", n - 1));
    }
    for (const std::string& t : texts) ASSERT_EQ(engine_sa(t), naive_sa(t)) << "text " << show(t);
}

TEST(LcpAndLpf, MatchBruteForceOnSmallText) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<std::size_t> length(1, 64);
    for (unsigned sigma : {1, 2, 4, 256})
        for (int trial = 0; trial < 150; ++trial) {
            const std::string t = random_text(rng, length(rng), sigma);
            const U32s sa = naive_sa(t);
            U32s lcp(t.size(), 0), lpf(t.size(), 0);
            for (std::size_t r = 1; r < t.size(); ++r) lcp[r] = common_prefix(t, sa[r - 1], sa[r]);
            for (std::size_t i = 1; i < t.size(); ++i) lpf[i] = naive_lpf_at(t, i);
            ASSERT_EQ(engine_lcp(t), lcp) << "text " << show(t);
            ASSERT_EQ(engine_lpf(t), lpf) << "text " << show(t);
        }
}

TEST(Factorize, BoundariesAndCountMatchBruteForce) {
    std::mt19937 rng(13);
    std::vector<std::string> texts;
    for (unsigned sigma : {2u, 4u, 256u})
        for (std::size_t n : {2, 3, 9, 40, 300, 2047, 2048, 2049}) texts.push_back(random_text(rng, n, sigma));
    for (std::size_t n : {2047, 2048, 2049}) {  // long copies that reach, or stop short of, the end
        texts.push_back(repeat("ab", n));
        texts.push_back(repeat("ab", n - 1) + "c");
        texts.push_back("b" + repeat("a", n - 1));
    }
    for (const std::string& t : texts) {
        const U32s want = naive_factors(t);
        const pm::FactorizationResult r = pm::factorize(pm::from_bytes(t), {});
        ASSERT_EQ(r.factors, want) << "text " << show(t);
        const auto m = static_cast<std::uint32_t>(want.size());
        EXPECT_EQ(r.complexity, want.back() == t.size() ? m - 1 : m - 2) << "text " << show(t);
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
        SCOPED_TRACE("text " + show(c.text));
        EXPECT_EQ(engine_sa(c.text), c.sa);
        EXPECT_EQ(engine_lcp(c.text), c.lcp);
        EXPECT_EQ(engine_lpf(c.text), c.lpf);
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
        EXPECT_EQ(pm::factor_count(pm::from_bytes(text), {}), count) << text;
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

TEST(SuffixArray, TextLengthLimit) {
    try {
        pm::check_text_length(2147483647);
        ADD_FAILURE() << "no failure for 2147483647 bytes";
    } catch (const pm::InternalFailure& e) {
        EXPECT_STREQ(e.what(), "text too large, should not exceed 2147483646 bytes");
    }
    EXPECT_THROW(pm::check_text_length(std::numeric_limits<std::size_t>::max()), pm::InternalFailure);
    EXPECT_NO_THROW(pm::check_text_length(2147483646));
    EXPECT_NO_THROW(pm::check_text_length(0));
}

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
        EXPECT_EQ(seq.alphabet_size, want.second) << show(want.first);
    }
    EXPECT_EQ(pm::detect_alphabet(bytes_of(all), all.size()), 256u);
    for (const auto& [text, constant] : {std::pair{"", true}, {"a", true}, {"aaa", true}, {"ab", false}, {"baa", false}})
        EXPECT_EQ(pm::is_constant(pm::from_bytes(text)), constant) << text;
}
