// The .Z codec through its programming interface, for the benchmark:
//
//   zpress_lzw_tool [-b BITS]   compress standard input to standard output with zwrite
//   zpress_lzw_tool -d          decompress standard input to standard output with zread
//
// Data moves in 16384-byte blocks, as in the zpress driver's own .Z road.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zpress/zopen.h"

namespace {

constexpr int kBlock = 16384;
unsigned char buf[kBlock];

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "zpress_lzw_tool: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

int read_block() {
    int have = 0;
    while (have < kBlock) {
        const ssize_t n = ::read(STDIN_FILENO, buf + have, static_cast<std::size_t>(kBlock - have));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("read");
        }
        if (n == 0) break;
        have += static_cast<int>(n);
    }
    return have;
}

void write_all(const unsigned char* p, std::size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write");
        }
        p += n;
        len -= static_cast<std::size_t>(n);
    }
}

int compress(int bits) {
    lzw::lzw_handle* zs = lzw::z_open(STDOUT_FILENO, "w", 0, bits, 0, 0);
    if (zs == nullptr) fail("z_open");
    for (int n; (n = read_block()) > 0;) {
        if (lzw::zwrite(zs, buf, n) != n) fail("zwrite");
    }
    if (lzw::z_close(zs, nullptr) != 0) fail("z_close");
    return 0;
}

int decompress() {
    lzw::lzw_handle* zs = lzw::z_open(STDIN_FILENO, "r", 0, 0, 0, 0);
    if (zs == nullptr) fail("z_open");
    int n;
    while ((n = lzw::zread(zs, buf, kBlock)) > 0) write_all(buf, static_cast<std::size_t>(n));
    if (n < 0) fail("zread");
    if (lzw::z_close(zs, nullptr) != 0) fail("z_close");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "-d") == 0) return decompress();
    if (argc == 1) return compress(0);
    if (argc == 3 && std::strcmp(argv[1], "-b") == 0) {
        char* end = nullptr;
        const long bits = std::strtol(argv[2], &end, 10);
        if (*end == '\0' && bits >= 9 && bits <= 16) return compress(static_cast<int>(bits));
    }
    std::fprintf(stderr, "usage: zpress_lzw_tool [-b 9..16] | -d  (stdin to stdout)\n");
    return 2;
}
