// Reproducible random numbers for test data and test choices.  Only the raw
// output of std::mt19937 is used (the standard fixes it, unlike its
// distributions), reduced by plain modulo, so every machine and standard
// library gives the same sequence for the same seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

namespace zpress_test {

class SeededRng {
  public:
    explicit SeededRng(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t next() { return static_cast<std::uint32_t>(engine_()); }
    std::uint32_t operator()() { return next(); }
    // 0 <= result < n, for n below 2^32.
    std::size_t below(std::size_t n) { return next() % n; }
    std::size_t between(std::size_t lo, std::size_t hi) { return lo + below(hi - lo + 1); }
    bool percent(unsigned p) { return below(100) < p; }

  private:
    std::mt19937 engine_;
};

}  // namespace zpress_test
