#include "lpf.hpp"

#include <algorithm>
#include <utility>

#include "pool.hpp"

namespace parsimetrics {

namespace {

// Starts are below 2^31, which leaves the top bit of a psv entry free: the
// second half of a split scan marks with it the starts whose psv lies in the
// first half (see below).  kNoPosition has it set too, and ends the chain.
constexpr std::uint32_t kLinkMark = 0x80000000u;

struct StackEnd {
    std::size_t below;  // slots[1, below] hold the stack under the top
    std::uint32_t top;
};

// The nearest-smaller-value scan of Kärkkäinen, Kempa and Puglisi's LZ
// factorization over `count` ranks.  The starts seen so far that still lack
// a smaller start after them in suffix order form a stack, increasing
// upwards; the psv of a new start is what remains on top once every larger
// start is popped.  The top is kept in a register, the rest in the slots
// already read: a stack never holds more entries than ranks read.
// kNoPosition + 1 wraps to 0, which makes the empty stack compare below
// every start.
//
// With kLinkMinima the scan starts in the middle of the suffix array and
// cannot see the ranks before it.  A start that empties the stack is
// smaller than every start of the scan before it (one of its running
// minima), and its psv lies before the scan; its entry instead links to the
// previous running minimum, marked, so that the caller can find them all
// from the last one (the bottom of the stack) and settle them afterwards.
template <bool kLinkMinima>
StackEnd scan_ranks(std::uint32_t* slots, std::size_t count, bool prefetch, std::uint32_t* psv) {
    constexpr std::size_t kAhead = 64;
    const std::uint32_t* sa = slots + 1;
    std::size_t below = 0;
    std::uint32_t top = kNoPosition;
    std::uint32_t last_minimum = kNoPosition;
    const std::size_t ahead_until = prefetch && count > kAhead ? count - kAhead : 0;
    for (std::size_t r = 0; r < count; ++r) {
        if (r < ahead_until) __builtin_prefetch(psv + sa[r + kAhead], 1);
        const std::uint32_t x = sa[r];
        while (top + 1 > x + 1) top = slots[below--];
        if constexpr (kLinkMinima) {
            const bool minimum = top == kNoPosition;
            psv[x] = minimum ? (last_minimum | kLinkMark) : top;
            last_minimum = minimum ? x : last_minimum;
        } else {
            psv[x] = top;
        }
        slots[++below] = top;
        top = x;
    }
    return {below, top};
}

}  // namespace

void build_previous_smaller_starts(std::uint32_t* slots, std::size_t n, std::uint32_t* psv, std::size_t threads) {
    // Short texts are in cache already: no prefetch.
    const bool prefetch = n >= kPrefetchFrom;
    if (threads < 2 || n < 2) {
        scan_ranks<false>(slots, n, prefetch, psv);
        return;
    }

    // Two halves of the ranks at once, the second keeping its stack in its
    // own slots.  Its running minima then take their psv from what the first
    // half left on its stack: the largest start there below each of them.
    const std::size_t half = n / 2;
    const auto [first, second] = join(
        Work{n}, [&] { return scan_ranks<false>(slots, half, prefetch, psv); },
        [&] { return scan_ranks<true>(slots + half, n - half, prefetch, psv); });

    // The first half's stack upwards from slots[2] (slots[1] holds the empty
    // stack's kNoPosition), its top last.
    const auto first_stack = [&, first = first](std::size_t i) { return i <= first.below ? slots[i] : first.top; };
    const std::size_t first_end = first.below + 2;
    // The last running minimum is the bottom of the second half's stack;
    // the links lead to ever larger starts.
    std::uint32_t x = second.below >= 2 ? slots[half + 2] : second.top;
    std::size_t i = 2;
    std::uint32_t nearest = kNoPosition;
    for (;;) {
        const std::uint32_t link = psv[x];
        while (i < first_end && first_stack(i) < x) nearest = first_stack(i++);
        psv[x] = nearest;
        if (link == kNoPosition) break;
        x = link & ~kLinkMark;
    }
}

}  // namespace parsimetrics
