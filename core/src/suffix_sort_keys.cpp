// Suffix sorting by prefix keys: a 32-bit word per suffix holding the first
// bits of its key above its position (on longer texts, the bits after its
// first byte, by which it is bucketed), radix sorted in sa and rank; the
// runs that share those bits sorted on by 64-bit words (as many symbols as fit
// beside the position), one run at a time; ties refined by doubling
// (suffix_sort_doubling.cpp).  On random text the words tell almost every
// suffix apart within two or three bytes of key, so it costs a few passes
// over n words: the fastest sorter on such text below 2^17 symbols, in
// 8 bytes a symbol (sa and rank) beside a few hundred bytes.  Repetitive
// text ties for long; there, bounded, it gives up early (sampled windows
// that repeat, a first byte shared by most suffixes, a run too large for
// the room left in rank, most suffixes tied over the whole key, or a budget
// of passes spent) and leaves the text to induced sorting.  Those marks, and
// the sizes below, come from benchmarks/bench_sort and bench_short.
#include "suffix_sort_keys.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <type_traits>

#include "suffix_sort_doubling.hpp"
#include "suffix_sort_radix.hpp"

namespace parsimetrics {

using sorting::insertion_sort;
using sorting::kPassOverhead;
using sorting::kSmall;
using sorting::kUnbounded;
using sorting::radix_sort;
using sorting::refine_ranked_groups;
using sorting::Word;

namespace {

// Texts from kSampleFrom symbols are sampled for repeats (below
// kSampleInCacheFrom before the alphabet pass, from it on after), and from
// kTiedCheckFrom symbols the count of tied suffixes may stop the keys.
constexpr std::size_t kSampleFrom = 64;
constexpr std::size_t kSampleInCacheFrom = 512;
constexpr std::size_t kTiedCheckFrom = 512;

// The entries of a run of suffixes that share their compact keys (see
// sort_by_prefix_keys) that find no room in the rank array may take this
// many bytes beside it (a bounded sort leaves a text that needs more to
// induced sorting), and doubling's entries this many or half a byte a
// symbol.
constexpr std::size_t kLeastWideBytes = 512;

// From this many symbols on, the compact entries are bucketed by the first
// byte of their keys first (see sort_by_prefix_keys): buckets of some 100
// suffixes of random text or more, each sorted in two passes over its own
// tables.  Below, buckets of a few dozen would be insertion sorts that
// mispredict (random text 20 to 90% slower at 2^13 to 2^14 symbols).  Text
// whose first bytes take fewer values is bucketed once there are
// kLeastBucket suffixes for each (English-like text and random text of 26
// to 100 symbols 5 to 20% faster per call from 16,385 to 24,575 symbols).
constexpr std::size_t kFirstByteBucketsFrom = 24576;
constexpr std::size_t kLeastBucket = 80;
// Natural language, whose frequent symbols make runs of compact keys
// longer, gains from buckets of half that (English-like text 8% faster at
// 10^4 symbols, where random text of 50 symbols would lose 5%).
constexpr std::size_t kLeastSkewedBucket = 40;

// Whether 256 symbols sampled evenly over the text repeat as those of
// natural language do: two of them agree more often than once in 20 (once
// in 15 or so for English, once in k for k equally likely symbols).
bool skewed_symbols(const std::uint8_t* text, std::size_t n) {
    constexpr std::size_t kSamples = 256;
    std::array<std::uint16_t, 256> count{};
    for (std::size_t j = 0; j < kSamples; ++j) ++count[text[j * n / kSamples]];
    std::size_t agree = 0;  // ordered pairs of distinct samples
    for (const std::uint16_t c : count) agree += std::size_t{c} * (c - std::size_t{c != 0});
    return agree * 20 > kSamples * (kSamples - 1);
}

// Runs of up to this many suffixes that share their compact keys are
// sorted inline rather than by radix_sort: on random text most runs are two
// or three suffixes, for which a call and a table cost more than the sort.
constexpr std::size_t kInlineRun = 8;

// 64-bit entries kept in the rank array, which is otherwise read and
// written as 32-bit words: accesses through this type may alias those.
using AliasedWord = Word __attribute__((__may_alias__));

// What the prefix keys may spend, in entries counted: random text needs one
// pass over the entries per byte of key that it takes to leave buckets of
// at most kSmall, and gets half a pass more.  Each counting pass over m
// entries is charged m plus kPassOverhead for its tables.
std::size_t key_budget(std::size_t n) {
    std::size_t passes = 1;
    for (std::size_t reach = 256 * kSmall; reach < n; reach *= 256) ++passes;
    return passes * n + n / 2 + kPassOverhead + (passes - 1) * 256 * kPassOverhead;
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

// Fewer spare bits below the compact keys' first 16 than this do not pay
// for a pass over the entries (benchmarks/bench_factorize, English-like
// text): texts of more than 2^12 symbols sort 16 bits.
constexpr unsigned kLeastSpareBits = 3;

// Sorts the m 32-bit entries at a by their top 16 bits, with b as the
// other buffer: two stable passes, least significant byte first, which
// leave few and short runs on random text where a most-significant-first
// pass would leave a few entries in each of 256 buckets (insertion sorts
// that mispredict).  Text whose first bytes repeat often enough that most
// entries would share 16 bits with others (natural language) is sorted by
// the `spare` bits below them too, when there are enough, in a third pass
// first: each of its runs then costs fewer 64-bit entries and a shorter
// sort than the extra pass.  Returns how many top bits are sorted, or 0
// having given up as radix_sort does: a first byte shared by most entries,
// or no budget for a pass.
using ByteCounts = std::array<std::uint32_t, 256>;

// How often each value of the top byte and of the next occurs in a[0, m).
void count_top_bytes(const std::uint32_t* a, std::size_t m, ByteCounts& high, ByteCounts& next) {
    high.fill(0);
    next.fill(0);
    for (std::size_t i = 0; i < m; ++i) {
        ++high[a[i] >> 24];
        ++next[(a[i] >> 16) & 0xFF];
    }
}

// The two stable passes over the top 16 bits of a[0, m), by the counts of
// count_top_bytes, through b and back.
void sort_by_top_bytes(std::uint32_t* a, std::uint32_t* b, std::size_t m, ByteCounts& high, ByteCounts& next) {
    std::exclusive_scan(next.begin(), next.end(), next.begin(), std::uint32_t{0});
    std::exclusive_scan(high.begin(), high.end(), high.begin(), std::uint32_t{0});
    for (std::size_t i = 0; i < m; ++i) b[next[(a[i] >> 16) & 0xFF]++] = a[i];
    for (std::size_t i = 0; i < m; ++i) a[high[b[i] >> 24]++] = b[i];
}

unsigned sort_compact_entries(std::uint32_t* a, std::uint32_t* b, std::size_t m, unsigned spare,
                              std::size_t& budget) {
    ByteCounts high, next;
    count_top_bytes(a, m, high, next);
    if (budget != kUnbounded) {
        if (*std::max_element(high.begin(), high.end()) > m / 2 || budget < m + kPassOverhead) return 0;
        budget -= m + kPassOverhead;
    }
    // The chance that two entries share their first byte, squared, for
    // their first two: expected partners per entry above one.
    double shared = 0;
    for (const std::uint32_t c : high) shared += static_cast<double>(c) * c;
    shared /= static_cast<double>(m) * static_cast<double>(m);
    std::uint32_t* low_end = a;  // where the third pass leaves the entries
    if (spare >= kLeastSpareBits && shared * shared * static_cast<double>(m) > 1.0) {
        spare = std::min(spare, 8u);
        const unsigned shift = 16 - spare;
        const std::uint32_t digit = (1u << spare) - 1;
        std::array<std::uint32_t, 256> low{};
        for (std::size_t i = 0; i < m; ++i) ++low[(a[i] >> shift) & digit];
        std::exclusive_scan(low.begin(), low.end(), low.begin(), std::uint32_t{0});
        for (std::size_t i = 0; i < m; ++i) b[low[(a[i] >> shift) & digit]++] = a[i];
        std::swap(a, b);
        low_end = b;
    } else {
        spare = 0;
    }
    sort_by_top_bytes(a, b, m, high, next);
    if (a != low_end) std::copy(a, a + m, low_end);
    return 16 + spare;
}

// Sorts the m 32-bit entries at a by their top 16 bits as
// sort_compact_entries does, unbounded and without the spare bits: a few
// entries whole, more in two passes with b as the other buffer.
void sort_top_16_bits(std::uint32_t* a, std::uint32_t* b, std::size_t m) {
    if (m <= kSmall) {
        insertion_sort(a, m);
        return;
    }
    ByteCounts high, next;
    count_top_bytes(a, m, high, next);
    sort_by_top_bytes(a, b, m, high, next);
}

// The codes of a text packed b bits each, most significant first, so that
// the key of any suffix is an unaligned load and a shift away: the 64-bit
// keys are made run by run rather than held for the whole text at once.
// They live in memory the caller lends (the rank array, free until ties
// need ranks), with zeros after the last code.
class PackedCodes {
public:
    static std::size_t bytes(std::size_t n, unsigned b) { return (n * b + 7) / 8 + 9; }

    PackedCodes(unsigned char* at, const std::uint8_t* text, std::size_t n, const Alphabet& alphabet, unsigned b)
        : bytes_(at), b_(b) {
        unsigned char* out = at;
        if (b == 8) {
            for (std::size_t i = 0; i < n; ++i) out[i] = alphabet.code[text[i]];
            out += n;
        } else {
            Word pending = 0;
            unsigned filled = 0;
            for (std::size_t i = 0; i < n; ++i) {
                pending = (pending << b) | alphabet.code[text[i]];
                filled += b;
                if (filled >= 8) {
                    filled -= 8;
                    *out++ = static_cast<unsigned char>(pending >> filled);
                }
            }
            if (filled > 0) *out++ = static_cast<unsigned char>(pending << (8 - filled));
        }
        std::memset(out, 0, 9);
    }

    // The first 64 bits of codes from symbol i on, or with kFirst57 at
    // least the first 57 of them (the rest zeros): a load fewer, and all
    // that a key beside a position of 7 bits or more takes.
    template <bool kFirst57 = false>
    Word at(std::size_t i) const {
        const std::size_t bit = i * b_;
        const unsigned char* p = bytes_ + (bit >> 3);
        Word w;
        std::memcpy(&w, p, sizeof w);
        if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
        // Without a branch: on most alphabets the shift is zero for every
        // few symbols, which a branch would mispredict.  At zero the ninth
        // byte shifts out whole.
        const unsigned shift = bit & 7;
        if constexpr (kFirst57) return w << shift;
        return (w << shift) | (Word{p[8]} >> (8 - shift));
    }

private:
    const unsigned char* bytes_;
    unsigned b_;
};

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
    const Word pos_mask = (Word{1} << pos_bits) - 1;
    // The first 64 bits of codes of every suffix, rolled in from the end of
    // the text (the key of a suffix is their top key_bits).
    const auto for_each_key = [&](auto&& visit) {
        Word key = 0;
        for (std::size_t i = n; i-- > 0;) {
            key = (key >> b) | (Word{code[text[i]]} << (64 - b));
            visit(i, key);
        }
    };

    // Runs of equal keys in e[0, m), the sorted entries of ranks
    // [begin, begin + m).  A suffix shorter than h symbols (padded with
    // zeros) ties only with suffixes that continue it with the smallest
    // symbol, so it is a proper prefix of them and sorts first; such short
    // suffixes order among themselves by length.  They leave the run as
    // single ranks; the rest share exactly h symbols and wait for doubling.
    // False once most suffixes tie over the whole key: a periodic text,
    // which induced sorting handles better than doubling once its fixed cost
    // is paid off.  (Natural language ties up to some 45% over keys of 7
    // symbols, in small groups that one doubling round tells apart.)
    //
    // Groups are not listed (natural language leaves thousands): every
    // member but a group's first is marked in sa by the top bit, free since
    // positions are below 2^31, and the ranks later tell the groups apart.
    constexpr std::uint32_t kTiedMark = 0x80000000u;
    std::size_t tied = 0, widest = 0;
    const auto split_runs = [&](const AliasedWord* e, std::size_t m, std::size_t begin) {
        for (std::size_t head = 0; head < m;) {
            std::size_t tail = head + 1;
            while (tail < m && (e[tail] & keep) == (e[head] & keep)) ++tail;
            if (tail == head + 1) {  // the usual case on random text: a key of its own
                sa[begin + head] = static_cast<std::uint32_t>(e[head] & pos_mask);
                head = tail;
                continue;
            }
            std::size_t padded = begin + head, full = begin + tail;
            for (std::size_t r = head; r < tail; ++r) {
                const auto i = static_cast<std::uint32_t>(e[r] & pos_mask);
                if (i + h > n)
                    sa[padded++] = i;
                else
                    sa[--full] = i;
            }
            std::sort(sa + begin + head, sa + padded, std::greater<>());
            if (begin + tail - padded > 1) {
                for (std::size_t r = padded + 1; r < begin + tail; ++r) sa[r] |= kTiedMark;
                tied += begin + tail - padded;
                widest = std::max(widest, begin + tail - padded);
                if (bounded && n >= kTiedCheckFrom && tied > n / 2) return false;
            }
            head = tail;
        }
        return true;
    };

    // Random text is told apart within two or three bytes of key; a text
    // whose keys tie much longer is left to induced sorting, which has no
    // use for them.
    std::size_t budget = bounded ? key_budget(n) : kUnbounded;
    if (n <= kSmall) {
        // A handful of 64-bit entries, sorted whole in `wide`: below a few
        // hundred bytes, and more than rank could hold beside the codes.
        wide.clear();  // growing copies nothing stale
        wide.resize(n);
        Word* const entries = wide.data();
        for_each_key([&](std::size_t i, Word key) { entries[i] = (key & keep) | i; });
        insertion_sort(entries, n);
        if (!split_runs(entries, n, 0)) return false;
    } else {
        // Compact entries first: a 32-bit word per suffix, its position
        // below bits of its key, sorted in sa with rank as the other buffer.
        // Those bits tell random text apart almost everywhere, and nothing
        // beyond sa and rank is held: 8 bytes a symbol.
        const auto compact_pos = static_cast<std::uint32_t>(pos_mask);
        // Each run of entries that share their bits is sorted on as 64-bit
        // entries made from codes packed into the start of rank (once the
        // first run turns up), the entries and the radix sort's other
        // buffer in the rest of it: room for some 3n / 16 suffixes, more
        // than any run of random or natural-language text holds.
        std::optional<PackedCodes> codes;
        unsigned char* const lent = reinterpret_cast<unsigned char*>(rank);
        const std::size_t code_end = PackedCodes::bytes(n, b);
        const std::size_t misaligned = (reinterpret_cast<std::uintptr_t>(lent) + code_end) % alignof(Word);
        const std::size_t room_from = code_end + (misaligned == 0 ? 0 : alignof(Word) - misaligned);
        const std::size_t rank_bytes = n * sizeof(std::uint32_t);
        const std::size_t room = rank_bytes > room_from ? (rank_bytes - room_from) / (2 * sizeof(Word)) : 0;
        const std::size_t most_wide = bounded ? kLeastWideBytes / (2 * sizeof(Word)) : n;
        // The entries sa[from, to), sorted by the bits `compact_keep` keeps,
        // which with those left out of them make the first `known` bits of
        // the keys.
        const auto sort_runs = [&](std::size_t from, std::size_t to, std::uint32_t compact_keep, unsigned known) {
            for (std::size_t head = from; head < to;) {
                const std::uint32_t run_key = sa[head] & compact_keep;
                std::size_t end = head + 1;
                while (end < to && (sa[end] & compact_keep) == run_key) ++end;
                const std::size_t m = end - head;
                if (m == 1) {  // the usual case on random text: a key of its own
                    sa[head] &= compact_pos;
                    head = end;
                    continue;
                }
                if (!codes) codes.emplace(lent, text, n, alphabet, b);
                AliasedWord* entries;
                if (m <= room) {
                    entries = reinterpret_cast<AliasedWord*>(lent + room_from);
                } else {
                    if (m > most_wide) return false;  // most suffixes share a short key: repetitive text
                    if (wide.size() < 2 * m) {
                        wide.clear();  // growing copies nothing stale
                        wide.resize(2 * m);
                    }
                    entries = wide.data();
                }
                const auto make_entries = [&](auto first_bits) {
                    for (std::size_t j = 0; j < m; ++j) {
                        const std::uint32_t i = sa[head + j] & compact_pos;
                        entries[j] = (codes->template at<decltype(first_bits)::value>(i) & keep) | i;
                    }
                };
                if (key_bits <= 57)
                    make_entries(std::true_type{});
                else
                    make_entries(std::false_type{});
                if (m <= kInlineRun) {
                    insertion_sort(entries, m);
                    bool distinct = true;
                    for (std::size_t j = 1; j < m; ++j) distinct &= (entries[j] & keep) != (entries[j - 1] & keep);
                    if (distinct) {
                        for (std::size_t j = 0; j < m; ++j)
                            sa[head + j] = static_cast<std::uint32_t>(entries[j] & pos_mask);
                        head = end;
                        continue;
                    }
                } else if (!radix_sort(entries, entries + m, m, 64 - known - 8, 64 - key_bits, budget)) {
                    return false;
                }
                if (!split_runs(entries, m, head)) return false;
                head = end;
            }
            return true;
        };

        // Natural language (some 50 symbols of 6 bits) takes few values of
        // the first byte, so its buckets fill sooner than random text's: of
        // a first byte of one symbol and 8 - b bits of the next, at most
        // k << (8 - b) values occur.
        const std::size_t first_bytes = b >= 4 ? std::min<std::size_t>(256, std::size_t{k} << (8 - b)) : 256;
        const bool bucketed = n >= kFirstByteBucketsFrom || n >= kLeastBucket * first_bytes ||
                              (b >= 6 && n >= kLeastSkewedBucket * first_bytes && skewed_symbols(text, n));
        if (!bucketed) {
            // The first 16 bits of the key or more above the position.
            const std::uint32_t key_part = ~std::uint32_t{0} << pos_bits;
            for_each_key([&](std::size_t i, Word key) {
                sa[i] = (static_cast<std::uint32_t>(key >> 32) & key_part) | static_cast<std::uint32_t>(i);
            });
            const unsigned compact_bits = sort_compact_entries(sa, rank, n, 16 - pos_bits, budget);
            if (compact_bits == 0) return false;
            if (!sort_runs(0, n, ~std::uint32_t{0} << (32 - compact_bits), compact_bits)) return false;
        } else {
            // Positions of 14 bits or so leave too few spare bits for a
            // pass; instead the entries go to buckets by the first byte of
            // their keys (a counting pass and a scatter), which then leaves
            // their words for the next 16 bits (15 from 2^16 symbols): 23 or
            // 24 bits of key in all, where two passes over all the entries
            // would sort 16.
            std::array<std::uint32_t, 257> bucket{};
            for_each_key([&](std::size_t, Word key) { ++bucket[(key >> 56) + 1]; });
            if (bounded) {
                // As radix_sort: a first byte shared by most suffixes, or no budget.
                if (*std::max_element(bucket.begin(), bucket.end()) > n / 2 || budget < n + kPassOverhead)
                    return false;
                budget -= n + kPassOverhead;
            }
            std::partial_sum(bucket.begin(), bucket.end(), bucket.begin());
            std::array<std::uint32_t, 256> fill;
            std::copy(bucket.begin(), bucket.end() - 1, fill.begin());
            const std::uint32_t key_part = ~std::uint32_t{0} << pos_bits;
            for_each_key([&](std::size_t i, Word key) {
                sa[fill[key >> 56]++] = (static_cast<std::uint32_t>(key >> 24) & key_part) | static_cast<std::uint32_t>(i);
            });
            for (std::size_t c = 0; c < 256; ++c)
                sort_top_16_bits(sa + bucket[c], rank + bucket[c], bucket[c + 1] - bucket[c]);
            const unsigned entry_bits = std::min(16u, 32 - pos_bits);
            for (std::size_t c = 0; c < 256; ++c)
                if (!sort_runs(bucket[c], bucket[c + 1], ~std::uint32_t{0} << (32 - entry_bits), 8 + entry_bits))
                    return false;
        }
    }
    if (tied == 0) return true;

    // Ranks for doubling, now that the packed codes are done with: a rank of
    // its own for every suffix but the tied ones, which share their group's
    // first rank.
    std::uint32_t group = 0;
    for (std::size_t r = 0; r < n; ++r) {
        const std::uint32_t x = sa[r];
        if ((x & kTiedMark) == 0) group = static_cast<std::uint32_t>(r);
        sa[r] = x & ~kTiedMark;
        rank[x & ~kTiedMark] = group;
    }
    // Doubling radix sorts a group in two 64-bit entries per member beside
    // sa and rank; bounded, it has room for half a byte a symbol of them
    // and sorts a wider group in place.  (One run of 60 equal symbols in
    // random text ties 60 suffixes, a thousand copies of a block a thousand.)
    if (bounded) widest = std::min(widest, std::max(n / 2, kLeastWideBytes) / (2 * sizeof(Word)));
    wide.clear();
    wide.resize(2 * widest);
    refine_ranked_groups(n, pos_bits, sa, rank, wide.data(), widest, h);
    return true;
}

}  // namespace parsimetrics
