// Deterministic inputs shared by the benchmark programs (splitmix64, no
// library distributions, so every run times the same texts).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

inline std::vector<std::uint8_t> uniform_text(std::size_t n, unsigned sigma, std::uint64_t seed) {
    Rng rng{seed};
    std::vector<std::uint8_t> t(n);
    for (auto& c : t) c = static_cast<std::uint8_t>(sigma == 256 ? rng.next() & 0xFF : 'a' + rng.next() % sigma);
    return t;
}

// Words drawn Zipf-like (weight 1/rank) from a vocabulary of 4000 made-up
// words whose letters follow English letter frequencies; commas, full stops
// with a capital after them, and the odd paragraph break.
inline std::vector<std::uint8_t> english_like_text(std::size_t n, std::uint64_t seed) {
    Rng rng{seed};
    static const double letter_freq[26] = {8.2, 1.5, 2.8, 4.3, 12.7, 2.2, 2.0, 6.1, 7.0, 0.15, 0.77, 4.0, 2.4,
                                           6.7, 7.5, 1.9, 0.095, 6.0, 6.3, 9.1, 2.8, 0.98, 2.4, 0.15, 2.0, 0.074};
    std::vector<double> letter_cdf(26);
    double acc = 0;
    for (int i = 0; i < 26; ++i) letter_cdf[i] = acc += letter_freq[i];
    auto letter = [&] {
        const double u = rng.unit() * acc;
        return static_cast<char>('a' + (std::upper_bound(letter_cdf.begin(), letter_cdf.end(), u) - letter_cdf.begin()));
    };

    const std::size_t vocabulary = 4000;
    std::vector<std::string> words(vocabulary);
    std::vector<double> word_cdf(vocabulary);
    double total = 0;
    for (std::size_t r = 0; r < vocabulary; ++r) {
        // Frequent words are short.
        const std::size_t len = 1 + static_cast<std::size_t>(std::log2(2.0 + r) * (0.4 + rng.unit() * 0.6));
        for (std::size_t k = 0; k < len; ++k) words[r] += letter();
        word_cdf[r] = total += 1.0 / static_cast<double>(r + 1);
    }

    std::vector<std::uint8_t> t;
    t.reserve(n + 32);
    bool capital = true;
    while (t.size() < n) {
        const double u = rng.unit() * total;
        const std::string& w = words[std::upper_bound(word_cdf.begin(), word_cdf.end(), u) - word_cdf.begin()];
        for (std::size_t k = 0; k < w.size(); ++k)
            t.push_back(static_cast<std::uint8_t>(k == 0 && capital ? w[k] - 'a' + 'A' : w[k]));
        capital = false;
        const double p = rng.unit();
        if (p < 0.06) {
            t.push_back(',');
        } else if (p < 0.11) {
            t.push_back('.');
            capital = true;
            if (rng.unit() < 0.1) {
                t.push_back('\n');
                continue;
            }
        }
        t.push_back(' ');
    }
    t.resize(n);
    return t;
}

// A random word of `period` symbols over `sigma` letters, repeated; then
// `mutations` random positions set to random letters.
inline std::vector<std::uint8_t> periodic_text(std::size_t n, std::size_t period, unsigned sigma,
                                               std::size_t mutations, std::uint64_t seed) {
    Rng rng{seed};
    std::vector<std::uint8_t> word(period), t(n);
    for (auto& c : word) c = static_cast<std::uint8_t>('a' + rng.next() % sigma);
    if (period > 1) word[period - 1] = word[0] == 'a' ? 'b' : 'a';  // never constant
    for (std::size_t i = 0; i < n; ++i) t[i] = word[i % period];
    for (std::size_t k = 0; k < mutations && n > 0; ++k)
        t[rng.next() % n] = static_cast<std::uint8_t>('a' + rng.next() % sigma);
    return t;
}

// Runs of one random letter (of four) with lengths drawn from 1 to max_run.
inline std::vector<std::uint8_t> run_text(std::size_t n, std::size_t max_run, std::uint64_t seed) {
    Rng rng{seed};
    std::vector<std::uint8_t> t;
    t.reserve(n + max_run);
    while (t.size() < n) t.insert(t.end(), 1 + rng.next() % max_run, static_cast<std::uint8_t>('a' + rng.next() % 4));
    t.resize(n);
    return t;
}

// The Fibonacci word, rotated by `shift` so that calls can differ.
inline std::vector<std::uint8_t> fibonacci_text(std::size_t n, std::size_t shift) {
    std::string a = "a", b = "ab";
    while (b.size() < n + shift) {
        std::string c = b + a;
        a = std::move(b);
        b = std::move(c);
    }
    return std::vector<std::uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(shift),
                                     b.begin() + static_cast<std::ptrdiff_t>(shift + n));
}

}  // namespace bench
