// The sequence model: a string of byte symbols and the size of the alphabet
// they are taken from.  Every measure works on this record.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace parsimetrics {

struct Sequence {
    std::vector<std::uint8_t> symbols;
    std::uint32_t alphabet_size = 2;  // distinct byte values, at least 2

    std::size_t size() const { return symbols.size(); }
    const std::uint8_t* data() const { return symbols.data(); }
};

// Number of distinct byte values, raised to 2 when smaller.
std::uint32_t detect_alphabet(const std::uint8_t* symbols, std::size_t n);

// Copies n bytes into a new sequence and detects its alphabet.
Sequence from_bytes(const std::uint8_t* bytes, std::size_t n);
inline Sequence from_bytes(std::string_view text) {
    return from_bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
// Takes ownership of an already collected byte string.
Sequence from_bytes(std::vector<std::uint8_t>&& bytes);

// The first min(count, n) symbols, alphabet detected anew.
Sequence prefix(const Sequence& seq, std::size_t count);
// The symbols from `start` on, alphabet detected anew; when start >= n the
// result is empty and keeps the alphabet size of `seq`.
Sequence suffix(const Sequence& seq, std::size_t start);
// First followed by second; the larger alphabet size is kept, not recounted.
Sequence concat(const Sequence& first, const Sequence& second);

// True for the empty sequence and for one whose symbols all equal the first.
bool is_constant(const Sequence& seq);

// What block shuffling draws from: uniform integers in [low, high].  The
// surrogate generator is one; tests script their own.
template <class G>
concept BlockDraws = requires(G& g, std::uint64_t bound) {
    { g.uniform_inclusive(bound, bound) } -> std::convertible_to<std::uint64_t>;
};

// Exchanges len bytes at a and b, which do not overlap: 16-byte chunks first
// (one vector load and store each way), then an 8-byte word, then the
// remainder byte by byte.
inline void exchange_blocks(std::uint8_t* a, std::uint8_t* b, std::size_t len) {
    constexpr std::size_t kChunk = 16;
    std::size_t k = 0;
    for (; k + kChunk <= len; k += kChunk) {
        std::uint8_t ta[kChunk];
        std::uint8_t tb[kChunk];
        std::memcpy(ta, a + k, kChunk);
        std::memcpy(tb, b + k, kChunk);
        std::memcpy(a + k, tb, kChunk);
        std::memcpy(b + k, ta, kChunk);
    }
    if (k + 8 <= len) {  // one 8-byte word of the remainder at once
        std::uint64_t ta, tb;
        std::memcpy(&ta, a + k, 8);
        std::memcpy(&tb, b + k, 8);
        std::memcpy(a + k, &tb, 8);
        std::memcpy(b + k, &ta, 8);
        k += 8;
    }
    for (; k < len; ++k) std::swap(a[k], b[k]);
}

// Block shuffling in place, `times` steps with one generator (what a
// surrogate does).  Each step exchanges two distinct aligned blocks of l
// symbols drawn from `draws` among the blocks 0 .. K, where
// K = (n - l - 1) / l: the first block, then the second until it differs.
// The symbols from (K + 1) * l on, always including the last one, never
// move.  Does nothing for l = 0 or K = 0 (no draw is made); a sequence of at
// most 10 symbols is never changed either, but the first block of each step
// is still drawn, which advances the generator.
template <BlockDraws G>
void swap_random_blocks(Sequence& seq, std::uint32_t l, G& draws, std::uint32_t times = 1) {
    const std::uint64_t n = seq.size();
    const std::uint64_t len = l;
    if (len == 0 || n <= len + 1) return;
    // The largest block index is taken from n - l - 1, not n - l, so a block
    // never reaches the last symbol.
    const std::uint64_t last_block = (n - len - 1) / len;
    if (last_block == 0) return;
    std::uint8_t* symbols = seq.symbols.data();
    for (std::uint32_t step = 0; step < times; ++step) {
        const std::uint64_t i = draws.uniform_inclusive(0, last_block);
        // Short sequences stay as they are, but only after the first draw: the
        // generator's position is part of what later swaps draw.
        if (n < 11) continue;
        std::uint64_t j;
        do {
            j = draws.uniform_inclusive(0, last_block);
        } while (j == i);  // aligned blocks overlap exactly when they are the same
        exchange_blocks(symbols + i * len, symbols + j * len, len);
    }
}

}  // namespace parsimetrics
