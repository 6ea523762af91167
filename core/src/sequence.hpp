// The sequence model: a string of byte symbols and the size of the alphabet
// they are taken from.  Every measure works on this record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace parsimetrics {

struct SurrogateRng;

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

// One step of block shuffling, in place: exchanges two distinct aligned
// blocks of l symbols drawn from rng among the blocks 0 .. K, where
// K = (n - l - 1) / l.  The symbols from (K + 1) * l on, always including the
// last one, never move.  Does nothing for l = 0 or K = 0 (no draw is made);
// a sequence of at most 10 symbols is never changed either, but its first
// block is still drawn, which advances the generator.
void swap_random_blocks(Sequence& seq, std::uint32_t l, SurrogateRng& rng);
// The same step `times` times in a row with one generator (what a surrogate
// does), with the block arithmetic done once.
void swap_random_blocks(Sequence& seq, std::uint32_t l, SurrogateRng& rng, std::uint32_t times);

}  // namespace parsimetrics
