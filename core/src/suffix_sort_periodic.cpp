// A text of smallest period p, n >= 2p, orders its suffixes by the last 2p
// symbols alone.  Two suffixes whose first p symbols agree start the same
// infinite repetition (its p rotations all differ, the period being the
// smallest), so a suffix i of length at least 2p comes right after suffix
// i + p, the one p shorter that it starts with: nothing can lie between
// them but a suffix of the same repetition, whose lengths differ by
// multiples of p.  So the suffix array of the last 2p symbols, each of its
// suffixes longer than p followed by those p, 2p, ... longer, is the
// suffix array of the text.
#include "suffix_sort_periodic.hpp"

#include <algorithm>
#include <cstring>

#include "suffix_sort_induced.hpp"

namespace parsimetrics {

bool sort_periodic(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* work) {
    // The smallest period, if the text has one of at most n / 4, is the
    // first place after 0 where its first symbols occur again and from
    // which the text repeats itself.  Only that first place is checked,
    // up to the first break of the repetition: most texts fail at once, a
    // periodic one with a break where the break is.
    //
    // The places are tried by their first 8 symbols as one word (a compare
    // per place that random text rarely passes, where a symbol at a time
    // mispredicts a branch or two per place on text of few symbols).
    const std::size_t head = std::min<std::size_t>(kPeriodicHead, n / 4);
    std::size_t p = 0;
    if (head >= sizeof(std::uint64_t)) {
        std::uint64_t first;
        std::memcpy(&first, text, sizeof first);
        for (std::size_t q = 1; q <= n / 4; ++q) {
            std::uint64_t here;
            std::memcpy(&here, text + q, sizeof here);
            if (here == first && std::memcmp(text + q, text, head) == 0) {
                p = q;
                break;
            }
        }
    } else if (head > 0) {
        p = static_cast<std::size_t>(std::search(text + 1, text + n / 4 + head, text, text + head) - text);
    }
    if (p == 0 || p > n / 4 || std::memcmp(text, text + p, n - p) != 0) return false;

    const std::size_t tail = n - 2 * p;
    std::uint32_t* last = work;  // the last 2p symbols' suffix array, 4p <= n
    sort_by_induction(text + tail, 2 * p, last, work + 2 * p);
    std::size_t r = 0;
    for (std::size_t k = 0; k < 2 * p; ++k) {
        const std::size_t w = last[k];
        sa[r++] = static_cast<std::uint32_t>(tail + w);
        if (w < p)
            for (std::size_t i = tail + w; i >= p;) sa[r++] = static_cast<std::uint32_t>(i -= p);
    }
    return true;
}

}  // namespace parsimetrics
