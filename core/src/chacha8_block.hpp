// The ChaCha8 keystream behind the surrogate generator.
//
// Every refill computes sixteen consecutive blocks (256 words, 1 KiB) for the
// block counters c, c + 1, ..., c + 15.  The input block is the original
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
//
// Sixteen blocks per refill let the widest level compute one block per
// vector lane; the keystream itself does not depend on how many blocks a
// refill holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace parsimetrics {

inline constexpr std::size_t kChachaBlockWords = 16;
inline constexpr std::size_t kChachaBlocksPerRefill = 16;
inline constexpr std::size_t kChachaBufferWords = kChachaBlockWords * kChachaBlocksPerRefill;

// Writes the sixteen output blocks for counters counter .. counter + 15
// (taken modulo 2^64) into out[0..255], block by block, each in word order.
using ChachaRefill = void (*)(const std::uint32_t key[8], std::uint64_t counter,
                              std::uint64_t stream, std::uint32_t out[kChachaBufferWords]);

// Room a ChachaDraws call needs for its values: one per draw of a refill,
// and one vector's worth beyond, which a vector store may write past the
// last accepted value.
inline constexpr std::size_t kChachaDrawsRoom = kChachaBufferWords / 2 + 8;

// The draws of one refill reduced to integers below `range`, exactly as
// SurrogateRng::uniform_inclusive(0, range - 1) reduces them one at a time:
// each 64-bit draw (a word pair, the earlier word as the low half) times
// range, accepted when the low half of the product is at most
// (range << countl_zero(range)) - 1, yielding the high half.  Writes the
// accepted values in order to values[0 ..) and returns how many there are.
// range is in [1, 2^32 - 1].
using ChachaDraws = std::uint32_t (*)(const std::uint32_t words[kChachaBufferWords], std::uint64_t range,
                                      std::uint64_t values[kChachaDrawsRoom]);

struct ChachaImpl {
    const char* name;
    ChachaRefill refill;
    ChachaDraws draws_below;
};

// The implementations this processor can run: the portable one first, then
// the vector ones in increasing instruction level.
std::span<const ChachaImpl> chacha_implementations();

// The implementation used by default: the highest vector level available,
// decided on first use and fixed for the rest of the process.
const ChachaImpl& selected_chacha();

}  // namespace parsimetrics
