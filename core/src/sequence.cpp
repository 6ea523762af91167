#include "sequence.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

namespace parsimetrics {

namespace {

// Inputs shorter than this are scanned into a register bit set.
constexpr std::size_t kBitmapAlphabetBelow = 64;

}  // namespace

std::uint32_t detect_alphabet(const std::uint8_t* symbols, std::size_t n) {
    std::uint32_t count = 0;
    if (n < kBitmapAlphabetBelow) {
        // A 256-bit set in four registers: short inputs are called for in
        // their thousands, and the byte table below would cost more to
        // clear and count than they take to read.
        std::uint64_t words[4] = {0, 0, 0, 0};
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t bit = std::uint64_t{1} << (symbols[i] & 63);
            const unsigned word = symbols[i] >> 6;
            for (unsigned w = 0; w < 4; ++w) words[w] |= word == w ? bit : 0;
        }
        for (const std::uint64_t w : words) count += static_cast<std::uint32_t>(std::popcount(w));
    } else {
        std::array<bool, 256> seen{};
        for (std::size_t i = 0; i < n; ++i) seen[symbols[i]] = true;
        for (bool s : seen) count += s ? 1u : 0u;
    }
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

}  // namespace parsimetrics
