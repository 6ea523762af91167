#include "lz76.hpp"

#include <algorithm>
#include <atomic>
#include <array>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "error.hpp"
#include "lpf.hpp"
#include "pool.hpp"
#include "suffix_array.hpp"

namespace parsimetrics {

double correction_term(std::size_t n, std::uint32_t alphabet_k, std::uint32_t base_b) {
    const double nd = static_cast<double>(n);
    const double ln_b = std::log(static_cast<double>(base_b));
    double t = std::log(static_cast<double>(alphabet_k) * nd);
    t = t / ln_b;
    t = std::log(t);
    double e = t / ln_b;
    e = e + 1.0;
    e = e + e;
    const double l = std::log(nd) / ln_b;
    return e / l;
}

namespace {

// The count implied by m boundaries ending at `last`: a final factor that ends
// in a copy (last = n + 1) has no new symbol and is not counted.
std::uint32_t counted_factors(std::size_t m, std::size_t last, std::size_t n) {
    return static_cast<std::uint32_t>(last == n ? m - 1 : m - 2);
}

// Length of the common prefix of the suffixes at x and at an earlier start c
// (the two may overlap), eight symbols at a time while both have eight left.
inline std::size_t match_length(const std::uint8_t* text, std::size_t n, std::size_t x, std::size_t c) {
    std::size_t k = 0;
    while (x + k + 8 <= n) {
        std::uint64_t a, b;
        std::memcpy(&a, text + x + k, 8);
        std::memcpy(&b, text + c + k, 8);
        if (const std::uint64_t diff = a ^ b; diff != 0) {
            if constexpr (std::endian::native == std::endian::little)
                return k + static_cast<std::size_t>(std::countr_zero(diff) >> 3);
            else
                return k + static_cast<std::size_t>(std::countl_zero(diff) >> 3);
        }
        k += 8;
    }
    while (x + k < n && text[x + k] == text[c + k]) ++k;
    return k;
}

// Texts shorter than kScanWalkBelow, of at most kScanWalkLargestAlphabet
// symbols, are walked by scanning the suffix array (scan_factors), which gives
// up after reading kScanBudgetPerSymbol entries per symbol.  A scan crosses
// about n / b entries at factor start b, so the walk reads some 2 ln(k)
// entries per symbol over k symbols: from about 32 symbols on (factors of one
// or two symbols) that costs more than the list walk; on long texts the
// random accesses of the scans catch up with it (benchmarks/bench_sort).
constexpr std::size_t kScanWalkBelow = std::size_t{1} << 17;
constexpr std::uint32_t kScanWalkLargestAlphabet = 16;
constexpr std::size_t kScanBudgetPerSymbol = 16;

// The length of the factor starting at b whose nearest earlier starts in
// suffix order are p and q (n or more: none): its longest previous factor,
// the longer of the two matches, and one new symbol.
inline std::size_t factor_length(const std::uint8_t* text, std::size_t n, std::size_t b, std::size_t p,
                                 std::size_t q) {
    const std::size_t lp = p < n ? match_length(text, n, b, p) : 0;
    const std::size_t lq = q < n ? match_length(text, n, b, q) : 0;
    return std::max(lp, lq) + 1;
}

// Texts shorter than kCompareWalkBelow whose sampled windows repeat at
// least kCompareWalkRepeats times are first walked by direct comparison
// (compare_factors), which gives up after kCompareBudgetPerSymbol
// comparisons per symbol: near-periodic text needs 1.5 to 3, run-length
// text 2 to 5 (benchmarks/bench_sort).
constexpr std::size_t kCompareWalkBelow = 512;
constexpr std::size_t kCompareWalkRepeats = 2;
constexpr std::size_t kCompareBudgetPerSymbol = 6;

// Texts shorter than this are always walked by direct comparison, to the
// end: a factor at b costs b comparisons, which on random text of k symbols
// comes to about n / (2 log_k n) per symbol: as much as building an index
// at some 160 binary, 100 four-letter, 64 sixteen-letter or 32 byte
// symbols, so the cost per symbol has no step where the walks change.
constexpr std::size_t compare_always_below(std::uint32_t alphabet_size) {
    if (alphabet_size <= 2) return 160;
    if (alphabet_size <= 4) return 100;
    return alphabet_size <= kScanWalkLargestAlphabet ? 64 : 32;
}

struct WalkEnd {
    std::size_t boundaries;  // m, counting the leading 0 and 1
    std::size_t last;        // the last boundary, n or n + 1
};

// The boundary walk.  Positions are inserted in text order into a list kept
// in suffix order; when x goes in, all earlier positions are there, so its
// list neighbours are its nearest smaller starts on both sides: psv[x] on the
// left, and whatever followed psv[x] until then on the right.  At a factor
// start both neighbours are compared with the text directly.
//
// succ has n + 1 entries; succ[n] is the head of the list.  With kRecord the
// boundary b(k+1) goes into psv[k] once psv[k] has been read: k <= b(k),
// and every later read is at a position above b(k).  Long texts (from
// kBlockWalkFrom, or kSharedBlockWalkFrom on two threads) take
// walk_in_blocks below instead.
template <bool kRecord>
WalkEnd walk_factors(const std::uint8_t* text, std::size_t n, std::uint32_t* succ, std::uint32_t* psv) {
    const auto none = static_cast<std::uint32_t>(n);
    // The list link a position will update is fetched this far ahead.  The
    // text of a factor start's neighbours is fetched once the start is
    // known, after a factor longer than kTextAheadAfter: fetching it for
    // every position ahead (as if each might start a factor) took three
    // random lines per position where one is needed, and from 10^7 symbols
    // on that traffic, not the latency it hid, set the walk's pace.  After a
    // shorter factor the fetch comes too late to hide anything.
    constexpr std::size_t kLinkAhead = 64;
    constexpr std::size_t kTextAheadAfter = 8;
    succ[n] = none;
    if (n == 1) {
        if constexpr (kRecord) psv[0] = 1;
        return {2, 1};
    }

    std::size_t b = 1;      // the current factor start
    std::size_t count = 2;  // boundaries so far: 0 and 1
    const bool prefetch = n >= kPrefetchFrom;
    const std::size_t link_ahead_until = prefetch ? n - kLinkAhead : 0;
    for (std::size_t x = 0;; ++x) {
        if (x < link_ahead_until) __builtin_prefetch(succ + std::min(psv[x + kLinkAhead], none), 1);

        // Insert x between its nearest smaller starts.
        const std::uint32_t p = psv[x];
        const std::uint32_t left = std::min(p, none);
        const std::uint32_t q = succ[left];
        succ[x] = q;
        succ[left] = static_cast<std::uint32_t>(x);
        if (x != b) continue;

        const std::size_t length = factor_length(text, n, b, p, q);
        b += length;
        if constexpr (kRecord) psv[count - 1] = static_cast<std::uint32_t>(b);
        ++count;
        if (b >= n) break;
        if (prefetch && length > kTextAheadAfter) {
            // The left neighbour is final; the right one rarely changes before b.
            const std::uint32_t next_left = std::min(psv[b], none);
            __builtin_prefetch(text + next_left);
            __builtin_prefetch(text + std::min(succ[next_left], none));
        }
    }
    if constexpr (kRecord) psv[0] = 1;
    return {count, b};
}

// The walk by blocks.  A factor that starts at x ends at f(x) = x + the
// longer match with x's two list neighbours at its insertion + 1, whatever
// the factors before x: the walk follows f from 1.  Each block of positions
// is first inserted into the list, keeping every position's right neighbour
// (insert_block), then f is followed across it (follow_block).  Following f
// one start at a time waits for a factor's text before it knows the next
// start, a whole memory latency per factor on long texts; follow_block runs
// kLanes chains of f at once from points spread over the block instead, each
// until it reaches a point another has evaluated (their paths merge within a
// few factors), so that the text of many factors is on its way at once.
//
// The inserts and the following of one block touch different memory and can
// run on two threads: one inserts blocks ahead while the other follows them,
// the right neighbours waiting in a ring of `slots` blocks.
class BlockWalk {
public:
    BlockWalk(const std::uint8_t* text, std::size_t n, std::uint32_t* succ, std::uint32_t* psv, std::size_t slots)
        : text_(text),
          n_(n),
          none_(static_cast<std::uint32_t>(n)),
          succ_(succ),
          psv_(psv),
          block_(block_length(n, slots)),
          slots_(slots),
          blocks_((n + block_ - 1) / block_),
          rights_(slots * block_),
          ends_(block_) {
        succ_[n] = none_;
    }

