// The suffix sorters: the dispatch against a plain sort, every sorter
// against the library, and the size guard.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <divsufsort.h>

#include "error.hpp"
#include "suffix_array.hpp"
#include "suffix_sort_buckets.hpp"
#include "suffix_sort_periodic.hpp"
#include "test_utils.hpp"

namespace pm = parsimetrics;
using U32s = std::vector<std::uint32_t>;

namespace {

U32s sorted(const std::string& t) { return pm::build_suffix_array(pm::bytes_of(t), t.size()); }

}  // namespace

TEST(SuffixArray, MatchesNaiveSortOnBothSidesOfTheLibraryThreshold) {
    std::mt19937_64 rng(7);
    std::vector<std::string> texts = {"aa", "abab", "aaaa", "aaab", "baaa", "abcab", "\xff\x01", std::string("a\0a\0", 4)};
    for (unsigned sigma : {1, 2, 4, 256})
        for (std::size_t n : {0, 1, 2, 3, 5, 16, 100, 1000, 2047, 2048, 2049, 4099})
            for (int trial = 0; trial < 2; ++trial) texts.push_back(pm::random_text(n, sigma, rng));
    for (std::size_t n : {2047, 2048, 2049}) {
        for (const char* unit : {"ab", "aab", "abaab", "\x80\x7f", "abcdefg"}) texts.push_back(pm::repeat(unit, n));
        texts.push_back(std::string(n - 1, 'a') + "b");
        texts.push_back(std::string(1, 'b').append(n - 1, 'a'));
    }
    for (const std::string& t : texts) ASSERT_EQ(sorted(t), pm::brute_force_suffix_array(t)) << "text " << pm::show(t);
}

