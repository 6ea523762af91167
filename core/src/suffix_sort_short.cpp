#include "suffix_sort_short.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <functional>

namespace parsimetrics {

namespace {

using Word = std::uint64_t;

// What the prefix keys may spend, in entries counted: random text needs one
// pass over the entries per byte of key that it takes to leave buckets of
// at most kSmall, and gets half a pass more.  Each counting pass over m
// entries is charged m plus kPassOverhead for its tables.
constexpr std::size_t kSmall = 48;
constexpr std::size_t kPassOverhead = 32;
constexpr std::size_t kTiedCheckFrom = 512;
constexpr std::size_t kSampleFrom = 64;
constexpr std::size_t kSampleInCacheFrom = 512;
constexpr std::size_t kFourTablesFrom = 1024;
std::size_t key_budget(std::size_t n) {
    std::size_t passes = 1;
    for (std::size_t reach = 256 * kSmall; reach < n; reach *= 256) ++passes;
    return passes * n + n / 2 + kPassOverhead + (passes - 1) * 256 * kPassOverhead;
}
constexpr std::size_t kUnbounded = SIZE_MAX;

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

void insertion_sort(Word* a, std::size_t m) {
    for (std::size_t i = 1; i < m; ++i) {
        const Word v = a[i];
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
                bool into_b = false) {
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
        // A first byte shared by most suffixes (long runs, short periods):
        // induced sorting will do better.
        if (shift == 56 && bounded && *std::max_element(end.begin(), end.end()) > m / 2) return false;
        if (end[(a[0] >> shift) & 0xFF] == m) {
            if (!more) {
                if (into_b) std::copy(a, a + m, b);
                return true;
            }
            shift = next;
            continue;
        }
        std::uint32_t sum = 0;
        for (std::uint32_t& e : end) {
            const std::uint32_t c = e;
            e = sum;
            sum += c;
        }
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

// The symbols that occur in a text, numbered 0 .. size - 1 in order.
struct Alphabet {
    std::array<std::uint8_t, 256> code{};
    unsigned size = 0;

    Alphabet(const std::uint8_t* text, std::size_t n) {
        std::array<bool, 256> seen{};
        for (std::size_t i = 0; i < n; ++i) seen[text[i]] = true;
        // Numbered without a branch, and counted in a local: a member
        // counter would go through memory on every step, since the byte
        // stores into `code` may alias it.  Absent symbols get a number too,
        // which nothing reads.
        unsigned count = 0;
        for (unsigned c = 0; c < 256; ++c) {
            code[c] = static_cast<std::uint8_t>(count);
            count += seen[c] ? 1u : 0u;
        }
        size = count;
    }
};

// The first 16 bits of m entries, least significant byte first (two
// stable passes); the caller then sorts every run that shares them on with
// radix_sort.  Below some 10^5 entries of random text such runs are few and
// short, so this avoids the mispredicted insertion sorts of a
// most-significant-first pass that leaves a few entries in each of 256
// buckets.  False as radix_sort.
bool sort_by_two_bytes_first(Word* a, Word* b, std::size_t m, std::size_t& budget) {
    std::array<std::uint32_t, 256> high{}, next{};
    for (std::size_t i = 0; i < m; ++i) {
        ++high[a[i] >> 56];
        ++next[(a[i] >> 48) & 0xFF];
    }
    if (budget != kUnbounded) {
        // As radix_sort: a first byte shared by most suffixes, or no budget.
        if (*std::max_element(high.begin(), high.end()) > m / 2 || budget < m + kPassOverhead) return false;
        budget -= m + kPassOverhead;
    }
    auto starts = [](std::array<std::uint32_t, 256>& c) {
        std::uint32_t sum = 0;
        for (std::uint32_t& e : c) {
            const std::uint32_t k = e;
            e = sum;
            sum += k;
        }
    };
    starts(next);
    starts(high);
    for (std::size_t i = 0; i < m; ++i) b[next[(a[i] >> 48) & 0xFF]++] = a[i];
    for (std::size_t i = 0; i < m; ++i) a[high[b[i] >> 56]++] = b[i];
    return true;
}

struct Group {
    std::uint32_t begin, end;  // a range of ranks whose suffixes are not yet told apart
};

// The refinement of groups of suffixes that share their first h symbols.
// Entries being sorted hold a key above the low `pos_bits` bits and a
// position in them.
class Refiner {
public:
    Refiner(std::size_t n, unsigned pos_bits, std::uint32_t* sa, std::uint32_t* rank, Word* wide)
        : n_(n), pos_bits_(pos_bits), sa_(sa), rank_(rank), entries_(wide), tmp_(wide + n) {}

    // Every group of `unsorted` is told apart completely; the first has its
    // members sharing h symbols.
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

    // After entries[begin, end) were sorted by key: every run of equal keys
    // becomes a group ranked by its first index, queued on `out` when it has
    // two or more members.  The keys are stripped into sa.
    void split_runs(std::uint32_t begin, std::uint32_t end, std::vector<Group>& out) {
        const Word pos_mask = (Word{1} << pos_bits_) - 1;
        std::uint32_t head = begin;
        while (head < end) {
            const Word key = entries_[head] >> pos_bits_;
            std::uint32_t tail = head;
            for (; tail < end && entries_[tail] >> pos_bits_ == key; ++tail) {
                const auto i = static_cast<std::uint32_t>(entries_[tail] & pos_mask);
                sa_[tail] = i;
                rank_[i] = head;
            }
            if (tail - head > 1) out.push_back({head, tail});
            head = tail;
        }
    }

private:
    bool member(std::size_t c, std::uint32_t id) const { return c < n_ && rank_[c] == id; }
    std::uint32_t doubling_key(std::size_t i, std::size_t h) const {
        return i + h < n_ ? rank_[i + h] + 1 : 0;  // 0 past the end
    }
    bool chain_known(std::size_t i) const { return chain_[i] >> 32 == stamp_; }
    std::uint32_t chain_length(std::size_t i) const { return static_cast<std::uint32_t>(chain_[i]); }

    void sort_entries(Group r, Word max_key) {
        const unsigned top = pos_bits_ + static_cast<unsigned>(std::bit_width(max_key));
        std::size_t unlimited = kUnbounded;
        radix_sort(entries_ + r.begin, tmp_ + r.begin, r.end - r.begin, top > 8 ? top - 8 : 0, pos_bits_, unlimited);
    }

    void sort_by_doubling(std::size_t h, Group r) {
        // A range whose keys all agree stays one group, ranked as it is.
        const std::uint32_t first = doubling_key(sa_[r.begin], h);
        bool differ = false;
        Word max_key = 0;
        for (std::uint32_t k = r.begin; k < r.end; ++k) {
            const std::uint32_t key = doubling_key(sa_[k], h);
            differ |= key != first;
            max_key = std::max<Word>(max_key, key);
            entries_[k] = (Word{key} << pos_bits_) | sa_[k];
        }
        if (!differ) {
            next_.push_back(r);
            return;
        }
        sort_entries(r, max_key);
        split_runs(r.begin, r.end, next_);
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
        // members not yet known, then fill the walk backwards.  A stamp per
        // group tells this group's lengths from those left by earlier ones.
        if (stamp_ == 0) chain_.assign(n_, 0);
        ++stamp_;
        const Word stamp = Word{stamp_} << 32;
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
            for (std::size_t t = 0; t <= steps; ++t) chain_[i + t * p] = stamp | (base + steps - t);
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

        // Members with equal side and chain length are refined by doubling.
        const Word longest = n_;
        for (std::uint32_t k = g.begin; k < g.end; ++k) {
            const std::uint32_t i = sa_[k];
            const Word chain = chain_length(i);
            const Word key = side_above(i) ? (longest + 1) + (longest - chain) : chain;
            entries_[k] = (key << pos_bits_) | i;
        }
        runs_.clear();
        split_runs(g.begin, g.end, runs_);
        for (const Group r : runs_) sort_by_doubling(h, r);
    }

    std::size_t n_;
    unsigned pos_bits_;
    std::uint32_t* sa_;
    std::uint32_t* rank_;
    Word* entries_;  // per rank: key and position being sorted
    Word* tmp_;      // per rank: the radix sort's other buffer
    std::uint32_t stamp_ = 0;
    // Per position: a stamp of the group being sorted above its chain
    // length.  Only periodic ties need it, so it is allocated on first use.
    std::vector<Word> chain_;
    std::vector<Group> next_, runs_;
};

// Induced sorting (SA-IS, Nong, Zhang and Chan) of s[0, n) over symbols
// 0 .. k - 1, as if followed by a sentinel below every symbol: linear time
// whatever the text, which is what repetitive texts need.
//
// A suffix is S-type when it is smaller than the one after it, L-type
// otherwise (the last one is L-type, being greater than the sentinel);
// leftmost-small (LMS) when S-type after an L-type one.  No array of types
// is kept: a suffix j placed while inducing is known to be L-type (or
// S-type), and then the type of j - 1 follows from s[j - 1] against s[j]
// alone.  That type is recorded in the entry itself when it is placed, so
// that each pass knows without looking again which entries to induce from.
//
// Working memory is sa itself (the reduced problem sorts in its first m
// entries, its text in its last m) and 2k counters per level.
namespace induction {

using Index = std::uint32_t;
// LMS suffixes found while sorting the LMS substrings, kept for compacting.
constexpr Index kLms = Index{1} << 30;

// Entries placed by the first pass over the L-type suffixes complemented
// (negative as signed) are skipped by it; the entries it scans it
// complements, so that the pass over the S-type suffixes induces from
// exactly those it skipped.
bool is_positive(Index v) { return static_cast<std::int32_t>(v) > 0; }

// Calls f(p) for every LMS position p, from the last to the first.
template <class Symbol, class F>
void for_each_lms_descending(const Symbol* s, std::size_t n, F&& f) {
    bool next_small = false;  // the last suffix is L-type
    for (std::size_t i = n - 1; i-- > 0;) {
        const bool small = s[i] < s[i + 1] || (s[i] == s[i + 1] && next_small);
        if (!small && next_small) f(static_cast<Index>(i + 1));
        next_small = small;
    }
}

// Starts (heads) or ends (tails) of the buckets of symbols lo .. hi - 1.
void heads(const Index* count, Index* bucket, Index lo, Index hi) {
    Index sum = 0;
    for (Index c = lo; c < hi; ++c) bucket[c] = sum, sum += count[c];
}
void tails(const Index* count, Index* bucket, Index lo, Index hi) {
    Index sum = 0;
    for (Index c = lo; c < hi; ++c) sum += count[c], bucket[c] = sum;
}

// The next free place of each bucket while inducing, that of the bucket
// last placed into kept out of memory: runs of placements into one bucket
// (long in repetitive text) then wait on no store.
class BucketCursor {
public:
    BucketCursor(Index* bucket, Index first) : bucket_(bucket), current_(first), place_(bucket[first]) {}
    Index& of(Index c) {
        if (c != current_) {
            bucket_[current_] = place_;
            current_ = c;
            place_ = bucket_[c];
        }
        return place_;
    }

private:
    Index* bucket_;
    Index current_, place_;
};

// The L-type suffixes, left to right, from the LMS suffixes placed in sa
// (the sentinel's predecessor n - 1 first).  Entry j whose predecessor is
// S-type is placed complemented.
template <class Symbol>
void induce_large(const Symbol* s, Index* sa, std::size_t n, Index* bucket) {
    BucketCursor cursor(bucket, s[n - 1]);
    auto place = [&](Index j) {
        const Symbol c = s[j];
        const Index before = j > 0 ? j - 1 : 0;  // j = 0 compares with itself: not smaller
        sa[cursor.of(c)++] = j ^ (0u - Index{s[before] < c});  // arithmetic: the compare is unpredictable
    };
    place(static_cast<Index>(n - 1));
    for (std::size_t r = 0; r < n; ++r) {
        const Index v = sa[r];
        sa[r] = ~v;
        if (is_positive(v)) place(v - 1);
    }
}

// The S-type suffixes, right to left, from the entries induce_large left
// positive.  When sorting LMS substrings (kFinal false), the LMS suffixes
// are placed marked with kLms and the entries skipped stay as they are;
// otherwise an LMS suffix is placed complemented and every entry ends as
// its position.
template <bool kFinal, class Symbol>
void induce_small(const Symbol* s, Index* sa, std::size_t n, Index* bucket) {
    BucketCursor cursor(bucket, s[n - 1]);
    for (std::size_t r = n; r-- > 0;) {
        const Index v = sa[r];
        if (kFinal ? is_positive(v) : v - 1 < kLms - 1) {
            const Index j = v - 1;
            const Symbol c = s[j];
            // j = 0 compares with itself: not LMS, though nothing precedes
            // it either, which the final pass marks as it marks LMS ones.
            const Index lms = 0u - Index{(kFinal && j == 0) || s[j - (j > 0)] > c};  // all ones or none
            sa[--cursor.of(c)] = kFinal ? j ^ lms : j | (lms & kLms);
        } else if (kFinal) {
            sa[r] = ~v;
        }
    }
}

// Whether s[a, a + length) equals s[b, b + length), both inside s[0, n).
// Substrings to name are mostly a few symbols long: on a little-endian
// machine those that fit in a word compare as one, masked, when a word can
// be read at both.
template <class Symbol>
bool same_symbols(const Symbol* s, std::size_t n, Index a, Index b, Index length) {
    constexpr std::size_t kFit = sizeof(Word) / sizeof(Symbol);
    if (std::endian::native == std::endian::little && length < kFit && std::max(a, b) + kFit <= n) {
        Word x, y;
        std::memcpy(&x, s + a, sizeof x);
        std::memcpy(&y, s + b, sizeof y);
        return ((x ^ y) & ((Word{1} << (length * sizeof(Symbol) * 8)) - 1)) == 0;
    }
    return std::equal(s + a, s + a + length, s + b);
}

// Sorts the suffixes of s[0, n) into sa[0, n); `count` and `bucket` hold k
// counters each and `scratch` at least n for the levels below (which reuse
// it for theirs, so after one returns this level counts again when its
// counters live there).
template <class Symbol>
void sort_level(const Symbol* s, Index* sa, std::size_t n, Index k, Index* count, Index* bucket, Index* scratch,
                bool counters_in_scratch) {
    if (n == 0) return;
    Index lo = 0, hi = k;  // the symbols that occur lie in [lo, hi)
    auto count_symbols = [&] {
        if constexpr (sizeof(Symbol) == 1) {
            // The range of the bytes first (a vectorized pass), so that
            // only its counters are cleared and summed.  Texts of a few
            // symbols are the usual case here: four tables pay off from
            // short lengths on.
            Symbol smallest = s[0], largest = s[0];
            for (std::size_t i = 1; i < n; ++i) {
                smallest = std::min(smallest, s[i]);
                largest = std::max(largest, s[i]);
            }
            lo = smallest;
            hi = Index{largest} + 1;
            std::fill(count + lo, count + hi, 0);
            count_bytes(n, [&](std::size_t i) { return s[i]; }, count, lo, hi, 64);
        } else {
            std::fill(count, count + k, 0);
            for (std::size_t i = 0; i < n; ++i) ++count[s[i]];
            while (count[lo] == 0) ++lo;
            while (count[hi - 1] == 0) --hi;
        }
    };
    count_symbols();

    // LMS suffixes at the ends of their buckets, counted.  The length of
    // the substring from each to the next LMS position (or to the end: a
    // length no other can have, as the substring that runs into the
    // sentinel equals no other) is wanted for naming.  Where scratch is free
    // (the top level), the lengths go at p / 2 and the positions in order
    // at its end, saving two scans for LMS positions; otherwise they are
    // scanned for again.
    Index* const spare = counters_in_scratch ? nullptr : scratch;
    std::fill(sa, sa + n, 0);
    tails(count, bucket, lo, hi);
    std::size_t m = 0;
    Index next = 0;
    auto length_at = [&](Index p) { return next == 0 ? static_cast<Index>(n) : next - p + 1; };
    for_each_lms_descending(s, n, [&](Index p) {
        sa[--bucket[s[p]]] = p;
        ++m;
        if (spare != nullptr) {
            spare[p / 2] = length_at(p);
            spare[n - m] = p;  // m <= n / 2, so above every p / 2
        }
        next = p;
    });

    if (m > 0) {
        // Induced from them in any order, the LMS suffixes come out sorted
        // by their LMS substrings (from one LMS position to the next).
        heads(count, bucket, lo, hi);
        induce_large(s, sa, n, bucket);
        tails(count, bucket, lo, hi);
        induce_small<false>(s, sa, n, bucket);
        std::size_t sorted = 0;
        for (std::size_t r = 0; r < n; ++r) {
            const Index v = sa[r];
            sa[sorted] = v & (kLms - 1);
            sorted += v >> 30 == 1;
        }

        // Name the substrings by rank, equal ones alike.  Positions are at
        // least two apart, so the name of the substring at p (and without
        // spare room its length before it) fits at m + p / 2.
        std::fill(sa + m, sa + n, 0);
        Index* const lengths = spare != nullptr ? spare : sa + m;
        if (spare == nullptr) {
            next = 0;
            for_each_lms_descending(s, n, [&](Index p) {
                sa[m + p / 2] = length_at(p);
                next = p;
            });
        }
        Index names = 0, previous = 0, previous_length = 0;
        for (std::size_t r = 0; r < m; ++r) {
            const Index p = sa[r];
            const Index length = lengths[p / 2];
            names += length != previous_length || !same_symbols(s, n, p, previous, length);
            previous = p;
            previous_length = length;
            sa[m + p / 2] = names;  // from 1, 0 being no LMS position
        }
        // The reduced text: the names in text order, at the end of sa.
        Index* reduced = sa + n - m;
        // Written whether a name or not (t - 1 >= i is a place already
        // read), so that no branch follows the irregular LMS positions.
        for (std::size_t i = n, t = n; i-- > m;) {
            const Index name = sa[i];
            sa[t - 1] = name - 1;
            t -= name != 0;
        }

        // The order of its suffixes is the order of the LMS suffixes.  The
        // levels below keep their counters within scratch[0, max(2 names,
        // m)), which leaves the positions kept at its end alone when 2 names
        // <= n - m (so on repetitive text, where names are few).
        const bool positions_kept = spare != nullptr && (names == m || 2 * std::size_t{names} <= n - m);
        if (names <= 256 && names < m) {
            // Few names (repetitive text) fit in bytes, rewritten in place
            // (byte i over entry i / 4, already read), which the byte
            // level's counting and comparing handle faster.
            auto* bytes = reinterpret_cast<std::uint8_t*>(reduced);
            for (std::size_t i = 0; i < m; ++i) bytes[i] = static_cast<std::uint8_t>(reduced[i]);
            sort_level(static_cast<const std::uint8_t*>(bytes), sa, m, names, scratch, scratch + names, scratch, true);
            if (counters_in_scratch) count_symbols();
        } else if (names < m) {
            sort_level(reduced, sa, m, names, scratch, scratch + names, scratch, true);
            if (counters_in_scratch) count_symbols();
        } else {
            for (std::size_t i = 0; i < m; ++i) sa[reduced[i]] = static_cast<Index>(i);
        }
        const Index* positions = reduced;
        if (positions_kept) {
            positions = spare + (n - m);
        } else {
            std::size_t t = n;
            for_each_lms_descending(s, n, [&](Index p) { sa[--t] = p; });
        }
        for (std::size_t r = 0; r < m; ++r) sa[r] = positions[sa[r]];

        // Sorted LMS suffixes at the ends of their buckets (each one's place
        // is at or after its rank among them, so none is overwritten).
        std::fill(sa + m, sa + n, 0);
        tails(count, bucket, lo, hi);
        for (std::size_t r = m; r-- > 0;) {
            const Index j = sa[r];
            sa[r] = 0;
            sa[--bucket[s[j]]] = j;
        }
    }
    heads(count, bucket, lo, hi);
    induce_large(s, sa, n, bucket);
    tails(count, bucket, lo, hi);
    induce_small<true>(s, sa, n, bucket);
}

}  // namespace induction

}  // namespace

// Windows of 16 bytes at 32 places scattered over the text, and how many
// repeat one before them: on random text of any alphabet almost none (two
// random binary windows agree once in 65,536), so two repeats tell; on
// periodic, near-periodic and run-length text many do (a period of 37 gives
// two or more in 19 texts of 20 from 100 symbols on), and those are the texts
// whose prefix keys tie for long.  One place is drawn in each 32nd of the
// text, at a hashed offset: places a fixed step apart would all fall on
// distinct phases of a period prime to the step.  Costs a hundred or two
// cycles, without a branch.
std::size_t sampled_window_repeats(const std::uint8_t* text, std::size_t n) {
    if (n < kSampleFrom) return 0;
    static_assert(kSampleFrom >= kSampledWindow + kSampledWindows);
    constexpr std::size_t kWindow = kSampledWindow, kSamples = kSampledWindows;
    // Hashes of the windows by their top bits; two different windows meeting
    // in a slot (rare with four slots a window) only hide a repeat.
    constexpr unsigned kSlotBits = 7;
    std::array<Word, std::size_t{1} << kSlotBits> slot{};
    const Word stride = (n - kWindow + 1) / kSamples;
    std::size_t repeats = 0;
    for (Word t = 0; t < kSamples; ++t) {
        Word offset = (t + 1) * 0x9E3779B97F4A7C15u;
        offset ^= offset >> 29;
        const auto i = static_cast<std::size_t>(t * stride + (((offset & 0xFFFFFFFFu) * stride) >> 32));
        Word low, high;
        std::memcpy(&low, text + i, 8);
        std::memcpy(&high, text + i + 8, 8);
        const Word hash = ((low * 0x9E3779B97F4A7C15u) ^ high) * 0xBF58476D1CE4E5B9u;
        Word& at = slot[hash >> (64 - kSlotBits)];
        repeats += at == hash;
        at = hash;
    }
    return repeats;
}

namespace {

bool sampled_windows_repeat(const std::uint8_t* text, std::size_t n) {
    // Below 256 symbols induced sorting mispredicts enough per symbol that
    // the keys win unless the text is heavily repetitive (a long period
    // ties few suffixes over a key of 28 symbols or more).
    return sampled_window_repeats(text, n) >= (n < 256 ? kSampledWindows / 4 : 2);
}

}  // namespace

bool sort_by_prefix_keys(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                         WideWorkArray& wide, bool bounded) {
    if (n == 0) return true;
    // Keys that would tie for long are not tried; shorter texts have too
    // few places to sample.  A text of a few cache lines is sampled at once,
    // so that a repetitive one does not pay for the alphabet; a longer one
    // once the alphabet pass has brought it into cache.
    const bool sampled = bounded && n >= kSampleFrom;
    if (sampled && n < kSampleInCacheFrom && sampled_windows_repeat(text, n)) return false;

    // Symbols renumbered 0 .. k - 1 in order, b bits each.
    const Alphabet alphabet(text, n);
    const auto& code = alphabet.code;
    const unsigned k = alphabet.size;
    if (k == 1) {  // one symbol: the shorter suffix is the smaller
        for (std::size_t r = 0; r < n; ++r) sa[r] = static_cast<std::uint32_t>(n - 1 - r);
        return true;
    }
    if (sampled && n >= kSampleInCacheFrom && sampled_windows_repeat(text, n)) return false;

    // Entries: the first h symbols of a suffix in the top h * b bits (zeros
    // past the end), its position in the low pos_bits bits.
    const unsigned b = static_cast<unsigned>(std::bit_width(k - 1));
    const unsigned pos_bits = std::max(1u, static_cast<unsigned>(std::bit_width(n - 1)));
    const std::size_t h = (64 - pos_bits) / b;
    const unsigned key_bits = static_cast<unsigned>(h) * b;
    const Word keep = ~Word{0} << (64 - key_bits);

    wide.clear();  // growing copies nothing stale
    wide.resize(2 * n);
    Word* entries = wide.data();
    Word key = 0;
    for (std::size_t i = n; i-- > 0;) {
        key = ((key >> b) | (Word{code[text[i]]} << (64 - b))) & keep;
        entries[i] = key | i;
    }
    // Random text is told apart within two or three bytes of key; a text
    // whose keys tie much longer is left to induced sorting, which has no
    // use for them.
    // A handful of entries sort faster whole than through 256-entry tables.
    std::size_t budget = bounded ? key_budget(n) : kUnbounded;
    if (n <= kSmall)
        insertion_sort(entries, n);
    else if (!sort_by_two_bytes_first(entries, entries + n, n, budget))
        return false;

    // Runs of equal keys, found within each run of equal first 16 bits once
    // radix_sort has sorted it on (one pass over the entries for both).  A
    // suffix shorter than h symbols (padded with zeros) ties only with
    // suffixes that continue it with the smallest symbol, so it is a proper
    // prefix of them and sorts first; such short suffixes order among
    // themselves by length.  They leave the run as single ranks; the rest
    // share exactly h symbols.
    std::vector<Group> unsorted;
    std::size_t tied = 0;
    const Word pos_mask = (Word{1} << pos_bits) - 1;
    std::size_t bucket_end = 0;  // the end of the current run of equal first 16 bits
    for (std::size_t head = 0; head < n;) {
        if (head == bucket_end) {
            bucket_end = head + 1;
            while (bucket_end < n && entries[bucket_end] >> 48 == entries[head] >> 48) ++bucket_end;
            if (bucket_end - head > 1 &&
                !radix_sort(entries + head, entries + n + head, bucket_end - head, 40, 64 - key_bits, budget))
                return false;
        }
        std::size_t tail = head + 1;
        while (tail < bucket_end && (entries[tail] & keep) == (entries[head] & keep)) ++tail;
        if (tail == head + 1) {  // the usual case on random text: a key of its own
            const auto i = static_cast<std::uint32_t>(entries[head] & pos_mask);
            sa[head] = i;
            rank[i] = static_cast<std::uint32_t>(head);
            head = tail;
            continue;
        }
        std::size_t padded = head, full = tail;
        for (std::size_t r = head; r < tail; ++r) {
            const auto i = static_cast<std::uint32_t>(entries[r] & pos_mask);
            if (i + h > n)
                sa[padded++] = i;
            else
                sa[--full] = i;
        }
        std::sort(sa + head, sa + padded, std::greater<>());
        for (std::size_t r = head; r < padded; ++r) rank[sa[r]] = static_cast<std::uint32_t>(r);
        for (std::size_t r = padded; r < tail; ++r) rank[sa[r]] = static_cast<std::uint32_t>(padded);
        if (tail - padded > 1) {
            unsorted.push_back({static_cast<std::uint32_t>(padded), static_cast<std::uint32_t>(tail)});
            tied += tail - padded;
            // Most suffixes alike over the whole key: a periodic text, which
            // induced sorting handles better than doubling once its fixed
            // cost is paid off.  (Natural language ties up to some 45% over
            // keys of 7 symbols, in small groups that one doubling round
            // tells apart.)  Known as soon as the count passes the mark,
            // before the rest of the entries are sorted and ranked.
            if (bounded && n >= kTiedCheckFrom && tied > n / 2) return false;
        }
        head = tail;
    }
    if (!unsorted.empty()) Refiner(n, pos_bits, sa, rank, wide.data()).run(h, unsorted);
    return true;
}

void sort_by_induction(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* work) {
    // Bytes as they are: the buckets of the symbols that do not occur cost
    // nothing beyond their counters.
    std::array<std::uint32_t, 256> count, bucket;
    induction::sort_level(text, sa, n, 256, count.data(), bucket.data(), work, false);
}

}  // namespace parsimetrics
