#include "shuffle.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
    return shuffled_surrogate(seq, l, swaps, seed, selected_chacha());
}

namespace {

// Exchanges the non-overlapping blocks of len bytes at a and b, for
// C <= len <= 2C, with two chunks of C bytes per block, one at each end.
// Every load comes before every store, so the bytes the two chunks share
// are written twice with the same value.
template <std::size_t C>
inline void exchange_two_chunks(std::uint8_t* a, std::uint8_t* b, std::size_t len) {
    std::uint8_t a0[C], a1[C], b0[C], b1[C];
    std::memcpy(a0, a, C);
    std::memcpy(a1, a + len - C, C);
    std::memcpy(b0, b, C);
    std::memcpy(b1, b + len - C, C);
    std::memcpy(a, b0, C);
    std::memcpy(a + len - C, b1, C);
    std::memcpy(b, a0, C);
    std::memcpy(b + len - C, a1, C);
}

// Blocks longer than 64 bytes: 32-byte chunks from the front, and the last
// 32 bytes, loaded before any chunk is stored: the bytes they share with
// the last front chunk must be read before that chunk overwrites them.
inline void exchange_long(std::uint8_t* a, std::uint8_t* b, std::size_t len) {
    constexpr std::size_t C = 32;
    std::uint8_t a_tail[C], b_tail[C];
    std::memcpy(a_tail, a + len - C, C);
    std::memcpy(b_tail, b + len - C, C);
    for (std::size_t k = 0; k < len - C; k += C) {
        std::uint8_t ta[C], tb[C];
        std::memcpy(ta, a + k, C);
        std::memcpy(tb, b + k, C);
        std::memcpy(a + k, tb, C);
        std::memcpy(b + k, ta, C);
    }
    std::memcpy(a + len - C, b_tail, C);
    std::memcpy(b + len - C, a_tail, C);
}

// The swaps of swap_random_blocks on a fresh generator, with its draws
// reduced a whole refill at a time.  All draws share one range, so the values
// uniform_inclusive would return are simply the accepted draws in order:
// each swap takes the next two, except that a second block equal to the
// first is dropped and the one after it taken instead.  A first block left
// over at the end of a refill is carried to the front of the next.
template <class Exchange>
void swap_drawn_pairs(std::uint8_t* symbols, std::uint64_t len, std::uint64_t range, std::uint32_t swaps,
                      SurrogateRng& rng, ChachaDraws draws_below, Exchange exchange) {
    std::array<std::uint64_t, 1 + kChachaDrawsRoom> values;
    std::uint32_t carried = 0;
    while (swaps > 0) {
        rng.refill();
        const std::uint32_t count = carried + draws_below(rng.buffer.data(), range, values.data() + carried);
        std::uint32_t p = 0;
        for (; p + 1 < count && swaps > 0; ++p) {
            const std::uint64_t i = values[p];
            const std::uint64_t j = values[p + 1];
            // Equal blocks: values[p + 1] is the first block again.
            if (i == j) continue;
            exchange(symbols + i * len, symbols + j * len, len);
            ++p;
            --swaps;
        }
        carried = p < count ? 1 : 0;
        if (carried) values[0] = values[p];
    }
}

// A lambda rather than the function's address, so that the exchange inlines.
template <std::size_t C>
void swap_drawn_pairs_by(std::uint8_t* symbols, std::uint64_t len, std::uint64_t range, std::uint32_t swaps,
                         SurrogateRng& rng, ChachaDraws draws_below) {
    swap_drawn_pairs(symbols, len, range, swaps, rng, draws_below,
                     [](std::uint8_t* a, std::uint8_t* b, std::size_t n) { exchange_two_chunks<C>(a, b, n); });
}

}  // namespace

void shuffle_blocks(Sequence& seq, std::uint32_t l, std::uint32_t swaps, std::uint64_t seed,
                    const ChachaImpl& impl) {
    SurrogateRng rng = SurrogateRng::from_seed(seed, impl.refill);
    const std::uint64_t n = seq.size();
    const std::uint64_t len = l;
    // What swap_random_blocks leaves alone or only draws for (one candidate
    // block among them), and ranges of blocks too wide for the draw
    // reduction, it handles itself.
    const std::uint64_t range = n < 11 || len == 0 || n <= len + 1 ? 0 : (n - len - 1) / len + 1;
    if (range <= 1 || range >= (std::uint64_t{1} << 32)) {
        swap_random_blocks(seq, l, rng, swaps);
        return;
    }
    std::uint8_t* symbols = seq.symbols.data();
    const ChachaDraws draws = impl.draws_below;
    // One exchange routine per range of lengths, chosen once per surrogate.
    if (len == 1) {
        swap_drawn_pairs(symbols, len, range, swaps, rng, draws,
                         [](std::uint8_t* a, std::uint8_t* b, std::size_t) { std::swap(*a, *b); });
    } else if (len < 4) {
        swap_drawn_pairs_by<2>(symbols, len, range, swaps, rng, draws);
    } else if (len < 8) {
        swap_drawn_pairs_by<4>(symbols, len, range, swaps, rng, draws);
    } else if (len < 16) {
        swap_drawn_pairs_by<8>(symbols, len, range, swaps, rng, draws);
    } else if (len < 32) {
        swap_drawn_pairs_by<16>(symbols, len, range, swaps, rng, draws);
    } else if (len <= 64) {
        swap_drawn_pairs_by<32>(symbols, len, range, swaps, rng, draws);
    } else {
        swap_drawn_pairs(symbols, len, range, swaps, rng, draws,
                         [](std::uint8_t* a, std::uint8_t* b, std::size_t n) { exchange_long(a, b, n); });
    }
}

Sequence shuffled_surrogate(const Sequence& seq, std::uint32_t l, std::uint32_t swaps,
                            std::uint64_t seed, const ChachaImpl& impl) {
    Sequence copy = seq;
    shuffle_blocks(copy, l, swaps, seed, impl);
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
    // Each worker shuffles its surrogates in one buffer of its own.
    struct Scratch {
        FactorizationWorkspace workspace;
        Sequence surrogate;
    };
    PerWorker<Scratch> scratch;
    const std::vector<std::uint32_t> counts =
        parallel_map(Work{n * m}, 1, static_cast<std::int64_t>(m), [&](std::int64_t index) -> std::uint32_t {
            const auto l = static_cast<std::uint64_t>(index);
            // No swap moves a symbol: the surrogate is the input itself.
            if (n <= 2 * l || n <= 10) return input_count;
            Scratch* local = scratch.local();
            Sequence own;
            Sequence& surrogate = local ? local->surrogate : own;
            surrogate.symbols.assign(seq.symbols.begin(), seq.symbols.end());
            surrogate.alphabet_size = seq.alphabet_size;
            shuffle_blocks(surrogate, static_cast<std::uint32_t>(l), swaps, block_seed(hash, l));
            return factor_count(surrogate, local ? &local->workspace : nullptr);
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
