// Suffix sorting by prefix keys: a 64-bit word per suffix holding its first
// symbols (as many as fit beside its position), radix sorted, ties refined
// by doubling (suffix_sort_doubling.cpp).  On random text the words tell
// almost every suffix apart within two or three bytes of key, so it costs a
// few passes over n words: the fastest sorter on such text below 2^17
// symbols.  Repetitive text ties for long; there, bounded, it gives up early
// (sampled windows that repeat, a first byte shared by most suffixes, most
// suffixes tied over the whole key, or a budget of passes spent) and leaves
// the text to induced sorting.  Those marks, and the sizes below, come from
// benchmarks/bench_sort and bench_short.
#include "suffix_sort_keys.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <numeric>

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

// From kBucketsFrom symbols on, the keys are made one bucket of suffixes at
// a time (see sort_by_prefix_keys) rather than all at once: below, 16 bytes
// a symbol of entries are a few hundred kilobytes at most and the bucket
// table could not have 2^16 entries, fewer of which would leave buckets of
// several suffixes (insertion sorts that mispredict).
constexpr std::size_t kBucketsFrom = std::size_t{1} << 16;

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
    std::exclusive_scan(next.begin(), next.end(), next.begin(), std::uint32_t{0});
    std::exclusive_scan(high.begin(), high.end(), high.begin(), std::uint32_t{0});
    for (std::size_t i = 0; i < m; ++i) b[next[(a[i] >> 48) & 0xFF]++] = a[i];
    for (std::size_t i = 0; i < m; ++i) a[high[b[i] >> 56]++] = b[i];
    return true;
}

// The codes of a text packed b bits each, most significant first, so that
// the key of any suffix is an unaligned load and a shift away: the keys are
// built bucket by bucket rather than held for the whole text at once.  They
// live in memory the caller lends (the rank array, free until ties need
// ranks), with zeros after the last code.
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

    // The first 64 bits of codes from symbol i on.
    Word at(std::size_t i) const {
        const std::size_t bit = i * b_;
        const unsigned char* p = bytes_ + (bit >> 3);
        Word w;
        std::memcpy(&w, p, sizeof w);
        if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
        const unsigned shift = bit & 7;
        return shift == 0 ? w : (w << shift) | (p[8] >> (8 - shift));
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
    const auto split_runs = [&](const Word* e, std::size_t m, std::size_t begin) {
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
    if (n < kBucketsFrom) {
        // Every entry at once, in `wide` with room for a radix sort's other
        // buffer: 16 bytes a symbol, on texts short enough for that to be
        // little.  A handful of entries sort faster whole than through
        // 256-entry tables.
        wide.clear();  // growing copies nothing stale
        wide.resize(2 * n);
        Word* const entries = wide.data();
        for_each_key([&](std::size_t i, Word key) { entries[i] = (key & keep) | i; });
        if (n <= kSmall)
            insertion_sort(entries, n);
        else if (!sort_by_two_bytes_first(entries, entries + n, n, budget))
            return false;
        // Each run of equal first 16 bits sorted on, then split into keys.
        for (std::size_t head = 0; head < n;) {
            std::size_t end = head + 1;
            while (end < n && entries[end] >> 48 == entries[head] >> 48) ++end;
            if (end - head > 1 && !radix_sort(entries + head, entries + n + head, end - head, 40, 64 - key_bits, budget))
                return false;
            if (!split_runs(entries + head, end - head, head)) return false;
            head = end;
        }
    } else {
        // The suffixes go to buckets by the first `bucket_bits` bits of
        // their keys (a counting pass and a scatter of positions into sa),
        // and each bucket is sorted on as 64-bit entries made for it alone:
        // random text leaves a few suffixes per bucket, so the entries of
        // one bucket at a time take little room beside sa and rank.  The
        // packed codes and the bucket counts share the rank array.
        const std::size_t packed_words = (PackedCodes::bytes(n, b) + 3) / 4;
        const PackedCodes codes(reinterpret_cast<unsigned char*>(rank), text, n, alphabet, b);
        std::uint32_t* const bucket_end = rank + packed_words;
        const std::size_t room = n - packed_words;  // at least 3n / 4 - 3 entries
        // As many buckets as fit, up to 2^16: a bucket holds one or two
        // suffixes of random text, few enough for their entries to be
        // sorted without a mispredicted insertion sort.
        unsigned bucket_bits = 16;
        while ((std::size_t{1} << bucket_bits) + 1 > room) --bucket_bits;
        const std::size_t buckets = std::size_t{1} << bucket_bits;
        const unsigned bucket_shift = 64 - bucket_bits;
        std::fill(bucket_end, bucket_end + buckets, 0u);
        std::array<std::uint32_t, 256> first_byte{};
        for_each_key([&](std::size_t, Word key) {
            ++bucket_end[key >> bucket_shift];
            ++first_byte[key >> 56];
        });
        if (bounded) {
            // As radix_sort: a first byte shared by most suffixes, or no budget.
            if (*std::max_element(first_byte.begin(), first_byte.end()) > n / 2 || budget < n + kPassOverhead)
                return false;
            budget -= n + kPassOverhead;
        }
        std::uint32_t fullest = 0, sum = 0;
        for (std::size_t c = 0; c < buckets; ++c) {
            fullest = std::max(fullest, bucket_end[c]);
            sum += bucket_end[c];
            bucket_end[c] = sum;
        }
        // Each bucket filled from its end, so that it ends where it began.
        for_each_key([&](std::size_t i, Word key) { sa[--bucket_end[key >> bucket_shift]] = static_cast<std::uint32_t>(i); });

        wide.clear();  // growing copies nothing stale
        wide.resize(2 * std::size_t{fullest});
        Word* const entries = wide.data();
        for (std::size_t c = 0; c < buckets; ++c) {
            const std::size_t begin = bucket_end[c], end = c + 1 < buckets ? bucket_end[c + 1] : n;
            const std::size_t m = end - begin;
            if (m <= 1) continue;  // empty, or a key of its own already in place
            for (std::size_t j = 0; j < m; ++j) entries[j] = (codes.at(sa[begin + j]) & keep) | sa[begin + j];
            const unsigned next_bits = bucket_shift >= 8 ? bucket_shift - 8 : 0;
            if (!radix_sort(entries, entries + m, m, next_bits, 64 - key_bits, budget)) return false;
            if (!split_runs(entries, m, begin)) return false;
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
    wide.clear();
    wide.resize(2 * widest);
    refine_ranked_groups(n, pos_bits, sa, rank, wide.data(), widest, h);
    return true;
}

}  // namespace parsimetrics
