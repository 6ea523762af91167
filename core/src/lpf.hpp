// Nearest smaller starts: the neighbours in suffix order among earlier
// positions that bound every longest previous factor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parsimetrics {

// Marks "no such position" in the neighbour arrays below.
inline constexpr std::uint32_t kNoPosition = 0xFFFFFFFFu;

// From this many symbols on, the scans that follow the suffix array fetch
// their random accesses ahead; below, the arrays sit in the first cache
// levels and the fetches only cost instructions.
inline constexpr std::size_t kPrefetchFrom = std::size_t{1} << 14;

// For every text position x, the start of the nearest suffix before x in
// suffix order that also starts before x (kNoPosition if there is none):
// one of the two suffixes that can share the longest prefix with x among all
// earlier positions.  Reads the suffix array from slots[1, n + 1) in rank
// order and consumes it (the slots read so far hold a stack); writes
// psv[0, n).  With two or more `threads` the two halves of the ranks are
// scanned at once on the pool.  `regular` says the text is exactly periodic,
// which changes how, not what, the scan computes.
void build_previous_smaller_starts(std::uint32_t* slots, std::size_t n, std::uint32_t* psv, std::size_t threads = 1,
                                   bool regular = false);

}  // namespace parsimetrics
