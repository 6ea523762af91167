// Suffix sorting by buckets of leading symbols.  On random text a suffix
// is told apart from every other by its first few symbols, so sorting
// needs no induction over the whole suffix array (whose passes follow one
// another and cannot be shared out): each suffix is bucketed by its first
// symbols, and each bucket, a few thousand suffixes held in the caches,
// is sorted on its own.  Both steps split cleanly over two threads: the
// counting and scattering into buckets by halves of the text (the second
// half's suffixes after the first's in each bucket), the sorting by
// buckets.  Entries are built as the text is read in order, never at
// random, and scattered in two rounds, as many as rank and the unwritten
// part of sa hold; a round's other suffixes go to a sink.
//
// Symbols are ranked among those that occur, in as few bits as hold them
// (bytes of a text with more than 128 symbols as they are): a bucket is
// named by the first `lead` symbols (7 bits or more: seven of a binary
// text), and a bucket's suffixes are sorted by a 64-bit entry each, the
// bits of the symbols after those above the position (a text of 10^7
// symbols: 40 bits, five bytes or 40 binary symbols).  Past the end of the text a suffix is padded with zero bits,
// so that it sorts below or ties with every suffix it is a prefix of; ties
// are compared further.
#include "suffix_sort_buckets.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>
#include <vector>

#include "pool.hpp"
#include "suffix_sort_radix.hpp"
#include "work_array.hpp"

namespace parsimetrics {

using sorting::Word;

namespace {

using Words = std::vector<Word, WorkAllocator<Word>>;

// A bucket may hold this share of the suffixes (or kLeastLargestBucket):
// each sorting thread sorts through two words of scratch per suffix of
// the largest, at most 2/3 of a byte a symbol on two threads.  Random
// text of 65 symbols, the most a bucket takes, has 1/65 of the suffixes
// in each; natural language's blank takes more.
constexpr std::size_t kLargestBucketShare = 48;
constexpr std::size_t kLeastLargestBucket = 4096;

// Tied suffixes are compared kChunk symbols at a time; each thread may
// compare n / kChunkBudgetShare chunks (and kLeastChunkBudget), some 32
// symbols a suffix, read in order.  Random text ties a few thousand times
// at 10^8 symbols, a chunk or two each.  A repeat of r symbols costs some
// r^2 / 128 chunks, so repeats of up to some 8 sqrt(n) symbols (25,000
// at 10^7) still sort here, for at most a few nanoseconds a symbol more;
// a text with longer ones runs out and goes to the sorters that bear
// repeats.
constexpr std::size_t kChunk = 64;
constexpr std::size_t kChunkBudgetShare = 2;
constexpr std::size_t kLeastChunkBudget = 1024;

// An entry's key bits, at most: its position takes the rest.
constexpr unsigned kLargestKeyBits = 47;

// Buckets of more than sorting::kSmall suffixes are sorted by 8-bit digits
// of their keys, as many (two or three) as have at least kSpareDigitBits
// bits more than the bucket's size, so that equal digits are rare.  From
// kBucketSplitFrom suffixes on, by the top digit first: the parts it
// leaves, of 256 suffixes or more, sort by two more digits each within the
// private caches, where a bucket of 10^8 bytes' (3 MB of entries and as
// much scratch) would not (a sort of 10^8 bytes some 15% faster).  Parts
// of a few dozen would be insertion sorts that mispredict (binary text of
// 10^6 symbols, buckets of 7,800, 1.7 times slower split).
constexpr unsigned kSpareDigitBits = 5;

// Scattering into a bucket requests the line this many entries ahead for
// writing, so that the next line of each bucket is on its way.
constexpr std::size_t kScatterAhead = 32;

struct Layout {
    std::array<std::uint8_t, 256> rank{};  // of each byte among those that occur
    unsigned bits = 0;                     // per symbol
    unsigned lead = 0;                     // symbols naming the bucket
    unsigned key_bits = 0;                 // of the symbols after them, in an entry's top bits
    unsigned follow = 0;                   // symbols read for them

