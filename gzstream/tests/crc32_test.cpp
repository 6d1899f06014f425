// The layer's CRC-32 against zlib's own: the folding path and the table path
// meet at lengths around 64 and at every 16-byte step, and any slip there
// would put a wrong check into every trailer written and fail every trailer
// read.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "engine.h"
#include "seeded_rng.h"
#include "test_data.h"

namespace {

using zpress_test::Bytes;
using zpress_test::random_bytes;

std::uint32_t reference(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    return static_cast<std::uint32_t>(::crc32(crc, p, static_cast<uInt>(n)));
}

TEST(Crc32, EveryShortLengthAtEveryAlignment) {
    const Bytes buf = random_bytes(1200, 1);
    zpress_test::SeededRng gen(2);
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t len = 0; len + offset <= 1100; ++len) {
            const std::uint32_t start = gen();
            ASSERT_EQ(gzstream::engine::crc32(start, buf.data() + offset, len),
                      reference(start, buf.data() + offset, len))
                << "offset " << offset << ", length " << len;
        }
    }
}

TEST(Crc32, ChunkedEqualsWholeOnEveryKindOfData) {
    const std::vector<Bytes> inputs = {random_bytes(3 << 20, 3), Bytes(1 << 20, 0),
                                       Bytes(1 << 20, 0xff)};
    zpress_test::SeededRng gen(4);
    for (const auto& data : inputs) {
        const std::uint32_t whole = reference(0, data.data(), data.size());
        ASSERT_EQ(gzstream::engine::crc32(0, data.data(), data.size()), whole);
        std::uint32_t crc = 0;
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t n = std::min<std::size_t>(gen() % 70000, data.size() - at);
            crc = gzstream::engine::crc32(crc, data.data() + at, n);
            at += n;
        }
        EXPECT_EQ(crc, whole);
    }
}

}  // namespace