    // Positions per block: the lanes' paths take a few factors each to
    // merge, work lost on short blocks, while the ring and the ends take at
    // most 1/8 byte per symbol.
    static std::size_t block_length(std::size_t n, std::size_t slots) {
        return std::clamp<std::size_t>(std::bit_floor(n / (32 * (slots + 1))), 16, std::size_t{1} << 14);
    }

    std::size_t blocks() const { return blocks_; }
    std::size_t slots() const { return slots_; }
    bool finished() const { return b_ >= n_; }
    WalkEnd end() const { return {count_, b_}; }

    // Puts the positions of block k into the list, in text order, and keeps
    // the right neighbour each found in its slot of the ring.
    void insert_block(std::size_t k) {
        constexpr std::size_t kLinkAhead = 64;  // the list links fetched ahead
        const std::size_t s = k * block_, e = std::min(n_, s + block_);
        std::uint32_t* const right = rights_.data() + (k % slots_) * block_ - s;
        const std::size_t ahead_until = std::min(e, n_ - std::min(n_, kLinkAhead));
        for (std::size_t x = s; x < e; ++x) {
            if (x < ahead_until) __builtin_prefetch(succ_ + std::min(psv_[x + kLinkAhead], none_), 1);
            const std::uint32_t left = std::min(psv_[x], none_);
            const std::uint32_t q = succ_[left];
            succ_[x] = q;
            succ_[left] = static_cast<std::uint32_t>(x);
            right[x] = q;
        }
    }

