// Surrogate generation costs: keystream throughput of every block-function
// implementation this processor runs, and the time of one block-shuffled
// surrogate of a million symbols.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "lz76.hpp"
#include "shuffle.hpp"
#include "timing.hpp"

namespace {

using bench::time_best;
using parsimetrics::ChachaImpl;
using parsimetrics::kChachaBlocksPerRefill;
using parsimetrics::kChachaBufferWords;

// Best of several runs, each refilling `refills` times; returns bytes/s.
double keystream_rate(const ChachaImpl& impl, std::uint64_t refills) {
    const std::array<std::uint32_t, 8> key = {0x03020100, 0x07060504, 0x0b0a0908, 0x0f0e0d0c,
                                              0x13121110, 0x17161514, 0x1b1a1918, 0x1f1e1d1c};
    std::array<std::uint32_t, kChachaBufferWords> out{};
    std::uint32_t sink = 0;
    const double best = time_best([&] {
        for (std::uint64_t r = 0; r < refills; ++r) {
            impl.refill(key.data(), r * kChachaBlocksPerRefill, 0, out.data());
            sink ^= out[r % kChachaBufferWords];
        }
    }, 5);
    volatile std::uint32_t keep = sink;
    (void)keep;
    return static_cast<double>(refills * kChachaBufferWords * 4) / best;
}

}  // namespace

int main() {
    using namespace parsimetrics;

    std::printf("ChaCha8 keystream, %zu blocks per refill (selected: %s)\n", kChachaBlocksPerRefill,
                selected_chacha().name);
    std::printf("%-10s %14s %10s\n", "impl", "MB/s", "x scalar");
    const std::uint64_t refills = 1u << 18;  // 256 MiB per run
    double scalar_rate = 0;
    for (const ChachaImpl& impl : chacha_implementations()) {
        const double rate = keystream_rate(impl, refills);
        if (scalar_rate == 0) scalar_rate = rate;
        std::printf("%-10s %14.1f %10.2f\n", impl.name, rate / 1e6, rate / scalar_rate);
    }

    const std::size_t n = 1000000;
    std::mt19937_64 random(1);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>('a' + random() % 4);
    const Sequence seq = from_bytes(std::move(bytes));
    const std::uint64_t hash = content_hash(seq);

    // The factorization that every surrogate is made for, as the yardstick.
    const double factorize_best = time_best([&] {
        volatile std::uint32_t keep = factor_count(seq);
        (void)keep;
    }, 7);

    std::printf("\nshuffled_surrogate, n = %zu, %zu swaps (best of 7); one factorization %.3f ms\n", n,
                n / 2, factorize_best * 1e3);
    std::printf("%-6s %12s %16s\n", "l", "ms", "x factorization");
    for (std::uint32_t l : {1u, 20u}) {
        std::uint64_t checksum = 0;
        const double best = time_best([&] {
            const Sequence s = shuffled_surrogate(seq, l, static_cast<std::uint32_t>(n / 2),
                                                  block_seed(hash, l));
            checksum += s.symbols[n / 3];
        }, 7);
        volatile std::uint64_t keep = checksum;
        (void)keep;
        std::printf("%-6u %12.3f %16.3f\n", l, best * 1e3, best / factorize_best);
    }
    return 0;
}
