#include "shuffle.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "lz76.hpp"
#include "pool.hpp"

namespace parsimetrics {

std::uint64_t content_hash(const Sequence& seq) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : seq.symbols) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

std::uint64_t block_seed(std::uint64_t hash, std::uint64_t l) {
    // Multiplying by the 64-bit golden-ratio constant spreads neighbouring
    // block lengths over all 64 bits before they are mixed with the hash.
    return (l * 0x9E3779B97F4A7C15ull) ^ hash;
}

SurrogateRng SurrogateRng::from_seed(std::uint64_t seed) {
    return from_seed(seed, selected_chacha().refill);
}

SurrogateRng SurrogateRng::from_seed(std::uint64_t seed, ChachaRefill kernel) {
    SurrogateRng rng;
    rng.kernel = kernel;
    std::uint64_t s = seed;
    for (auto& word : rng.key) {
        s = s * 0x5851F42D4C957F2Dull + 0xA17654E46FBE17F3ull;
        const auto x = static_cast<std::uint32_t>((s >> 45) ^ (s >> 27));
        word = std::rotr(x, static_cast<int>(s >> 59));
    }
    return rng;
}

void SurrogateRng::refill() {
    kernel(key.data(), counter, stream, buffer.data());
    counter += kChachaBlocksPerRefill;
    index = 0;
}

Sequence shuffled_surrogate(const Sequence& seq, std::uint32_t l, std::uint32_t swaps,
                            std::uint64_t seed) {
    return shuffled_surrogate(seq, l, swaps, seed, selected_chacha().refill);
}

Sequence shuffled_surrogate(const Sequence& seq, std::uint32_t l, std::uint32_t swaps,
                            std::uint64_t seed, ChachaRefill kernel) {
    Sequence copy = seq;
    SurrogateRng rng = SurrogateRng::from_seed(seed, kernel);
    swap_random_blocks(copy, l, rng, swaps);
    return copy;
}

// ---------------------------------------------------------------------------
// Surrogate stage and effective measure complexity

std::uint64_t auto_max_block_size(std::uint64_t n) {
    std::uint64_t l = 1;
    if (n >= 10) {
        const double x = static_cast<double>(n);
        // Iterate l -> round(log2(n / l)) to a fixed point; two-cycles end on
        // the hundredth evaluation.
        for (int evaluation = 0; evaluation < 100; ++evaluation) {
            const double q = x / static_cast<double>(l);
            const double y = std::log(q) / 0.6931471805599453;
            const auto next = static_cast<std::uint64_t>(std::round(y));
            if (next == l) break;
            l = next;
        }
    }
    return n < 51 ? l : l + 10;
}

namespace {

// Refuses block-length counts whose per-length arrays (here and in the
// caller's result objects, about 64 bytes per length) could not fit in
// physical memory, before anything is allocated or touched.
void check_ladder_fits(std::uint64_t m) {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return;
    const std::uint64_t physical = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    if (m > physical / 64) throw std::bad_alloc();
}

}  // namespace

SurrogateComplexities surrogate_complexities(const Sequence& seq, const AnalysisOptions& options,
                                             std::uint32_t input_count) {
    const std::uint64_t n = seq.size();
    const std::uint64_t m = options.max_block_size > 0 ? static_cast<std::uint64_t>(options.max_block_size)
                                                        : auto_max_block_size(n);
    check_ladder_fits(m);
    SurrogateComplexities out;
    out.max_block_size = m;
    out.complexities.assign(m + 1, 0);

    const std::uint64_t hash = content_hash(seq);
    const auto swaps = static_cast<std::uint32_t>(n / 2);
    PerWorker<FactorizationWorkspace> scratch;
    const std::vector<std::uint32_t> counts =
        parallel_map(1, static_cast<std::int64_t>(m), [&](std::int64_t index) -> std::uint32_t {
            const auto l = static_cast<std::uint64_t>(index);
            // No swap moves a symbol: the surrogate is the input itself.
            if (n <= 2 * l || n <= 10) return input_count;
            const Sequence surrogate =
                shuffled_surrogate(seq, static_cast<std::uint32_t>(l), swaps, block_seed(hash, l));
            return factor_count(surrogate, scratch.local());
        });
    std::copy(counts.begin(), counts.end(), out.complexities.begin() + 1);
    return out;
}

std::vector<double> project_ladder(const std::vector<double>& ladder) {
    struct Block {
        double sum;
        std::uint64_t count;
    };
    std::vector<Block> blocks;
    for (double e : ladder) {
        blocks.push_back({e, 1});
        // Pool while the top block's mean falls below the one beneath it.
        while (blocks.size() >= 2) {
            const Block top = blocks[blocks.size() - 1];
            const Block below = blocks[blocks.size() - 2];
            if (top.sum / static_cast<double>(top.count) >= below.sum / static_cast<double>(below.count)) break;
            blocks.pop_back();
            blocks.back() = {top.sum + below.sum, below.count + top.count};
        }
    }
    std::vector<double> projected;
    projected.reserve(ladder.size());
    for (const Block& b : blocks) {
        double v = b.sum / static_cast<double>(b.count);
        if (!(v > 0.0)) v = 0.0;  // also turns -0.0 and NaN into +0.0
        projected.insert(projected.end(), b.count, v);
    }
    return projected;
}

EmcResult emc_from_complexities(const Sequence& seq, const AnalysisOptions& options, std::uint32_t c,
                                const SurrogateComplexities& surrogates) {
    const std::uint64_t n = seq.size();
    const std::uint64_t m = surrogates.max_block_size;
    EmcResult result;
    result.max_block_size = static_cast<std::int32_t>(m);
    if (options.want_summands) result.summands.assign(m, 0.0);
    if (n <= 1 || m == 0) return result;

    const double k = static_cast<double>(effective_base(options.log_base, seq.alphabet_size));
    const double nd = static_cast<double>(n);
    const double g = (std::log(nd) / std::log(k)) / nd;
    const double u = static_cast<double>(c) * g;
    std::vector<double> ladder(m);
    for (std::uint64_t l = 1; l <= m; ++l)
        ladder[l - 1] = (static_cast<double>(surrogates.complexities[l]) * g - u) * static_cast<double>(l);
    result.multi_information = ladder[0];

    const std::vector<double> projected = project_ladder(ladder);
    if (options.want_summands) {
        result.summands[0] = projected[0] - 0.0;
        for (std::uint64_t l = 1; l < m; ++l) result.summands[l] = projected[l] - projected[l - 1];
    }
    result.value = projected[m - 1];
    return result;
}

EmcResult effective_measure_complexity(const Sequence& seq, const AnalysisOptions& options) {
    const std::uint32_t c = factor_count(seq);
    return emc_from_complexities(seq, options, c, surrogate_complexities(seq, options, c));
}

}  // namespace parsimetrics
