#include "measures.hpp"

#include <algorithm>
#include <cmath>

#include "lz76.hpp"
#include "pool.hpp"

namespace parsimetrics {

namespace {

// n / log_k(n), the factor count of a maximally complex sequence of n
// symbols, evaluated as ln(n), ln(k), their quotient, then n over it; both
// the density and its error estimate divide by it in this exact form.
double length_per_log(std::size_t n, const AnalysisOptions& options, std::uint32_t alphabet_size) {
    const double k = static_cast<double>(effective_base(options.log_base, alphabet_size));
    const double nd = static_cast<double>(n);
    const double a = std::log(nd);
    const double b = std::log(k);
    const double q = a / b;
    return nd / q;
}

}  // namespace

double entropy_density(std::size_t n, std::uint32_t complexity, const AnalysisOptions& options,
                       std::uint32_t alphabet_size) {
    if (n < 2) return 0.0;
    return static_cast<double>(complexity) / length_per_log(n, options, alphabet_size);
}

double entropy_density(const Sequence& seq, const AnalysisOptions& options) {
    if (seq.size() == 0) return 0.0;
    const std::uint32_t c = factor_count(seq);
    return entropy_density(seq.size(), c, options, seq.alphabet_size);
}

double normalized_information_distance(const Sequence& x, const Sequence& y) {
    PerWorker<FactorizationWorkspace> scratch;
    const auto count = [&](const Sequence& s) { return factor_count(s, scratch.local()); };
    // Two halves of equal work, each a long count (a concatenation) before a
    // short one: a second worker steals the other half whole, and neither
    // waits while the other still has a long count to do.  The
    // concatenations live only inside the tasks that count them.
    const Work half{(x.size() + y.size()) * 3 / 2};
    const auto [with_x, with_y] = join(
        Work{half.symbols * 2},
        [&] { return join(half, [&] { return count(concat(x, y)); }, [&] { return count(x); }); },
        [&] { return join(half, [&] { return count(concat(y, x)); }, [&] { return count(y); }); });
    const double cxy = with_x.first, cx = with_x.second;
    const double cyx = with_y.first, cy = with_y.second;
    const double den = std::max(cx, cy);
    const double num = std::max(cxy - cx, cyx - cy);
    return num / den;
}

ExtraMeasures extra_measures_from_counts(double c, double c_first, double c_last) {
    ExtraMeasures m;
    if (c == 0.0 || c_first == 0.0 || c_last == 0.0) return m;
    const double d = c_first + c_last;
    const double e = d - c;
    m.rajski_distance = 2.0 - (d / c);
    m.redundancy = e / d;
    m.fh_uncertainty = e / c_first;
    m.lh_uncertainty = e / c_last;
    m.pearson_coefficient = e / std::sqrt(c_first * c_last);
    return m;
}

ExtraMeasures extra_measures(const Sequence& seq, double complexity) {
    const std::size_t split = seq.size() / 2;
    // The last half is counted by this thread, the first half is offered to others.
    PerWorker<FactorizationWorkspace> scratch;
    const auto [c_last, c_first] =
        join(Work{seq.size()}, [&] { return factor_count(suffix(seq, split), scratch.local()); },
             [&] { return factor_count(prefix(seq, split), scratch.local()); });
    return extra_measures_from_counts(complexity, static_cast<double>(c_first), static_cast<double>(c_last));
}

FullAnalysisResult full_analysis(const Sequence& seq, const AnalysisOptions& options) {
    const std::size_t n = seq.size();
    FullAnalysisResult r;
    FactorizationResult f = is_constant(seq) ? constant_result(n) : factorize(seq, options);
    r.complexity = f.complexity;
    r.factors = std::move(f.factors);
    r.epsilon = f.epsilon;
    r.h = entropy_density(n, r.complexity, options, seq.alphabet_size);
    r.emc = emc_from_complexities(seq, options, r.complexity,
                                  surrogate_complexities(seq, options, r.complexity));
    const double c = static_cast<double>(r.complexity);
    r.extras = extra_measures(seq, c);
    r.factors_stddev = factor_spread(r.factors);
    if (n >= 2) {
        const double v = std::sqrt(length_per_log(n, options, seq.alphabet_size));
        const double u = (r.h * r.h) * r.h;
        r.normal_error = (std::sqrt(u) * r.factors_stddev) / v;
        r.poison_error = r.h / static_cast<double>(n);
    }
    return r;
}

}  // namespace parsimetrics
