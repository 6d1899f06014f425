// A .Z stream far past 4 GiB through the LZW codec: one thread compresses
// patterned data with zwrite into a pipe, the other decodes it with zread and
// compares length and CRC-32.  Both handles' z_close totals must be the exact
// 64-bit counts: the writer's bytes in equal the data, its bytes out equal
// the reader's bytes in, and the reader's bytes out equal the data again.
//
//   lzw_huge [GiB]      (default 5)
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "test_data.h"
#include "zpress/zopen.h"

namespace {

constexpr std::size_t kBlock = std::size_t{4} << 20;
constexpr int kPipeSize = 1 << 20;

// Text-like bytes from the tests' generator; each block is stamped with its
// number every 64 KiB, so no two blocks are alike.
class pattern {
  public:
    pattern() : block_(zpress_test::text_like(kBlock, 12345)) {}

    const zpress_test::Bytes& next(std::uint64_t index) {
        char stamp[24];
        const int n = std::snprintf(stamp, sizeof stamp, "<%016" PRIx64 ">", index);
        for (std::size_t at = 0; at + static_cast<std::size_t>(n) <= kBlock; at += 65536)
            for (int i = 0; i < n; ++i)
                block_[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(stamp[i]);
        return block_;
    }

  private:
    zpress_test::Bytes block_;
};

std::uint32_t crc_of(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    return static_cast<std::uint32_t>(::crc32(crc, p, static_cast<uInt>(n)));
}

struct writer_result {
    bool ok = false;
    std::uint32_t crc = 0;
    lzw::lzw_info info{};
};

void write_stream(int fd, std::uint64_t total, writer_result& r) {
    lzw::lzw_handle* z = lzw::z_open(fd, "w", 0, 16, 0, 0);
    if (z == nullptr) {
        close(fd);
        return;
    }
    pattern data;
    std::uint64_t sent = 0;
    bool ok = true;
    for (std::uint64_t index = 0; ok && sent < total; ++index) {
        const zpress_test::Bytes& block = data.next(index);
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, total - sent));
        r.crc = crc_of(r.crc, block.data(), n);
        ok = lzw::zwrite(z, block.data(), static_cast<int>(n)) == static_cast<int>(n);
        sent += n;
    }
    r.ok = lzw::z_close(z, &r.info) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const double gib = argc > 1 ? std::atof(argv[1]) : 5.0;
    const auto total = static_cast<std::uint64_t>(gib * static_cast<double>(1ull << 30));
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        return 1;
    }
    fcntl(ends[1], F_SETPIPE_SZ, kPipeSize);  // fewer, larger transfers; optional

    const auto start = std::chrono::steady_clock::now();
    writer_result written;
    std::thread writer(write_stream, ends[1], total, std::ref(written));

    lzw::lzw_handle* z = lzw::z_open(ends[0], "r", 0, 0, 0, 0);
    if (z == nullptr) {
        std::perror("z_open");
        return 1;
    }
    zpress_test::Bytes buf(kBlock);
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    int n;
    while ((n = lzw::zread(z, buf.data(), static_cast<int>(buf.size()))) > 0) {
        crc = crc_of(crc, buf.data(), static_cast<std::size_t>(n));
        length += static_cast<std::uint64_t>(n);
    }
    const bool read_ok = n == 0;
    lzw::lzw_info read_info{};
    const bool closed_ok = lzw::z_close(z, &read_info) == 0;
    writer.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int failures = 0;
    auto expect = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::printf("FAIL: %s\n", what);
            ++failures;
        }
    };
    expect(written.ok, "the writer failed");
    expect(read_ok && closed_ok, "the reader failed");
    expect(length == total, "length read back differs");
    expect(crc == written.crc, "CRC-32 read back differs");
    expect(written.info.zs_total_in == static_cast<std::int64_t>(total), "writer's bytes in");
    expect(read_info.zs_total_out == static_cast<std::int64_t>(total), "reader's bytes out");
    expect(read_info.zs_total_in == written.info.zs_total_out && read_info.zs_total_in > 3,
           "reader's bytes in differ from writer's bytes out");
    std::printf("%" PRIu64 " bytes (%.2f GiB) -> %" PRId64
                " compressed, back in %.1f s (%.0f MB/s)\n",
                length, static_cast<double>(length) / (1ull << 30), written.info.zs_total_out,
                seconds, static_cast<double>(length) / seconds / 1e6);
    return failures == 0 ? 0 : 1;
}