    std::size_t buckets() const { return std::size_t{1} << (lead * bits); }
    // The entry's bits below its key: the position.
    Word position_mask() const { return (Word{1} << (64 - key_bits)) - 1; }
};

// Calls f(p, c) for every p in [lo, hi), c the bucket of suffix p (the
// ranks of its first `lead` symbols, 0 past the end), rolled along the text.
template <class F>
void for_each_bucket(const std::uint8_t* s, std::size_t n, const Layout& layout, std::size_t lo, std::size_t hi,
                     F&& f) {
    const auto& rank = layout.rank;
    const unsigned bits = layout.bits;
    const std::size_t ahead = layout.lead - 1, mask = layout.buckets() - 1;
    std::size_t c = 0;
    for (std::size_t t = 0; t < ahead; ++t) c = c << bits | (lo + t < n ? rank[s[lo + t]] : 0);
    const std::size_t fast_end = n > ahead ? std::clamp(n - ahead, lo, hi) : lo;
    std::size_t p = lo;
    for (; p < fast_end; ++p) {
        c = (c << bits | rank[s[p + ahead]]) & mask;
        f(p, c);
    }
    for (; p < hi; ++p) {
        c = c << bits & mask;
        f(p, c);
    }
}

// Runs f(0) and f(1), on two threads of the pool when `threads` is 2.
template <class F>
void on_both(std::size_t threads, std::size_t n, F&& f) {
    if (threads < 2) {
        f(0);
        f(1);
        return;
    }
    join(Work{n}, [&] { f(0); }, [&] { f(1); });
}

// Calls f(p, c, key) for every p in [lo, hi): c the bucket of suffix p,
// key the bits of the symbols after those in an entry's top key_bits (the
// rest zero).  Bytes as they are are read a word at a time; ranks are
// rolled along the text.
template <class F>
void for_each_window(const std::uint8_t* s, std::size_t n, const Layout& layout, std::size_t lo, std::size_t hi,
                     F&& f) {
    const Word key_mask = ~layout.position_mask();
    std::size_t p = lo;
    if (layout.bits == 8) {
        for (; p < hi && p + 8 <= n; ++p) {
            Word w;
            std::memcpy(&w, s + p, sizeof w);
            if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
            f(p, static_cast<std::size_t>(w >> 56), w << 8 & key_mask);
        }
    }
    const unsigned bits = layout.bits, follow_bits = layout.follow * bits;
    const std::size_t ahead = layout.lead + layout.follow - 1;
    const Word mask = (Word{1} << (bits * (ahead + 1))) - 1;
    auto symbol = [&](std::size_t i) { return i < n ? Word{layout.rank[s[i]]} : 0; };
    Word z = 0;
    for (std::size_t t = 0; t < ahead; ++t) z = z << bits | symbol(p + t);
    for (; p < hi; ++p) {
        z = (z << bits | symbol(p + ahead)) & mask;
        f(p, static_cast<std::size_t>(z >> follow_bits), z << (64 - follow_bits) & key_mask);
    }
}

// Whether suffix p of s[0, n) sorts before suffix q, compared a chunk at a
// time while `budget` lasts (false once it is out, the order then unknown).
bool suffix_less(const std::uint8_t* s, std::size_t n, std::uint32_t p, std::uint32_t q, std::size_t& budget,
                 bool& spent) {
    const std::size_t length = n - std::max(p, q);
    for (std::size_t d = 0; d < length; d += kChunk) {
        if (budget == 0) {
            spent = true;
            return false;
        }
        --budget;
        const int order = std::memcmp(s + p + d, s + q + d, std::min(kChunk, length - d));
        if (order != 0) return order < 0;
    }
    return p > q;
}

// Sorts the positions at[0, m), whose entries tie, by comparing their
// suffixes: runs of two or three on random text.  False once the budget
// is out.
bool sort_tied(const std::uint8_t* s, std::size_t n, std::uint32_t* at, std::size_t m, std::size_t& budget) {
    bool spent = false;
    for (std::size_t i = 1; i < m; ++i) {
        const std::uint32_t v = at[i];
        std::size_t j = i;
        for (; j > 0 && suffix_less(s, n, v, at[j - 1], budget, spent); --j) at[j] = at[j - 1];
        if (spent) return false;
        at[j] = v;
    }
    return true;
}

// The entries of the buckets being sorted sit in rank and in sa past the
// suffixes of the round, two 32-bit slots to one, read and written bytewise
// so that no access through one type is assumed apart from the other.
inline Word load_entry(const std::uint32_t* slots, std::size_t i) {
    Word w;
    std::memcpy(&w, slots + 2 * i, sizeof w);
    return w;
}

// Sorts the m suffixes of one bucket by their entries, from slots (a and b
// m words of scratch each), writes their positions to out[0, m), ties
// compared further.  The entries come in order of position, and counting
// passes (stable, least significant digit first, every digit counted in
// one read) sort them by enough top digits that equal ones are rare; those
// are insertion sorted by the rest of the word as the positions are
// written out.
bool sort_bucket(const std::uint8_t* s, std::size_t n, const Layout& layout, const std::uint32_t* slots,
                 std::size_t m, Word* a, Word* b, std::uint32_t* out, std::size_t& budget, std::size_t split_from) {
    const unsigned low = 64 - layout.key_bits;
    unsigned sorted_low = low;  // the bits from here up are in order
    if (m <= sorting::kSmall) {
        for (std::size_t i = 0; i < m; ++i) a[i] = load_entry(slots, i);
        sorting::insertion_sort(a, m);
    } else if (m >= split_from) {
        // By the top digit first, into parts that stay in the private
        // caches while two more digits sort each.
        sorted_low = 64 - 8 * 3;
        std::array<std::uint32_t, 257> part{};
        for (std::size_t i = 0; i < m; ++i) ++part[(load_entry(slots, i) >> 56) + 1];
        std::inclusive_scan(part.begin(), part.end(), part.begin());
        std::array<std::uint32_t, 256> place;
        std::copy(part.begin(), part.end() - 1, place.begin());
        for (std::size_t i = 0; i < m; ++i) {
            const Word w = load_entry(slots, i);
            a[place[w >> 56]++] = w;
        }
        std::array<std::array<std::uint32_t, 256>, 2> count;
        for (std::size_t v = 0; v < 256; ++v) {
            Word* const x = a + part[v];
            Word* const y = b + part[v];
            const std::size_t size = part[v + 1] - part[v];
            if (size <= sorting::kSmall) {
                sorting::insertion_sort(x, size);
                continue;
            }
            for (auto& c : count) c.fill(0);
            for (std::size_t i = 0; i < size; ++i) {
                ++count[0][(x[i] >> 40) & 0xFF];
                ++count[1][(x[i] >> 48) & 0xFF];
            }
            for (auto& c : count) std::exclusive_scan(c.begin(), c.end(), c.begin(), std::uint32_t{0});
            for (std::size_t i = 0; i < size; ++i) y[count[0][(x[i] >> 40) & 0xFF]++] = x[i];
            for (std::size_t i = 0; i < size; ++i) x[count[1][(y[i] >> 48) & 0xFF]++] = y[i];
        }
    } else {
        const unsigned digits = std::min(3u, (static_cast<unsigned>(std::bit_width(m)) + kSpareDigitBits + 7) / 8);
        sorted_low = 64 - 8 * digits;
        std::array<std::array<std::uint32_t, 256>, 3> count{};
        for (std::size_t i = 0; i < m; ++i) {
            const Word w = load_entry(slots, i);
            for (unsigned d = 0; d < digits && d < count.size(); ++d) ++count[d][(w >> (56 - 8 * d)) & 0xFF];
        }
        for (unsigned d = digits; d-- > 0;) {
            auto& place = count[d];
            std::exclusive_scan(place.begin(), place.end(), place.begin(), std::uint32_t{0});
            const unsigned shift = 56 - 8 * d;
            if (d + 1 == digits) {
                for (std::size_t i = 0; i < m; ++i) {
                    const Word w = load_entry(slots, i);
                    a[place[(w >> shift) & 0xFF]++] = w;
                }
                continue;
            }
            for (std::size_t i = 0; i < m; ++i) {
                const Word w = a[i];
                b[place[(w >> shift) & 0xFF]++] = w;
            }
            std::swap(a, b);
        }
    }
    const Word position = layout.position_mask();
    for (std::size_t i = 0; i < m;) {
        if (i + 1 == m || (a[i] ^ a[i + 1]) >> sorted_low != 0) {
            out[i] = static_cast<std::uint32_t>(a[i] & position);
            ++i;
            continue;
        }
        // A run equal in the digits sorted: in order by the whole word,
        // then its ties compared further.
        std::size_t e = i + 2;
        while (e < m && (a[i] ^ a[e]) >> sorted_low == 0) ++e;
        sorting::insertion_sort(a + i, e - i);
        for (std::size_t r = i; r < e;) {
            std::size_t f = r + 1;
            while (f < e && (a[r] ^ a[f]) >> low == 0) ++f;
            for (std::size_t q = r; q < f; ++q) out[q] = static_cast<std::uint32_t>(a[q] & position);
            if (f - r > 1 && !sort_tied(s, n, out + r, f - r, budget)) return false;
            r = f;
        }
        i = e;
    }
    return true;
}

}  // namespace

BucketSort sort_by_buckets(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* rank,
                           std::size_t threads, std::size_t split_from) {
    if (n < 2) {
        if (n == 1) sa[0] = 0;
        return BucketSort::kSorted;
    }
    const std::size_t half = n / 2;
    const std::size_t bounds[3] = {0, half, n};

    // The symbols that occur, a half of the text per thread.
    std::array<std::array<std::uint32_t, 256>, 2> bytes{};
    on_both(threads, n, [&](std::size_t t) {
        sorting::count_bytes(
            bounds[t + 1] - bounds[t], [&](std::size_t i) { return text[bounds[t] + i]; }, bytes[t].data(), 0, 256,
            1024);
    });
    Layout layout;
    std::size_t sigma = 0;
    for (std::size_t c = 0; c < 256; ++c)
        if (bytes[0][c] + bytes[1][c] != 0) layout.rank[c] = static_cast<std::uint8_t>(sigma++);
    layout.bits = static_cast<unsigned>(std::bit_width(sigma - 1));
    if (sigma < 2) return BucketSort::kSkewed;
    // Bytes as they are, when they take 8 bits anyway: a key is then read
    // in one load.
    if (layout.bits == 8)
        for (std::size_t c = 0; c < 256; ++c) layout.rank[c] = static_cast<std::uint8_t>(c);
    layout.lead = (7 + layout.bits - 1) / layout.bits;
    layout.key_bits = std::min(kLargestKeyBits, 64 - static_cast<unsigned>(std::bit_width(n - 1)));
    layout.follow = (layout.key_bits + layout.bits - 1) / layout.bits;

    // Bucket sizes per half: by the first symbol straight from the byte
    // counts, else counted.
    const std::size_t buckets = layout.buckets();
    std::vector<std::uint32_t> count(2 * buckets);
    if (layout.lead == 1) {
        for (std::size_t t = 0; t < 2; ++t)
            for (std::size_t c = 0; c < 256; ++c) count[t * buckets + layout.rank[c]] += bytes[t][c];
    } else {
        on_both(threads, n, [&](std::size_t t) {
            std::uint32_t* const mine = count.data() + t * buckets;
            for_each_bucket(text, n, layout, bounds[t], bounds[t + 1], [&](std::size_t, std::size_t c) { ++mine[c]; });
        });
    }
    std::vector<std::uint32_t> start(buckets + 1);
    std::size_t largest = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        const std::size_t size = std::size_t{count[b]} + count[buckets + b];
        largest = std::max(largest, size);
        start[b + 1] = static_cast<std::uint32_t>(start[b] + size);
    }

