// Suffix sorting by induction, for repetitive texts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parsimetrics {

// Texts shorter than this: the sorter marks entries in their top two bits.
inline constexpr std::size_t kInductionLongest = std::size_t{1} << 30;

// From this length on induced sorting prefetches (benchmarks/bench_sort
// long): a suffix array of 10^8 entries, beyond the last-level cache, sorts
// in some 0.8 of the time with it; up to 3 * 10^6 the text and suffix array
// stay in the caches and the requests cost some 10% more than they save.
inline constexpr std::size_t kInductionPrefetchFrom = std::size_t{1} << 24;

// Whether the first symbols of 512 positions spread over text[0, n),
// n at least 2^12, as many as 32 bits hold by rank among the symbols that
// occur, tie more than a few times: natural language and every repetitive
// text do, random text of any alphabet hardly ever.  The same sample, of
// 1024 positions, tells induced sorting whether to sort long LMS suffixes
// by such keys.
bool sampled_keys_tie(const std::uint8_t* text, std::size_t n);

// Writes the suffix array of text[0, n), n below kInductionLongest, into
// sa[0, n) by induced sorting, with work[0, n) as working space: linear in
// n whatever the text, slower than the prefix keys on random text and
// faster on repetitive text.  Levels of prefetch_from symbols or more
// prefetch what their passes read at the positions in sa.  Without
// lms_by_keys a text that looks random is induced like any other, its LMS
// suffixes not sorted by keys first: the caller knows it repeats too long
// a stretch for them.  On `threads` (1 or 2) of the pool, the passes that
// need no order among their entries are shared out.
void sort_by_induction(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* work,
                       std::size_t prefetch_from = kInductionPrefetchFrom, bool lms_by_keys = true,
                       std::size_t threads = 1);

}  // namespace parsimetrics
