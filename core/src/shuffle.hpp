// Deterministic block-shuffled surrogates.
//
// A surrogate for block length l is a copy of a sequence whose aligned blocks
// of l symbols have been exchanged at random.  The randomness is seeded from
// the sequence's own content, so a surrogate depends on nothing but the
// symbols and l: not on the time, the process, the number of threads or the
// order in which tasks run.  Each piece of the chain (content hash, block
// seed, generator, range reduction, block swap) is part of the results and
// must not change, or every measure computed from surrogates changes with it.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "error.hpp"
#include "options.hpp"
#include "sequence.hpp"
#include "chacha8_block.hpp"

namespace parsimetrics {

// FNV-1a (64-bit) of the symbols; the alphabet size does not enter.
std::uint64_t content_hash(const Sequence& seq);

// The seed for block length l: ((l * 0x9E3779B97F4A7C15) mod 2^64) XOR hash.
std::uint64_t block_seed(std::uint64_t hash, std::uint64_t l);

// The surrogate generator: the ChaCha8 keystream (64-bit counter, stream 0)
// under a key expanded from a 64-bit seed, drawn 64 bits at a time.  It is a
// plain value owned by one surrogate construction and never shared.
struct SurrogateRng {
    std::array<std::uint32_t, 8> key{};
    std::uint64_t counter = 0;  // block counter of the next refill
    std::uint64_t stream = 0;   // always 0 in this system
    std::array<std::uint32_t, kChachaBufferWords> buffer{};
    std::uint32_t index = kChachaBufferWords;  // next unread word; the buffer starts empty
    // Which implementation of the block function fills the buffer.  They all
    // produce the same words; tests pin a specific one.
    ChachaRefill kernel = selected_chacha().refill;

    // Expands the seed into the key with eight PCG-XSH-RR output steps.
    static SurrogateRng from_seed(std::uint64_t seed);
    static SurrogateRng from_seed(std::uint64_t seed, ChachaRefill kernel);

    // The next two keystream words, the earlier one as the low half.
    std::uint64_t next_u64() {
        if (index >= kChachaBufferWords) refill();
        const std::uint64_t lo = buffer[index];
        const std::uint64_t hi = buffer[index + 1];
        index += 2;
        return lo | (hi << 32);
    }

    // An integer in [low, high] by widening multiplication with rejection.
    // The rejection zone is the conservative (range << leading_zeros) - 1
    // rather than the exact bound; it rejects slightly more often, and it is
    // what fixes the sequence of results, so it must stay as it is.
    std::uint64_t uniform_inclusive(std::uint64_t low, std::uint64_t high) {
        if (high < low) throw InternalFailure("cannot sample empty range");
        const std::uint64_t range = high - low + 1;
        // Only [0, 2^64 - 1] wraps to 0: every draw is then in range.
        if (range == 0) return next_u64();
        const std::uint64_t zone = (range << std::countl_zero(range)) - 1;
        for (;;) {
            const unsigned __int128 product =
                static_cast<unsigned __int128>(next_u64()) * range;
            if (static_cast<std::uint64_t>(product) <= zone) {
                return low + static_cast<std::uint64_t>(product >> 64);
            }
        }
    }

    // Computes the next refill's blocks into the buffer and rewinds the index.
    void refill();
};

// In place, what swap_random_blocks(seq, l, rng, swaps) does with a generator
// rng seeded by `seed`, byte for byte, but faster.
void shuffle_blocks(Sequence& seq, std::uint32_t l, std::uint32_t swaps, std::uint64_t seed,
                    const ChachaImpl& impl = selected_chacha());

// A copy of seq (its alphabet size carried over, not detected again) on which
// swap_random_blocks has run `swaps` times with one generator seeded by
// `seed`.  The input is left untouched.
Sequence shuffled_surrogate(const Sequence& seq, std::uint32_t l, std::uint32_t swaps,
                            std::uint64_t seed);
// The same with a specific implementation of the generator.
Sequence shuffled_surrogate(const Sequence& seq, std::uint32_t l, std::uint32_t swaps,
                            std::uint64_t seed, const ChachaImpl& impl);

// ---------------------------------------------------------------------------
// Surrogate stage and effective measure complexity

// Factor counts of one block-shuffled surrogate per block length 1..m,
// indexed directly by block length (entry 0 unused).
struct SurrogateComplexities {
    std::vector<std::uint32_t> complexities;
    std::uint64_t max_block_size = 0;
};

struct EmcResult {
    std::vector<double> summands;  // per block length, when asked for
    double value = 0.0;            // last value of the projected ladder
    double multi_information = 0.0;  // raw ladder value at block length 1
    std::int32_t max_block_size = 0;
};

// The automatic largest block length for n symbols.
std::uint64_t auto_max_block_size(std::uint64_t n);

// One surrogate per block length on the worker pool.  `input_count`, the
// factor count of `seq` itself, stands in for every block length whose
// surrogate provably equals the input (n <= 2l, or at most ten symbols).
SurrogateComplexities surrogate_complexities(const Sequence& seq, const AnalysisOptions& options,
                                             std::uint32_t input_count);

// The ladder of scaled density gaps, projected onto non-negative,
// non-decreasing values by pool-adjacent-violators.
EmcResult emc_from_complexities(const Sequence& seq, const AnalysisOptions& options, std::uint32_t c,
                                const SurrogateComplexities& surrogates);

// Ladder projection alone: non-negative isotonic regression of `ladder`.
std::vector<double> project_ladder(const std::vector<double>& ladder);

EmcResult effective_measure_complexity(const Sequence& seq, const AnalysisOptions& options);

}  // namespace parsimetrics
