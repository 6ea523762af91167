// Suffix sorting by induction (SA-IS, Nong, Zhang and Chan): linear time
// whatever the text, in the suffix array and one more array of n entries,
// which is what repetitive texts need: where the prefix keys
// tie for long, induced sorting costs the same as on random text.  On
// random text of many symbols it is slower than the keys, and on some long
// texts (exactly periodic ones, long runs of one symbol) slower than
// libdivsufsort; the dispatch in suffix_array.cpp holds those crossovers,
// measured by benchmarks/bench_sort.
#include "suffix_sort_induced.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>
#include <type_traits>
#include <vector>

#include "pool.hpp"
#include "suffix_sort_radix.hpp"

namespace parsimetrics {

namespace {

using sorting::Word;

// Induced sorting of s[0, n) over symbols 0 .. k - 1, as if followed by a
// sentinel below every symbol.
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
// entries, its text in its last m), 2k counters for the top level, and
// scratch: the counters of the levels below (two per name) and, at the top
// level, the lengths and positions of the LMS substrings where they fit.
namespace induction {

using Index = std::uint32_t;
// LMS suffixes found while sorting the LMS substrings, kept for compacting.
constexpr Index kLms = Index{1} << 30;
// A new name starts at this entry, while naming on two threads.
constexpr Index kNewName = Index{1} << 31;

// Entries placed by the first pass over the L-type suffixes complemented
// (negative as signed) are skipped by it; the entries it scans it
// complements, so that the pass over the S-type suffixes induces from
// exactly those it skipped.
bool is_positive(Index v) { return static_cast<std::int32_t>(v) > 0; }

// Levels shorter than this are mostly repetitive text: a shorter text
// comes to induced sorting only when the prefix keys gave up on it, and the
// reduced texts of long random ones are a small share of their work.  What
// pays off on random text only is kept for longer levels.
constexpr std::size_t kRandomLevelsFrom = std::size_t{1} << 17;

// On two threads, passes over at least this many entries that need no
// order among them (the naming, the mapping of ranks to positions, the
// ties of leading names) are shared out by halves; the induction itself
// runs on one.
constexpr std::size_t kSharedPassesFrom = std::size_t{1} << 15;

// Calls f(begin, end) over [0, count), in two halves at once on two threads.
template <class F>
void by_halves(std::size_t threads, std::size_t count, F&& f) {
    if (threads < 2 || count < kSharedPassesFrom) {
        f(std::size_t{0}, count);
        return;
    }
    join(Work{count}, [&] { f(std::size_t{0}, count / 2); }, [&] { f(count / 2, count); });
}

// Calls f(at(p)) for every LMS position p, from the last to the first,
// at(p) being called for every position p from n - 1 down to 1 in turn
// (what it works out as it goes, such as a key rolled along the text, is
// then known for the LMS ones).  On random text whether a position is LMS
// is a coin toss, which a branch per position would mispredict: on long
// levels the types are worked out without branches, the values gathered a
// chunk at a time and only then handed to f (on repetitive text, where the
// branch is well predicted, that costs some 7% more).  An f that returns
// false stops the walk.
template <class F, class Value>
bool go_on(F& f, const Value& value) {
    if constexpr (std::is_same_v<std::invoke_result_t<F&, const Value&>, bool>) {
        return f(value);
    } else {
        f(value);
        return true;
    }
}

template <class Symbol, class At, class F>
void for_each_lms_descending(const Symbol* s, std::size_t n, At&& at, F&& f) {
    if (n < kRandomLevelsFrom) {
        bool next_small = false;  // the last suffix is L-type
        for (std::size_t i = n - 1; i-- > 0;) {
            const bool small = s[i] < s[i + 1] || (s[i] == s[i + 1] && next_small);
            const auto value = at(static_cast<Index>(i + 1));
            if (!small && next_small && !go_on(f, value)) return;
            next_small = small;
        }
        return;
    }
    constexpr std::size_t kChunk = 512;
    std::array<std::invoke_result_t<At&, Index>, kChunk> found;
    Index next_small = 0;  // the last suffix is L-type
    for (std::size_t i = n - 1; i > 0;) {
        const std::size_t stop = i > kChunk ? i - kChunk : 0;
        std::size_t k = 0;
        while (i > stop) {
            --i;
            const Index small = Index{s[i] < s[i + 1]} | (Index{s[i] == s[i + 1]} & next_small);
            found[k] = at(static_cast<Index>(i + 1));
            k += next_small & (small ^ 1);
            next_small = small;
        }
        for (std::size_t q = 0; q < k; ++q)
            if (!go_on(f, found[q])) return;
    }
}

template <class Symbol, class F>
void for_each_lms_descending(const Symbol* s, std::size_t n, F&& f) {
    for_each_lms_descending(s, n, [](Index p) { return p; }, f);
}

// Starts (heads) or ends (tails) of the buckets of symbols lo .. hi - 1.
void heads(const Index* count, Index* bucket, Index lo, Index hi) {
    std::exclusive_scan(count + lo, count + hi, bucket + lo, Index{0});
}
void tails(const Index* count, Index* bucket, Index lo, Index hi) {
    std::inclusive_scan(count + lo, count + hi, bucket + lo);
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
            ++switches_;
        }
        return place_;
    }
    std::size_t switches() const { return switches_; }

private:
    Index* bucket_;
    Index current_, place_;
    std::size_t switches_ = 0;
};

// Where consecutive placements mostly change buckets (random text of more
// than two symbols), the cursor's branch mispredicts on a good share of
// them; the counters are then used in memory as they are.
class DirectBucket {
public:
    DirectBucket(Index* bucket, Index) : bucket_(bucket) {}
    Index& of(Index c) { return bucket_[c]; }
    std::size_t switches() const { return 0; }

private:
    Index* bucket_;
};

// The first pass of a level keeps the cursor and counts its changes of
// bucket; from more than one per this many entries, the other passes of
// a level of at least kRandomLevelsFrom symbols go without it.
constexpr std::size_t kDirectBucketsFrom = 5;

template <bool kDirect>
using Cursor = std::conditional_t<kDirect, DirectBucket, BucketCursor>;

// The passes that read the text at the positions held in sa ask, while
// they work on one entry, for the symbols (and buckets) that the entries
// kAhead and 2 kAhead places on will need, so that cache misses overlap
// instead of following one another.
constexpr std::size_t kAhead = 32;

// The place of the symbol before position v & (kLms - 1), clamped into the
// text: entries ahead may be marked, complemented or not yet written.
inline std::size_t before_clamped(Index v, std::size_t n) {
    const std::size_t p = v & (kLms - 1);
    return p < n ? p - (p > 0) : n - 1;
}

// Asks for what the entries ahead of the one being induced from will need:
// the symbol before `far`, and for reduced texts (whose buckets are many,
// so that their counters miss too) the bucket of the symbol before `near`,
// read now that it has been asked for.
template <class Symbol>
void prefetch_ahead(const Symbol* s, std::size_t n, const Index* bucket, Index far, Index near) {
    __builtin_prefetch(s + before_clamped(far, n));
    if constexpr (sizeof(Symbol) > 1) __builtin_prefetch(bucket + s[before_clamped(near, n)]);
}

// The L-type suffixes, left to right, from the LMS suffixes placed in sa
// (the sentinel's predecessor n - 1 first).  Entry j whose predecessor is
// S-type is placed complemented.
template <bool kPrefetch, bool kDirect, class Symbol>
std::size_t induce_large(const Symbol* s, Index* sa, std::size_t n, Index* bucket) {
    Cursor<kDirect> cursor(bucket, s[n - 1]);
    auto place = [&](Index j) {
        const Symbol c = s[j];
        const Index before = j > 0 ? j - 1 : 0;  // j = 0 compares with itself: not smaller
        sa[cursor.of(c)++] = j ^ (0u - Index{s[before] < c});  // arithmetic: the compare is unpredictable
    };
    place(static_cast<Index>(n - 1));
    for (std::size_t r = 0; r < n; ++r) {
        if constexpr (kPrefetch)
            prefetch_ahead(s, n, bucket, sa[std::min(r + 2 * kAhead, n - 1)], sa[std::min(r + kAhead, n - 1)]);
        const Index v = sa[r];
        sa[r] = ~v;
        if (is_positive(v)) place(v - 1);
    }
    return cursor.switches();
}

// The S-type suffixes, right to left, from the entries induce_large left
// positive.  When sorting LMS substrings (kFinal false), the LMS suffixes
// are placed marked with kLms and the entries skipped stay as they are;
// otherwise an LMS suffix is placed complemented and every entry ends as
// its position.
template <bool kFinal, bool kPrefetch, bool kDirect, class Symbol>
void induce_small(const Symbol* s, Index* sa, std::size_t n, Index* bucket) {
    Cursor<kDirect> cursor(bucket, s[n - 1]);
    for (std::size_t r = n; r-- > 0;) {
        if constexpr (kPrefetch)
            prefetch_ahead(s, n, bucket, sa[r >= 2 * kAhead ? r - 2 * kAhead : 0], sa[r >= kAhead ? r - kAhead : 0]);
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

// Both passes over sa, from the LMS suffixes placed at the ends of their
// buckets (kFinal as induce_small), prefetching when `far`, the counters in
// memory when `direct` (which the first pass of a level decides).
template <bool kDirect, class Symbol>
std::size_t pass_large(const Symbol* s, Index* sa, std::size_t n, Index* bucket, bool far) {
    return far ? induce_large<true, kDirect>(s, sa, n, bucket) : induce_large<false, kDirect>(s, sa, n, bucket);
}
template <bool kFinal, bool kDirect, class Symbol>
void pass_small(const Symbol* s, Index* sa, std::size_t n, Index* bucket, bool far) {
    if (far)
        induce_small<kFinal, true, kDirect>(s, sa, n, bucket);
    else
        induce_small<kFinal, false, kDirect>(s, sa, n, bucket);
}
template <bool kFinal, class Symbol>
void induce(const Symbol* s, Index* sa, std::size_t n, const Index* count, Index* bucket, Index lo, Index hi,
            bool far, bool& direct) {
    heads(count, bucket, lo, hi);
    const std::size_t switches =
        direct ? pass_large<true>(s, sa, n, bucket, far) : pass_large<false>(s, sa, n, bucket, far);
    if constexpr (!kFinal) direct = n >= kRandomLevelsFrom && switches > n / kDirectBucketsFrom;
    tails(count, bucket, lo, hi);
    if (direct)
        pass_small<kFinal, true>(s, sa, n, bucket, far);
    else
        pass_small<kFinal, false>(s, sa, n, bucket, far);
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

// A reduced text whose names are mostly distinct (texts of many symbols,
// and the deeper levels of any random text) has its suffixes told apart by
// their first few names.  Induction over it would pay a cache miss on
// counters and text for every entry of each pass; a counting sort by the
// first name, its ties then sorted name by name, reads it a few times in
// order instead.  The ties are refined a name further at a time (each run
// of equal names so far sorted by the next name, the end of the text
// below every name), so no comparison restarts from the front.  Gives up
// (false, sa and count[0, k) spoilt) once the ties have cost more than
// kTieBudget passes over the text or a run outgrows kLargestTie: on such
// text induction is the cheaper way.
constexpr std::size_t kTieBudget = 4;
constexpr std::size_t kLargestTie = std::size_t{1} << 17;
// Tried when at least one name in this many is distinct.
constexpr std::size_t kLeadingNamesShare = 4;

// Sorts the positions p in sa[begin, end), tied in their first `depth`
// symbols, the rest of the way: by key_of(p, depth) (a word that orders the
// next `step` symbols from p + depth, the end of the text below them all),
// each run of equal keys then by key_of(p, depth + step), and so on.  Gives
// up (false) when a run outgrows kLargestTie or `budget`, which each run
// sorted draws down by its size.
struct TieScratch {
    struct Run {
        std::size_t begin, end, depth;
    };
    std::vector<Run> runs;
    std::vector<std::pair<Word, Index>> keyed;
};
template <class KeyOf>
bool sort_ties(Index* sa, std::size_t begin, std::size_t end, std::size_t depth, std::size_t step,
               std::size_t& budget, KeyOf&& key_of, TieScratch& scratch) {
    auto& [runs, keyed] = scratch;
    runs.assign(1, {begin, end, depth});
    while (!runs.empty()) {
        const TieScratch::Run run = runs.back();
        runs.pop_back();
        const std::size_t size = run.end - run.begin;
        if (size > kLargestTie || size > budget) return false;
        budget -= size;
        keyed.clear();
        for (std::size_t q = run.begin; q < run.end; ++q) keyed.emplace_back(key_of(sa[q], run.depth), sa[q]);
        std::sort(keyed.begin(), keyed.end());
        for (std::size_t q = 0; q < size;) {
            std::size_t e = q + 1;
            while (e < size && keyed[e].first == keyed[q].first) ++e;
            if (e - q > 1) runs.push_back({run.begin + q, run.begin + e, run.depth + step});
            for (; q < e; ++q) sa[run.begin + q] = keyed[q].second;
        }
    }
    return true;
}

// Reduced texts of kNamesAskedAheadFrom symbols or more have their
// counters, and their suffixes' next names, beyond the private caches:
// asked for kNamesAhead places ahead, the misses overlap.  With pairs
// compared in place, this took the sort of the second level of 10^8
// English-like symbols (1.1 * 10^7 of them) from 0.56 to 0.41 s; on
// shorter ones the requests cost more than they save.
constexpr std::size_t kNamesAhead = 32;
constexpr std::size_t kNamesAskedAheadFrom = std::size_t{1} << 22;

bool sort_by_leading_names(const Index* s, std::size_t m, Index k, Index* sa, Index* count, std::size_t threads) {
    const std::size_t ahead = m >= kNamesAskedAheadFrom ? kNamesAhead : 0;
    std::fill(count, count + k, 0);
    for (std::size_t i = 0; i < m; ++i) {
        if (ahead != 0) __builtin_prefetch(count + s[std::min(i + ahead, m - 1)], 1);
        ++count[s[i]];
    }
    std::exclusive_scan(count, count + k, count, Index{0});
    for (std::size_t i = 0; i < m; ++i) {
        if (ahead != 0) __builtin_prefetch(count + s[std::min(i + ahead, m - 1)], 1);
        sa[count[s[i]]++] = static_cast<Index>(i);
    }
    // count[c] is now the end of the run of c.  The ties of one first name
    // at a time, so that the runs pending stay within one of at most
    // kLargestTie members; on two threads those of the first names up to
    // half the suffixes on one, the rest on the other, each with the
    // budget.  Key 0 for a suffix that ends here, else the next name plus
    // one.
    auto next_name = [&](Index p, std::size_t depth) {
        const std::size_t at = p + depth;
        return Word{at < m ? s[at] + 1 : 0};
    };
    auto sort_runs = [&](Index first, Index last) {
        TieScratch scratch;
        std::size_t budget = kTieBudget * m;
        Index begin = first == 0 ? 0 : count[first - 1];
        const std::size_t end = last == 0 ? 0 : count[last - 1];  // the other half's entries are not read
        std::size_t asked = begin;  // the next names asked for up to sa[asked]
        for (Index c = first; c < last; begin = count[c++]) {
            for (; asked < std::min<std::size_t>(begin + 2 * ahead, end); ++asked)
                __builtin_prefetch(s + sa[asked] + 1);
            if (count[c] - begin == 2) {
                // Pairs, most ties where names are mostly distinct, compared
                // in place, drawing down the budget as sort_ties would.
                const Index a = sa[begin], b = sa[begin + 1];
                for (std::size_t depth = 1;; ++depth) {
                    if (budget < 2) return false;
                    budget -= 2;
                    const Word x = next_name(a, depth), y = next_name(b, depth);
                    if (x != y) {
                        if (x > y) std::swap(sa[begin], sa[begin + 1]);
                        break;
                    }
                }
            } else if (count[c] - begin > 2 && !sort_ties(sa, begin, count[c], 1, 1, budget, next_name, scratch)) {
                return false;
            }
        }
        return true;
    };
    if (threads < 2 || m < kSharedPassesFrom) return sort_runs(0, k);
    const Index middle = static_cast<Index>(std::lower_bound(count, count + k, static_cast<Index>(m / 2)) - count);
    const auto [first, second] =
        join(Work{m}, [&] { return sort_runs(0, middle); }, [&] { return sort_runs(middle, k); });
    return first && second;
}

// A long byte text without repeats (random text over any alphabet) has its
// LMS suffixes told apart by their first few symbols: sorted by those
// directly, they skip the LMS substrings' induction, naming and reduced
// text, most of the sort's work.  Each suffix's first symbols are packed
// into a 32-bit key, symbols by rank among those that occur in as few bits
// as hold them, radix sorted a byte at a time from the least significant;
// suffixes whose keys tie are then sorted a word of symbols further at a
// time, as sort_by_leading_names does with names.
//
// Whether to try: the keys of kKeySample positions spread over the text,
// of which more than kKeySampleTies equal another (natural language and
// every repetitive text) say no.  Gives up (false, sa and work spoilt)
// past the same tie budget as sort_by_leading_names, so a text whose
// repeats the sample missed costs a few passes over its LMS suffixes.
constexpr std::size_t kKeySample = 1024;
constexpr std::size_t kKeySampleTies = 4;

// The LMS suffixes and their keys live in Word slots over pairs of
// entries, read and written bytewise so that no access through one type
// is assumed apart from the other.
inline Word load_slot(const Index* a, std::size_t i) {
    Word w;
    std::memcpy(&w, a + 2 * i, sizeof w);
    return w;
}
inline void store_slot(Index* a, std::size_t i, Word w) { std::memcpy(a + 2 * i, &w, sizeof w); }

// The symbols from p (rank 0 past the end), `width` of them of `bits`
// bits each, packed first highest.
inline Word packed_symbols(const std::uint8_t* s, std::size_t n, const std::array<Word, 256>& rank, unsigned bits,
                           std::size_t p, unsigned width) {
    Word key = 0;
    for (unsigned t = 0; t < width; ++t) key = key << bits | (p + t < n ? rank[s[p + t]] : 0);
    return key;
}

// The sample above, of `positions` keys (at most kKeySample), the
// symbols ranked by `rank` in `bits` bits each: the keys start
// key_sample_stride apart and read at most kKeySampleWindow symbols each
// (one bit a symbol), all inside the text.
constexpr std::size_t kKeySampleWindow = 32;
std::size_t key_sample_stride(std::size_t n, std::size_t positions) { return (n - kKeySampleWindow) / positions; }

bool sampled_keys_tie(const std::uint8_t* s, std::size_t n, const std::array<Word, 256>& rank, unsigned bits,
                      std::size_t positions = kKeySample) {
    const unsigned per_key = 32 / bits;
    const std::size_t stride = key_sample_stride(n, positions);
    // Ties counted in an open-addressed table of twice the sample (keys
    // stored plus one, zero free): a key that meets its equal is one tie,
    // as many as equal neighbours after sorting, at a fraction of a sort's
    // cost, which the dispatch pays on every random text it samples.
    constexpr unsigned kSlotBits = std::bit_width(2 * kKeySample - 1);
    std::array<Word, std::size_t{1} << kSlotBits> slots{};
    std::size_t ties = 0;
    for (std::size_t i = 0; i < positions; ++i) {
        Word key = 0;
        for (const std::uint8_t* p = s + i * stride; p != s + i * stride + per_key; ++p) key = key << bits | rank[*p];
        std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> (64 - kSlotBits));
        while (slots[slot] != 0 && slots[slot] != key + 1) slot = (slot + 1) & (slots.size() - 1);
        if (slots[slot] != 0)
            ++ties;
        else
            slots[slot] = key + 1;
    }
    return ties > kKeySampleTies;
}

bool sort_lms_by_keys(const std::uint8_t* s, std::size_t n, const Index* count, Index lo, Index hi, Index* sa,
                      Index* work, std::size_t& m, Index* lms_count) {
    std::array<Word, 256> rank{};
    Word sigma = 0;
    for (Index c = lo; c < hi; ++c)
        if (count[c] != 0) rank[c] = sigma++;
    if (sigma < 2) return false;
    const unsigned bits = static_cast<unsigned>(std::bit_width(sigma - 1));
    auto packed = [&](std::size_t p, unsigned width) { return packed_symbols(s, n, rank, bits, p, width); };
    const unsigned per_key = 32 / bits;
    if (sampled_keys_tie(s, n, rank, bits)) return false;

    // The LMS positions, last first, with their keys (rolled along the
    // text), counted by the keys' top bits for the radix sort below and by
    // first symbol into lms_count.
    const unsigned top = bits * (per_key - 1);
    constexpr unsigned kTopShift = 32 + 21;
    constexpr std::size_t kParts = std::size_t{1} << 11;
    std::vector<Index> part(kParts + 1);
    m = 0;
    Word key = 0;  // of the suffix at p below
    for_each_lms_descending(
        s, n,
        [&](Index p) {
            key = key >> bits | rank[s[p]] << top;
            return key << 32 | p;
        },
        [&](Word w) {
            ++part[(w >> kTopShift) + 1];
            ++lms_count[s[static_cast<Index>(w)]];
            store_slot(sa, m++, w);
        });
    if (m == 0) return false;

    // The top 11 bits of the keys first, from sa into work (m slots each,
    // m <= (n - 1) / 2): one pass over them all, its 2^11 places within the
    // private caches.  Then each part (some thousands of keys on random
    // text) by the other 21 bits, 7 at a time from the least significant,
    // back and forth between work and sa while it stays in the caches, to
    // end in sa; digits every key of a part shares are skipped.
    std::inclusive_scan(part.begin(), part.end(), part.begin());
    {
        std::vector<Index> place(part.begin(), part.end() - 1);
        for (std::size_t i = 0; i < m; ++i) {
            const Word w = load_slot(sa, i);
            store_slot(work, place[w >> kTopShift]++, w);
        }
    }
    constexpr unsigned kLowDigits = 3, kLowBits = 7;
    constexpr std::size_t kLowValues = std::size_t{1} << kLowBits;
    auto low_digit = [](Word w, unsigned d) { return (w >> (32 + kLowBits * d)) & (kLowValues - 1); };
    std::array<std::array<Index, kLowValues>, kLowDigits> count_low;
    for (std::size_t c = 0; c < kParts; ++c) {
        const std::size_t begin = part[c], end = part[c + 1];
        Index* from = work;
        Index* to = sa;
        if (end - begin > 1) {
            for (auto& table : count_low) table.fill(0);
            for (std::size_t i = begin; i < end; ++i)
                for (unsigned d = 0; d < kLowDigits; ++d) ++count_low[d][low_digit(load_slot(work, i), d)];
            for (unsigned d = 0; d < kLowDigits; ++d) {
                auto& place = count_low[d];
                if (std::find(place.begin(), place.end(), static_cast<Index>(end - begin)) != place.end()) continue;
                std::exclusive_scan(place.begin(), place.end(), place.begin(), static_cast<Index>(begin));
                for (std::size_t i = begin; i < end; ++i) {
                    const Word w = load_slot(from, i);
                    store_slot(to, place[low_digit(w, d)]++, w);
                }
                std::swap(from, to);
            }
        }
        if (from != sa) std::copy(work + 2 * begin, work + 2 * end, sa + 2 * begin);
    }
    const Index* const from = sa;

    // Positions into sa[0, m) (slot r, at 2r and on, read before entry r
    // is written), runs of equal keys sorted the rest of the way: a word of
    // symbols at a time from the start (so that suffixes shorter than a key
    // part from the longer ones they were padded to), followed by how many
    // of them the text holds, at most 63.
    const unsigned per_word = 58 / bits;
    auto next_word = [&](Index p, std::size_t depth) {
        const std::size_t at = p + depth;
        const std::size_t left = at < n ? std::min<std::size_t>(n - at, per_word) : 0;
        return packed(at, per_word) << 6 | left;
    };
    TieScratch scratch;
    std::vector<Index> tied;
    std::size_t budget = kTieBudget * m;
    for (std::size_t r = 0; r < m;) {
        const Word first = load_slot(from, r) >> 32;
        std::size_t e = r + 1;
        while (e < m && load_slot(from, e) >> 32 == first) ++e;
        if (e - r == 1) {
            sa[r] = static_cast<Index>(load_slot(from, r));
        } else {
            tied.clear();
            for (std::size_t q = r; q < e; ++q) tied.push_back(static_cast<Index>(load_slot(from, q)));
            std::copy(tied.begin(), tied.end(), sa + r);
            if (!sort_ties(sa, r, e, 0, per_word, budget, next_word, scratch)) return false;
        }
        r = e;
    }
    return true;
}

// Natural language and near-periodic text repeat a few thousand distinct
// LMS substrings over and over.  Named through a table of the distinct ones
// (their symbols the key), they need neither the induction that sorts them
// nor the comparisons of neighbours after it: a pass along the text looks
// each up, the distinct ones alone are sorted, and each LMS position takes
// the rank of its substring.  On 10^8 symbols of English-like text (3.3 *
// 10^7 LMS positions, 24,000 distinct) the sort took 0.65 of its time.
// The table lives in sa[0, n / 2), which the LMS positions leave free, at
// most 2^kMostNameSlotBits slots (2 MiB, within the private cache), half
// of them used at most: past that (random text) it gives up, and sorting
// the substrings by induction is the way.
constexpr unsigned kMostNameSlotBits = 17;
constexpr std::size_t kNamesCheckedFrom = 2048;

// The substring from an LMS position to the next one, both included: its
// symbols alone tell it apart (its types follow from them, the last one
// S-type after an L-type one), up to eight of them packed into a word,
// more hashed.  The last LMS position's runs into the end of the text,
// like no other's, and has no slot.  A slot is four entries of sa: the key
// (two halves), the length (0 in a free slot) and where it first occurs,
// which its rank takes over once ranked.
constexpr std::size_t kSlotEntries = 4;

inline Word word_at(const std::uint8_t* s, std::size_t n, std::size_t p) {
    Word w = 0;
    if (std::endian::native == std::endian::little && p + sizeof w <= n) {
        std::memcpy(&w, s + p, sizeof w);
    } else {
        for (std::size_t i = 0; p + i < n && i < sizeof w; ++i) w |= Word{s[p + i]} << (8 * i);
    }
    return w;
}

inline Word substring_key(const std::uint8_t* s, std::size_t n, Index p, Index length) {
    auto masked = [&](Index at, Index left) {
        const Word w = word_at(s, n, at);
        return left >= 8 ? w : w & ((Word{1} << (8 * left)) - 1);
    };
    if (length <= 8) return masked(p, length);
    Word h = length;
    for (Index i = 0; i < length; i += 8) h = (h ^ masked(p + i, length - i)) * 0x9E3779B97F4A7C15u;
    return h;
}

// Whether the LMS substring at a (length la) sorts before the one at b:
// the first symbol that differs decides, as it does for their suffixes.
// If one is a prefix of the other, the longer one is L-type where the
// shorter one ends (S-type there, or it would end there too), so it comes
// first; unless the shorter one is the last, which ends with the text.
bool substring_before(const std::uint8_t* s, Index a, Index la, bool a_last, Index b, Index lb, bool b_last) {
    const Index common = std::min(la, lb);
    const auto [pa, pb] = std::mismatch(s + a, s + a + common, s + b);
    if (pa != s + a + common) return *pa < *pb;
    if (la == lb) return false;
    return la < lb ? a_last : !b_last;
}

// Writes, for the LMS positions in text order, the rank of each one's
// substring among the distinct ones into sa[n - m, n) and the positions
// into positions[n - m, n), counting them by first symbol into lms_count;
// names is how many are distinct.  Ranks follow the order of the suffixes
// wherever substrings differ.  positions[0, n / 2) is scratch.  Giving up,
// it leaves m and lms_count 0 and sa spoilt.
bool name_lms_by_hashing(const std::uint8_t* s, std::size_t n, Index* sa, Index* positions, std::size_t& m,
                         Index& names, Index* lms_count) {
    const unsigned slot_bits = std::min<unsigned>(kMostNameSlotBits, std::bit_width(n / 2 / kSlotEntries) - 1);
    const std::size_t slot_count = std::size_t{1} << slot_bits, most = slot_count / 2;
    Index* const table = sa;
    std::fill(table, table + kSlotEntries * slot_count, 0);
    constexpr Index kLast = ~Index{0};  // the last substring's place in sa until ranked
    std::size_t distinct = 0, m_when_half = 0;
    m = 0;
    Index next = 0;
    bool full = false;
    for_each_lms_descending(s, n, [&](Index p) {
        ++m;
        ++lms_count[s[p]];
        positions[n - m] = p;
        if (next == 0) {
            sa[n - m] = kLast;
            next = p;
            return true;
        }
        const Index length = next - p + 1;
        next = p;
        const Word key = substring_key(s, n, p, length);
        const Index low = static_cast<Index>(key), high = static_cast<Index>(key >> 32);
        std::size_t slot = static_cast<std::size_t>((key * 0xD6E8FEB86659FD93u) >> (64 - slot_bits));
        for (;; slot = (slot + 1) & (slot_count - 1)) {
            Index* const e = table + kSlotEntries * slot;
            if (e[2] == 0) {
                // Sorting the distinct ones costs more than inducing all
                // of them where few repeat (runs of random lengths).  The
                // first few thousand are new on any text; from then on,
                // each time their count doubles, at most half the positions
                // since it last doubled may have been new ones.
                bool repeat_few = false;
                if (distinct >= kNamesCheckedFrom && (distinct & (distinct - 1)) == 0) {
                    repeat_few = m - m_when_half < 2 * (distinct / 2);
                    m_when_half = m;
                }
                if (distinct == most || repeat_few) {
                    full = true;
                    return false;
                }
                e[0] = low;
                e[1] = high;
                e[2] = length;
                e[3] = p;
                ++distinct;
                break;
            }
            if (e[0] == low && e[1] == high && e[2] == length &&
                (length <= 8 || std::equal(s + p, s + p + length, s + e[3])))
                break;
        }
        sa[n - m] = static_cast<Index>(slot);
        return true;
    });
    if (full) {
        m = 0;
        std::fill(lms_count, lms_count + 256, 0);
        return false;
    }

    // The slots in use, in positions[0, distinct), sorted; each slot's
    // rank then in place of its first occurrence.  The last substring
    // ranks among them.
    Index* const used = positions;
    std::size_t u = 0;
    for (std::size_t slot = 0; slot < slot_count; ++slot)
        if (table[kSlotEntries * slot + 2] != 0) used[u++] = static_cast<Index>(slot);
    auto length_of = [&](Index slot) { return table[kSlotEntries * slot + 2]; };
    auto start_of = [&](Index slot) { return table[kSlotEntries * slot + 3]; };
    auto before = [&](Index x, Index start, Index length, bool last) {
        return substring_before(s, start_of(x), length_of(x), false, start, length, last);
    };
    std::sort(used, used + u, [&](Index x, Index y) { return before(x, start_of(y), length_of(y), false); });
    Index last_rank = 0;
    if (m > 0) {
        const Index start = positions[n - 1], length = static_cast<Index>(n - start);
        last_rank = static_cast<Index>(
            std::partition_point(used, used + u, [&](Index x) { return before(x, start, length, true); }) - used);
    }
    for (std::size_t r = 0; r < u; ++r) table[kSlotEntries * used[r] + 3] = static_cast<Index>(r + (r >= last_rank));
    for (std::size_t i = n - m; i < n; ++i) sa[i] = sa[i] == kLast ? last_rank : table[kSlotEntries * sa[i] + 3];
    names = static_cast<Index>(u + (m > 0));
    return true;
}

// Sorts the suffixes of s[0, n) into sa[0, n); `count` and `bucket` hold k
// counters each and `scratch` at least n for the levels below (which reuse
// it for theirs, so after one returns this level counts again when its
// counters live there).
template <class Symbol>
void sort_level(const Symbol* s, Index* sa, std::size_t n, Index k, Index* count, Index* bucket, Index* scratch,
                bool counters_in_scratch, std::size_t prefetch_from, std::size_t threads, bool lms_by_keys = true) {
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
            sorting::count_bytes(n, [&](std::size_t i) { return s[i]; }, count, lo, hi, 64);
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
    // sentinel equals no other) is wanted for naming, in a slot at p / 2
    // that its name then takes over.  Where scratch is free (the top
    // level), the slots are there and the positions in order at its end,
    // saving two scans for LMS positions; otherwise the slots are sa[m, n)
    // and the positions are scanned for again.
    const bool far = n >= prefetch_from;
    bool direct = false;
    Index* const spare = counters_in_scratch ? nullptr : scratch;
    // Sorted LMS suffixes sa[0, m) to the ends of their buckets (each one's
    // place is at or after its rank among them, so none is overwritten).
    // Sorted, they run by first symbol: on bytes, whose LMS positions are
    // counted by symbol as they are found, each run moves as a block (the
    // highest first), without reading the text at each position.
    std::array<Index, 256> lms_count{};
    auto place_sorted_lms = [&](std::size_t m) {
        by_halves(threads, n - m,
                  [&](std::size_t begin, std::size_t end) { std::fill(sa + m + begin, sa + m + end, 0); });
        tails(count, bucket, lo, hi);
        if constexpr (sizeof(Symbol) == 1) {
            std::size_t end = m;
            for (Index c = hi; c-- > lo;) {
                const std::size_t begin = end - lms_count[c], to = bucket[c] - lms_count[c];
                std::copy_backward(sa + begin, sa + end, sa + to + lms_count[c]);
                std::fill(sa + begin, sa + std::min(to, end), 0);
                end = begin;
            }
            return;
        }
        for (std::size_t r = m; r-- > 0;) {
            if (far) __builtin_prefetch(s + sa[r >= kAhead ? r - kAhead : 0]);
            const Index j = sa[r];
            sa[r] = 0;
            sa[--bucket[s[j]]] = j;
        }
    };
    if constexpr (sizeof(Symbol) == 1) {
        std::size_t m = 0;
        if (lms_by_keys && spare != nullptr && n >= kRandomLevelsFrom &&
            sort_lms_by_keys(s, n, count, lo, hi, sa, spare, m, lms_count.data())) {
            place_sorted_lms(m);
            direct = true;
            induce<true>(s, sa, n, count, bucket, lo, hi, far, direct);
            return;
        }
    }
    std::size_t m = 0;
    Index names = 0;
    lms_count.fill(0);  // keys that gave up may have counted
    bool hashed = false;
    if constexpr (sizeof(Symbol) == 1)
        hashed = spare != nullptr && n >= kRandomLevelsFrom &&
                 name_lms_by_hashing(s, n, sa, spare, m, names, lms_count.data());
    const std::size_t half = (n + 1) / 2;  // slots 0 .. (n - 1) / 2
    Index next = 0;
    auto length_at = [&](Index p) { return next == 0 ? static_cast<Index>(n) : next - p + 1; };
    if (!hashed) {
        std::fill(sa, sa + n, 0);
        if (spare != nullptr) std::fill(spare, spare + half, 0);
        tails(count, bucket, lo, hi);
        for_each_lms_descending(s, n, [&](Index p) {
            sa[--bucket[s[p]]] = p;
            if constexpr (sizeof(Symbol) == 1) ++lms_count[s[p]];
            ++m;
            if (spare != nullptr) {
                spare[p / 2] = length_at(p);
                spare[n - m] = p;  // m <= (n - 1) / 2, so above every p / 2
            }
            next = p;
        });

        if (m > 0) {
            // Induced from them in any order, the LMS suffixes come out sorted
            // by their LMS substrings (from one LMS position to the next).
            induce<false>(s, sa, n, count, bucket, lo, hi, far, direct);
            std::size_t sorted = 0;
            for (std::size_t r = 0; r < n; ++r) {
                const Index v = sa[r];
                sa[sorted] = v & (kLms - 1);
                sorted += v >> 30 == 1;
            }

            // Name the substrings by rank, equal ones alike.  Positions are at
            // least two apart, so the slot of p (length, then name) fits at
            // p / 2, below half <= n - m.
            Index* const slots = spare != nullptr ? spare : sa + m;
            if (spare == nullptr) {
                std::fill(sa + m, sa + n, 0);
                next = 0;
                for_each_lms_descending(s, n, [&](Index p) {
                    slots[p / 2] = length_at(p);
                    next = p;
                });
            }
            // The text and slots at the positions in rank order are scattered
            // beyond the private caches from some 10^5 LMS positions on; asked
            // for ahead, their misses overlap.
            const bool prefetch_names = far || n >= kRandomLevelsFrom;
            // On two threads each half first marks, in the top bit of its
            // entries, where a new name starts; the names then follow from
            // how many the first half marked.
            auto differs = [&](Index p, Index previous) {
                const Index length = slots[p / 2];
                return length != slots[previous / 2] || !same_symbols(s, n, p, previous, length);
            };
            auto ask_ahead = [&](std::size_t r, std::size_t end) {
                if (prefetch_names) {
                    const Index ahead = sa[std::min(r + kAhead, end - 1)] & ~kNewName;
                    __builtin_prefetch(s + ahead);
                    __builtin_prefetch(slots + ahead / 2, 1);
                }
            };
            if (threads < 2 || m < kSharedPassesFrom) {
                Index previous = 0, previous_length = 0;
                for (std::size_t r = 0; r < m; ++r) {
                    ask_ahead(r, m);
                    const Index p = sa[r];
                    const Index length = slots[p / 2];
                    names += length != previous_length || !same_symbols(s, n, p, previous, length);
                    previous = p;
                    previous_length = length;
                    slots[p / 2] = names;  // from 1, 0 being no LMS position
                }
            } else {
                const std::size_t half_m = m / 2;
                const Index before_second = sa[half_m - 1];
                auto mark = [&](std::size_t begin, std::size_t end, Index previous) {
                    Index marked = 0;
                    for (std::size_t r = begin; r < end; ++r) {
                        ask_ahead(r, end);
                        const Index p = sa[r];
                        const bool fresh = r == 0 || differs(p, previous);
                        previous = p;
                        sa[r] = p | (fresh ? kNewName : 0);
                        marked += fresh;
                    }
                    return marked;
                };
                auto name = [&](std::size_t begin, std::size_t end, Index from) {
                    for (std::size_t r = begin; r < end; ++r) {
                        if (prefetch_names)
                            __builtin_prefetch(slots + (sa[std::min(r + kAhead, end - 1)] & ~kNewName) / 2, 1);
                        const Index v = sa[r];
                        from += v >> 31;
                        sa[r] = v & ~kNewName;
                        slots[(v & ~kNewName) / 2] = from;
                    }
                };
                const auto marked =
                    join(Work{m}, [&] { return mark(0, half_m, 0); }, [&] { return mark(half_m, m, before_second); });
                join(Work{m}, [&] { name(0, half_m, 0); }, [&] { name(half_m, m, marked.first); });
                names = marked.first + marked.second;
            }
            // The reduced text: the names in text order, at the end of sa.
            // Written whether a name or not (in sa[m, n), t - 1 >= m + i is a
            // slot already read), so that no branch follows the irregular LMS
            // positions.
            for (std::size_t i = half, t = n; i-- > 0;) {
                const Index name = slots[i];
                sa[t - 1] = name - 1;
                t -= name != 0;
            }
        }
    }
    if (m > 0) {
        Index* reduced = sa + n - m;

        // The order of its suffixes is the order of the LMS suffixes.  The
        // levels below keep their counters within scratch[0, max(2 names,
        // m)), which leaves the positions kept at its end alone when 2 names
        // <= n - m (so on repetitive text, where names are few).
        const bool positions_kept = spare != nullptr && (names == m || 2 * std::size_t{names} <= n - m);
        // The reduced text in narrower symbols where its names fit, rewritten
        // in place (symbol i over an entry at or before i, already read).
        // Stored bytewise: a store through the narrow type may not be
        // assumed apart from the wide loads it overlaps.
        auto sort_narrowed = [&](auto narrow_symbol) {
            using Narrow = decltype(narrow_symbol);
            auto* narrow = reinterpret_cast<Narrow*>(reduced);
            for (std::size_t i = 0; i < m; ++i) {
                const auto symbol = static_cast<Narrow>(reduced[i]);
                std::memcpy(narrow + i, &symbol, sizeof symbol);
            }
            sort_level(static_cast<const Narrow*>(narrow), sa, m, names, scratch, scratch + names, scratch, true,
                       prefetch_from, threads);
        };
        if (names < m) {
            if (names <= 256) {
                // Few names (repetitive text) in bytes, which the byte
                // level's counting and comparing handle faster.
                sort_narrowed(std::uint8_t{});
            } else if (names <= 65536) {
                // Up to 2^16 names (texts of a few symbols and natural
                // language) in halves of entries, for half the traffic of
                // every pass that reads the reduced text.
                sort_narrowed(std::uint16_t{});
            } else if (!(names >= m / kLeadingNamesShare &&
                         sort_by_leading_names(reduced, m, names, sa, scratch, threads))) {
                sort_level(reduced, sa, m, names, scratch, scratch + names, scratch, true, prefetch_from, threads);
            }
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
        by_halves(threads, m, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                if (far) __builtin_prefetch(positions + sa[std::min(r + kAhead, end - 1)]);
                sa[r] = positions[sa[r]];
            }
        });

        place_sorted_lms(m);
    }
    induce<true>(s, sa, n, count, bucket, lo, hi, far, direct);
}

}  // namespace induction

}  // namespace