// Every sorter against libdivsufsort, which sorts any text on its own: the
// prefix keys with and without their cost bound, induced sorting, and the
// dispatch, on lengths around each of their thresholds (insertion sort,
// radix bytes, key widths that change at powers of two, tie checks,
// induction with and without prefetching, the library, the choice on long
// texts).
TEST(SuffixSorters, AgreeWithTheLibrary) {
    std::mt19937_64 rng(4);
    pm::WideWorkArray wide;
    auto check = [&](const std::string& t) {
        const std::size_t n = t.size();
        if (n == 0) return;
        const std::uint8_t* text = pm::bytes_of(t);
        std::vector<std::int32_t> lib(n);
        ASSERT_EQ(divsufsort(text, lib.data(), static_cast<std::int32_t>(n)), 0);
        const U32s want(lib.begin(), lib.end());
        U32s sa(n), rank(n);
        ASSERT_TRUE(pm::sort_by_prefix_keys(text, n, sa.data(), rank.data(), wide, false));
        ASSERT_EQ(sa, want) << "prefix keys, input " << pm::show(t);
        if (pm::sort_by_prefix_keys(text, n, sa.data(), rank.data(), wide, true)) {
            ASSERT_EQ(sa, want) << "bounded prefix keys, input " << pm::show(t);
        }
        if (pm::sort_periodic(text, n, sa.data(), rank.data())) {
            ASSERT_EQ(sa, want) << "periodic, input " << pm::show(t);
        }
        pm::sort_by_induction(text, n, sa.data(), rank.data());
        ASSERT_EQ(sa, want) << "induction, input " << pm::show(t);
        pm::sort_by_induction(text, n, sa.data(), rank.data(), 0);
        ASSERT_EQ(sa, want) << "induction prefetching at every level, input " << pm::show(t);
        if (n >= pm::kLibrarySortThreshold) {
            // Random text too, its LMS substrings named through their table
            // (or given up on, past its size) rather than sorted by keys;
            // and both on two threads.
            for (const std::size_t threads : {1u, 2u}) {
                pm::sort_by_induction(text, n, sa.data(), rank.data(), pm::kInductionPrefetchFrom, false, threads);
                ASSERT_EQ(sa, want) << "induction without LMS keys on " << threads << " thread(s), input "
                                    << pm::show(t);
            }
        }
        for (const std::size_t threads : {1u, 2u})
            if (pm::sort_by_buckets(text, n, sa.data(), rank.data(), threads) == pm::BucketSort::kSorted) {
                ASSERT_EQ(sa, want) << "buckets on " << threads << " thread(s), input " << pm::show(t);
            }
        pm::sort_suffixes(text, n, sa.data(), rank.data(), wide);
        ASSERT_EQ(sa, want) << "dispatch, input " << pm::show(t);
    };
    auto check_families = [&](std::size_t n) {
        for (const std::string& t : pm::input_families(n, rng)) {
            check(t);
            if (HasFatalFailure()) return;
        }
    };
    for (std::size_t n = 0; n <= 300 && !HasFatalFailure(); ++n) check_families(n);
    // 24,576: the prefix keys' compact entries go to buckets by first byte.
    for (std::size_t n : {511, 512, 513, 1024, 1025, 2049, 4097, 24576}) check_families(n);
    // 2^19: texts that induced sorting sorts in the dispatch; the Fibonacci
    // word recurses a level per factor of 1.6 or so.
    // 2^16: positions take a 17th bit of the prefix keys' compact entries,
    // which keep one bit of key fewer.
    for (std::size_t n : {std::size_t{1} << 16, (std::size_t{1} << 16) - 1, (std::size_t{1} << 16) + 1,
                          pm::kTiedTextInductionFrom, pm::kLibrarySortThreshold - 1, pm::kLibrarySortThreshold,
                          std::size_t{1} << 19})
        check_families(n);
    // Every other symbol the largest: LMS positions two apart, named almost
    // all differently (the top level's kept positions overwritten below it).
    for (std::size_t n : {301, 1000, 5001}) {
        std::string t = pm::random_text(n, 200, rng);
        for (std::size_t i = 0; i < n; i += 2) t[i] = '\xff';
        check(t);
    }
    // Reduced texts of mostly distinct names, sorted by their leading names
    // (random bytes, the first eighth every five symbols a fixed four, which
    // keeps the keys of their LMS suffixes from being tried), or given up on
    // (a text twice over, ties as long as half of it, which the keys give
    // up on first); and one LMS substring shared by half of them.
    std::string marked = pm::random_text(std::size_t{1} << 19, 256, rng);
    for (std::size_t i = 0; i < marked.size() / 8; i += 5) marked.replace(i, 4, "\x10\x20\x30\x40");
    check(marked);
    const std::string twice = pm::random_text(300000, 256, rng);
    check(twice + twice);
    std::string shared;
    while (shared.size() < 200000) {
        shared += "\x07\x01";
        if (rng() % 2) shared += {static_cast<char>(16 + rng() % 240), static_cast<char>(16 + rng() % 240)};
    }
    check(shared);
    check(pm::word_text(300000, rng));
    // Long random text, whose LMS suffixes are sorted by packed keys: a
    // block copied (ties for many keys), and a suffix at the end padded
    // to the key of one before a run of the least symbol.
    for (const unsigned sigma : {2u, 5u, 17u, 200u}) {
        std::string t = pm::random_text(pm::kLibrarySortThreshold + 5, sigma, rng);
        const char least = *std::min_element(t.begin(), t.end(), [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
        });
        const char most = *std::max_element(t.begin(), t.end(), [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
        });
        t.replace(50000, 300, t.substr(1000, 300));
        t.replace(80000, 74, std::string{most, least, most}.append(71, least));
        t.replace(t.size() - 3, 3, std::string{most, least, most});
        check(t);
    }
    // A quarter of the suffixes start with one pair of bytes: a run of
    // compact keys larger than the room the prefix keys find in rank.
    std::string pairs;
    while (pairs.size() < 5000) pairs += rng() % 3 ? std::string(1, static_cast<char>(rng() % 256)) : "BC";
    check(pairs);
    // Symbols of halving frequencies, whose first bytes repeat as natural
    // language's do: the compact keys take their spare bits in a third pass.
    // With 40 more symbols now and then, their first bytes take few values
    // and the keys bucket their compact entries sooner.
    for (const std::size_t n : {1000u, 5000u, 8192u, 8193u, 12000u}) {
        std::string skewed(n, ' ');
        for (char& c : skewed) c = static_cast<char>('a' + std::countr_zero(rng() | 0x80));
        if (n == 12000)
            for (char& c : skewed) c = rng() % 4 ? c : static_cast<char>('A' + rng() % 40);
        check(skewed);
    }
    for (std::size_t sigma = 1; sigma <= 256 && !HasFatalFailure(); ++sigma)
        for (std::size_t n : {sigma, 3 * sigma + 1, std::size_t{1000}})
            check(pm::random_text(n, static_cast<unsigned>(sigma), rng));
}

