// The engine ceiling: the least work any gzip tool built on this zlib must do
// for a stream, used by the benchmark as the yardstick for zpress.
//
//   zpress_ceiling -N   deflate standard input (level N, 1-9) to standard output
//   zpress_ceiling -d   inflate one gzip member from standard input to standard output
//
// Both directions move data exactly as zpress does: read() of 16384-byte blocks,
// the raw engine (window bits -15, memory level 8), a CRC-32 over the
// uncompressed bytes, and 16384-byte writes.  What is left out is the framing:
// the compressor writes no header or trailer, and the decompressor skips the
// header without keeping any of it (it does check the trailer, so a broken run
// cannot pass for a fast one).
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned kBlock = 16384;
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

unsigned char in_buf[kBlock];
unsigned char out_buf[kBlock];

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "zpress_ceiling: %s\n", what);
    std::exit(1);
}

// Fills buf as far as the input allows, the way fread() does for zpress.
std::size_t read_block(unsigned char* buf, std::size_t len) {
    std::size_t have = 0;
    while (have < len) {
        const ssize_t n = ::read(STDIN_FILENO, buf + have, len - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("read failed");
        }
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    return have;
}

void write_all(const unsigned char* buf, std::size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, buf, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write failed");
        }
        buf += n;
        len -= static_cast<std::size_t>(n);
    }
}

int compress(int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("deflateInit2 failed");
    uLong crc = crc32(0L, Z_NULL, 0);
    z.next_out = out_buf;
    z.avail_out = kBlock;
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        const std::size_t n = read_block(in_buf, kBlock);
        crc = crc32(crc, in_buf, static_cast<uInt>(n));
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = in_buf;
        z.avail_in = static_cast<uInt>(n);
        for (;;) {
            if (z.avail_out == 0) {
                write_all(out_buf, kBlock);
                z.next_out = out_buf;
                z.avail_out = kBlock;
            }
            const int rc = deflate(&z, flush);
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) fail("deflate failed");
            if (z.avail_in == 0 && z.avail_out != 0 && flush != Z_FINISH) break;
        }
    }
    write_all(out_buf, kBlock - z.avail_out);
    deflateEnd(&z);
    (void)crc;  // computed because zpress must compute it; nothing frames it here
    return 0;
}

// Compressed input, refilled in 16384-byte blocks.
struct input {
    z_stream& z;

    bool refill() {
        z.next_in = in_buf;
        z.avail_in = static_cast<uInt>(read_block(in_buf, kBlock));
        return z.avail_in != 0;
    }
    unsigned char byte() {
        if (z.avail_in == 0 && !refill()) fail("unexpected end of input");
        --z.avail_in;
        return *z.next_in++;
    }
    void skip(unsigned n) {
        while (n-- > 0) byte();
    }
    void skip_string() {
        while (byte() != 0) {
        }
    }
    std::uint32_t le32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return v;
    }
};

int decompress() {
    z_stream z{};
    if (inflateInit2(&z, kRawWindowBits) != Z_OK) fail("inflateInit2 failed");
    input in{z};
    // Member header: magic, method, flags, mtime, extra flags, OS, then the
    // optional fields that the flags announce.
    if (in.byte() != 0x1F || in.byte() != 0x8B || in.byte() != Z_DEFLATED) fail("not gzip");
    const unsigned flags = in.byte();
    in.skip(6);
    if (flags & 0x04) {
        unsigned len = in.byte();
        len |= static_cast<unsigned>(in.byte()) << 8;
        in.skip(len);
    }
    if (flags & 0x08) in.skip_string();
    if (flags & 0x10) in.skip_string();
    if (flags & 0x02) in.skip(2);

    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t total = 0;
    for (;;) {
        if (z.avail_in == 0 && !in.refill()) fail("truncated deflate data");
        z.next_out = out_buf;
        z.avail_out = kBlock;
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) fail("inflate failed");
        const std::size_t produced = kBlock - z.avail_out;
        crc = crc32(crc, out_buf, static_cast<uInt>(produced));
        total += produced;
        write_all(out_buf, produced);
        if (rc == Z_STREAM_END) break;
    }
    if (in.le32() != static_cast<std::uint32_t>(crc) ||
        in.le32() != static_cast<std::uint32_t>(total))
        fail("trailer mismatch");
    inflateEnd(&z);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "-d") == 0) return decompress();
    if (argc == 2 && argv[1][0] == '-' && argv[1][1] >= '1' && argv[1][1] <= '9' &&
        argv[1][2] == '\0')
        return compress(argv[1][1] - '0');
    std::fprintf(stderr, "usage: zpress_ceiling -1..-9 | -d  (stdin to stdout)\n");
    return 2;
}
