// Suffix sorting of long random text by buckets of leading symbols, which
// two threads share out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parsimetrics {

// Writes the suffix array of text[0, n), n below 2^31, into sa[0, n):
// every suffix bucketed by its first symbols (counted by halves of the
// text), a 64-bit entry per suffix (its next symbols packed above its
// position) scattered to its bucket, in two rounds that fill rank and then
// the part of sa the other round writes, and each bucket sorted on its own
// by its entries, ties by comparing the text further.  `threads` (1 or 2)
// share out the halves of the text and then the buckets, the result the
// same; each sorts through scratch of two words per suffix of the largest
// bucket.  Gives up (false, sa and rank spoilt) on text of one symbol,
// before sorting when a bucket holds more than 1/48 of the suffixes
// (skewed or repetitive text), and once comparing tied suffixes has cost
// more than a few symbols a suffix (text with long repeats).
// Buckets of split_from suffixes or more are split by their top digit
// first (kBucketSplitFrom: see the sort).
inline constexpr std::size_t kBucketSplitFrom = std::size_t{1} << 16;
// What the bucket sort did: sorted, or gave up, and why (which tells the
// caller whether sorting LMS suffixes by keys is worth a try).
enum class BucketSort { kSorted, kSkewed, kLongRepeats };
BucketSort sort_by_buckets(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                           std::size_t threads, std::size_t split_from = kBucketSplitFrom);

}  // namespace parsimetrics