    // The factor starts in block k, whose positions are in the list; the
    // blocks before it are followed.  With kRecord boundary b(j+1) goes into
    // psv[j], below the current start, which no insert or lane reads again.
    template <bool kRecord>
    void follow_block(std::size_t k) {
        constexpr std::size_t kLanes = 16, kFactorsPerLane = 64;
        const std::size_t s = k * block_, e = std::min(n_, s + block_);
        if (b_ >= e) return;  // a factor spans the block
        // As many lanes as the factors expected in the block (at the rate
        // so far) keep busy.
        const std::size_t expected = (e - b_) * (count_ - 1) / b_;
        const std::size_t lane_count = std::clamp<std::size_t>(expected / kFactorsPerLane, 1, kLanes);
        const std::uint32_t* const right = rights_.data() + (k % slots_) * block_ - s;
        std::uint32_t* const ends = ends_.data() - s;  // f(x), 0 while unknown
        std::fill(ends + b_, ends + e, 0u);
        const auto fetch = [&](std::size_t x) {
            __builtin_prefetch(text_ + std::min(psv_[x], none_));
            __builtin_prefetch(text_ + right[x]);
        };
        std::array<std::size_t, kLanes> at;
        std::size_t lanes = 0;
        for (std::size_t j = 0; j < lane_count; ++j) {
            const std::size_t x = b_ + j * (e - b_) / lane_count;
            if (lanes > 0 && at[lanes - 1] == x) continue;
            at[lanes++] = x;
            fetch(x);
        }
        // A lane ends at a point already evaluated or past the block.
        while (lanes > 0) {
            for (std::size_t j = 0; j < lanes;) {
                const std::size_t x = at[j];
                if (ends[x] != 0) {
                    at[j] = at[--lanes];
                    continue;
                }
                const std::size_t y = x + factor_length(text_, n_, x, psv_[x], right[x]);
                ends[x] = static_cast<std::uint32_t>(y);
                if (y >= e) {
                    at[j] = at[--lanes];
                    continue;
                }
                at[j++] = y;
                fetch(y);
            }
        }
        // Every point reached from b has its end: the lane that reached it
        // either evaluated it or stopped there, where another had.
        while (b_ < e) {
            b_ = ends[b_];
            if constexpr (kRecord) psv_[count_ - 1] = static_cast<std::uint32_t>(b_);
            ++count_;
        }
    }

private:
    const std::uint8_t* text_;
    std::size_t n_;
    std::uint32_t none_;
    std::uint32_t* succ_;
    std::uint32_t* psv_;
    std::size_t block_, slots_, blocks_;
    WorkArray rights_, ends_;
    std::size_t b_ = 1, count_ = 2;  // the current factor start, boundaries so far
};

// How two threads share a BlockWalk: the inserting thread may run up to a
// ring of blocks ahead of the following one.  Whichever thread finds a block
// ready and nobody following follows it, so a thread that would wait for the
// other does its work instead, and the walk completes on the inserting
// thread alone if the other never starts (with a ring of one block, that is
// the walk on one thread).  A thread waits only while the other is busy: in
// the ring, or for the next block's inserts.
template <bool kRecord>
class SharedBlockWalk {
public:
    explicit SharedBlockWalk(BlockWalk& walk) : walk_(walk) {}

