#include "lz76.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "error.hpp"
#include "lpf.hpp"
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
// and every later read is at a position above b(k).
template <bool kRecord>
WalkEnd walk_factors(const std::uint8_t* text, std::size_t n, std::uint32_t* succ, std::uint32_t* psv) {
    const auto none = static_cast<std::uint32_t>(n);
    // The list link a position will update, fetched this far ahead; the text
    // of both its neighbours, fetched nearer (the right one read from links
    // that are already cached and rarely change in between).
    constexpr std::size_t kLinkAhead = 64;
    constexpr std::size_t kTextAhead = 16;
    succ[n] = none;
    if (n == 1) {
        if constexpr (kRecord) psv[0] = 1;
        return {2, 1};
    }

    std::size_t b = 1;      // the current factor start
    std::size_t count = 2;  // boundaries so far: 0 and 1
    const std::size_t link_ahead_until = n < kPrefetchFrom ? 0 : n - kLinkAhead;
    const std::size_t text_ahead_until = n < kPrefetchFrom ? 0 : n - kTextAhead;
    for (std::size_t x = 0;; ++x) {
        // Prefetch for the positions ahead.
        if (x < link_ahead_until) __builtin_prefetch(succ + std::min(psv[x + kLinkAhead], none), 1);
        if (x < text_ahead_until) {
            const std::uint32_t left = std::min(psv[x + kTextAhead], none);
            __builtin_prefetch(text + left);
            __builtin_prefetch(text + std::min(succ[left], none));
        }

        // Insert x between its nearest smaller starts.
        const std::uint32_t p = psv[x];
        const std::uint32_t left = std::min(p, none);
        const std::uint32_t q = succ[left];
        succ[x] = q;
        succ[left] = static_cast<std::uint32_t>(x);
        if (x != b) continue;

        // A factor start: its longest previous factor is the longer match.
        const std::size_t lp = p < n ? match_length(text, n, b, p) : 0;
        const std::size_t lq = q < n ? match_length(text, n, b, q) : 0;
        b += std::max(lp, lq) + 1;
        if constexpr (kRecord) psv[count - 1] = static_cast<std::uint32_t>(b);
        ++count;
        if (b >= n) break;
    }
    if constexpr (kRecord) psv[0] = 1;
    return {count, b};
}

std::uint32_t count_from_end(const WalkEnd& end, std::size_t n) {
    return counted_factors(end.boundaries, end.last, n);
}

// Suffix array, previous smaller starts, walk.  Leaves the recorded
// boundaries (if any) in ws.boundaries()[0, m - 1).
template <bool kRecord>
WalkEnd run_factorization(const Sequence& seq, FactorizationWorkspace& ws) {
    const std::size_t n = seq.size();
    check_text_length(n);
    // Cleared first: growing a workspace copies nothing stale.
    ws.first.clear();
    ws.first.resize(n + 1);
    ws.second.clear();
    ws.second.resize(n);
    sort_suffixes(seq.data(), n, ws.suffix_array(), ws.sort_ranks(), ws.wide);
    build_previous_smaller_starts(ws.first.data(), n, ws.previous_smaller_starts());
    return walk_factors<kRecord>(seq.data(), n, ws.successor_links(), ws.previous_smaller_starts());
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
    const WalkEnd end = run_factorization<true>(seq, workspace);
    return result_from(end, workspace.boundaries(), n, epsilon_of(seq, options));
}

FactorizationResult factorize(const Sequence& seq, const AnalysisOptions& options) {
    const std::size_t n = seq.size();
    if (n == 0) return {};
    FactorizationWorkspace workspace;
    const WalkEnd end = run_factorization<true>(seq, workspace);
    // The list is no longer needed: release it before the boundaries are copied.
    WorkArray().swap(workspace.first);
    return result_from(end, workspace.boundaries(), n, epsilon_of(seq, options));
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
    return count_from_end(run_factorization<false>(seq, workspace), seq.size());
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
