// ChaCha8 refill: a portable reference and x86-64 vector versions.
//
// The vector versions are compiled through per-function target attributes,
// so the library itself needs no instruction-set flags and still runs on any
// x86-64 processor; which version runs is decided from the processor's
// features at run time.  All of them must agree word for word with the
// portable one (the test suite checks this on every machine it runs on),
// which is what every other processor (aarch64) runs.
#include "chacha8_block.hpp"

#include <array>
#include <bit>

#if defined(__x86_64__)
// GCC 12.2's AVX-512 intrinsics start from a deliberately undefined vector,
// which its own (maybe-)uninitialized warnings then report wherever they
// are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <cpuid.h>
#define PARSIMETRICS_CHACHA_X86 1
#endif

namespace parsimetrics {
namespace {

constexpr int kDoubleRounds = 4;  // ChaCha8: eight rounds

constexpr std::uint32_t kSigma[4] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u};

constexpr std::uint32_t low_word(std::uint64_t x) { return static_cast<std::uint32_t>(x); }
constexpr std::uint32_t high_word(std::uint64_t x) { return static_cast<std::uint32_t>(x >> 32); }

// ---------------------------------------------------------------------------
// Portable reference.

inline void quarter_round(std::uint32_t* s, int a, int b, int c, int d) {
    s[a] += s[b]; s[d] ^= s[a]; s[d] = std::rotl(s[d], 16);
    s[c] += s[d]; s[b] ^= s[c]; s[b] = std::rotl(s[b], 12);
    s[a] += s[b]; s[d] ^= s[a]; s[d] = std::rotl(s[d], 8);
    s[c] += s[d]; s[b] ^= s[c]; s[b] = std::rotl(s[b], 7);
}

void refill_scalar(const std::uint32_t key[8], std::uint64_t counter, std::uint64_t stream,
                   std::uint32_t out[kChachaBufferWords]) {
    for (std::size_t block = 0; block < kChachaBlocksPerRefill; ++block) {
        const std::uint64_t c = counter + block;  // wraps modulo 2^64 like the counter itself
        std::array<std::uint32_t, 16> input;
        for (int i = 0; i < 4; ++i) input[i] = kSigma[i];
        for (int i = 0; i < 8; ++i) input[4 + i] = key[i];
        input[12] = low_word(c);
        input[13] = high_word(c);
        input[14] = low_word(stream);
        input[15] = high_word(stream);

        std::array<std::uint32_t, 16> s = input;
        for (int r = 0; r < kDoubleRounds; ++r) {
            quarter_round(s.data(), 0, 4, 8, 12);
            quarter_round(s.data(), 1, 5, 9, 13);
            quarter_round(s.data(), 2, 6, 10, 14);
            quarter_round(s.data(), 3, 7, 11, 15);
            quarter_round(s.data(), 0, 5, 10, 15);
            quarter_round(s.data(), 1, 6, 11, 12);
            quarter_round(s.data(), 2, 7, 8, 13);
            quarter_round(s.data(), 3, 4, 9, 14);
        }
        std::uint32_t* dst = out + block * kChachaBlockWords;
        for (int i = 0; i < 16; ++i) dst[i] = s[i] + input[i];
    }
}

// Every draw is written and the count grows only for the accepted ones, so
// rejections (close to half of all draws for some ranges) cost no branch.
std::uint32_t draws_below_scalar(const std::uint32_t words[kChachaBufferWords], std::uint64_t range,
                                 std::uint64_t values[kChachaDrawsRoom]) {
    const std::uint64_t zone = (range << std::countl_zero(range)) - 1;
    std::uint32_t count = 0;
    for (std::size_t w = 0; w < kChachaBufferWords; w += 2) {
        const std::uint64_t x = words[w] | (std::uint64_t{words[w + 1]} << 32);
        const unsigned __int128 product = static_cast<unsigned __int128>(x) * range;
        values[count] = static_cast<std::uint64_t>(product >> 64);
        count += static_cast<std::uint64_t>(product) <= zone;
    }
    return count;
}

#if PARSIMETRICS_CHACHA_X86

// The 128-bit and AVX2 versions compute four blocks at a time, and a refill
// runs them over its four groups of four.
constexpr std::size_t kGroupBlocks = 4;
constexpr std::size_t kGroupWords = kGroupBlocks * kChachaBlockWords;
constexpr std::size_t kGroups = kChachaBlocksPerRefill / kGroupBlocks;

#define PM_INLINE inline __attribute__((always_inline))

// ---------------------------------------------------------------------------
// 128-bit versions.  The four blocks are computed side by side: vector v[i]
// holds state word i of blocks 0..3 in lanes 0..3, so every quarter round is
// plain lane-wise arithmetic with no shuffling between rounds, and one 4x4
// transpose per group of four words at the end puts the words back in block
// order.  Only the rotations differ between instruction levels.

// Helpers that need nothing beyond SSE2, the x86-64 baseline; they inline into
// the kernels of every level.

PM_INLINE void x4_init(const std::uint32_t key[8], std::uint64_t counter, std::uint64_t stream,
                       __m128i v[16]) {
    for (int i = 0; i < 4; ++i) v[i] = _mm_set1_epi32(static_cast<int>(kSigma[i]));
    for (int i = 0; i < 8; ++i) v[4 + i] = _mm_set1_epi32(static_cast<int>(key[i]));
    const std::uint64_t c0 = counter, c1 = counter + 1, c2 = counter + 2, c3 = counter + 3;
    v[12] = _mm_set_epi32(static_cast<int>(low_word(c3)), static_cast<int>(low_word(c2)),
                          static_cast<int>(low_word(c1)), static_cast<int>(low_word(c0)));
    v[13] = _mm_set_epi32(static_cast<int>(high_word(c3)), static_cast<int>(high_word(c2)),
                          static_cast<int>(high_word(c1)), static_cast<int>(high_word(c0)));
    v[14] = _mm_set1_epi32(static_cast<int>(low_word(stream)));
    v[15] = _mm_set1_epi32(static_cast<int>(high_word(stream)));
}

// Adds the input block and writes lane b of every word into block b.  The
// input is rebuilt here rather than kept through the rounds: sixteen state
// vectors already fill the sixteen vector registers.
PM_INLINE void x4_finish(const std::uint32_t key[8], std::uint64_t counter, std::uint64_t stream,
                         __m128i v[16], std::uint32_t out[kGroupWords]) {
    __m128i input[16];
    x4_init(key, counter, stream, input);
    for (int i = 0; i < 16; ++i) v[i] = _mm_add_epi32(v[i], input[i]);
    for (int g = 0; g < 4; ++g) {
        const __m128i t0 = _mm_unpacklo_epi32(v[4 * g], v[4 * g + 1]);      // w0b0 w1b0 w0b1 w1b1
        const __m128i t1 = _mm_unpackhi_epi32(v[4 * g], v[4 * g + 1]);      // w0b2 w1b2 w0b3 w1b3
        const __m128i t2 = _mm_unpacklo_epi32(v[4 * g + 2], v[4 * g + 3]);  // w2b0 w3b0 w2b1 w3b1
        const __m128i t3 = _mm_unpackhi_epi32(v[4 * g + 2], v[4 * g + 3]);  // w2b2 w3b2 w2b3 w3b3
        auto* dst = out + 4 * g;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 0 * kChachaBlockWords), _mm_unpacklo_epi64(t0, t2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 1 * kChachaBlockWords), _mm_unpackhi_epi64(t0, t2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * kChachaBlockWords), _mm_unpacklo_epi64(t1, t3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * kChachaBlockWords), _mm_unpackhi_epi64(t1, t3));
    }
}