    void insert_all() {
        std::unique_lock lock(mutex_);
        for (std::size_t k = 0; k < walk_.blocks(); ++k) {
            while (!finished_ && k - followed_ >= walk_.slots())
                if (!follow_next(lock)) changed_.wait(lock);
            if (finished_) return;
            lock.unlock();
            walk_.insert_block(k);
            lock.lock();
            inserted_ = k + 1;
            changed_.notify_all();
        }
        follow_all(lock);
    }

    void follow_all() {
        std::unique_lock lock(mutex_);
        follow_all(lock);
    }

private:
    void follow_all(std::unique_lock<std::mutex>& lock) {
        while (!finished_)
            if (!follow_next(lock)) changed_.wait(lock);
    }

    // Follows the next block if it is inserted and free.
    bool follow_next(std::unique_lock<std::mutex>& lock) {
        if (following_ || followed_ == inserted_) return false;
        following_ = true;
        lock.unlock();
        walk_.follow_block<kRecord>(followed_);
        lock.lock();
        following_ = false;
        ++followed_;
        finished_ = walk_.finished();
        changed_.notify_all();
        return true;
    }

    BlockWalk& walk_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t inserted_ = 0;  // blocks in the list
    std::size_t followed_ = 0;  // blocks whose factor starts are known
    bool following_ = false;    // a thread follows block followed_
    bool finished_ = false;     // the last factor is known
};

template <bool kRecord>
WalkEnd walk_in_blocks(const std::uint8_t* text, std::size_t n, std::uint32_t* succ, std::uint32_t* psv,
                       std::size_t threads) {
    // Two threads keep a ring of eight blocks, so that the inserting one
    // rarely waits for the other to be scheduled.
    constexpr std::size_t kRing = 8;
    BlockWalk walk(text, n, succ, psv, threads < 2 ? 1 : kRing);
    SharedBlockWalk<kRecord> shared(walk);
    if (threads < 2)
        shared.insert_all();
    else
        join(Work{n}, [&] { shared.insert_all(); }, [&] { shared.follow_all(); });
    if constexpr (kRecord) psv[0] = 1;
    return walk.end();
}

// Scans of the suffix array for the nearest start below b, eight entries at
// a time: one comparison of the whole block and one branch, where an entry at
// a time would mispredict the exit of most scans (they end within a block).
constexpr std::size_t kScanBlock = 8;

// Bit k set when block[k] < b.  Starts are below 2^31, so signed comparison
// serves.
inline std::uint32_t starts_below(const std::uint32_t* block, std::uint32_t b) {
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi32(static_cast<int>(b));
    const __m128i low = _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block)), limit);
    const __m128i high = _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 4)), limit);
    return static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(low)) |
                                      (_mm_movemask_ps(_mm_castsi128_ps(high)) << 4));
#else
    std::uint32_t mask = 0;
    for (std::size_t k = 0; k < kScanBlock; ++k) mask |= std::uint32_t{block[k] < b} << k;
    return mask;
#endif
}

// The first rank in [from, n) whose start is below b, or n.
inline std::size_t first_start_below(const std::uint32_t* sa, std::size_t from, std::size_t n, std::uint32_t b) {
    std::size_t i = from;
    for (; i + kScanBlock <= n; i += kScanBlock)
        if (const std::uint32_t mask = starts_below(sa + i, b))
            return i + static_cast<std::size_t>(std::countr_zero(mask));
    for (; i < n; ++i)
        if (sa[i] < b) return i;
    return n;
}

