// Suffix sorting of short texts by packed prefix keys, where libdivsufsort's
// fixed cost per call would dominate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "work_array.hpp"

namespace parsimetrics {

// 64-bit working entries of the short-text sorter.
using WideWorkArray = std::vector<std::uint64_t, WorkAllocator<std::uint64_t>>;

// Both write the suffix array of text[0, n) into sa[0, n) (the keys for
// any n below 2^31, induction below 2^30); the dispatch in suffix_array.cpp
// uses them where they beat the library.

// A 64-bit word per suffix holding its first symbols (as many as fit
// beside its position), radix sorted, ties refined by doubling, with
// rank[0, n) and `wide` (grown to 2n entries) as working space.  Bounded,
// it gives up (false, sa unspecified) on repetitive text: when windows
// sampled from the text repeat, before any word is built, or once sorting
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

// Induced sorting: linear in n whatever the text, slower than the prefix
// keys on random text and faster on repetitive text, with work[0, n) as
// working space.
void sort_by_induction(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* work);

}  // namespace parsimetrics
