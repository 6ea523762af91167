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

using sorting::Group;
using sorting::insertion_sort;
using sorting::kPassOverhead;
using sorting::kSmall;
using sorting::kUnbounded;
using sorting::radix_sort;
using sorting::refine_by_doubling;
using sorting::Word;

namespace {

// Texts from kSampleFrom symbols are sampled for repeats (below
// kSampleInCacheFrom before the alphabet pass, from it on after), and from
// kTiedCheckFrom symbols the count of tied suffixes may stop the keys.
constexpr std::size_t kSampleFrom = 64;
constexpr std::size_t kSampleInCacheFrom = 512;
constexpr std::size_t kTiedCheckFrom = 512;

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
    if (!unsorted.empty()) refine_by_doubling(n, pos_bits, sa, rank, wide.data(), h, unsorted);
    return true;
}

}  // namespace parsimetrics
