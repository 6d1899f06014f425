#include "newline_count.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gzstream {

std::size_t count_newlines(const unsigned char* data, std::size_t n) {
    std::size_t total = 0;
#if defined(__SSE2__)
    // Each compare gives 0xFF (-1) per matching byte; subtracting it counts
    // per byte lane, and a lane holds at most 255 before it is summed.
    constexpr std::size_t kStep = 64;
    constexpr std::size_t kMostSteps = 255 / (kStep / 16);
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (n >= kStep) {
        const std::size_t steps = std::min(n / kStep, kMostSteps);
        __m128i lanes = zero;
        for (std::size_t i = 0; i < steps; ++i, data += kStep) {
            const auto* v = reinterpret_cast<const __m128i*>(data);
            const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(v), newline);
            const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(v + 1), newline);
            const __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128(v + 2), newline);
            const __m128i d = _mm_cmpeq_epi8(_mm_loadu_si128(v + 3), newline);
            lanes = _mm_sub_epi8(lanes, _mm_add_epi8(_mm_add_epi8(a, b), _mm_add_epi8(c, d)));
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        total += static_cast<std::size_t>(_mm_extract_epi16(sums, 0)) +
                 static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
        n -= steps * kStep;
    }
#endif
    return total + static_cast<std::size_t>(std::count(data, data + n, '\n'));
}

}  // namespace gzstream