template <int R>
PM_INLINE __m128i rotl_shift(__m128i x) {
    return _mm_or_si128(_mm_slli_epi32(x, R), _mm_srli_epi32(x, 32 - R));
}

// SSE2 rounds: rotations by shifts, except 16, which is a swap of the 16-bit
// halves and costs two word shuffles instead of three operations.
PM_INLINE __m128i rotl16_sse2(__m128i x) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);
}

PM_INLINE void qr_sse2(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    a = _mm_add_epi32(a, b); d = _mm_xor_si128(d, a); d = rotl16_sse2(d);
    c = _mm_add_epi32(c, d); b = _mm_xor_si128(b, c); b = rotl_shift<12>(b);
    a = _mm_add_epi32(a, b); d = _mm_xor_si128(d, a); d = rotl_shift<8>(d);
    c = _mm_add_epi32(c, d); b = _mm_xor_si128(b, c); b = rotl_shift<7>(b);
}

PM_INLINE void rounds_sse2(__m128i v[16]) {
    // Fully unrolled, the rounds spill fewer state vectors (measured 10-15%).
#pragma GCC unroll 4
    for (int r = 0; r < kDoubleRounds; ++r) {
        qr_sse2(v[0], v[4], v[8], v[12]);
        qr_sse2(v[1], v[5], v[9], v[13]);
        qr_sse2(v[2], v[6], v[10], v[14]);
        qr_sse2(v[3], v[7], v[11], v[15]);
        qr_sse2(v[0], v[5], v[10], v[15]);
        qr_sse2(v[1], v[6], v[11], v[12]);
        qr_sse2(v[2], v[7], v[8], v[13]);
        qr_sse2(v[3], v[4], v[9], v[14]);
    }
}

