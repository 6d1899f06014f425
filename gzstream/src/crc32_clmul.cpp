#include "crc32_clmul.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace gzstream::engine {

namespace {

// The fold constants are powers of x modulo the CRC-32 polynomial, bit-reflected
// and shifted left by one, as carry-less products of reflected operands need.
// x^(n) mod P for the distances folded over: 4x128 bits (k1, k2), 128 bits
// (k3, k4), 64 bits (k5), then Barrett's reduction by P and by floor(x^64 / P).
constexpr std::uint64_t kFold4[2] = {0x0154442bd4, 0x01c6e41596};
constexpr std::uint64_t kFold1[2] = {0x01751997d0, 0x00ccaa009e};
constexpr std::uint64_t kFold64[2] = {0x0163cd6124, 0};
constexpr std::uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

__attribute__((target("pclmul,sse4.1"))) inline __m128i load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i constants(const std::uint64_t (&k)[2]) {
    return _mm_set_epi64x(static_cast<long long>(k[1]), static_cast<long long>(k[0]));
}

// One 128-bit lane moved forward by the distance `k` encodes, plus `next`.
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i lane, __m128i k,
                                                             __m128i next) {
    __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// 16-byte blocks folded into x1, then 128 bits to 64 and to 32 by Barrett
// reduction; the CRC-32 in zlib's form.
__attribute__((target("pclmul,sse4.1"))) inline std::uint32_t finish(__m128i x1,
                                                                     const unsigned char*& p,
                                                                     std::size_t& left) {
    const __m128i k1 = constants(kFold1);
    while (left >= 16) {
        x1 = fold(x1, k1, load(p));
        p += 16;
        left -= 16;
    }
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k1, 0x10));
    __m128i t = _mm_srli_si128(x, 4);
    x = _mm_and_si128(x, low32);
    x = _mm_xor_si128(_mm_clmulepi64_si128(x, constants(kFold64), 0x00), t);

    const __m128i poly = constants(kBarrett);
    t = _mm_and_si128(x, low32);
    t = _mm_clmulepi64_si128(t, poly, 0x10);
    t = _mm_and_si128(t, low32);
    t = _mm_clmulepi64_si128(t, poly, 0x00);
    x = _mm_xor_si128(x, t);
    return ~static_cast<std::uint32_t>(_mm_extract_epi32(x, 1));
}

// Four 128-bit lanes, 64 bytes a step.
__attribute__((target("pclmul,sse4.1"))) std::size_t crc32_four_lanes(std::uint32_t& crc,
                                                                      const unsigned char* data,
                                                                      std::size_t len) {
    const unsigned char* p = data;
    std::size_t left = len;

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    left -= 64;

    const __m128i k4 = constants(kFold4);
    while (left >= 64) {
        x1 = fold(x1, k4, load(p));
        x2 = fold(x2, k4, load(p + 16));
        x3 = fold(x3, k4, load(p + 32));
        x4 = fold(x4, k4, load(p + 48));
        p += 64;
        left -= 64;
    }

    const __m128i k1 = constants(kFold1);
    x1 = fold(x1, k1, x2);
    x1 = fold(x1, k1, x3);
    x1 = fold(x1, k1, x4);
    crc = finish(x1, p, left);
    return len - left;
}

// Sixteen lanes in four 512-bit registers, 256 bytes a step: each
// VPCLMULQDQ multiplies four lanes at once, so the same folding runs about
// three times as fast where the processor has it.
constexpr std::uint64_t kFold16[2] = {0x011542778a, 0x01322d1430};  // 16x128 bits
constexpr std::uint64_t kFold3[2] = {0x003db1ecdc, 0x0174359406};   // 3x128 bits
constexpr std::uint64_t kFold2[2] = {0x00f1da05aa, 0x015a546366};   // 2x128 bits

__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i wide_fold(__m512i lanes, __m512i k,
                                                                       __m512i next) {
    const __m512i low = _mm512_clmulepi64_epi128(lanes, k, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(lanes, k, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // low ^ high ^ next
}

__attribute__((target("avx512f"))) inline __m512i wide_load(const unsigned char* p) {
    return _mm512_loadu_si512(p);
}

__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i wide_constants(
    const std::uint64_t (&k)[2]) {
    const auto lo = static_cast<long long>(k[0]), hi = static_cast<long long>(k[1]);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) std::size_t crc32_sixteen_lanes(
    std::uint32_t& crc, const unsigned char* data, std::size_t len) {
    const unsigned char* p = data;
    std::size_t left = len;

    __m512i z1 = _mm512_xor_si512(
        wide_load(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(~crc))));
    __m512i z2 = wide_load(p + 64);
    __m512i z3 = wide_load(p + 128);
    __m512i z4 = wide_load(p + 192);
    p += 256;
    left -= 256;

    const __m512i k16 = wide_constants(kFold16);
    while (left >= 256) {
        z1 = wide_fold(z1, k16, wide_load(p));
        z2 = wide_fold(z2, k16, wide_load(p + 64));
        z3 = wide_fold(z3, k16, wide_load(p + 128));
        z4 = wide_fold(z4, k16, wide_load(p + 192));
        p += 256;
        left -= 256;
    }
    const __m512i k4 = wide_constants(kFold4);
    z1 = wide_fold(z1, k4, z2);
    z1 = wide_fold(z1, k4, z3);
    z1 = wide_fold(z1, k4, z4);
    while (left >= 64) {
        z1 = wide_fold(z1, k4, wide_load(p));
        p += 64;
        left -= 64;
    }
    // The four lanes into the last one, each moved by its distance from it.
    auto k = [](const std::uint64_t(&pair)[2], int i) { return static_cast<long long>(pair[i]); };
    const __m512i k_lanes = _mm512_set_epi64(0, 0, k(kFold1, 1), k(kFold1, 0), k(kFold2, 1),
                                             k(kFold2, 0), k(kFold3, 1), k(kFold3, 0));
    const __m512i moved = wide_fold(z1, k_lanes, _mm512_setzero_si512());
    const __m128i x1 = _mm_xor_si128(_mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, moved, 0),
                                                   _mm512_maskz_extracti32x4_epi32(0xF, moved, 1)),
                                     _mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, moved, 2),
                                                   _mm512_maskz_extracti32x4_epi32(0xF, z1, 3)));
    crc = finish(x1, p, left);
    return len - left;
}

bool sixteen_lanes_available() {
    static const bool available =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
    return available;
}

}  // namespace

bool clmul_available() {
    static const bool available =
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return available;
}

bool fold_available(fold_width width) {
    return clmul_available() && (width != fold_width::lanes_512 || sixteen_lanes_available());
}

std::size_t crc32_clmul(std::uint32_t& crc, const unsigned char* data, std::size_t len,
                        fold_width width) {
    if (len >= 256 && width != fold_width::lanes_128 && sixteen_lanes_available())
        return crc32_sixteen_lanes(crc, data, len);
    return crc32_four_lanes(crc, data, len);
}

}  // namespace gzstream::engine

#else

namespace gzstream::engine {

bool clmul_available() { return false; }

bool fold_available(fold_width) { return false; }

std::size_t crc32_clmul(std::uint32_t&, const unsigned char*, std::size_t, fold_width) { return 0; }

}  // namespace gzstream::engine

#endif