// On random text the prefix keys sort in sa and rank alone: `wide` holds
// no more than the entries of a tied pair or two, at any length.
TEST(SuffixSorters, PrefixKeysSortRandomTextInPlace) {
    std::mt19937_64 rng(9);
    for (const unsigned sigma : {2u, 4u, 26u, 256u}) {
        for (const std::size_t n : {100u, 1000u, 65535u, 65536u, 131071u}) {
            const std::string t = pm::random_text(n, sigma, rng);
            U32s sa(n), rank(n);
            pm::WideWorkArray wide;
            ASSERT_TRUE(pm::sort_by_prefix_keys(pm::bytes_of(t), n, sa.data(), rank.data(), wide, true))
                << sigma << " symbols, n=" << n;
            EXPECT_LE(wide.capacity(), 4u) << sigma << " symbols, n=" << n;
        }
    }
    // Random text but for wide ties: one run of 60 equal symbols in 1,000,
    // or a thousand copies of one block of ten.  Doubling's entries may
    // take half a byte a symbol; a wider group is sorted in sa itself.
    std::string run = pm::random_text(1000, 4, rng);
    run.replace(500, 60, 60, run[500]);
    const std::string block = pm::random_text(10, 256, rng);
    std::string copies;
    while (copies.size() < 20000) copies += rng() % 2 ? block : pm::random_text(10, 256, rng);
    for (const std::string& t : {run, copies}) {
        U32s sa(t.size()), rank(t.size());
        pm::WideWorkArray wide;
        ASSERT_TRUE(pm::sort_by_prefix_keys(pm::bytes_of(t), t.size(), sa.data(), rank.data(), wide, true));
        EXPECT_EQ(sa, pm::brute_force_suffix_array(t));
        EXPECT_LE(wide.capacity() * sizeof(std::uint64_t), std::max<std::size_t>(t.size() / 2, 512));
    }
}

// Random text is sorted by buckets alike on one and two threads: around
// the alphabets where the symbols naming a bucket and the bits of a
// symbol change and bytes are read as they are, buckets sorted by
// insertion, by two or three digits or by the top one first, ties at the
// end of the text and across a copied block.  Text it cannot bear (one
// symbol, a bucket too large, repeats that spend the budget for ties) it
// gives up on.
TEST(BucketSort, SortsRandomTextOrGivesUp) {
    std::mt19937_64 rng(12);
    // Buckets split by their top digit from 4,096 suffixes on, so that the
    // longest texts here take that path.
    auto buckets = [](const std::string& t, std::size_t threads, std::size_t split_from = 4096) {
        const std::size_t n = t.size();
        U32s sa(n), rank(n + 1);
        // rank from an odd slot too: its entries start at a word boundary.
        if (pm::sort_by_buckets(pm::bytes_of(t), n, sa.data(), rank.data() + threads - 1, threads, split_from) !=
            pm::BucketSort::kSorted)
            sa.clear();
        return sa;
    };
    auto library = [](const std::string& t) {
        std::vector<std::int32_t> lib(t.size());
        EXPECT_EQ(divsufsort(pm::bytes_of(t), lib.data(), static_cast<std::int32_t>(t.size())), 0);
        return U32s(lib.begin(), lib.end());
    };
    for (const unsigned sigma : {2u, 3u, 4u, 5u, 9u, 16u, 17u, 64u, 65u, 128u, 129u, 256u}) {
        for (const std::size_t n : {5000u, 40000u, 600000u}) {
            std::string t = pm::random_text(n, sigma, rng);
            const char least = *std::min_element(t.begin(), t.end(), [](char a, char b) {
                return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
            });
            t.replace(n / 3, 200, t.substr(n / 2, 200));
            t.replace(n - 9, 9, 9, least);
            const U32s want = library(t);
            for (const std::size_t threads : {1u, 2u})
                ASSERT_EQ(buckets(t, threads), want) << sigma << " symbols, n=" << n << ", threads " << threads;
        }
    }
    // A short text whose buckets may be large: a third of it in one, which
    // takes three rounds.
    std::string thirds = pm::random_text(6000, 256, rng);
    for (std::size_t i = 0; i < thirds.size(); i += 3) thirds[i] = 'e';
    for (const std::size_t threads : {1u, 2u}) EXPECT_EQ(buckets(thirds, threads), library(thirds));
    const std::string twice = pm::random_text(100000, 256, rng);
    std::string skewed = pm::random_text(100000, 256, rng);
    for (std::size_t i = 0; i < skewed.size(); i += 10) skewed[i] = 'e';
    using B = pm::BucketSort;
    for (const auto& [t, why] : {std::pair{twice + twice, B::kLongRepeats}, std::pair{skewed, B::kSkewed},
                                 std::pair{std::string(5000, 'a'), B::kSkewed}})
        for (const std::size_t threads : {1u, 2u}) {
            U32s sa(t.size()), rank(t.size());
            EXPECT_EQ(pm::sort_by_buckets(pm::bytes_of(t), t.size(), sa.data(), rank.data(), threads), why)
                << pm::show(t);
        }
}

