// Suffix sorting of exactly periodic texts, in a pass over the output.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parsimetrics {

// The symbols from the start of the text looked for again to find its
// period.
inline constexpr std::size_t kPeriodicHead = 32;

// When text[0, n) repeats its first p symbols throughout, p at most n / 4,
// writes its suffix array into sa[0, n) (work[0, n) working space) and
// returns true; otherwise (or when its first kPeriodicHead symbols recur
// by chance before the period) returns false, having read the first
// quarter of the text at most and the rest up to the first break of a
// period, with sa and work untouched.
bool sort_periodic(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* work);

}  // namespace parsimetrics
