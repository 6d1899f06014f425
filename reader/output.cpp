#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zpress_read {
namespace {

constexpr unsigned kBlock = 262144;
constexpr unsigned kFirstLinesRead = 8192;

copy_end write_all(const unsigned char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(STDOUT_FILENO, data, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done < 0 && errno == EPIPE) return copy_end::reader_gone;
            (void)std::fprintf(stderr, "%s: standard output: %s\n", kProgram,
                               std::strerror(done < 0 ? errno : EIO));
            return copy_end::write_failed;
        }
        data += done;
        n -= static_cast<std::size_t>(done);
    }
    return copy_end::done;
}

// How many of the `n` bytes at `data` make up to `lines` lines, the last
// with its newline; all of them when they hold fewer newlines, which are
// then taken off `lines`.
std::size_t take_lines(const unsigned char* data, std::size_t n, gz_off_t& lines) {
    const auto here = static_cast<gz_off_t>(std::count(data, data + n, '\n'));
    if (here < lines) {
        lines -= here;
        return n;
    }
    const unsigned char* p = data;
    for (;;) {
        p = static_cast<const unsigned char*>(
                std::memchr(p, '\n', n - static_cast<std::size_t>(p - data))) +
            1;
        if (--lines == 0) return static_cast<std::size_t>(p - data);
    }
}

}  // namespace

copy_end copy_range(gzstream::gz_handle* h, gz_off_t max_bytes, gz_off_t max_lines) {
    if (max_bytes == 0 || max_lines == 0) return copy_end::done;
    const std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock]);
    // A few lines are usually a few KiB: decoding a whole block for them
    // would cost more than finding them did.  Reads grow to full blocks.
    unsigned step = max_lines > 0 ? kFirstLinesRead : kBlock;
    for (;;) {
        const unsigned want =
            max_bytes >= 0 && max_bytes < step ? static_cast<unsigned>(max_bytes) : step;
        step = std::min(kBlock, 2 * step);
        const int got = gzstream::gzread(h, block.get(), want);
        if (got == 0) return copy_end::done;
        if (got < 0) return copy_end::data_failed;
        auto n = static_cast<std::size_t>(got);
        if (max_lines > 0) n = take_lines(block.get(), n, max_lines);
        const copy_end end = write_all(block.get(), n);
        if (end != copy_end::done) return end;
        if (max_bytes > 0) max_bytes -= static_cast<gz_off_t>(n);
        if (max_bytes == 0 || max_lines == 0) return copy_end::done;
    }
}

}  // namespace zpress_read