void refill_sse2(const std::uint32_t key[8], std::uint64_t counter, std::uint64_t stream,
                 std::uint32_t out[kChachaBufferWords]) {
    for (std::size_t g = 0; g < kGroups; ++g) {
        const std::uint64_t c = counter + g * kGroupBlocks;
        __m128i v[16];
        x4_init(key, c, stream, v);
        rounds_sse2(v);
        x4_finish(key, c, stream, v, out + g * kGroupWords);
    }
}

// SSSE3 rounds: the byte-aligned rotations (16 and 8) become one byte
// shuffle each.  SSE4.1 and AVX add nothing ChaCha can use at this width, so
// their kernels run these same rounds, compiled for their own level (AVX gets
// the three-operand encodings).  They perform about like SSSE3; they exist so
// that every level the dispatcher can pick has an entry of its own to test.

__attribute__((target("ssse3"))) PM_INLINE __m128i rotl16_ssse3(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2));
}

__attribute__((target("ssse3"))) PM_INLINE __m128i rotl8_ssse3(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_set_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3));
}

__attribute__((target("ssse3"))) PM_INLINE void qr_ssse3(__m128i& a, __m128i& b, __m128i& c,
                                                          __m128i& d) {
    a = _mm_add_epi32(a, b); d = _mm_xor_si128(d, a); d = rotl16_ssse3(d);
    c = _mm_add_epi32(c, d); b = _mm_xor_si128(b, c); b = rotl_shift<12>(b);
    a = _mm_add_epi32(a, b); d = _mm_xor_si128(d, a); d = rotl8_ssse3(d);
    c = _mm_add_epi32(c, d); b = _mm_xor_si128(b, c); b = rotl_shift<7>(b);
}

__attribute__((target("ssse3"))) PM_INLINE void group_ssse3(
    const std::uint32_t key[8], std::uint64_t counter, std::uint64_t stream,
    std::uint32_t out[kGroupWords]) {
    __m128i v[16];
    x4_init(key, counter, stream, v);
#pragma GCC unroll 4
    for (int r = 0; r < kDoubleRounds; ++r) {
        qr_ssse3(v[0], v[4], v[8], v[12]);
        qr_ssse3(v[1], v[5], v[9], v[13]);
        qr_ssse3(v[2], v[6], v[10], v[14]);
        qr_ssse3(v[3], v[7], v[11], v[15]);
        qr_ssse3(v[0], v[5], v[10], v[15]);
        qr_ssse3(v[1], v[6], v[11], v[12]);
        qr_ssse3(v[2], v[7], v[8], v[13]);
        qr_ssse3(v[3], v[4], v[9], v[14]);
    }
    x4_finish(key, counter, stream, v, out);
}

__attribute__((target("ssse3"))) PM_INLINE void refill_x4_ssse3(
    const std::uint32_t key[8], std::uint64_t counter, std::uint64_t stream,
    std::uint32_t out[kChachaBufferWords]) {
    for (std::size_t g = 0; g < kGroups; ++g)
        group_ssse3(key, counter + g * kGroupBlocks, stream, out + g * kGroupWords);
}

