// Suffix sorting of short texts by packed prefix keys, and the sampling of
// a text for repeats that tells when such keys would tie for long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "work_array.hpp"

namespace parsimetrics {

// 64-bit working entries of the prefix keys.
using WideWorkArray = std::vector<std::uint64_t, WorkAllocator<std::uint64_t>>;

// Writes the suffix array of text[0, n), n below 2^31, into sa[0, n): a
// 32-bit word per suffix holding the first bits of its key beside its
// position, radix sorted, the runs that share them sorted on by 64-bit
// words (as many symbols as fit beside the position), ties refined by
// doubling.  rank[0, n) is working space, and so is `wide`: on random and
// natural-language text nothing but the entries of at most 48 symbols
// (n <= 48) or of twice the largest tied group, few on such text.  Bounded,
// it gives up (false, sa unspecified) on repetitive text: when windows
// sampled from the text repeat (before any word is built), when most
// suffixes share their first symbol, when a run sharing the first bits
// outgrows the room in rank (some 3n / 16 suffixes) by more than a few
// hundred bytes, when most suffixes tie over the whole key, or once sorting
// the words has cost a few passes over them; unbounded it always sorts.
bool sort_by_prefix_keys(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                         WideWorkArray& wide, bool bounded);

// How many of kSampledWindows windows of kSampledWindow symbols, drawn over
// text[0, n), repeat one drawn before them (0 below 64 symbols).  Random
// text of any alphabet almost never repeats one; periodic, near-periodic and
// run-length text repeats several.
inline constexpr std::size_t kSampledWindow = 16;
inline constexpr std::size_t kSampledWindows = 32;
std::size_t sampled_window_repeats(const std::uint8_t* text, std::size_t n);

}  // namespace parsimetrics
