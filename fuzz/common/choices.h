// Deterministic choices for a fuzz target.  An input starts with a flags byte
// and an 8-byte seed; the rest is the payload (a stream to read, or data to
// compress).  The seed drives a small PRNG, so the same input always replays
// the same sequence of calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

struct split_input {
    std::uint8_t flags = 0;
    std::uint64_t seed = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

inline constexpr std::size_t kControlBytes = 9;

inline split_input split(const std::uint8_t* p, std::size_t n) {
    split_input s;
    std::size_t at = 0;
    if (at < n) s.flags = p[at++];
    for (int i = 0; i < 8 && at < n; ++i) s.seed |= std::uint64_t{p[at++]} << (8 * i);
    s.data = p + at;
    s.size = n - at;
    return s;
}

class choices {
  public:
    explicit choices(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {  // splitmix64
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (n > 0).
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
    bool one_in(std::uint32_t n) { return below(n) == 0; }

    // A transfer size: mostly small, often on or around the layers' 16 KiB and
    // 8 KiB block sizes, sometimes large; 0 now and then.
    std::uint32_t chunk(std::uint32_t max) {
        std::uint32_t n;
        switch (below(10)) {
            case 0:
                n = below(3);
                break;
            case 1:
            case 2:
            case 3:
                n = 1 + below(16);
                break;
            case 4:
            case 5:
                n = 1 + below(4096);
                break;
            case 6:
                n = 8191 + below(3);
                break;
            case 7:
                n = 16383 + below(3);
                break;
            default:
                n = 1 + below(max);
                break;
        }
        return n > max ? max : n;
    }

  private:
    std::uint64_t state_;
};

}  // namespace fuzz
