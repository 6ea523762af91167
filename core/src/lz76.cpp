#include "lz76.hpp"

#include <cmath>

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

std::vector<std::uint32_t> boundaries_from_lpf(const std::vector<std::uint32_t>& lpf) {
    const std::size_t n = lpf.size();
    std::vector<std::uint32_t> factors{0, 1};
    // Each factor copies the longest earlier stretch, then adds one symbol.
    for (std::size_t b = 1; b < n; b = factors.back())
        factors.push_back(static_cast<std::uint32_t>(b + lpf[b] + 1));
    return factors;
}

std::uint32_t complexity_of(const std::vector<std::uint32_t>& factors, std::size_t n) {
    const auto m = static_cast<std::uint32_t>(factors.size());
    // A final factor that ends in a copy has no new symbol and is not counted.
    return factors.back() == n ? m - 1 : m - 2;
}

FactorizationResult factorize(const Sequence& seq, const AnalysisOptions& options) {
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

std::uint32_t factor_count(const Sequence& seq, const AnalysisOptions& options) {
    if (is_constant(seq)) return 1;
    return factorize(seq, options).complexity;
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
