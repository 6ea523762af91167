#include "suffix_sort_radix.hpp"

#include <numeric>

namespace parsimetrics::sorting {

namespace {

// Counting pays four tables from a thousand words on.
constexpr std::size_t kFourTablesFrom = 1024;

}  // namespace

bool radix_sort(Word* a, Word* b, std::size_t m, unsigned shift, unsigned low, std::size_t& budget,
                bool into_b) {
    for (;;) {
        if (m <= kSmall) {
            if (into_b) {
                std::copy(a, a + m, b);
                a = b;
            }
            insertion_sort(a, m);
            return true;
        }
        const bool bounded = budget != kUnbounded;
        if (bounded) {
            if (budget < m + kPassOverhead) return false;
            budget -= m + kPassOverhead;
        }
        std::array<std::uint32_t, 256> end{};
        count_bytes(m, [&](std::size_t i) { return (a[i] >> shift) & 0xFF; }, end.data(), 0, 256, kFourTablesFrom);
        const bool more = shift > low;
        const unsigned next = shift >= 8 ? shift - 8 : 0;
        if (end[(a[0] >> shift) & 0xFF] == m) {
            if (!more) {
                if (into_b) std::copy(a, a + m, b);
                return true;
            }
            shift = next;
            continue;
        }
        std::exclusive_scan(end.begin(), end.end(), end.begin(), std::uint32_t{0});
        for (std::size_t i = 0; i < m; ++i) b[end[(a[i] >> shift) & 0xFF]++] = a[i];
        if (!more) {
            if (!into_b) std::copy(b, b + m, a);
            return true;
        }
        // Each bucket now sits in b and sorts back into a, or stays in b.
        std::uint32_t begin = 0;
        for (const std::uint32_t e : end) {
            if (e - begin == 1) {
                if (!into_b) a[begin] = b[begin];
            } else if (e > begin && !radix_sort(b + begin, a + begin, e - begin, next, low, budget, !into_b)) {
                return false;
            }
            begin = e;
        }
        return true;
    }
}

}  // namespace parsimetrics::sorting
