// Suffix array of a byte string: which sorter runs for which length, and
// the glue to libdivsufsort.
#pragma once

#include <cstddef>
#include <cstdint>

#include "suffix_sort_induced.hpp"
#include "suffix_sort_keys.hpp"

namespace parsimetrics {

// Below kLibrarySortThreshold symbols suffixes are sorted by prefix keys
// when those soon tell them apart, otherwise by induced sorting if the text
// is shorter than kInductionAnyAlphabetThreshold or has at most
// kInductionLargestAlphabet symbols, otherwise by libdivsufsort.  The
// lengths come from benchmarks/bench_sort: the library's fixed cost per
// call (a table of 256 x 256 buckets) loses to the prefix keys on random
// text up to about a million symbols (their working memory stops them
// sooner), and to induced sorting up to some 16,000 symbols whatever the
// text, beyond that on texts of few symbols (near-periodic ones gain most)
// but not on texts of many, such as natural language.
inline constexpr std::size_t kLibrarySortThreshold = std::size_t{1} << 17;
inline constexpr std::size_t kInductionAnyAlphabetThreshold = std::size_t{1} << 14;
inline constexpr std::uint32_t kInductionLargestAlphabet = 16;

// From kLibrarySortThreshold symbols on, a sample of the text decides
// (benchmarks/bench_sort long, 10^6 to 10^7 symbols).  Induced sorting costs
// about the same per symbol on any text; the library gets cheaper as
// suffixes part sooner.  So the library wins on texts of high entropy
// (uniform over 64 symbols, ties; over 256, induction takes some 1.3 times
// as long), on exactly periodic texts of short period (1.5 to 2 times at
// periods 2 to 12, even at 20, induction ahead from 37) and on long runs of
// one symbol (runs of up to 20 or 40 symbols, 1.3 to 1.5 times).
// Everywhere else induction wins: at 0.7 to 0.8 of the library's time on
// random text of 2 to 16 symbols and on English-like text, about 0.5 on
// near-periodic text and 0.35 on the Fibonacci word.
inline constexpr double kInductionMostBits = 5.0;          // entropy per symbol of the sample
inline constexpr double kLibraryEqualNeighbours = 0.88;    // share of symbols equal to the next
inline constexpr std::size_t kShortestLibraryPeriods = 32;  // exact periods tried, 1 to this

// The largest text the library's signed 32-bit indices can hold.
inline constexpr std::size_t kMaxTextLength = 2147483646;

// The sorters that sort_suffixes chooses from.
enum class SuffixSorter { kPrefixKeys, kInduction, kLibrary };

// Writes the suffix array of text[0, n) into sa[0, n): sa[r] is the start
// of the suffix of rank r.  Suffixes compare as unsigned bytes; a suffix that
// is a prefix of another sorts first.  rank[0, n) and `wide` are working
// space of the prefix keys (below kLibrarySortThreshold) and induced
// sorting.  `threads` is how many threads the sort may keep busy (1: this
// one only).  Returns the sorter that wrote sa.
SuffixSorter sort_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                           WideWorkArray& wide, std::size_t threads = 1);

// The size guard of the library path, separate so that it can be tested
// without allocating gigabytes.
void check_text_length(std::size_t n);

}  // namespace parsimetrics