// One past the last rank below `until` whose start is below b, or 0.
inline std::size_t end_of_start_below(const std::uint32_t* sa, std::size_t until, std::uint32_t b) {
    std::size_t i = until;
    for (; i >= kScanBlock; i -= kScanBlock)
        if (const std::uint32_t mask = starts_below(sa + i - kScanBlock, b))
            return i - kScanBlock + static_cast<std::size_t>(std::bit_width(mask));
    for (; i > 0; --i)
        if (sa[i - 1] < b) return i;
    return 0;
}

// The same walk without the previous smaller starts or the list, for short
// texts: at a factor start b, its neighbours among earlier positions are
// found in the suffix array itself, scanning from b's rank outwards to the
// nearest start below b on each side.  On typical text such a scan is short
// (about n / b entries), and only factor starts pay for it, while the
// previous-smaller pass and the list touch every position with a branch the
// processor mispredicts.  While b is small the b earlier ranks are read
// instead, whichever is shorter.  Adversarial text could make scans long: past
// `budget` entries read in all the walk gives up (nullopt) and the caller
// takes the general path.  With kRecord boundary b(k+1) goes to rank[k]:
// the walk reads no rank below the current factor start b once it scans,
// and k <= b.  While it reads the earlier ranks directly, the boundaries
// found wait in a small buffer.
constexpr std::size_t kEarlyBoundaries = 1024;
static_assert((kEarlyBoundaries / 2) * (kEarlyBoundaries / 2) >= kScanWalkBelow,
              "the factor starts below direct_below fit in the buffer");

template <bool kRecord>
std::optional<WalkEnd> scan_factors(const std::uint8_t* text, std::size_t n, const std::uint32_t* sa,
                                    std::uint32_t* rank, std::size_t budget) {
    std::array<std::uint32_t, kEarlyBoundaries> early;
    std::uint32_t* out = early.data();
    if constexpr (kRecord) out[0] = 1;
    // Below this factor start the earlier ranks are fewer than the entries a
    // scan expects to cross (about n / b).
    std::size_t direct_below = 1;
    while (direct_below * direct_below < n) direct_below *= 2;
    std::size_t b = 1, count = 2;
    while (b < n) {
        const std::uint32_t r = rank[b];
        std::size_t p = n, q = n;  // n: none
        if constexpr (kRecord) {
            if (b >= direct_below && out != rank) {
                std::copy(early.data(), early.data() + (count - 1), rank);
                out = rank;
            }
        }
        if (b < direct_below) {
            std::uint32_t below = 0, above = static_cast<std::uint32_t>(n);  // ranks + 1 / ranks
            for (std::size_t j = 0; j < b; ++j) {
                const std::uint32_t rj = rank[j];
                below = std::max(below, rj < r ? rj + 1 : 0u);
                above = std::min(above, rj > r ? rj : static_cast<std::uint32_t>(n));
            }
            if (below != 0) p = sa[below - 1];
            if (above != n) q = sa[above];
            if (budget < b) return std::nullopt;
            budget -= b;
        } else {
            const std::size_t lo = end_of_start_below(sa, r, static_cast<std::uint32_t>(b));
            const std::size_t hi = first_start_below(sa, r + 1, n, static_cast<std::uint32_t>(b));
            const std::size_t crossed = (r - lo) + (hi - r);
            if (budget < crossed) return std::nullopt;
            budget -= crossed;
            if (lo > 0) p = sa[lo - 1];
            if (hi < n) q = sa[hi];
        }
        b += factor_length(text, n, b, p, q);
        if constexpr (kRecord) out[count - 1] = static_cast<std::uint32_t>(b);
        ++count;
    }
    if (kRecord && out != rank) std::copy(early.data(), early.data() + (count - 1), rank);
    return WalkEnd{count, b};
}