    // Where each bucket's entries go: the first round fills rank and then
    // sa past its own suffixes (which later rounds write last), so that
    // two rounds hold any text; later rounds fill rank.
    const std::size_t room = n / 2;
    if (largest > std::min(room, std::max(n / kLargestBucketShare, kLeastLargestBucket)))
        return BucketSort::kSkewed;
    std::vector<std::uint32_t*> home(buckets);
    std::vector<std::size_t> round_ends;
    std::size_t b = 0;
    for (; b < buckets && start[b + 1] <= room; ++b) home[b] = rank + 2 * std::size_t{start[b]};
    const std::size_t past = b;
    while (b < buckets && 2 * (std::size_t{start[b + 1]} - start[past]) <= n - start[b + 1]) ++b;
    for (std::size_t c = past; c < b; ++c) home[c] = sa + start[b] + 2 * (std::size_t{start[c]} - start[past]);
    round_ends.push_back(b);
    while (b < buckets) {
        const std::size_t first = b;
        for (; b < buckets && start[b + 1] - start[first] <= room; ++b)
            home[b] = rank + 2 * (std::size_t{start[b]} - start[first]);
        round_ends.push_back(b);
    }

    const std::size_t sorting_threads = std::min<std::size_t>(threads, 2);
    std::array<Words, 2> scratch;
    for (std::size_t t = 0; t < sorting_threads; ++t) scratch[t].resize(2 * largest);
    std::array<std::vector<std::uint32_t*>, 2> place;
    for (auto& p : place) p.resize(buckets);
    std::vector<std::uint8_t> step(buckets);
    std::array<std::size_t, 2> budget;
    budget.fill(std::max(n / kChunkBudgetShare, kLeastChunkBudget));
    std::array<bool, 2> sorted{};

