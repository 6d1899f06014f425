// Helpers for the codec tests: whole-stream encode and decode through the
// public API with chosen call sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "bytes.h"
#include "zpress/zopen.h"

namespace lzw_test {

using zpress_test::Bytes;

// Chooses the size of the next zread or zwrite call.
using size_source = std::function<int()>;
size_source fixed_size(int n);
size_source random_sizes(std::uint32_t seed, int max);

// Compresses `in` with z_open(..., "w", 0, bits, 0, 0), feeding zwrite pieces
// of the sizes given.  Fails the current test on any error.
Bytes compress(const Bytes& in, int bits, const size_source& sizes = fixed_size(16384),
               lzw::lzw_info* info = nullptr);

struct decoded {
    Bytes data;
    int last = 0;   // result of the last zread call: 0 at a clean end, -1 on error
    int error = 0;  // errno after a -1
    int calls = 0;  // zread calls made
    lzw::lzw_info info{};
};

// Reads a whole stream held in fd until zread returns 0 or -1, then closes.
decoded decompress_fd(int fd, bool gotmagic, const size_source& sizes = fixed_size(16384));

// The same for a stream in memory; with gotmagic the first two bytes are
// dropped before the codec sees the data.
decoded decompress(const Bytes& z, const size_source& sizes = fixed_size(16384),
                   bool gotmagic = false);

// Installs a do-nothing handler for sig without SA_RESTART, so that the
// signal makes a blocked read() or write() fail with EINTR.
void interrupt_with(int sig);

}  // namespace lzw_test
