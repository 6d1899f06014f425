#include "newline_count.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace gzstream {
namespace {

// Sixteen bytes side by side: the compiler's vector extension, which it
// turns into the machine's vector instructions (SSE2 on x86-64, NEON on
// ARM) with no intrinsics of one machine in the source.
using byte_lanes = unsigned char __attribute__((vector_size(16)));

byte_lanes lanes_at(const unsigned char* p) {
    byte_lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

std::size_t count_newlines(const unsigned char* data, std::size_t n) {
    // A comparison gives all ones (0xFF, minus one) in each lane that
    // matched: subtracting it counts per lane, and a lane is summed before
    // it could pass 255.
    constexpr std::size_t kStep = 64;
    constexpr std::size_t kMostSteps = 255 / (kStep / sizeof(byte_lanes));
    byte_lanes newline{};
    for (std::size_t i = 0; i < sizeof newline; ++i) newline[i] = '\n';
    std::size_t total = 0;
    while (n >= kStep) {
        const std::size_t steps = std::min(n / kStep, kMostSteps);
        byte_lanes counts{};
        for (std::size_t i = 0; i < steps; ++i, data += kStep) {
            counts -= std::bit_cast<byte_lanes>(lanes_at(data) == newline);
            counts -= std::bit_cast<byte_lanes>(lanes_at(data + 16) == newline);
            counts -= std::bit_cast<byte_lanes>(lanes_at(data + 32) == newline);
            counts -= std::bit_cast<byte_lanes>(lanes_at(data + 48) == newline);
        }
        for (std::size_t i = 0; i < sizeof counts; ++i) total += counts[i];
        n -= steps * kStep;
    }
    return total + static_cast<std::size_t>(std::count(data, data + n, '\n'));
}

}  // namespace gzstream
