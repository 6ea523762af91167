// The ChaCha8 keystream behind the surrogate generator.
//
// Every refill computes four consecutive blocks (64 words, 256 bytes) for the
// block counters c, c + 1, c + 2, c + 3.  The input block is the original
// ChaCha layout with a 64-bit counter and a 64-bit stream number:
//
//   words 0-3    "expand 32-byte k"
//   words 4-11   key
//   words 12-13  block counter, low word then high word
//   words 14-15  stream number, low word then high word
//
// Several implementations of the same function exist, one portable and one
// per x86-64 vector level.  They must produce identical words: surrogates,
// and so every measure built on them, have to be reproducible on any
// machine.  The fastest one the processor supports is chosen once per
// process; the others stay reachable for tests and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace parsimetrics {

inline constexpr std::size_t kChachaBlockWords = 16;
inline constexpr std::size_t kChachaBlocksPerRefill = 4;
inline constexpr std::size_t kChachaBufferWords = kChachaBlockWords * kChachaBlocksPerRefill;

// Writes the four output blocks for counters counter .. counter + 3 (taken
// modulo 2^64) into out[0..63], block by block, each in word order.
using ChachaRefill = void (*)(const std::uint32_t key[8], std::uint64_t counter,
                              std::uint64_t stream, std::uint32_t out[kChachaBufferWords]);

struct ChachaImpl {
    const char* name;
    ChachaRefill refill;
};

// The implementations this processor can run: the portable one first, then
// the vector ones in increasing instruction level.
std::span<const ChachaImpl> chacha_implementations();

// The implementation used by default: the highest vector level available,
// decided on first use and fixed for the rest of the process.
const ChachaImpl& selected_chacha();

}  // namespace parsimetrics