    std::size_t first = 0;
    for (const std::size_t last : round_ends) {
        // Each suffix's entry to its bucket, those of other rounds to a
        // sink, without a branch on the bucket: a half of the text per
        // thread, the second half's after the first's in each bucket.
        std::fill(step.begin(), step.end(), 0);
        std::fill(step.begin() + first, step.begin() + last, 2);
        on_both(threads, n, [&](std::size_t t) {
            std::uint32_t sink[2];
            std::uint32_t** const at = place[t].data();
            for (std::size_t c = 0; c < buckets; ++c)
                at[c] = c >= first && c < last ? home[c] + (t == 0 ? 0 : 2 * std::size_t{count[c]}) : sink;
            const std::uint8_t* const steps = step.data();
            for_each_window(text, n, layout, bounds[t], bounds[t + 1], [&](std::size_t p, std::size_t c, Word key) {
                std::uint32_t* const to = at[c];
                __builtin_prefetch(to + 2 * kScatterAhead, 1);
                const Word entry = key | p;
                std::memcpy(to, &entry, sizeof entry);
                at[c] = to + steps[c];
            });
        });

        // The buckets shared out by size: the first thread's from the
        // start, the second's from the end.
        std::size_t middle = first;
        const std::size_t halfway = (std::size_t{start[first]} + start[last]) / 2;
        while (middle < last && start[middle + 1] <= halfway) ++middle;
        const std::size_t ranges[3] = {first, sorting_threads == 2 ? middle : last, last};
        on_both(sorting_threads, n, [&](std::size_t t) {
            Word* const a = scratch[sorting_threads == 2 ? t : 0].data();
            sorted[t] = true;
            for (std::size_t c = ranges[t]; c < ranges[t + 1] && sorted[t]; ++c) {
                const std::size_t m = start[c + 1] - start[c];
                if (m != 0)
                    sorted[t] = sort_bucket(text, n, layout, home[c], m, a, a + largest, sa + start[c], budget[t],
                                            split_from);
            }
        });
        if (!sorted[0] || !sorted[1]) return BucketSort::kLongRepeats;
        first = last;
    }
    return BucketSort::kSorted;
}

}  // namespace parsimetrics
