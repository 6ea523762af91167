// Suffix array of a byte string: which sorter runs for which length, and
// the glue to libdivsufsort.
#pragma once

#include <cstddef>
#include <cstdint>

#include "suffix_sort_induced.hpp"
#include "suffix_sort_keys.hpp"

namespace parsimetrics {

// Below kLibrarySortThreshold symbols suffixes are sorted by prefix keys
// when those soon tell them apart (and, from kTiedTextInductionFrom on, a
// sample of the text says they will), otherwise by induced sorting; from
// there on by induced sorting unless a sample of the text says the library
// is faster.  At any length an exactly periodic text (below the threshold,
// once the prefix keys give up) is sorted from its last two periods.  The
// lengths come from benchmarks/bench_sort: the library's fixed cost per
// call (a table of 256 x 256 buckets) loses to the prefix keys on random
// text up to about a million symbols (their working memory stops them
// sooner), and to induced sorting on every kind of text up to 2^15 symbols
// and on all but runs and texts of a short period up to 2^17.  From this
// length on random text is sorted by buckets of leading symbols, on one
// thread or shared by two.
inline constexpr std::size_t kLibrarySortThreshold = std::size_t{1} << 17;

// From this length on (below kLibrarySortThreshold) a text whose sampled
// keys tie, natural language above all, skips the prefix keys: induced
// sorting overtakes them there (bench_sort cross, English-like text: keys
// over induction 0.88 at 65,536 symbols, 1.03 at 70,000, 1.16 at 131,071).
// On random text of any alphabet the keys stay some four times faster up
// to kLibrarySortThreshold; the sample costs them 0 to 4% from here on.
inline constexpr std::size_t kTiedTextInductionFrom = 68 * 1024;

// From kLibrarySortThreshold symbols on, the sample decides (bench_sort
// long, 10^6 to 10^8 symbols).  Induction wins on random text of any
// alphabet (0.25 to 0.5 of the library's time, its LMS suffixes sorted by
// keys), English-like text (0.4 at 10^6 and 10^7, its LMS substrings named
// through a table), near-periodic text (0.3) and the Fibonacci word (0.25),
// but loses on texts periodic but for rare breaks
// with a short period (1.1 to 2.4 times at periods 1 to 12, ahead from
// 20) and on long runs of one symbol (runs of up to 40 symbols 1.2 times at
// 10^6 and 10^7, up to 100 1.4 to 1.6 times).
inline constexpr double kLibraryEqualNeighbours = 0.88;    // share of symbols equal to the next
inline constexpr std::size_t kShortestLibraryPeriods = 12;  // periods tried, 1 to this

// The largest text the library's signed 32-bit indices can hold.
inline constexpr std::size_t kMaxTextLength = 2147483646;

// The sorters that sort_suffixes chooses from.
enum class SuffixSorter { kPrefixKeys, kPeriodic, kInduction, kBuckets, kLibrary };

// Writes the suffix array of text[0, n) into sa[0, n): sa[r] is the start
// of the suffix of rank r.  Suffixes compare as unsigned bytes; a suffix that
// is a prefix of another sorts first.  rank[0, n) and `wide` are working
// space of the prefix keys (below kLibrarySortThreshold) and induced
// sorting.  `threads` (1 or 2) is how many threads of the pool the sort
// may use; the bucket sort shares its work between two, the other sorters
// run on one.  Returns the sorter that wrote sa.
SuffixSorter sort_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                           WideWorkArray& wide, std::size_t threads = 1);

// Whether induced sorting beats the library on text[0, n), n at least
// kLibrarySortThreshold, by the sample above; separate so that the choice
// on the longest texts can be tested without sorting them.
bool induction_beats_library(const std::uint8_t* text, std::size_t n);

// The size guard of the library path, separate so that it can be tested
// without allocating gigabytes.
void check_text_length(std::size_t n);

}  // namespace parsimetrics
