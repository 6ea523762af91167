// Suffix sorting by prefix doubling: groups of suffixes known to share
// their first h symbols are refined until every suffix has a rank of its own.
// Only the prefix keys call it, for the ties their keys leave (natural
// language ties some 45% of its suffixes over keys of 7 symbols, in small
// groups that one round tells apart), so it has no threshold of its own.
//
// Each round radix sorts a group's members by the rank of the suffix h
// further on and doubles h: O(n log n) at worst.  Periodic ties, which
// plain doubling would spend a round per doubling on, are ordered by their
// chains of whole periods at once (sort_group).
#include "suffix_sort_doubling.hpp"

#include <algorithm>
#include <bit>
#include <utility>

namespace parsimetrics::sorting {

namespace {

// The refinement of groups of suffixes that share their first h symbols.
// Entries being sorted hold a key above the low `pos_bits` bits and a
// position in them.
class Refiner {
public:
    Refiner(std::size_t n, unsigned pos_bits, std::uint32_t* sa, std::uint32_t* rank, Word* wide, std::size_t widest)
        : n_(n), pos_bits_(pos_bits), sa_(sa), rank_(rank), entries_(wide), tmp_(wide + widest), widest_(widest) {}

    // Every group of `unsorted`, whose members share their first h symbols,
    // is told apart completely.
    void run(std::size_t h, std::vector<Group>& unsorted) {
        // Prefix doubling (Larsson–Sadakane): each round sorts the groups
        // left by the previous one from h to 2h symbols.  Ranks refined
        // earlier in a round are finer than h, which keeps the order right
        // and only speeds the round up.
        for (; !unsorted.empty(); h *= 2) {
            next_.clear();
            for (const Group g : unsorted) sort_group(h, g);
            unsorted.swap(next_);
        }
    }

    // The same, for the groups that the ranks show: the first round finds
    // them by walking the ranks (a group is refined within its own range,
    // so the ranks after it are still as they were).
    void run_ranked(std::size_t h) {
        next_.clear();
        for (std::uint32_t r = 0; r < n_;) {
            std::uint32_t end = r + 1;
            while (end < n_ && rank_[sa_[end]] == r) ++end;
            if (end - r > 1) sort_group(h, {r, end});
            r = end;
        }
        std::vector<Group> unsorted;
        unsorted.swap(next_);
        run(2 * h, unsorted);
    }

private:
    // sa_[begin, end) holds the members in order and key_at(r) the key of
    // the one at rank r, equal keys adjacent: every run of equal keys becomes
    // a group ranked by its first index, queued on `out` when it has two or
    // more members.
    template <class KeyAt>
    void split_runs(std::uint32_t begin, std::uint32_t end, KeyAt key_at, std::vector<Group>& out) {
        std::uint32_t head = begin;
        while (head < end) {
            const auto key = key_at(head);
            std::uint32_t tail = head;
            for (; tail < end && key_at(tail) == key; ++tail) rank_[sa_[tail]] = head;
            if (tail - head > 1) out.push_back({head, tail});
            head = tail;
        }
    }

    // While sort_group orders a group, each member whose chain length is
    // known holds it in its rank, marked by the top bit (ranks are below
    // 2^31): no array of n entries beside the ranks.  Nothing else reads a
    // member's rank until the group is split into runs, which ranks every
    // member anew.
    static constexpr std::uint32_t kChainMark = 0x80000000u;
    bool member(std::size_t c, std::uint32_t id) const {
        return c < n_ && (rank_[c] == id || (rank_[c] & kChainMark) != 0);
    }
    std::uint32_t doubling_key(std::size_t i, std::size_t h) const {
        return i + h < n_ ? rank_[i + h] + 1 : 0;  // 0 past the end
    }
    bool chain_known(std::size_t i) const { return (rank_[i] & kChainMark) != 0; }
    std::uint32_t chain_length(std::size_t i) const { return rank_[i] & ~kChainMark; }

    void sort_entries(Group r, Word max_key) {
        const unsigned top = pos_bits_ + static_cast<unsigned>(std::bit_width(max_key));
        std::size_t unlimited = kUnbounded;
        radix_sort(entries_, tmp_, r.end - r.begin, top > 8 ? top - 8 : 0, pos_bits_, unlimited);
    }

    // A range wider than the entries' room is sorted in sa itself, by
    // comparisons: slower than the radix sort of its entries, but in no
    // memory beyond sa and rank.  The ranks are written only once every
    // run is marked (by the top bit of its first member), since a member's
    // key may be the rank of another member of the same range.
    void sort_in_place(std::size_t h, Group r) {
        std::uint32_t* const first = sa_ + r.begin;
        std::uint32_t* const last = sa_ + r.end;
        std::sort(first, last, [&](std::uint32_t a, std::uint32_t b) {
            return doubling_key(a, h) < doubling_key(b, h);
        });
        if (doubling_key(*first, h) == doubling_key(*(last - 1), h)) {
            next_.push_back(r);
            return;
        }
        constexpr std::uint32_t kRunStart = 0x80000000u;  // positions are below 2^31
        for (std::uint32_t* k = last - 1; k > first; --k)
            if (doubling_key(*k, h) != doubling_key(*(k - 1), h)) *k |= kRunStart;
        *first |= kRunStart;
        std::uint32_t head = r.begin;
        for (std::uint32_t k = r.begin; k < r.end; ++k) {
            if ((sa_[k] & kRunStart) != 0) {
                sa_[k] &= ~kRunStart;
                if (k - head > 1) next_.push_back({head, k});
                head = k;
            }
            rank_[sa_[k]] = head;
        }
        if (r.end - head > 1) next_.push_back({head, r.end});
    }

