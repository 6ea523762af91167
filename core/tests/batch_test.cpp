#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "batch.hpp"

namespace parsimetrics {
namespace {

Sequence random_sequence(std::size_t n, int sigma, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> pick(0, sigma - 1);
    std::string s(n, '\0');
    for (char& ch : s) ch = static_cast<char>('a' + pick(rng));
    return from_bytes(s);
}

// Kaspar and Schuster's count by its definition: each phrase is the longest
// stretch that also starts earlier (overlaps allowed) plus one symbol, or
// what is left of the sequence.
std::uint32_t reference_ks(const Sequence& s) {
    const std::size_t n = s.size();
    std::size_t b = 0;
    std::uint32_t count = 0;
    while (b < n) {
        std::size_t longest = 0;
        for (std::size_t p = 0; p < b; ++p) {
            std::size_t l = 0;
            while (b + l < n && s.symbols[p + l] == s.symbols[b + l]) ++l;
            longest = std::max(longest, l);
        }
        b += longest + 1;
        ++count;
    }
    return count;
}

// c / (n / log_k n) written out, k at least 2.
double reference_ks_normalized(const Sequence& s, std::uint32_t k) {
    const double n = static_cast<double>(s.size());
    if (s.size() < 2) return 0.0;
    return reference_ks(s) / (n / (std::log(n) / std::log(static_cast<double>(std::max(k, 2u)))));
}

std::vector<Sequence> corpus() {
    std::vector<Sequence> seqs = {from_bytes(""), from_bytes("a"), from_bytes("aaaa")};
    for (std::uint64_t k = 0; k < 24; ++k)
        seqs.push_back(random_sequence(5 + 37 * k, 2 + static_cast<int>(k % 4), k));
    return seqs;
}

Rows rows_of(const std::vector<Sequence>& seqs) {
    Rows rows;
    for (const Sequence& s : seqs) rows.push_back(s.data(), s.size());
    return rows;
}

template <class T>
const std::vector<T>& column(const BatchResults& results) {
    EXPECT_EQ(results.failed, BatchResults::kNone);
    return std::get<std::vector<T>>(results.values);
}

TEST(MeasureEach, EqualsTheSingleSequenceFunctions) {
    const auto seqs = corpus();
    AnalysisOptions options;
    options.want_summands = true;
    const Rows rows = rows_of(seqs);
    const auto f = measure_each(BatchMeasure::factorization, rows, options);
    const auto h = measure_each(BatchMeasure::h, rows, options);
    const auto e = measure_each(BatchMeasure::emc, rows, options);
    ASSERT_EQ(column<FactorizationResult>(f).size(), seqs.size());
    for (std::size_t i = 0; i < seqs.size(); ++i) {
        const auto& fi = column<FactorizationResult>(f)[i];
        const auto expected = is_constant(seqs[i]) ? constant_result(seqs[i].size()) : factorize(seqs[i], options);
        EXPECT_EQ(fi.factors, expected.factors) << i;
        EXPECT_EQ(fi.complexity, expected.complexity) << i;
        EXPECT_EQ(column<double>(h)[i], entropy_density(seqs[i], options)) << i;
        EXPECT_EQ(column<EmcResult>(e)[i].summands, effective_measure_complexity(seqs[i], options).summands) << i;
    }
}

TEST(MeasureEach, FixedWidthRowsAreTheRowsOfAnArray) {
    const Sequence all = random_sequence(30 * 7, 3, 5);
    const auto h = measure_each(BatchMeasure::h, Rows::fixed(all.data(), 30, 7), {});
    for (std::size_t i = 0; i < 30; ++i)
        EXPECT_EQ(column<double>(h)[i], entropy_density(from_bytes(all.data() + i * 7, 7), {})) << i;
}

// A batch whose block size cannot fit is refused before anything runs.
TEST(MeasureEach, RefusesABatchThatCannotFit) {
    const auto seqs = corpus();
    AnalysisOptions options;
    options.max_block_size = 1 << 30;
    const Rows rows = rows_of(seqs);
    EXPECT_GT(batch_memory(BatchMeasure::emc, rows, options, 2), std::uint64_t{1} << 36);
    options.want_summands = true;
    if (batch_memory(BatchMeasure::emc, rows, options, 2) > available_memory()) {
        EXPECT_THROW(measure_each(BatchMeasure::emc, rows, options), std::bad_alloc);
    }
    EXPECT_LT(batch_memory(BatchMeasure::h, rows, options, 2), std::uint64_t{1} << 20);
}

TEST(WindowValues, EachWindowWithTheWholeAlphabetAsBase) {
    const Sequence seq = random_sequence(3000, 3, 7);
    const std::size_t window = 400, step = 130;
    const std::size_t count = window_count(seq.size(), window, step);
    ASSERT_EQ(count, 21u);
    AnalysisOptions base;
    base.log_base = seq.alphabet_size;
    const auto h = window_values(seq, window, step, WindowMeasure::h, {});
    const auto c = window_values(seq, window, step, WindowMeasure::complexity, {});
    ASSERT_EQ(h.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        const Sequence part = from_bytes(seq.data() + i * step, window);
        EXPECT_EQ(h[i], entropy_density(part, base)) << i;
        EXPECT_EQ(c[i], factor_count(part)) << i;
    }
}

TEST(MeasureEach, KasparSchusterCountsEveryPhrase) {
    auto seqs = corpus();
    seqs.push_back(from_bytes("ab"));
    seqs.push_back(from_bytes("aab"));    // ends with a new symbol
    seqs.push_back(from_bytes("abab"));   // ends in a copy
    const auto counted = measure_each(BatchMeasure::kaspar_schuster, rows_of(seqs), {});
    const auto scaled_results = measure_each(BatchMeasure::kaspar_schuster, rows_of(seqs), {}, true);
    const auto& counts = column<std::uint32_t>(counted);
    const auto& scaled = column<double>(scaled_results);
    for (std::size_t i = 0; i < seqs.size(); ++i) {
        EXPECT_EQ(counts[i], reference_ks(seqs[i])) << i;
        EXPECT_DOUBLE_EQ(scaled[i], reference_ks_normalized(seqs[i], seqs[i].alphabet_size)) << i;
    }
    EXPECT_EQ(counts[0], 0u);  // the empty sequence has no phrase
    EXPECT_EQ(counts[2], 2u);  // "aaaa": a, then its copy

    // Past the short-text walks: every boundary of the factorization, less the leading 0.
    const std::vector<Sequence> long_ones = {random_sequence(140000, 2, 99), random_sequence(140001, 3, 98)};
    const auto long_results = measure_each(BatchMeasure::kaspar_schuster, rows_of(long_ones), {});
    const auto& long_counts = column<std::uint32_t>(long_results);
    for (std::size_t i = 0; i < long_ones.size(); ++i)
        EXPECT_EQ(long_counts[i], factorize(long_ones[i], {}).factors.size() - 1) << i;
}

TEST(WindowValues, KasparSchusterWithTheWholeAlphabetAsBase) {
    const Sequence seq = random_sequence(2000, 4, 3);
    for (const bool normalize : {false, true}) {
        const auto values = window_values(seq, 300, 170, WindowMeasure::kaspar_schuster, {}, normalize);
        ASSERT_EQ(values.size(), window_count(seq.size(), 300, 170));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const Sequence part = from_bytes(seq.data() + i * 170, 300);
            const double expected = normalize ? reference_ks_normalized(part, seq.alphabet_size) : reference_ks(part);
            EXPECT_DOUBLE_EQ(values[i], expected) << i;
        }
    }
}

TEST(WindowValues, CountOfWindows) {
    EXPECT_EQ(window_count(10, 10, 1), 1u);
    EXPECT_EQ(window_count(10, 11, 1), 0u);
    EXPECT_EQ(window_count(10, 0, 1), 0u);
    EXPECT_EQ(window_count(10, 3, 3), 3u);
    EXPECT_EQ(window_count(10, 3, 4), 2u);
}

TEST(NidMatrix, EqualsPairwiseNid) {
    const auto seqs = corpus();
    const auto matrix = nid_matrix(seqs);
    const std::size_t m = seqs.size();
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < m; ++j)
            EXPECT_EQ(matrix[i * m + j], normalized_information_distance(seqs[i], seqs[j])) << i << ", " << j;
    EXPECT_TRUE(nid_matrix({}).empty());
}

}  // namespace
}  // namespace parsimetrics
