#include <gtest/gtest.h>

#include <cstdint>
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

std::vector<Sequence> corpus() {
    std::vector<Sequence> seqs = {from_bytes(""), from_bytes("a"), from_bytes("aaaa")};
    for (std::uint64_t k = 0; k < 24; ++k)
        seqs.push_back(random_sequence(5 + 37 * k, 2 + static_cast<int>(k % 4), k));
    return seqs;
}

TEST(MeasureEach, EqualsTheSingleSequenceFunctions) {
    const auto seqs = corpus();
    AnalysisOptions options;
    options.want_summands = true;
    const auto f = measure_each(BatchMeasure::factorization, seqs, options);
    const auto h = measure_each(BatchMeasure::h, seqs, options);
    const auto e = measure_each(BatchMeasure::emc, seqs, options);
    ASSERT_EQ(f.size(), seqs.size());
    for (std::size_t i = 0; i < seqs.size(); ++i) {
        const auto& fi = std::get<FactorizationResult>(f[i].value);
        const auto expected = is_constant(seqs[i]) ? constant_result(seqs[i].size()) : factorize(seqs[i], options);
        EXPECT_EQ(fi.factors, expected.factors) << i;
        EXPECT_EQ(fi.complexity, expected.complexity) << i;
        EXPECT_EQ(std::get<double>(h[i].value), entropy_density(seqs[i], options)) << i;
        EXPECT_EQ(std::get<EmcResult>(e[i].value).summands, effective_measure_complexity(seqs[i], options).summands) << i;
    }
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
