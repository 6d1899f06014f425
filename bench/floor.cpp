// The engine floor: the least work any gzip tool built on this zlib must do
// for a stream, the yardstick the benchmark measures zpress against.
//
//   zpress_floor [--step N] [--times FILE] -1..-9   raw deflate of standard input
//   zpress_floor [--step N] [--times FILE] -d       raw inflate of the gzip member
//                                                    on standard input
//
// Standard input (a regular file) is read whole into memory first and given
// to the engine in one piece; the output goes in steps of N bytes (default
// 256 KiB) into one buffer that is overwritten and never written anywhere.
// No CRC, no header or trailer is made.  Only the engine's calls are timed:
// with --times, their wall and CPU seconds are written to FILE as two
// numbers, and the benchmark takes those instead of the process's times, so
// that the floor holds no I/O and no process start at all.  The inflater
// checks the length in the member's trailer, so that a broken run cannot
// pass for a fast one.  The default step was the fastest of 16 KiB to 4 MiB
// here in both directions: small enough that the output stays in the cache
// that matches read back from, large enough that the engine's per-call costs
// (its window copy above all) vanish.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;
constexpr std::size_t kDefaultStep = 262144;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "zpress_floor: %s\n", what);
    std::exit(1);
}

// The engine's share of the run, for --times.
struct Stopwatch {
    const char* path = nullptr;
    double wall = 0, cpu = 0;

    static double now(clockid_t clock) {
        timespec t{};
        clock_gettime(clock, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
    void start() {
        wall = now(CLOCK_MONOTONIC);
        cpu = now(CLOCK_PROCESS_CPUTIME_ID);
    }
    void stop() {
        wall = now(CLOCK_MONOTONIC) - wall;
        cpu = now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        if (path == nullptr) return;
        std::FILE* f = std::fopen(path, "w");
        if (f == nullptr || std::fprintf(f, "%.6f %.6f\n", wall, cpu) < 0 || std::fclose(f) != 0)
            fail("cannot write the times");
    }
};
Stopwatch watch;

// An output buffer whose pages are already mapped: the engine's time should
// not include the first touch of fresh memory.
std::unique_ptr<unsigned char[]> output_buffer(std::size_t step) {
    std::unique_ptr<unsigned char[]> out(new unsigned char[step]);
    std::memset(out.get(), 0, step);
    return out;
}

struct Input {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

Input read_stdin() {
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode))
        fail("standard input must be a regular file");
    Input in;
    in.size = static_cast<std::size_t>(st.st_size);
    in.data.reset(new unsigned char[in.size + 1]);
    std::size_t have = 0;
    while (have < in.size) {
        const ssize_t n = ::read(STDIN_FILENO, in.data.get() + have, in.size - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("read failed");
        have += static_cast<std::size_t>(n);
    }
    return in;
}

int deflate_all(int level, std::size_t step) {
    const Input in = read_stdin();
    std::unique_ptr<unsigned char[]> out = output_buffer(step);
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("deflateInit2 failed");
    z.next_in = in.data.get();
    z.avail_in = static_cast<uInt>(in.size);
    watch.start();
    int rc;
    do {
        z.next_out = out.get();
        z.avail_out = static_cast<uInt>(step);
        rc = deflate(&z, Z_FINISH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) fail("deflate failed");
    } while (rc != Z_STREAM_END);
    watch.stop();
    deflateEnd(&z);
    return 0;
}

// Skips the member header: its optional fields as its flags announce them.
std::size_t header_size(const Input& in) {
    const unsigned char* p = in.data.get();
    if (in.size < 18 || p[0] != 0x1F || p[1] != 0x8B || p[2] != Z_DEFLATED) fail("not gzip");
    const unsigned flags = p[3];
    std::size_t at = 10;
    if (flags & 0x04) at += 2 + (p[at] | static_cast<std::size_t>(p[at + 1]) << 8);
    for (const unsigned flag : {0x08u, 0x10u})
        if (flags & flag)
            while (at < in.size && p[at++] != 0) {
            }
    if (flags & 0x02) at += 2;
    if (at >= in.size) fail("cut header");
    return at;
}

int inflate_all(std::size_t step) {
    const Input in = read_stdin();
    const std::size_t start = header_size(in);
    std::unique_ptr<unsigned char[]> out = output_buffer(step);
    z_stream z{};
    if (inflateInit2(&z, kRawWindowBits) != Z_OK) fail("inflateInit2 failed");
    z.next_in = in.data.get() + start;
    z.avail_in = static_cast<uInt>(in.size - start);
    std::uint64_t total = 0;
    watch.start();
    int rc;
    do {
        z.next_out = out.get();
        z.avail_out = static_cast<uInt>(step);
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) fail("inflate failed");
        total += step - z.avail_out;
    } while (rc != Z_STREAM_END);
    watch.stop();
    // ISIZE, the last four bytes of the member: the length modulo 2^32.
    if (z.avail_in < 8) fail("cut trailer");
    const unsigned char* isize = z.next_in + 4;
    const std::uint32_t want =
        isize[0] | isize[1] << 8 | isize[2] << 16 | static_cast<std::uint32_t>(isize[3]) << 24;
    if (want != static_cast<std::uint32_t>(total)) fail("length mismatch");
    inflateEnd(&z);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t step = kDefaultStep;
    int i = 1;
    for (; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--step") == 0)
            step = std::strtoul(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--times") == 0)
            watch.path = argv[i + 1];
        else
            break;
    }
    if (argc == i + 1 && step >= 1024) {
        const char* mode = argv[i];
        if (std::strcmp(mode, "-d") == 0) return inflate_all(step);
        if (mode[0] == '-' && mode[1] >= '1' && mode[1] <= '9' && mode[2] == '\0')
            return deflate_all(mode[1] - '0', step);
    }
    std::fprintf(
        stderr,
        "usage: zpress_floor [--step BYTES] [--times FILE] -1..-9 | -d  (standard input)\n");
    return 2;
}
