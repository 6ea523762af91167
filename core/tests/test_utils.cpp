#include "test_utils.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <numeric>
#include <utility>

#include "suffix_array.hpp"

namespace parsimetrics {

std::vector<std::uint32_t> build_suffix_array(const std::uint8_t* text, std::size_t n) {
    check_text_length(n);  // before gigabytes are allocated for nothing
    // One spare slot: the LPF pass appends a sentinel without reallocating.
    std::vector<std::uint32_t> sa;
    sa.reserve(n + 1);
    sa.resize(n);
    std::vector<std::uint32_t> rank(n);
    WideWorkArray wide;
    sort_suffixes(text, n, sa.data(), rank.data(), wide);
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

std::vector<std::uint32_t> build_lpf_array(std::vector<std::uint32_t>&& sa_in,
                                           std::vector<std::uint32_t>&& lcp_in, std::size_t n) {
    std::vector<std::uint32_t> sa = std::move(sa_in), lcp = std::move(lcp_in);
    std::vector<std::uint32_t> lpf(n, 0);
    if (n <= 1) return lpf;

    // Sentinel rank n: position 0 with LCP 0 pops every pair but position 0's.
    sa.push_back(0);
    lcp.push_back(0);

    // Pairs (lcp with the pair below, start position); positions increase
    // upwards, so a pair is popped at the first later rank with a smaller start.
    struct Entry {
        std::uint32_t lcp;
        std::uint32_t pos;
    };
    std::vector<Entry> stack;
    stack.push_back({0, sa[0]});
    for (std::size_t i = 1; i <= n; ++i) {
        std::uint32_t cur = lcp[i];
        while (!stack.empty() && stack.back().pos > sa[i]) {
            const Entry top = stack.back();
            lpf[top.pos] = std::max(cur, top.lcp);
            cur = std::min(cur, top.lcp);
            stack.pop_back();
        }
        if (i < n) stack.push_back({cur, sa[i]});
    }
    return lpf;
}

std::vector<std::uint32_t> boundaries_from_lpf(const std::vector<std::uint32_t>& lpf) {
    const std::size_t n = lpf.size();
    std::vector<std::uint32_t> factors{0, 1};
    // Each factor copies the longest earlier stretch, then adds one symbol.
    for (std::size_t b = 1; b < n; b = factors.back())
        factors.push_back(static_cast<std::uint32_t>(b + lpf[b] + 1));
    return factors;
}

std::uint32_t complexity_of(const std::vector<std::uint32_t>& factors, std::size_t n) {
    // A final factor that ends in a copy (last boundary n + 1) has no new
    // symbol and is not counted.
    const std::size_t m = factors.size();
    return static_cast<std::uint32_t>(factors.back() == n ? m - 1 : m - 2);
}

FactorizationResult factorize_reference(const Sequence& seq, const AnalysisOptions& options) {
    FactorizationResult result;
    const std::size_t n = seq.size();
    if (n == 0) return result;

    std::vector<std::uint32_t> sa = build_suffix_array(seq.data(), n);
    std::vector<std::uint32_t> lcp = build_lcp_array(seq.data(), n, sa);
    result.epsilon = correction_term(n, effective_base(options.alphabet, seq.alphabet_size),
                                     effective_base(options.log_base, seq.alphabet_size));
    const std::vector<std::uint32_t> lpf = build_lpf_array(std::move(sa), std::move(lcp), n);
    result.factors = boundaries_from_lpf(lpf);
    result.complexity = complexity_of(result.factors, n);
    return result;
}

// ---------------------------------------------------------------------------

std::vector<std::uint32_t> brute_force_suffix_array(std::string_view t) {
    std::vector<std::uint32_t> sa(t.size());
    std::iota(sa.begin(), sa.end(), 0u);
    std::sort(sa.begin(), sa.end(), [&](std::uint32_t a, std::uint32_t b) { return t.substr(a) < t.substr(b); });
    return sa;
}

std::uint32_t common_prefix(std::string_view t, std::size_t a, std::size_t b) {
    std::uint32_t k = 0;
    while (a + k < t.size() && b + k < t.size() && t[a + k] == t[b + k]) ++k;
    return k;
}

std::uint32_t brute_force_lpf(std::string_view t, std::size_t i) {
    std::uint32_t best = 0;
    for (std::size_t j = 0; j < i; ++j) best = std::max(best, common_prefix(t, i, j));
    return best;
}

std::vector<std::uint32_t> brute_force_boundaries(std::string_view t) {
    if (t.empty()) return {};
    std::vector<std::uint32_t> f{0, 1};
    while (f.back() < t.size()) f.push_back(f.back() + brute_force_lpf(t, f.back()) + 1);
    return f;
}

// ---------------------------------------------------------------------------

std::string random_text(std::size_t n, unsigned sigma, std::mt19937_64& rng) {
    std::string t(n, '\0');
    for (char& c : t) c = static_cast<char>((rng() % sigma * (256 / sigma) + 0x41) & 0xff);
    return t;
}

std::string near_periodic(std::size_t n, std::size_t period, unsigned sigma, std::size_t mutations,
                          std::mt19937_64& rng) {
    std::string t = repeat(random_text(period, sigma, rng), n);
    for (std::size_t k = 0; k < mutations && n > 0; ++k) t[rng() % n] = random_text(1, sigma, rng)[0];
    return t;
}

std::string word_text(std::size_t n, std::mt19937_64& rng) {
    std::vector<std::string> words(300);
    for (auto& w : words) w = random_text(1 + rng() % 14, 6, rng);
    std::string t;
    while (t.size() < n) t += words[rng() % words.size()] + (rng() % 3 ? "" : " ");
    return t.substr(0, n);
}

namespace {

std::string fibonacci_word(std::size_t n) {
    std::string a = "a", b = "ab";
    while (b.size() < n) {
        std::string c = b + a;
        a = std::move(b);
        b = std::move(c);
    }
    return b.substr(0, n);
}

// Runs of one symbol with random lengths up to max_run.
std::string runs(std::size_t n, unsigned sigma, std::size_t max_run, std::mt19937_64& rng) {
    std::string t;
    while (t.size() < n) t.append(1 + rng() % max_run, random_text(1, sigma, rng)[0]);
    t.resize(n);
    return t;
}

// Blocks of a period-p word separated by single marks: periodic at two scales.
std::string nested_periodic(std::size_t n, std::size_t p, std::size_t copies) {
    std::string t;
    for (std::size_t i = 0; t.size() < n; ++i) t.push_back(i % (p * copies + 1) == p * copies ? 'c' : "ab"[i % p % 2]);
    t.resize(n);
    return t;
}

std::string thue_morse(std::size_t n) {
    std::string t(n, '\0');
    for (std::size_t i = 0; i < n; ++i) t[i] = static_cast<char>('a' + std::popcount(i) % 2);
    return t;
}

}  // namespace

std::vector<std::string> input_families(std::size_t n, std::mt19937_64& rng) {
    std::vector<std::string> inputs;
    for (unsigned sigma : {1u, 2u, 3u, 4u, 16u, 17u, 26u, 256u}) inputs.push_back(random_text(n, sigma, rng));
    for (std::size_t period : {1, 2, 3, 7, 64, 101, 700}) {
        inputs.push_back(near_periodic(n, period, 2, 0, rng));
        inputs.push_back(near_periodic(n, period, 4, 3, rng));
    }
    inputs.push_back(fibonacci_word(n));
    inputs.push_back(thue_morse(n));
    inputs.push_back(nested_periodic(n, 3, 5));
    inputs.push_back(runs(n, 2, 40, rng));
    inputs.push_back(runs(n, 256, 5, rng));
    return inputs;
}

// ---------------------------------------------------------------------------

std::string show(std::string_view t) {
    constexpr std::size_t kShown = 256;
    std::string out = "\"";
    for (unsigned char c : t.substr(0, kShown)) {
        char buf[8];
        std::snprintf(buf, sizeof buf, c >= 0x20 && c < 0x7f && c != '"' && c != '\\' ? "%c" : "\\x%02x\"\"", c);
        out += buf;
    }
    out += t.size() > kShown ? "\"..." : "\"";
    return out + " (n=" + std::to_string(t.size()) + ")";
}

}  // namespace parsimetrics
