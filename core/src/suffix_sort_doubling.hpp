// Prefix doubling, which refines the ties that the prefix keys leave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "suffix_sort_radix.hpp"

namespace parsimetrics::sorting {

struct Group {
    std::uint32_t begin, end;  // a range of ranks whose suffixes are not yet told apart
};

// Completes the suffix array sa[0, n) of a text in which every suffix is
// ranked (rank[i] its place in sa, or the first place of its group) and
// the suffixes of each group (two or more sharing the rank of the first)
// share exactly their first h symbols.  The groups are found from the
// ranks, so no list of them is held.  wide[0, 2 widest) is working space:
// entries of a key above the low `pos_bits` bits and a position in them,
// for one group at a time; a group of more than widest members is sorted
// in sa itself, by comparisons.
void refine_ranked_groups(std::size_t n, unsigned pos_bits, std::uint32_t* sa, std::uint32_t* rank, Word* wide,
                          std::size_t widest, std::size_t h);

}  // namespace parsimetrics::sorting
