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

// c ? a : b by a conditional move: the scan below must not branch on how
// many starts a new one pops, which follows no pattern a predictor learns
// (on random text half of all starts pop none, a quarter one, and so on).
inline std::uint32_t select(bool c, std::uint32_t a, std::uint32_t b) {
#if defined(__GNUC__) && defined(__x86_64__)
    const std::uint32_t flag = c;
    asm("test %[flag], %[flag]\n\tcmovnz %[a], %[b]" : [b] "+r"(b) : [a] "r"(a), [flag] "r"(flag) : "cc");
    return b;
#else
    const std::uint32_t mask = 0u - static_cast<std::uint32_t>(c);
    return (a & mask) | (b & ~mask);
#endif
}

// The nearest-smaller-value scan of Kärkkäinen, Kempa and Puglisi's LZ
// factorization over `count` ranks.  The starts seen so far that still lack
// a smaller start after them in suffix order form a stack, increasing
// upwards; the psv of a new start is what remains on top once every larger
// start is popped.  The stack lives in the slots already read (it never
// holds more entries than ranks read), its top three entries also in
// registers: a start that pops at most two (seven in eight on random text)
// is settled by comparisons and conditional moves alone, and only deeper
// pops take a loop.  kNoPosition + 1 wraps to 0, which makes the empty
// stack's mark at the bottom compare below every start.  With kRegular (an
// exactly periodic text, whose pops repeat with the period) the predictor
// learns the pops, and the plain loop over the stack in the slots costs less.
//
// With kLinkMinima the scan starts in the middle of the suffix array and
// cannot see the ranks before it.  A start that empties the stack is
// smaller than every start of the scan before it (one of its running
// minima), and its psv lies before the scan; its entry instead links to the
// previous running minimum, marked, so that the caller can find them all
// from the last one (the bottom of the stack) and settle them afterwards.
template <bool kLinkMinima, bool kRegular>
StackEnd scan_ranks(std::uint32_t* slots, std::size_t count, bool prefetch, std::uint32_t* psv) {
    constexpr std::size_t kAhead = 64;
    if (count == 0) return {0, kNoPosition};
    const std::uint32_t* sa = slots + 1;
    std::uint32_t last_minimum = kNoPosition;
    const auto settle = [&](std::uint32_t x, std::uint32_t nearest) {
        if constexpr (kLinkMinima) {
            const bool minimum = nearest == kNoPosition;
            psv[x] = minimum ? (last_minimum | kLinkMark) : nearest;
            last_minimum = minimum ? x : last_minimum;
        } else {
            psv[x] = nearest;
        }
    };

    // slots[1, below] hold the stack under its top t0, slots[below] = t1
    // and slots[below - 1] = t2; slots[1] holds the empty stack's mark, so
    // that an index clamped to 1 reads the mark.
    std::uint32_t t0 = sa[0], t1 = kNoPosition, t2 = kNoPosition;
    settle(t0, kNoPosition);
    slots[1] = kNoPosition;
    std::size_t below = 1;
    const std::size_t ahead_until = prefetch && count > kAhead ? count - kAhead : 0;
    for (std::size_t r = 1; r < count; ++r) {
        if (r < ahead_until) __builtin_prefetch(psv + sa[r + kAhead], 1);
        const std::uint32_t x = sa[r];
        const std::uint32_t x1 = x + 1;
        if constexpr (kRegular) {
            std::uint32_t top = t0;
            while (top + 1 > x1) top = slots[below--];
            settle(x, top);
            slots[++below] = top;
            t0 = x;
            continue;
        }
        if (__builtin_expect(t2 + 1 > x1, 0)) {
            // Three pops or more: t0 and t1 go, then the loop from t2 down.
            std::size_t b = below - 2;
            std::uint32_t top = t2;
            while (top + 1 > x1) top = slots[b--];
            settle(x, top);
            slots[++b] = top;
            below = b;
            t0 = x;
            t1 = top;
            t2 = slots[b > 1 ? b - 1 : 1];
            continue;
        }
        const bool pop0 = t0 + 1 > x1, pop1 = t1 + 1 > x1;
        const std::uint32_t deeper = slots[below > 2 ? below - 2 : 1];
        // After pop0 + pop1 pops the top is `nearest`, with `under` beneath.
        const std::uint32_t nearest = select(pop1, t2, select(pop0, t1, t0));
        const std::uint32_t under = select(pop1, deeper, select(pop0, t2, t1));
        settle(x, nearest);
        // Pushing x keeps nearest in place or, after no pop, stores t0.
        slots[below + 1] = t0;
        below = below + 1 - pop0 - pop1;
        t2 = under;
        t1 = nearest;
        t0 = x;
    }
    return {below, t0};
}

}  // namespace

void build_previous_smaller_starts(std::uint32_t* slots, std::size_t n, std::uint32_t* psv, std::size_t threads,
                                   bool regular) {
    // Short texts are in cache already: no prefetch.
    const bool prefetch = n >= kPrefetchFrom;
    const auto scan = [&]<bool kLinkMinima>(std::uint32_t* from, std::size_t count) {
        return regular ? scan_ranks<kLinkMinima, true>(from, count, prefetch, psv)
                       : scan_ranks<kLinkMinima, false>(from, count, prefetch, psv);
    };
    if (threads < 2 || n < 2) {
        scan.template operator()<false>(slots, n);
        return;
    }

    // Two halves of the ranks at once, the second keeping its stack in its
    // own slots.  Its running minima then take their psv from what the first
    // half left on its stack: the largest start there below each of them.
    const std::size_t half = n / 2;
    const auto [first, second] = join(
        Work{n}, [&] { return scan.template operator()<false>(slots, half); },
        [&] { return scan.template operator()<true>(slots + half, n - half); });

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