bool sampled_keys_tie(const std::uint8_t* text, std::size_t n) {
    // Half the positions of the sample on long levels: natural language
    // still ties a dozen times or more (English-like text of 2^16 to 2^17
    // symbols 10 to 24, against 43 to 73 of 1024), random text of any
    // alphabet almost never, for half the cost.
    constexpr std::size_t kPositions = induction::kKeySample / 2;
    // The symbols that occur where the sample reads, a fraction of the
    // text's length that ranks them as consistently as all of it would.
    std::array<bool, 256> occurs{};
    const std::size_t stride = induction::key_sample_stride(n, kPositions);
    for (std::size_t i = 0; i < kPositions; ++i)
        for (std::size_t j = 0; j < induction::kKeySampleWindow; ++j) occurs[text[i * stride + j]] = true;
    std::array<Word, 256> rank{};
    Word sigma = 0;
    for (std::size_t c = 0; c < 256; ++c)
        if (occurs[c]) rank[c] = sigma++;
    if (sigma < 2) return true;
    return induction::sampled_keys_tie(text, n, rank, static_cast<unsigned>(std::bit_width(sigma - 1)), kPositions);
}

void sort_by_induction(const std::uint8_t* text, std::size_t n, std::uint32_t* sa, std::uint32_t* work,
                       std::size_t prefetch_from, bool lms_by_keys, std::size_t threads) {
    // Bytes as they are: the buckets of the symbols that do not occur cost
    // nothing beyond their counters.
    std::array<std::uint32_t, 256> count, bucket;
    induction::sort_level(text, sa, n, 256, count.data(), bucket.data(), work, false, prefetch_from, threads,
                          lms_by_keys);
}

}  // namespace parsimetrics
