// Fuzz target: the deflate tracer that finds which window bytes the data
// after an access point copy, over arbitrary deflate data.
//
// Input: a byte whose low three bits are the bits of the first byte that
// belong to the point, two bytes (little-endian) of window size (taken
// modulo 32769), then the deflate data from the point on.
//
// The tracer reads untrusted files (an index is saved and verified over any
// data), so it must never read out of bounds or loop; and whenever it says
// it finished, its map must be the one the engine's decodes give, since a
// byte it misses would make a restart there produce wrong data.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/check.h"
#include "deflate_trace.h"
#include "gz_index.h"
#include "mem_file.h"

namespace gz = gzstream;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 3) return 0;
    const int bits = input[0] & 7;
    const unsigned window_size =
        (input[1] | static_cast<unsigned>(input[2]) << 8) % (gz::kWindowSize + 1);
    const zpress_test::ByteView data(input + 3, size - 3);
    // A point inside a byte has that byte before its first whole one.
    if (bits != 0 && data.empty()) return 0;
    const int fd = zpress_test::memfd_with(data);
    FUZZ_CHECK(fd >= 0);
    std::vector<unsigned char> traced(gz::kWindowSize, 0xAA), decoded(gz::kWindowSize, 0xAA);
    const auto file_size = static_cast<gz::gz_off_t>(data.size());
    if (gz::trace_window_use(fd, file_size, 0, bits, window_size, traced.data())) {
        gz::access_point p;
        p.bits = bits;
        p.in = bits != 0 ? 1 : 0;
        p.window_size = window_size;
        FUZZ_CHECK(gz::mark_used_window_bytes_by_engine(fd, file_size, p, decoded.data()) == 0);
        FUZZ_CHECK(std::memcmp(traced.data(), decoded.data(), window_size) == 0);
    }
    ::close(fd);
    return 0;
}
