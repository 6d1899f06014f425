// Helpers for the codec tests: in-memory descriptors, whole-stream encode and
// decode through the public API, and deterministic test data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "zpress/zopen.h"

namespace lzw_test {

using bytes = std::vector<unsigned char>;

// Deterministic 32-bit random numbers (the engine's raw output is fixed by
// the standard, unlike its distributions).
class rng32 {
  public:
    explicit rng32(std::uint32_t seed) : engine_(seed) {}
    std::uint32_t operator()() { return static_cast<std::uint32_t>(engine_()); }

  private:
    std::mt19937 engine_;
};

// A descriptor of an anonymous in-memory file holding `content`, at offset 0.
int memfd_with(const bytes& content);

// Everything in the file behind fd, from offset 0.
bytes file_contents(int fd);

// Chooses the size of the next zread or zwrite call.
using size_source = std::function<int()>;
size_source fixed_size(int n);
size_source random_sizes(std::uint32_t seed, int max);

// Compresses `in` with z_open(..., "w", 0, bits, 0, 0), feeding zwrite pieces
// of the sizes given.  Fails the current test on any error.
bytes compress(const bytes& in, int bits, const size_source& sizes = fixed_size(16384),
               lzw::lzw_info* info = nullptr);

struct decoded {
    bytes data;
    int last = 0;   // result of the last zread call: 0 at a clean end, -1 on error
    int error = 0;  // errno after a -1
    int calls = 0;  // zread calls made
    lzw::lzw_info info{};
};

// Reads a whole stream held in fd until zread returns 0 or -1, then closes.
decoded decompress_fd(int fd, bool gotmagic, const size_source& sizes = fixed_size(16384));

// The same for a stream in memory; with gotmagic the first two bytes are
// dropped before the codec sees the data.
decoded decompress(const bytes& z, const size_source& sizes = fixed_size(16384),
                   bool gotmagic = false);

// Installs a do-nothing handler for sig without SA_RESTART, so that the
// signal makes a blocked read() or write() fail with EINTR.
void interrupt_with(int sig);

// Deterministic data of four kinds.
bytes text_like(std::size_t n, std::uint32_t seed);
bytes binary_like(std::size_t n, std::uint32_t seed);
bytes random_bytes(std::size_t n, std::uint32_t seed);
bytes runs(std::size_t n, std::uint32_t seed);
// Pieces of all four kinds, one after another.
bytes mixed(std::size_t n, std::uint32_t seed);

}  // namespace lzw_test
