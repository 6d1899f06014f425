// A stream longer than 4 GiB: positions and counts go past 32 bits, and the
// trailer's length field holds the length modulo 2^32.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "gz_test_util.h"
#include "gzip_builder.h"

namespace zpress_test {
namespace {

using namespace gzstream;

constexpr gz_off_t kFourGiB = gz_off_t{1} << 32;

TEST(LargeStream, PositionsAndLengthPastFourGiB) {
    TempDir dir;
    const std::string path = dir.path("big.gz");
    const gz_off_t tail_at = kFourGiB + 10;
    {
        GzPtr w(gzopen(path.c_str(), "wb1"));
        ASSERT_NE(w, nullptr);
        ASSERT_EQ(gzputs(w.get(), "head"), 4);
        ASSERT_EQ(gzseek(w.get(), tail_at, 0), tail_at);  // zeros up to there
        ASSERT_EQ(gzputs(w.get(), "tail"), 4);
        ASSERT_EQ(gztell(w.get()), tail_at + 4);
        ASSERT_EQ(close_handle(w), 0);
    }
    // The expected CRC of "head", the zeros and "tail", computed in pieces.
    std::uint32_t crc = crc32_of(bytes_of("head"));
    const Bytes zeros(1 << 20, 0);
    gz_off_t left = tail_at - 4;
    while (left > 0) {
        const auto n = static_cast<std::size_t>(std::min<gz_off_t>(left, 1 << 20));
        crc = crc32_update(crc, ByteView(zeros).first(n));
        left -= static_cast<gz_off_t>(n);
    }
    crc = crc32_update(crc, bytes_of("tail"));
    const Bytes file = read_file(path);
    EXPECT_EQ(Bytes(file.end() - 8, file.end()), gzip_trailer(crc, 14));  // (2^32 + 14) mod 2^32

    GzPtr r(gzopen(path.c_str(), "rb"));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(gzseek(r.get(), tail_at - 2, 0), tail_at - 2);
    char buf[16];
    ASSERT_EQ(gzread(r.get(), buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, 6), std::string("\0\0tail", 6));
    EXPECT_EQ(gztell(r.get()), tail_at + 4);
    EXPECT_EQ(gzread(r.get(), buf, sizeof buf), 0);
    EXPECT_EQ(close_handle(r), 0);  // the CRC over all 4 GiB verified
}

}  // namespace
}  // namespace zpress_test