__attribute__((target("ssse3"))) void refill_ssse3(const std::uint32_t key[8], std::uint64_t counter,
                                                   std::uint64_t stream,
                                                   std::uint32_t out[kChachaBufferWords]) {
    refill_x4_ssse3(key, counter, stream, out);
}

__attribute__((target("sse4.1"))) void refill_sse41(const std::uint32_t key[8], std::uint64_t counter,
                                                    std::uint64_t stream,
                                                    std::uint32_t out[kChachaBufferWords]) {
    refill_x4_ssse3(key, counter, stream, out);
}

__attribute__((target("avx"))) void refill_avx(const std::uint32_t key[8], std::uint64_t counter,
                                               std::uint64_t stream,
                                               std::uint32_t out[kChachaBufferWords]) {
    refill_x4_ssse3(key, counter, stream, out);
}

// ---------------------------------------------------------------------------
// AVX2: two blocks per 256-bit register, one in each 128-bit half, kept in
// the row form (rows a = words 0-3, b = 4-7, c = 8-11, d = 12-15).  Blocks
// 0/1 and 2/3 form two independent register sets whose instructions
// interleave.  The diagonal round turns into a column round by rotating rows
// b, c and d by one, two and three lanes; all shuffles stay within a half, so
// the two blocks of a register never mix.

__attribute__((target("avx2"))) PM_INLINE __m256i rotl16_avx2(__m256i x) {
    return _mm256_shuffle_epi8(x, _mm256_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2,
                                                  13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2));
}

__attribute__((target("avx2"))) PM_INLINE __m256i rotl8_avx2(__m256i x) {
    return _mm256_shuffle_epi8(x, _mm256_set_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3,
                                                  14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3));
}

template <int R>
__attribute__((target("avx2"))) PM_INLINE __m256i rotl_avx2(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, R), _mm256_srli_epi32(x, 32 - R));
}

__attribute__((target("avx2"))) PM_INLINE void qr_avx2(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
    a = _mm256_add_epi32(a, b); d = _mm256_xor_si256(d, a); d = rotl16_avx2(d);
    c = _mm256_add_epi32(c, d); b = _mm256_xor_si256(b, c); b = rotl_avx2<12>(b);
    a = _mm256_add_epi32(a, b); d = _mm256_xor_si256(d, a); d = rotl8_avx2(d);
    c = _mm256_add_epi32(c, d); b = _mm256_xor_si256(b, c); b = rotl_avx2<7>(b);
}

// Lane rotations that line the diagonals up as columns, and their inverses.
__attribute__((target("avx2"))) PM_INLINE void diagonalize(__m256i& b, __m256i& c, __m256i& d) {
    b = _mm256_shuffle_epi32(b, _MM_SHUFFLE(0, 3, 2, 1));
    c = _mm256_shuffle_epi32(c, _MM_SHUFFLE(1, 0, 3, 2));
    d = _mm256_shuffle_epi32(d, _MM_SHUFFLE(2, 1, 0, 3));
}

__attribute__((target("avx2"))) PM_INLINE void undiagonalize(__m256i& b, __m256i& c, __m256i& d) {
    b = _mm256_shuffle_epi32(b, _MM_SHUFFLE(2, 1, 0, 3));
    c = _mm256_shuffle_epi32(c, _MM_SHUFFLE(1, 0, 3, 2));
    d = _mm256_shuffle_epi32(d, _MM_SHUFFLE(0, 3, 2, 1));
}

// Row d of two blocks with counters c and c + 1 (low half, high half).
__attribute__((target("avx2"))) PM_INLINE __m256i counter_row(std::uint64_t c, std::uint64_t stream) {
    const std::uint64_t c1 = c + 1;
    return _mm256_set_epi32(static_cast<int>(high_word(stream)), static_cast<int>(low_word(stream)),
                            static_cast<int>(high_word(c1)), static_cast<int>(low_word(c1)),
                            static_cast<int>(high_word(stream)), static_cast<int>(low_word(stream)),
                            static_cast<int>(high_word(c)), static_cast<int>(low_word(c)));
}

