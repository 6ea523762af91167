#include "suffix_array.hpp"

#include <algorithm>
#include <utility>

#include <divsufsort.h>

#include "error.hpp"

namespace parsimetrics {

void check_text_length(std::size_t n) {
    if (n > kMaxTextLength) throw InternalFailure("text too large, should not exceed 2147483646 bytes");
}

namespace {

// A short suffix sort packs a key and a position into one 32-bit entry:
// positions below 2048 take the low 11 bits, keys the bits above.
constexpr unsigned kPositionBits = 11;
constexpr std::uint32_t kPositionMask = (1u << kPositionBits) - 1;
static_assert(kLibrarySortThreshold <= (std::size_t{1} << kPositionBits));

constexpr std::uint32_t key_of(std::uint32_t entry) { return entry >> kPositionBits; }

// Sorts packed entries by key.  Three-way partitioning puts every entry
// equal to the pivot in its final block at once, so a run of equal keys
// (the common case on periodic text) costs one pass instead of a log factor.
void sort_by_key(std::uint32_t* a, std::size_t m) {
    constexpr std::size_t kSmall = 16;
    while (m > kSmall) {
        // Median of three keys as the pivot.
        std::uint32_t k0 = key_of(a[0]), k1 = key_of(a[m / 2]), k2 = key_of(a[m - 1]);
        if (k0 > k1) std::swap(k0, k1);
        if (k1 > k2) std::swap(k1, k2);
        if (k0 > k1) std::swap(k0, k1);
        const std::uint32_t pivot = k1;

        // [0, lt) below the pivot, [lt, i) equal, [gt, m) above.
        std::size_t lt = 0, i = 0, gt = m;
        while (i < gt) {
            const std::uint32_t k = key_of(a[i]);
            if (k < pivot) {
                std::swap(a[lt++], a[i++]);
            } else if (k > pivot) {
                std::swap(a[i], a[--gt]);
            } else {
                ++i;
            }
        }

        // Recurse into the smaller side, loop on the larger.
        if (lt < m - gt) {
            sort_by_key(a, lt);
            a += gt;
            m -= gt;
        } else {
            sort_by_key(a + gt, m - gt);
            m = lt;
        }
    }
    for (std::size_t i = 1; i < m; ++i) {
        const std::uint32_t v = a[i];
        std::size_t j = i;
        for (; j > 0 && key_of(a[j - 1]) > key_of(v); --j) a[j] = a[j - 1];
        a[j] = v;
    }
}

struct Group {
    std::uint32_t begin, end;  // a range of sa whose suffixes are not yet told apart
};

// After sa[begin, end) was sorted by key: every run of equal keys becomes a
// group ranked by its first index; runs of two or more still need sorting.
// The keys are stripped, leaving positions.
void split_runs(std::uint32_t* sa, std::uint32_t* rank, std::uint32_t begin, std::uint32_t end,
                std::vector<Group>& unsorted) {
    std::uint32_t head = begin;
    while (head < end) {
        const std::uint32_t key = key_of(sa[head]);
        std::uint32_t tail = head;
        for (; tail < end && key_of(sa[tail]) == key; ++tail) {
            sa[tail] &= kPositionMask;
            rank[sa[tail]] = head;
        }
        if (tail - head > 1) unsorted.push_back({head, tail});
        head = tail;
    }
}

// While a group is being sorted its members' ranks carry the length of
// their chain (see sort_group) above the rank bits.
constexpr std::uint32_t kRankMask = kPositionMask;
constexpr unsigned kChainShift = 12;
constexpr std::uint32_t kChainKnown = 1u << 31;
constexpr std::uint32_t kMaxChain = kPositionMask;

// Sorts one group of suffixes that share their first h symbols u, and
// queues its unsorted parts for the next round (sorted by 2h symbols).
//
// Plain doubling orders members by the rank of the suffix h further on.  On
// periodic text that takes a round per doubling; instead, with p a period of
// u, a member i whose i + p is also a member reads w = u[0, p) and continues
// as that member.  Following the chain i, i + p, ... while it stays in the
// group gives suffix(i) = w^(k+1) suffix(j), j = i + (k+1)p outside the
// group, and suffix(j) sorts below or above every member.  Below: the fewer
// copies of w, the smaller the suffix; above: the more, the smaller.  That
// (side, k) order, refined by the usual doubling rank, sorts every chain at
// once.
void sort_group(std::size_t n, std::size_t h, std::uint32_t* sa, std::uint32_t* rank, Group g,
                std::vector<Group>& next, std::vector<Group>& runs) {
    const std::uint32_t id = g.begin;
    auto member = [&](std::size_t c) { return c < n && (rank[c] & kRankMask) == id; };
    auto doubling_key = [&](std::uint32_t i) -> std::uint32_t {
        return i + h < n ? (rank[i + h] & kRankMask) + 1 : 0;  // 0 past the end
    };
    auto sort_by_doubling = [&](Group r) {
        // A range whose keys all agree stays one group, ranked as it is.
        const std::uint32_t first = doubling_key(sa[r.begin]);
        std::uint32_t k = r.begin + 1;
        while (k < r.end && doubling_key(sa[k]) == first) ++k;
        if (k == r.end) {
            next.push_back(r);
            return;
        }
        for (k = r.begin; k < r.end; ++k) sa[k] = (doubling_key(sa[k]) << kPositionBits) | sa[k];
        sort_by_key(sa + r.begin, r.end - r.begin);
        split_runs(sa, rank, r.begin, r.end, next);
    };

    // A period of u that chains: if members s and s + d both start with u
    // and d < h, u repeats every d symbols.  The gap from one member to the
    // nearest member after it is tried; without one below h, plain doubling.
    const std::size_t s = sa[g.begin];
    std::size_t p = h;
    for (std::uint32_t k = g.begin + 1; k < g.end; ++k)
        if (sa[k] > s && sa[k] - s < p) p = sa[k] - s;
    if (p == h) {
        sort_by_doubling(g);
        return;
    }

    // Chain lengths, each member's computed once: walk forward over members
    // not yet known, then fill the walk backwards.
    for (std::uint32_t k = g.begin; k < g.end; ++k) {
        const std::size_t i = sa[k];
        if (rank[i] & kChainKnown) continue;
        std::size_t last = i, steps = 0, base = 0;
        for (;;) {
            const std::size_t c = last + p;
            if (!member(c)) break;
            if (rank[c] & kChainKnown) {
                base = ((rank[c] >> kChainShift) & kMaxChain) + 1;
                break;
            }
            last = c;
            ++steps;
        }
        for (std::size_t t = 0; t <= steps; ++t)
            rank[i + t * p] = id | kChainKnown | static_cast<std::uint32_t>((base + steps - t) << kChainShift);
    }

    // Order by side and chain length without sorting: chain ends (k = 0)
    // are gathered at the front (below) and the back (above); the members
    // with k + 1 are exactly i - p for the members i with k, so a queue over
    // each side emits it by k, ascending below, descending above.
    auto side_above = [&](std::uint32_t i) {
        const std::size_t j = i + p * (((rank[i] >> kChainShift) & kMaxChain) + 1);
        return j < n && rank[j] > id;
    };
    auto is_end = [&](std::uint32_t i) { return ((rank[i] >> kChainShift) & kMaxChain) == 0; };
    std::uint32_t front = g.begin, back = g.end;
    for (std::uint32_t k = g.begin; k < back;) {
        const std::uint32_t i = sa[k];
        if (!is_end(i)) {
            ++k;
        } else if (side_above(i)) {
            std::swap(sa[k], sa[--back]);
        } else {
            std::swap(sa[k], sa[front++]);
            ++k;
        }
    }
    for (std::uint32_t head = g.begin, tail = front; head < tail; ++head) {
        const std::uint32_t i = sa[head];
        if (i >= p && member(i - p)) sa[tail++] = static_cast<std::uint32_t>(i - p);
    }
    for (std::uint32_t head = g.end, tail = back; head > tail; --head) {
        const std::uint32_t i = sa[head - 1];
        if (i >= p && member(i - p)) sa[--tail] = static_cast<std::uint32_t>(i - p);
    }

    // Members with equal side and chain length are refined by doubling.
    for (std::uint32_t k = g.begin; k < g.end; ++k) {
        const std::uint32_t i = sa[k];
        const std::uint32_t chain = (rank[i] >> kChainShift) & kMaxChain;
        const std::uint32_t key = side_above(i) ? (kMaxChain + 1) + (kMaxChain - chain) : chain;
        sa[k] = (key << kPositionBits) | i;
    }
    runs.clear();
    split_runs(sa, rank, g.begin, g.end, runs);
    for (const Group r : runs) sort_by_doubling(r);
}

}  // namespace

void sort_short_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank) {
    if (n == 0) return;
    // Keys of the first round: the first two symbols, and whether the suffix
    // has fewer than two (the second then counts as 0; the shorter of two
    // otherwise equal suffixes has the smaller length code and sorts first).
    for (std::size_t i = 0; i < n; ++i) {
        const bool two = i + 1 < n;
        const std::uint32_t key = (std::uint32_t{text[i]} << 10) | (two ? std::uint32_t{text[i + 1]} << 2 : 0u) |
                                  (two ? 2u : 1u);
        sa[i] = (key << kPositionBits) | static_cast<std::uint32_t>(i);
    }
    std::vector<Group> unsorted, next, runs;
    sort_by_key(sa, n);
    split_runs(sa, rank, 0, static_cast<std::uint32_t>(n), unsorted);

    // Prefix doubling (Larsson–Sadakane): each round sorts the groups left
    // by the previous one from h to 2h symbols.  Ranks refined earlier in a
    // round are finer than h, which keeps the order right and only speeds
    // the round up.
    for (std::size_t h = 2; !unsorted.empty(); h *= 2) {
        next.clear();
        for (const Group g : unsorted) sort_group(n, h, sa, rank, g, next, runs);
        unsorted.swap(next);
    }
}

