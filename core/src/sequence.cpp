#include "sequence.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "shuffle.hpp"

namespace parsimetrics {

std::uint32_t detect_alphabet(const std::uint8_t* symbols, std::size_t n) {
    std::array<bool, 256> seen{};
    for (std::size_t i = 0; i < n; ++i) seen[symbols[i]] = true;
    std::uint32_t count = 0;
    for (bool s : seen) count += s ? 1u : 0u;
    return count < 3 ? 2u : count;
}

Sequence from_bytes(const std::uint8_t* bytes, std::size_t n) {
    return from_bytes(std::vector<std::uint8_t>(bytes, bytes + n));
}

Sequence from_bytes(std::vector<std::uint8_t>&& bytes) {
    Sequence seq;
    seq.symbols = std::move(bytes);
    seq.alphabet_size = detect_alphabet(seq.symbols.data(), seq.symbols.size());
    return seq;
}

Sequence prefix(const Sequence& seq, std::size_t count) {
    return from_bytes(seq.data(), std::min(count, seq.size()));
}

Sequence suffix(const Sequence& seq, std::size_t start) {
    if (start >= seq.size()) return Sequence{{}, seq.alphabet_size};
    return from_bytes(seq.data() + start, seq.size() - start);
}

Sequence concat(const Sequence& first, const Sequence& second) {
    Sequence out;
    out.symbols.reserve(first.size() + second.size());
    out.symbols.insert(out.symbols.end(), first.symbols.begin(), first.symbols.end());
    out.symbols.insert(out.symbols.end(), second.symbols.begin(), second.symbols.end());
    out.alphabet_size = std::max(first.alphabet_size, second.alphabet_size);
    return out;
}

bool is_constant(const Sequence& seq) {
    const std::size_t n = seq.size();
    if (n == 0) return true;
    const std::uint8_t* p = seq.data();
    return std::all_of(p + 1, p + n, [c = p[0]](std::uint8_t s) { return s == c; });
}

namespace {

// Exchanges len bytes at a and b, which do not overlap: 16-byte chunks first
// (one vector load and store each way), then an 8-byte word, then the
// remainder byte by byte.
void exchange_blocks(std::uint8_t* a, std::uint8_t* b, std::size_t len) {
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

}  // namespace

void swap_random_blocks(Sequence& seq, std::uint32_t l, SurrogateRng& rng) {
    swap_random_blocks(seq, l, rng, 1);
}

void swap_random_blocks(Sequence& seq, std::uint32_t l, SurrogateRng& rng, std::uint32_t times) {
    const std::uint64_t n = seq.size();
    const std::uint64_t len = l;
    if (len == 0 || n <= len + 1) return;
    // The largest block index is taken from n - l - 1, not n - l, so a block
    // never reaches the last symbol.
    const std::uint64_t last_block = (n - len - 1) / len;
    if (last_block == 0) return;
    std::uint8_t* symbols = seq.symbols.data();
    for (std::uint32_t step = 0; step < times; ++step) {
        const std::uint64_t i = rng.uniform_inclusive(0, last_block);
        // Short sequences stay as they are, but only after the first draw: the
        // generator's position is part of what later swaps draw.
        if (n < 11) continue;
        std::uint64_t j;
        do {
            j = rng.uniform_inclusive(0, last_block);
        } while (j == i);  // aligned blocks overlap exactly when they are the same
        exchange_blocks(symbols + i * len, symbols + j * len, len);
    }
}

}  // namespace parsimetrics