// The key sample that sends tied text past the prefix keys: random text
// of any alphabet never ties, text of few distinct keys always does; its
// windows stay inside the shortest text it is meant for.
TEST(SuffixSorters, SampledKeysTieOnRepeatsOnly) {
    std::mt19937_64 rng(11);
    for (const std::size_t n : {std::size_t{1} << 12, pm::kTiedTextInductionFrom, pm::kLibrarySortThreshold}) {
        for (const unsigned sigma : {2u, 3u, 4u, 26u, 256u}) {
            const std::string t = pm::random_text(n, sigma, rng);
            EXPECT_FALSE(pm::sampled_keys_tie(pm::bytes_of(t), n)) << sigma << " symbols, n=" << n;
        }
        for (const std::string& t : {std::string(n, 'a'), pm::repeat("abcdefghij", n), pm::repeat("the cat sat ", n)})
            EXPECT_TRUE(pm::sampled_keys_tie(pm::bytes_of(t), n)) << pm::show(t);
    }
}

// Which sorter the dispatch picks on each side of each of its thresholds:
// random text goes to the keys while it is short and to buckets once long,
// exactly periodic text to its own sorter, the rest to induction unless it
// is long and periodic in every sampled block with a short period or runs
// of one symbol.
TEST(SuffixSorters, DispatchPerLengthClass) {
    using S = pm::SuffixSorter;
    std::mt19937_64 rng(5);
    std::string forty_symbols;
    for (char c = '0'; c < '0' + 40; ++c) forty_symbols += c;
    constexpr std::size_t kLib = pm::kLibrarySortThreshold;
    constexpr std::size_t kTied = pm::kTiedTextInductionFrom;
    // Long texts in the library's favour but for one mark each.
    std::string near_periodic = pm::repeat("abcd", kLib), runs;
    // Periodic but for one symbol that the dispatch's sample skips.
    auto broken = [](std::string t) {
        t[1000] = '~';
        return t;
    };
    const std::string period12 = pm::repeat(forty_symbols.substr(0, pm::kShortestLibraryPeriods), kLib);
    const std::string period13 =
        pm::repeat(forty_symbols.substr(0, 4) + forty_symbols.substr(0, pm::kShortestLibraryPeriods - 3), kLib);
    for (std::size_t i = 0; i < kLib; i += 499) near_periodic[i] = 'e';
    // Words of a small vocabulary, the frequent ones short, as in natural
    // language: keys of six letters tie often.
    std::vector<std::string> vocabulary(300);
    for (std::string& w : vocabulary)
        for (std::size_t k = 0, len = 1 + rng() % 8; k < len; ++k) w += static_cast<char>('a' + rng() % 26);
    const auto words = [&](std::size_t n) {
        std::string t;
        while (t.size() < n) t += vocabulary[std::min(rng() % 300, rng() % 300)] + ' ';
        return t.substr(0, n);
    };
    const std::string half = pm::random_text(kLib / 2, 4, rng), repeated = half + half;
    while (runs.size() < kLib) runs.append(std::size_t{1} + rng() % 40, static_cast<char>('a' + rng() % 4));
    const struct {
        std::string text;
        S want;
    } cases[] = {
        {pm::random_text(100, 256, rng), S::kPrefixKeys},
        {pm::random_text(kLib - 1, 4, rng), S::kPrefixKeys},
        {pm::random_text(kTied, 2, rng), S::kPrefixKeys},
        {pm::random_text(kTied, 256, rng), S::kPrefixKeys},
        {words(kTied - 1), S::kPrefixKeys},
        {words(kTied), S::kInduction},
        {pm::repeat("abcd", kTied), S::kPeriodic},
        {pm::random_text(kLib, 4, rng), S::kBuckets},
        {pm::random_text(kLib, 256, rng), S::kBuckets},
        {pm::repeat("ab", 1000), S::kPeriodic},
        {pm::repeat("abcd", kLib - 1), S::kPeriodic},
        {broken(pm::repeat("abcd", kLib - 1)), S::kInduction},
        {runs.substr(0, kLib - 1), S::kInduction},
        {pm::repeat("abcd", kLib), S::kPeriodic},
        {period12, S::kPeriodic},
        {broken(pm::repeat("abcd", kLib)), S::kLibrary},
        {broken(period12), S::kLibrary},
        {broken(period13), S::kInduction},
        {near_periodic, S::kPeriodic},  // of period 4 * 499
        {broken(near_periodic), S::kInduction},
        {runs, S::kLibrary},
        // Random but for a long repeat: plain induction, its LMS suffixes
        // not sorted by keys.
        {repeated, S::kInduction},
    };
    pm::WideWorkArray wide;
    for (const auto& c : cases) {
        const std::size_t n = c.text.size();
        U32s sa(n), rank(n);
        EXPECT_EQ(pm::sort_suffixes(pm::bytes_of(c.text), n, sa.data(), rank.data(), wide), c.want)
            << pm::show(c.text);
        std::vector<std::int32_t> lib(n);
        divsufsort(pm::bytes_of(c.text), lib.data(), static_cast<std::int32_t>(n));
        EXPECT_EQ(sa, U32s(lib.begin(), lib.end())) << pm::show(c.text);
    }
    // On two threads as on one.
    for (const auto& [text, want] : {std::pair{pm::random_text(kLib, 2, rng), S::kBuckets},
                                     std::pair{words(kLib), S::kInduction}}) {
        U32s sa(kLib), rank(kLib);
        EXPECT_EQ(pm::sort_suffixes(pm::bytes_of(text), kLib, sa.data(), rank.data(), wide, 2), want)
            << pm::show(text);
    }
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

// Induced sorting on two threads (its passes shared by halves: naming,
// ranks to positions, ties of leading names) on texts that take each of
// them; the test command also runs this one under ThreadSanitizer.
TEST(InductionOnTwoThreads, AgreesWithTheLibrary) {
    std::mt19937_64 rng(8);
    const std::size_t n = std::size_t{1} << 19;
    for (const std::string& t : {pm::word_text(n, rng), pm::random_text(n, 256, rng)}) {
        const std::uint8_t* text = pm::bytes_of(t);
        std::vector<std::int32_t> lib(t.size());
        ASSERT_EQ(divsufsort(text, lib.data(), static_cast<std::int32_t>(t.size())), 0);
        U32s sa(t.size()), work(t.size());
        pm::sort_by_induction(text, t.size(), sa.data(), work.data(), pm::kInductionPrefetchFrom, false, 2);
        ASSERT_EQ(sa, U32s(lib.begin(), lib.end())) << "input " << pm::show(t);
    }
}
