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
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i lane, __m128i k, __m128i next) {
    __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

}  // namespace

bool clmul_available() {
    static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return available;
}

__attribute__((target("pclmul,sse4.1")))
std::size_t crc32_clmul(std::uint32_t& crc, const unsigned char* data, std::size_t len) {
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
    while (left >= 16) {
        x1 = fold(x1, k1, load(p));
        p += 16;
        left -= 16;
    }

    // 128 bits to 64, then to 32 by Barrett reduction.
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

    crc = ~static_cast<std::uint32_t>(_mm_extract_epi32(x, 1));
    return len - left;
}

}  // namespace gzstream::engine

#else

namespace gzstream::engine {

bool clmul_available() { return false; }

std::size_t crc32_clmul(std::uint32_t&, const unsigned char*, std::size_t) { return 0; }

}  // namespace gzstream::engine

#endif
