// Suffix sorting by induction, for repetitive texts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parsimetrics {

// Writes the suffix array of text[0, n), n below 2^30, into sa[0, n) by
// induced sorting, with work[0, n) as working space: linear in n whatever
// the text, slower than the prefix keys on random text and faster on
// repetitive text.
void sort_by_induction(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* work);

}  // namespace parsimetrics
