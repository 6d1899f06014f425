// The layer's CRC-32 against zlib's own: the folding path and the table path
// meet at lengths around 64 and at every 16-byte step, and any slip there
// would put a wrong check into every trailer written and fail every trailer
// read.  Each folding path is forced in turn, so that a machine that would
// choose the 512-bit one still runs the 128-bit one on long inputs.  The
// newline count that the index's line tallies run over every decoded byte
// shares the vector-lane pitfalls: lanes that overflow, tails, alignment.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "crc32_clmul.h"
#include "engine.h"
#include "newline_count.h"
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

using gzstream::engine::fold_width;

// The paths this machine can run; the tests skip none that it has.
std::vector<fold_width> paths() {
    std::vector<fold_width> all;
    for (const fold_width w : {fold_width::best, fold_width::lanes_128, fold_width::lanes_512})
        if (gzstream::engine::fold_available(w)) all.push_back(w);
    return all;
}

TEST(Crc32, ChunkedEqualsWholeOnEveryKindOfData) {
    const std::vector<Bytes> inputs = {random_bytes(3 << 20, 3), Bytes(1 << 20, 0),
                                       Bytes(1 << 20, 0xff)};
    zpress_test::SeededRng gen(4);
    for (const fold_width path : paths()) {
        SCOPED_TRACE(static_cast<int>(path));
        for (const auto& data : inputs) {
            const std::uint32_t whole = reference(0, data.data(), data.size());
            ASSERT_EQ(gzstream::engine::crc32_on(path, 0, data.data(), data.size()), whole);
            std::uint32_t crc = 0;
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t n = std::min<std::size_t>(gen() % 70000, data.size() - at);
                crc = gzstream::engine::crc32_on(path, crc, data.data() + at, n);
                at += n;
            }
            EXPECT_EQ(crc, whole);
        }
    }
}

// Every length up to 4 KiB at every alignment within a cache line, on each
// path: the folding loops, the 16-byte steps, the reduction and the byte-wise
// tail all meet every case.  zlib extends its reference one byte at a time.
TEST(Crc32, EveryPathEveryLengthEveryAlignment) {
    constexpr std::size_t kLongest = 4096, kAlignments = 64;
    const Bytes buf = random_bytes(kLongest + kAlignments, 5);
    zpress_test::SeededRng gen(6);
    for (const fold_width path : paths()) {
        for (std::size_t offset = 0; offset < kAlignments; ++offset) {
            const unsigned char* const p = buf.data() + offset;
            const std::uint32_t start = gen();
            std::uint32_t want = start;
            for (std::size_t len = 0; len <= kLongest; ++len) {
                ASSERT_EQ(gzstream::engine::crc32_on(path, start, p, len), want)
                    << "path " << static_cast<int>(path) << ", offset " << offset << ", length "
                    << len;
                if (len < kLongest) want = reference(want, p + len, 1);
            }
        }
    }
}

TEST(NewlineCount, AgreesWithAPlainCountAtEveryLengthAndDensity) {
    // All newlines fills every lane to the most it may hold before a sum.
    Bytes all(100000, '\n');
    Bytes mixed = random_bytes(70000, 5);
    for (std::size_t i = 0; i < mixed.size(); i += 3) mixed[i] = '\n';
    for (const Bytes* b : {&all, &mixed}) {
        for (std::size_t offset = 0; offset < 16; ++offset)
            for (const std::size_t len :
                 {std::size_t{0}, std::size_t{15}, std::size_t{63}, std::size_t{64},
                  std::size_t{129}, std::size_t{16320}, std::size_t{16385}, b->size() - offset})
                ASSERT_EQ(gzstream::count_newlines(b->data() + offset, len),
                          static_cast<std::size_t>(
                              std::count(b->data() + offset, b->data() + offset + len, '\n')))
                    << "offset " << offset << ", length " << len;
    }
}

}  // namespace
