#include "lpf.hpp"

#include <algorithm>
#include <utility>

namespace parsimetrics {

void build_previous_smaller_starts(std::uint32_t* slots, std::size_t n, std::uint32_t* psv) {
    // The nearest-smaller-value scan of Kärkkäinen, Kempa and Puglisi's LZ
    // factorization.  The starts seen so far that still lack a smaller start
    // after them in suffix order form a stack, increasing upwards; the psv of
    // a new start is what remains on top once every larger start is popped.
    // The top is kept in a register, the rest in the slots already read: a
    // stack never holds more entries than ranks read.  kNoPosition + 1 wraps
    // to 0, which makes the empty stack compare below every start.
    constexpr std::size_t kAhead = 64;
    const std::uint32_t* sa = slots + 1;
    std::size_t below = 0;  // slots[1, below] hold the stack under the top
    std::uint32_t top = kNoPosition;
    // Short texts are in cache already: no prefetch.
    const std::size_t ahead_until = n < kPrefetchFrom ? 0 : n - kAhead;
    for (std::size_t r = 0; r < n; ++r) {
        if (r < ahead_until) __builtin_prefetch(psv + sa[r + kAhead], 1);
        const std::uint32_t x = sa[r];
        while (top + 1 > x + 1) top = slots[below--];
        psv[x] = top;
        slots[++below] = top;
        top = x;
    }
}

}  // namespace parsimetrics