// The walk with no index at all, for short repetitive texts: at each factor
// start b every earlier start is compared with b directly.  That reads about
// b starts per factor, so it pays only where factors are few and long
// (periodic, near-periodic, run-length text), where it beats building a
// suffix array many times over.  Past `budget` starts compared in all it
// gives up (nullopt).  With kRecord boundary b(k+1) goes to out[k].
template <bool kRecord>
std::optional<WalkEnd> compare_factors(const std::uint8_t* text, std::size_t n, std::size_t budget,
                                       std::uint32_t* out) {
    if constexpr (kRecord) out[0] = 1;
    std::size_t b = 1, count = 2;
    while (b < n) {
        if (budget < b) return std::nullopt;
        budget -= b;
        std::size_t longest = 0;
        for (std::size_t p = 0; p < b; ++p) longest = std::max(longest, match_length(text, n, b, p));
        b += longest + 1;
        if constexpr (kRecord) out[count - 1] = static_cast<std::uint32_t>(b);
        ++count;
    }
    return WalkEnd{count, b};
}

std::uint32_t count_from_end(const WalkEnd& end, std::size_t n) {
    return counted_factors(end.boundaries, end.last, n);
}

// From this length on, a text factorized by a thread outside the pool takes
// two threads, one for each half of its nearest smaller starts: nothing else
// is waiting for the pool that this call can see, and handing work over
// costs some 10 to 20 microseconds, a small part of the work at this
// length.  Inside the pool it keeps to its worker, whose peers
// have items of their own (a map over many sequences) to get on with.
constexpr std::size_t kTwoThreadsFrom = kLibrarySortThreshold;

// The second thread is a speed-up only: where the pool cannot start (too
// little address space for its stacks) the text is factorized on this thread
// alone, as it would be without a pool.  Called before the working arrays
// are allocated, so that the pool's stacks are not what fails to fit.
std::size_t threads_for(std::size_t n) {
    if (n < kTwoThreadsFrom || detail::current_worker() != nullptr || planned_thread_count() < 2) return 1;
    try {
        return std::min<std::size_t>(2, pool_thread_count());
    } catch (const InternalFailure&) {
        return 1;
    }
}

// From this length on the list walk goes by blocks (walk_in_blocks): on one
// thread from kBlockWalkFrom, where the text of factor starts comes from
// memory, not from cache, and the lanes overlap its latency; below, the
// extra pass over each block costs more than it saves (bench_factorize).
// On two threads from kSharedBlockWalkFrom, where one inserting and the
// other following took the walk alone at 10^7 symbols from 0.101 to 0.071 s
// on random bytes and from 0.069 to 0.044 s on English-like text, with both
// cores free (about as long as one thread's walk with the machine loaded).
constexpr std::size_t kBlockWalkFrom = std::size_t{1} << 25;
constexpr std::size_t kSharedBlockWalkFrom = std::size_t{1} << 23;

// The text's memory as huge pages, from kHugePagesFrom bytes on.  The sort
// and the walk read the text at random places, and on small pages nearly
// every such read of a long text also misses the address translation
// cache: collapsing its pages (a copy into 2 MiB pages, about 0.3 ms per
// million symbols, nothing where they are huge already) made factorize
// 4-9% faster from 10^7 to 10^8 symbols.  The text is the caller's and is
// only read; the pages keep their contents.  Advice only: where the kernel
// cannot collapse (older than 6.1, or huge pages off) nothing changes.
void offer_text_huge_pages(const std::uint8_t* text, std::size_t n) noexcept {
    advise_whole_huge_pages(text, n, kAdviseCollapse);
}

// From this length on, a sort on one thread of two (text whose sampled
// keys tie: natural language, repetitive text) leaves the other to fault
// in the working arrays meanwhile.  Fresh pages cost the thread that first
// touches them, most on a virtual machine whose host takes freed memory
// back: there, at 10^8 symbols of English-like text, some 1.4 s of the
// factorization's 6.5 on two threads (bench_factorize).
constexpr std::size_t kPopulateWhileSortingFrom = std::size_t{1} << 22;
constexpr std::size_t kPopulatedAtOnce = std::size_t{32} << 20;  // bytes, so that it stops soon after the sort