void sort_suffixes(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank) {
    if (n < kLibrarySortThreshold) {
        sort_short_suffixes(text, n, sa, rank);
        return;
    }
    check_text_length(n);
    // The library writes signed 32-bit entries; they are reinterpreted in place.
    static_assert(sizeof(saidx_t) == sizeof(std::uint32_t));
    const saint_t rc = divsufsort(text, reinterpret_cast<saidx_t*>(sa), static_cast<saidx_t>(n));
    require(rc == 0, "assertion failed: divsufsort returned a non-zero status");
}

std::vector<std::uint32_t> build_suffix_array(const std::uint8_t* text, std::size_t n) {
    check_text_length(n);  // before gigabytes are allocated for nothing
    // One spare slot: the LPF pass appends a sentinel without reallocating.
    std::vector<std::uint32_t> sa;
    sa.reserve(n + 1);
    sa.resize(n);
    std::vector<std::uint32_t> rank(n < kLibrarySortThreshold ? n : 0);
    sort_suffixes(text, n, sa.data(), rank.data());
    return sa;
}

std::vector<std::uint32_t> build_lcp_array(const std::uint8_t* text, std::size_t n,
                                           const std::vector<std::uint32_t>& sa) {
    std::vector<std::uint32_t> lcp;
    lcp.reserve(n + 1);
    lcp.resize(n, 0);
    std::vector<std::uint32_t> rank(n);
    for (std::size_t r = 0; r < n; ++r) rank[sa[r]] = static_cast<std::uint32_t>(r);
    std::uint32_t h = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::uint32_t r = rank[j];
        if (r == 0) {
            h = 0;
            continue;
        }
        const std::size_t p = sa[r - 1];
        while (j + h < n && p + h < n && text[j + h] == text[p + h]) ++h;
        lcp[r] = h;
        if (h > 0) --h;
    }
    return lcp;
}

}  // namespace parsimetrics
