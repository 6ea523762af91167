// What the suffix sorters share: 64-bit words sorted by their bytes, most
// significant first (the prefix keys and the doubling refiner sort such
// words), and byte counting (which induced sorting uses too).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace parsimetrics::sorting {

using Word = std::uint64_t;

// Ranges of at most kSmall words are insertion sorted whole: below that a
// 256-entry table costs more than it saves.  Each counting pass over m words
// costs about m + kPassOverhead (its tables), which is what a bounded radix
// sort charges its budget.
inline constexpr std::size_t kSmall = 48;
inline constexpr std::size_t kPassOverhead = 32;
inline constexpr std::size_t kUnbounded = SIZE_MAX;  // a budget that never runs out

// Adds to count[lo, hi) how often each byte byte_of(i), i < m, occurs
// (all of them in [lo, hi)).  From `four_tables_from` bytes on they count in
// four tables, so that runs of equal bytes (common in repetitive text) do
// not wait on one counter.
template <class ByteOf>
void count_bytes(std::size_t m, ByteOf byte_of, std::uint32_t* count, std::size_t lo, std::size_t hi,
                 std::size_t four_tables_from) {
    std::size_t i = 0;
    if (m >= four_tables_from) {
        std::array<std::array<std::uint32_t, 256>, 3> more;
        for (auto& table : more) std::fill(table.begin() + lo, table.begin() + hi, 0);
        for (; i + 4 <= m; i += 4) {
            ++count[byte_of(i)];
            for (std::size_t u = 1; u < 4; ++u) ++more[u - 1][byte_of(i + u)];
        }
        for (std::size_t d = lo; d < hi; ++d) count[d] += more[0][d] + more[1][d] + more[2][d];
    }
    for (; i < m; ++i) ++count[byte_of(i)];
}

// Sorts a[0, m) whole, for the ranges of at most kSmall words (or of a
// few 32-bit entries): a pointer of any element type, so that entries kept
// in memory read through another type keep their aliasing type.
template <class Pointer>
void insertion_sort(Pointer a, std::size_t m) {
    for (std::size_t i = 1; i < m; ++i) {
        const auto v = a[i];
        std::size_t j = i;
        for (; j > 0 && a[j - 1] > v; --j) a[j] = a[j - 1];
        a[j] = v;
    }
}

// Sorts the m entries at `a` by the bits from `low` up, a byte at a time
// from the most significant end, the first byte being bits
// [shift, shift + 8).  They end at `a`, or at `b` when `into_b`; the other
// array is scratch, so each pass moves the entries once.  The bits below
// `low` (positions) end in no particular order, except in ranges short
// enough for insertion sort, which sorts whole words.  A byte that all
// entries share costs one counting pass and no move.  Gives up, returning
// false, when `budget` runs out.
bool radix_sort(Word* a, Word* b, std::size_t m, unsigned shift, unsigned low, std::size_t& budget,
                bool into_b = false);

}  // namespace parsimetrics::sorting