SuffixSorter sort_and_populate(const std::uint8_t* text, std::size_t n, FactorizationWorkspace& ws,
                               std::size_t threads) {
    if (threads < 2 || n < kPopulateWhileSortingFrom || !sampled_keys_tie(text, n))
        return sort_suffixes(text, n, ws.suffix_array(), ws.sort_ranks(), ws.wide, threads);
    std::atomic<bool> sorted{false};
    auto populate = [&] {
        auto* const first = reinterpret_cast<std::uint8_t*>(ws.first.data());
        auto* const second = reinterpret_cast<std::uint8_t*>(ws.second.data());
        const std::size_t bytes = ws.second.size() * sizeof(std::uint32_t);
        for (std::size_t at = 0; at < bytes && !sorted.load(std::memory_order_relaxed); at += kPopulatedAtOnce) {
            const std::size_t chunk = std::min(kPopulatedAtOnce, bytes - at);
            populate_for_writing(first + at, chunk);
            populate_for_writing(second + at, chunk);
        }
    };
    return join(
               Work{n},
               [&] {
                   const SuffixSorter sorter =
                       sort_suffixes(text, n, ws.suffix_array(), ws.sort_ranks(), ws.wide, threads);
                   sorted.store(true, std::memory_order_relaxed);
                   return sorter;
               },
               populate)
        .first;
}

struct Walked {
    WalkEnd end;
    const std::uint32_t* recorded;  // with kRecord: the boundaries after 0, m - 1 of them
};

// Suffix array, then the scan walk on short texts, or the previous smaller
// starts and the list walk.  A nonzero `block_threads` takes the list walk
// by blocks on that many threads at any length.
template <bool kRecord>
Walked run_factorization(const Sequence& seq, FactorizationWorkspace& ws, std::size_t block_threads = 0) {
    const std::size_t n = seq.size();
    check_text_length(n);
    const bool forced = block_threads != 0;
    const bool tiny = n < compare_always_below(seq.alphabet_size);
    if (!forced && (tiny || (n < kCompareWalkBelow && sampled_window_repeats(seq.data(), n) >= kCompareWalkRepeats))) {
        // The walk without an index records its boundaries in `third`.
        if constexpr (kRecord) {
            ws.third.clear();
            ws.third.resize(n + 1);
        }
        std::uint32_t* const short_boundaries = ws.short_boundaries();
        const std::size_t budget = tiny ? n * n : kCompareBudgetPerSymbol * n;
        if (const auto end = compare_factors<kRecord>(seq.data(), n, budget, short_boundaries))
            return {*end, short_boundaries};
    }
    const std::size_t threads = forced ? block_threads : threads_for(n);
    offer_text_huge_pages(seq.data(), n);
    // Cleared first: growing a workspace copies nothing stale.
    ws.first.clear();
    ws.first.resize(n + 1);
    ws.second.clear();
    ws.second.resize(n);
    const SuffixSorter sorter = sort_and_populate(seq.data(), n, ws, threads);
    if (!forced && n < kScanWalkBelow && seq.alphabet_size <= kScanWalkLargestAlphabet) {
        const std::uint32_t* sa = ws.suffix_array();
        std::uint32_t* rank = ws.sort_ranks();
        for (std::size_t r = 0; r < n; ++r) rank[sa[r]] = static_cast<std::uint32_t>(r);
        if (const auto end = scan_factors<kRecord>(seq.data(), n, sa, rank, kScanBudgetPerSymbol * n))
            return {*end, rank};
    }
    // An exactly periodic text repeats its pops and inserts with the
    // period, which the plain loops of the scan and the walk predict; it
    // has a handful of factors, nothing for the walk's lanes to overlap
    // (period 37 at 10^8 symbols: 0.72 s plain, 0.89 s by blocks).
    const bool periodic = sorter == SuffixSorter::kPeriodic;
    build_previous_smaller_starts(ws.first.data(), n, ws.previous_smaller_starts(), threads, periodic);
    std::uint32_t* const links = ws.successor_links();
    std::uint32_t* const psv = ws.previous_smaller_starts();
    const bool blocks = forced || (!periodic && n >= (threads < 2 ? kBlockWalkFrom : kSharedBlockWalkFrom));
    return {blocks ? walk_in_blocks<kRecord>(seq.data(), n, links, psv, threads)
                   : walk_factors<kRecord>(seq.data(), n, links, psv),
            ws.boundaries()};
}