    void sort_by_doubling(std::size_t h, Group r) {
        if (r.end - r.begin > widest_) {
            sort_in_place(h, r);
            return;
        }
        // A range whose keys all agree stays one group, ranked as it is.
        const std::uint32_t first = doubling_key(sa_[r.begin], h);
        bool differ = false;
        Word max_key = 0;
        for (std::uint32_t k = r.begin; k < r.end; ++k) {
            const std::uint32_t key = doubling_key(sa_[k], h);
            differ |= key != first;
            max_key = std::max<Word>(max_key, key);
            entries_[k - r.begin] = (Word{key} << pos_bits_) | sa_[k];
        }
        if (!differ) {
            next_.push_back(r);
            return;
        }
        sort_entries(r, max_key);
        const Word pos_mask = (Word{1} << pos_bits_) - 1;
        for (std::uint32_t k = r.begin; k < r.end; ++k)
            sa_[k] = static_cast<std::uint32_t>(entries_[k - r.begin] & pos_mask);
        split_runs(r.begin, r.end, [&](std::uint32_t k) { return entries_[k - r.begin] >> pos_bits_; }, next_);
    }

    // Sorts one group of suffixes that share their first h symbols u, and
    // queues its unsorted parts for the next round (sorted by 2h symbols).
    //
    // Plain doubling orders members by the rank of the suffix h further on.
    // On periodic text that takes a round per doubling; instead, with p a
    // period of u, a member i whose i + p is also a member reads w = u[0, p)
    // and continues as that member.  Following the chain i, i + p, ... while
    // it stays in the group gives suffix(i) = w^(k+1) suffix(j),
    // j = i + (k+1)p outside the group, and suffix(j) sorts below or above
    // every member.  Below: the fewer copies of w, the smaller the suffix;
    // above: the more, the smaller.  That (side, k) order, refined by the
    // usual doubling rank, sorts every chain at once.
    void sort_group(std::size_t h, Group g) {
        const std::uint32_t id = g.begin;

        // A period of u that chains: if members s and s + d both start with
        // u and d < h, u repeats every d symbols.  The gap from one member to
        // the nearest member after it is tried; without one below h, plain
        // doubling.
        const std::size_t s = sa_[g.begin];
        std::size_t p = h;
        for (std::uint32_t k = g.begin + 1; k < g.end; ++k)
            if (sa_[k] > s && sa_[k] - s < p) p = sa_[k] - s;
        if (p == h) {
            sort_by_doubling(h, g);
            return;
        }

        // Chain lengths, each member's computed once: walk forward over
        // members not yet known, then fill the walk backwards.
        for (std::uint32_t k = g.begin; k < g.end; ++k) {
            const std::size_t i = sa_[k];
            if (chain_known(i)) continue;
            std::size_t last = i, steps = 0, base = 0;
            for (;;) {
                const std::size_t c = last + p;
                if (!member(c, id)) break;
                if (chain_known(c)) {
                    base = std::size_t{chain_length(c)} + 1;
                    break;
                }
                last = c;
                ++steps;
            }
            for (std::size_t t = 0; t <= steps; ++t)
                rank_[i + t * p] = kChainMark | static_cast<std::uint32_t>(base + steps - t);
        }

        // Order by side and chain length without sorting: chain ends (k = 0)
        // are gathered at the front (below) and the back (above); the
        // members with k + 1 are exactly i - p for the members i with k, so a
        // queue over each side emits it by k, ascending below, descending
        // above.
        auto side_above = [&](std::uint32_t i) {
            const std::size_t j = i + p * (std::size_t{chain_length(i)} + 1);
            return j < n_ && rank_[j] > id;
        };
        std::uint32_t front = g.begin, back = g.end;
        for (std::uint32_t k = g.begin; k < back;) {
            const std::uint32_t i = sa_[k];
            if (chain_length(i) != 0) {
                ++k;
            } else if (side_above(i)) {
                std::swap(sa_[k], sa_[--back]);
            } else {
                std::swap(sa_[k], sa_[front++]);
                ++k;
            }
        }
        for (std::uint32_t head = g.begin, tail = front; head < tail; ++head) {
            const std::uint32_t i = sa_[head];
            if (i >= p && member(i - p, id)) sa_[tail++] = static_cast<std::uint32_t>(i - p);
        }
        for (std::uint32_t head = g.end, tail = back; head > tail; --head) {
            const std::uint32_t i = sa_[head - 1];
            if (i >= p && member(i - p, id)) sa_[--tail] = static_cast<std::uint32_t>(i - p);
        }

        // Members with equal side and chain length, now adjacent, are refined
        // by doubling.
        runs_.clear();
        split_runs(g.begin, g.end, [&](std::uint32_t k) {
            const std::uint32_t i = sa_[k];
            return std::pair{side_above(i), chain_length(i)};
        }, runs_);
        for (const Group r : runs_) sort_by_doubling(h, r);
    }

    std::size_t n_;
    unsigned pos_bits_;
    std::uint32_t* sa_;
    std::uint32_t* rank_;
    Word* entries_;  // per rank of the group being sorted: key and position
    Word* tmp_;      // the radix sort's other buffer
    std::size_t widest_;  // room for this many entries in each
    std::vector<Group> next_, runs_;
};

}  // namespace

void refine_ranked_groups(std::size_t n, unsigned pos_bits, std::uint32_t* sa, std::uint32_t* rank, Word* wide,
                          std::size_t widest, std::size_t h) {
    Refiner(n, pos_bits, sa, rank, wide, widest).run_ranked(h);
}

}  // namespace parsimetrics::sorting
