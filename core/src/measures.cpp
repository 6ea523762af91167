#include "measures.hpp"

#include <cmath>

#include "lz76.hpp"

namespace parsimetrics {

double entropy_density(std::size_t n, std::uint32_t complexity, const AnalysisOptions& options,
                       std::uint32_t alphabet_size) {
    if (n < 2) return 0.0;
    const double k = static_cast<double>(effective_base(options.log_base, alphabet_size));
    const double nd = static_cast<double>(n);
    const double a = std::log(nd);
    const double b = std::log(k);
    const double q = a / b;
    const double r = nd / q;
    return static_cast<double>(complexity) / r;
}

double compute_h(const Sequence& seq, const AnalysisOptions& options) {
    if (seq.size() == 0) return 0.0;
    const std::uint32_t c = factor_count(seq, options);
    return entropy_density(seq.size(), c, options, seq.alphabet_size);
}

}  // namespace parsimetrics