double epsilon_of(const Sequence& seq, const AnalysisOptions& options) {
    return correction_term(seq.size(), effective_base(options.alphabet, seq.alphabet_size),
                           effective_base(options.log_base, seq.alphabet_size));
}

FactorizationResult result_from(const WalkEnd& end, const std::uint32_t* recorded, std::size_t n,
                                double epsilon) {
    FactorizationResult result;
    result.factors.reserve(end.boundaries);
    result.factors.push_back(0);
    result.factors.insert(result.factors.end(), recorded, recorded + (end.boundaries - 1));
    result.complexity = count_from_end(end, n);
    result.epsilon = epsilon;
    return result;
}

}  // namespace

FactorizationResult factorize(const Sequence& seq, const AnalysisOptions& options,
                              FactorizationWorkspace& workspace) {
    const std::size_t n = seq.size();
    if (n == 0) return {};
    const Walked walked = run_factorization<true>(seq, workspace);
    return result_from(walked.end, walked.recorded, n, epsilon_of(seq, options));
}

FactorizationResult factorize(const Sequence& seq, const AnalysisOptions& options) {
    const std::size_t n = seq.size();
    if (n == 0) return {};
    FactorizationWorkspace workspace;
    const Walked walked = run_factorization<true>(seq, workspace);
    // The list is no longer needed: release it before the boundaries are copied.
    WorkArray().swap(workspace.first);
    return result_from(walked.end, walked.recorded, n, epsilon_of(seq, options));
}

FactorizationResult detail::factorize_in_blocks(const Sequence& seq, std::size_t threads) {
    const std::size_t n = seq.size();
    if (n == 0) return {};
    FactorizationWorkspace workspace;
    const Walked walked = run_factorization<true>(seq, workspace, std::max<std::size_t>(threads, 1));
    return result_from(walked.end, walked.recorded, n, epsilon_of(seq, {}));
}

std::uint32_t detail::factor_count_in_blocks(const Sequence& seq, std::size_t threads) {
    if (seq.size() == 0) return 0;
    FactorizationWorkspace workspace;
    return count_from_end(run_factorization<false>(seq, workspace, std::max<std::size_t>(threads, 1)).end, seq.size());
}

FactorizationResult constant_result(std::size_t n) {
    // Boundaries are 32-bit: a constant text too long to express its own end
    // must fail rather than report a truncated boundary.
    require(n <= 0xFFFFFFFFu, "text too large, should not exceed 2147483646 bytes");
    FactorizationResult result;
    result.factors = {0, 1, static_cast<std::uint32_t>(n)};
    result.complexity = 1;
    result.epsilon = 0.0;
    return result;
}

std::uint32_t factor_count(const Sequence& seq, FactorizationWorkspace& workspace) {
    if (is_constant(seq)) return 1;
    return count_from_end(run_factorization<false>(seq, workspace).end, seq.size());
}

std::uint32_t phrase_count(const Sequence& seq, FactorizationWorkspace& workspace) {
    const std::size_t n = seq.size();
    if (n < 2) return static_cast<std::uint32_t>(n);
    if (is_constant(seq)) return 2;
    return static_cast<std::uint32_t>(run_factorization<false>(seq, workspace).end.boundaries - 1);
}

std::uint32_t factor_count(const Sequence& seq) {
    FactorizationWorkspace workspace;
    return factor_count(seq, workspace);
}

double factor_spread(const std::vector<std::uint32_t>& factors) {
    const std::size_t m = factors.size();
    if (m < 2) return 0.0;
    const double mean = (static_cast<double>(factors.back()) - 1.0) / static_cast<double>(m);
    std::uint32_t max_len = 0;
    double s = 0.0;
    for (std::size_t i = 1; i < m; ++i) {
        const std::uint32_t d = factors[i] >= factors[i - 1] ? factors[i] - factors[i - 1] : 0;
        if (d > max_len) max_len = d;
        const double dev = static_cast<double>(d) - mean;
        s = s + dev * dev;
    }
    if (max_len == 0) return 0.0;
    return std::sqrt(s / static_cast<double>(max_len));
}

}  // namespace parsimetrics