// Stores the two blocks held by one register set into dst[0..31].
__attribute__((target("avx2"))) PM_INLINE void store_pair(__m256i a, __m256i b, __m256i c, __m256i d,
                                                          std::uint32_t* dst) {
    auto* p = reinterpret_cast<__m256i*>(dst);
    _mm256_storeu_si256(p + 0, _mm256_permute2x128_si256(a, b, 0x20));  // low block, words 0-7
    _mm256_storeu_si256(p + 1, _mm256_permute2x128_si256(c, d, 0x20));  // low block, words 8-15
    _mm256_storeu_si256(p + 2, _mm256_permute2x128_si256(a, b, 0x31));  // high block, words 0-7
    _mm256_storeu_si256(p + 3, _mm256_permute2x128_si256(c, d, 0x31));  // high block, words 8-15
}

__attribute__((target("avx2"))) PM_INLINE void group_avx2(const std::uint32_t key[8], std::uint64_t counter,
                                                           std::uint64_t stream,
                                                           std::uint32_t out[kGroupWords]) {
    const __m256i row_a = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSigma)));
    const __m256i row_b = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(key)));
    const __m256i row_c = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + 4)));
    const __m256i row_d0 = counter_row(counter, stream);
    const __m256i row_d1 = counter_row(counter + 2, stream);

    __m256i a0 = row_a, b0 = row_b, c0 = row_c, d0 = row_d0;
    __m256i a1 = row_a, b1 = row_b, c1 = row_c, d1 = row_d1;
    for (int r = 0; r < kDoubleRounds; ++r) {
        qr_avx2(a0, b0, c0, d0);
        qr_avx2(a1, b1, c1, d1);
        diagonalize(b0, c0, d0);
        diagonalize(b1, c1, d1);
        qr_avx2(a0, b0, c0, d0);
        qr_avx2(a1, b1, c1, d1);
        undiagonalize(b0, c0, d0);
        undiagonalize(b1, c1, d1);
    }
    store_pair(_mm256_add_epi32(a0, row_a), _mm256_add_epi32(b0, row_b), _mm256_add_epi32(c0, row_c),
               _mm256_add_epi32(d0, row_d0), out);
    store_pair(_mm256_add_epi32(a1, row_a), _mm256_add_epi32(b1, row_b), _mm256_add_epi32(c1, row_c),
               _mm256_add_epi32(d1, row_d1), out + 2 * kChachaBlockWords);
}

__attribute__((target("avx2"))) void refill_avx2(const std::uint32_t key[8], std::uint64_t counter,
                                                 std::uint64_t stream,
                                                 std::uint32_t out[kChachaBufferWords]) {
    for (std::size_t g = 0; g < kGroups; ++g)
        group_avx2(key, counter + g * kGroupBlocks, stream, out + g * kGroupWords);
}

// ---------------------------------------------------------------------------
// AVX-512: all sixteen blocks at once, one per 32-bit lane.  Vector v[i]
// holds state word i of every block, so the rounds are lane-wise arithmetic
// with single-instruction rotations, and a 16 x 16 transpose at the end puts
// the words in block order.

__attribute__((target("avx512f"))) PM_INLINE void qr_avx512(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
    a = _mm512_add_epi32(a, b); d = _mm512_xor_si512(d, a); d = _mm512_rol_epi32(d, 16);
    c = _mm512_add_epi32(c, d); b = _mm512_xor_si512(b, c); b = _mm512_rol_epi32(b, 12);
    a = _mm512_add_epi32(a, b); d = _mm512_xor_si512(d, a); d = _mm512_rol_epi32(d, 8);
    c = _mm512_add_epi32(c, d); b = _mm512_xor_si512(b, c); b = _mm512_rol_epi32(b, 7);
}

__attribute__((target("avx512f"))) void refill_avx512(const std::uint32_t key[8], std::uint64_t counter,
                                                     std::uint64_t stream,
                                                     std::uint32_t out[kChachaBufferWords]) {
    __m512i input[16];
    for (int i = 0; i < 4; ++i) input[i] = _mm512_set1_epi32(static_cast<int>(kSigma[i]));
    for (int i = 0; i < 8; ++i) input[4 + i] = _mm512_set1_epi32(static_cast<int>(key[i]));
    // The 64-bit counters of blocks 0-7 and 8-15, split into their low and
    // high words by gathering the even and the odd 32-bit halves.
    const __m512i first = _mm512_add_epi64(_mm512_set1_epi64(static_cast<long long>(counter)),
                                           _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0));
    const __m512i second = _mm512_add_epi64(first, _mm512_set1_epi64(8));
    input[12] = _mm512_permutex2var_epi32(
        first, _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0), second);
    input[13] = _mm512_permutex2var_epi32(
        first, _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1), second);
    input[14] = _mm512_set1_epi32(static_cast<int>(low_word(stream)));
    input[15] = _mm512_set1_epi32(static_cast<int>(high_word(stream)));

    __m512i v[16];
    for (int i = 0; i < 16; ++i) v[i] = input[i];
    for (int r = 0; r < kDoubleRounds; ++r) {
        qr_avx512(v[0], v[4], v[8], v[12]);
        qr_avx512(v[1], v[5], v[9], v[13]);
        qr_avx512(v[2], v[6], v[10], v[14]);
        qr_avx512(v[3], v[7], v[11], v[15]);
        qr_avx512(v[0], v[5], v[10], v[15]);
        qr_avx512(v[1], v[6], v[11], v[12]);
        qr_avx512(v[2], v[7], v[8], v[13]);
        qr_avx512(v[3], v[4], v[9], v[14]);
    }
    for (int i = 0; i < 16; ++i) v[i] = _mm512_add_epi32(v[i], input[i]);

    // Within each 128-bit lane L (blocks 4L .. 4L + 3), interleave words
    // i .. i + 3 so that u[i + q] holds words i .. i + 3 of block 4L + q.
    __m512i t[16], u[16];
    for (int i = 0; i < 16; i += 2) {
        t[i] = _mm512_unpacklo_epi32(v[i], v[i + 1]);      // blocks 4L, 4L + 1
        t[i + 1] = _mm512_unpackhi_epi32(v[i], v[i + 1]);  // blocks 4L + 2, 4L + 3
    }
    for (int i = 0; i < 16; i += 4) {
        u[i] = _mm512_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm512_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm512_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm512_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    // Block 4L + q is lane L of u[q], u[4 + q], u[8 + q], u[12 + q].
    for (int q = 0; q < 4; ++q) {
        const __m512i ab02 = _mm512_shuffle_i32x4(u[q], u[4 + q], _MM_SHUFFLE(2, 0, 2, 0));
        const __m512i ab13 = _mm512_shuffle_i32x4(u[q], u[4 + q], _MM_SHUFFLE(3, 1, 3, 1));
        const __m512i cd02 = _mm512_shuffle_i32x4(u[8 + q], u[12 + q], _MM_SHUFFLE(2, 0, 2, 0));
        const __m512i cd13 = _mm512_shuffle_i32x4(u[8 + q], u[12 + q], _MM_SHUFFLE(3, 1, 3, 1));
        std::uint32_t* block = out + q * kChachaBlockWords;
        _mm512_storeu_si512(block + 0 * kGroupWords, _mm512_shuffle_i32x4(ab02, cd02, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm512_storeu_si512(block + 1 * kGroupWords, _mm512_shuffle_i32x4(ab13, cd13, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm512_storeu_si512(block + 2 * kGroupWords, _mm512_shuffle_i32x4(ab02, cd02, _MM_SHUFFLE(3, 1, 3, 1)));
        _mm512_storeu_si512(block + 3 * kGroupWords, _mm512_shuffle_i32x4(ab13, cd13, _MM_SHUFFLE(3, 1, 3, 1)));
    }
}

// Draws below `range` from a whole refill, eight at a time.  With range
// below 2^32 the 64 x 64-bit product splits into two 32 x 32-bit ones,
// x * range = hi * range * 2^32 + lo * range, whose sum gives the low half
// and, with its carry, the high half; the accepted high halves are
// compressed to the front of a vector and stored at the end of the list.
__attribute__((target("avx512f"))) std::uint32_t draws_below_avx512(
    const std::uint32_t words[kChachaBufferWords], std::uint64_t range,
    std::uint64_t values[kChachaDrawsRoom]) {
    const __m512i r = _mm512_set1_epi64(static_cast<long long>(range));
    const __m512i zone = _mm512_set1_epi64(static_cast<long long>((range << std::countl_zero(range)) - 1));
    const __m512i one = _mm512_set1_epi64(1);
    std::uint32_t count = 0;
    for (std::size_t w = 0; w < kChachaBufferWords; w += 16) {
        const __m512i x = _mm512_loadu_si512(words + w);
        const __m512i low_product = _mm512_mul_epu32(x, r);
        const __m512i high_product = _mm512_mul_epu32(_mm512_srli_epi64(x, 32), r);
        const __m512i low = _mm512_add_epi64(low_product, _mm512_slli_epi64(high_product, 32));
        const __mmask8 carry = _mm512_cmplt_epu64_mask(low, low_product);
        const __m512i high_base = _mm512_srli_epi64(high_product, 32);
        const __m512i high = _mm512_mask_add_epi64(high_base, carry, high_base, one);
        const __mmask8 accepted = _mm512_cmple_epu64_mask(low, zone);
        _mm512_storeu_si512(values + count, _mm512_maskz_compress_epi64(accepted, high));
        count += static_cast<std::uint32_t>(std::popcount(static_cast<unsigned>(accepted)));
    }
    return count;
}

#undef PM_INLINE

// The vector levels the processor has and the system saves the registers
// of, read with cpuid and xgetbv.  __builtin_cpu_supports would ask the
// compiler's runtime library, which the wheels' toolchain links whole (its
// logarithm then replacing the C library's in the whole module).
struct X86Levels {
    bool sse2 = false, ssse3 = false, sse41 = false, avx = false, avx2 = false, avx512f = false;
};

X86Levels x86_levels() {
    X86Levels levels;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return levels;
    levels.sse2 = (d & bit_SSE2) != 0;
    levels.ssse3 = (c & bit_SSSE3) != 0;
    levels.sse41 = (c & bit_SSE4_1) != 0;
    // XCR0: the system saves the SSE and AVX halves (bits 1, 2) and the
    // AVX-512 mask and upper registers (bits 5 to 7).
    std::uint64_t xcr0 = 0;
    if ((c & bit_OSXSAVE) != 0) {
        std::uint32_t low = 0, high = 0;
        __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        xcr0 = (std::uint64_t{high} << 32) | low;
    }
    const bool ymm = (xcr0 & 0x06) == 0x06;
    levels.avx = ymm && (c & bit_AVX) != 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) != 0) {
        levels.avx2 = levels.avx && (b & bit_AVX2) != 0;
        levels.avx512f = ymm && (xcr0 & 0xe0) == 0xe0 && (b & bit_AVX512F) != 0;
    }
    return levels;
}

#endif  // PARSIMETRICS_CHACHA_X86

struct Available {
    std::array<ChachaImpl, 7> impls{};
    std::size_t count = 0;

    void add(const char* name, ChachaRefill refill, ChachaDraws draws_below = draws_below_scalar) {
        impls[count++] = ChachaImpl{name, refill, draws_below};
    }
};

Available detect() {
    Available found;
    found.add("scalar", refill_scalar);
#if PARSIMETRICS_CHACHA_X86
    const X86Levels has = x86_levels();
    if (has.sse2) found.add("sse2", refill_sse2);
    if (has.ssse3) found.add("ssse3", refill_ssse3);
    if (has.sse41) found.add("sse4.1", refill_sse41);
    if (has.avx) found.add("avx", refill_avx);
    if (has.avx2) found.add("avx2", refill_avx2);
    if (has.avx512f) found.add("avx512", refill_avx512, draws_below_avx512);
#endif
    return found;
}

}  // namespace

std::span<const ChachaImpl> chacha_implementations() {
    static const Available available = detect();
    return {available.impls.data(), available.count};
}

const ChachaImpl& selected_chacha() {
    static const ChachaImpl& chosen = chacha_implementations().back();
    return chosen;
}

}  // namespace parsimetrics
