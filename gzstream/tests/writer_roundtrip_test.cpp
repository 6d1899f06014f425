// Streams written by the layer, decoded by zlib's own inflate (not by this
// layer's reader) for every level and strategy.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

// Writes `data` to a new file, in `piece`-byte calls (0: one call); gives the
// file's bytes.
Bytes write_stream(const std::string& path, const std::string& mode, const Bytes& data,
                   std::size_t piece) {
    GzPtr h(gzopen(path.c_str(), mode.c_str()));
    EXPECT_NE(h, nullptr);
    if (h == nullptr) return {};
    if (piece == 0) piece = data.size();
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const auto n = static_cast<unsigned>(std::min(piece, data.size() - at));
        EXPECT_EQ(gzwrite(h.get(), data.data() + at, n), static_cast<int>(n));
    }
    EXPECT_EQ(close_handle(h), 0);
    return read_file(path);
}

Bytes trailer_of(const Bytes& file) { return Bytes(file.end() - 8, file.end()); }

class LevelStrategy : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(LevelStrategy, ZlibDecodesWhatWasWritten) {
    const auto [level, strategy] = GetParam();
    static const char strategy_letter[] = {0, 'f', 'h', 'R'};
    std::string mode = "wb" + std::to_string(level);
    if (strategy != 0) mode += strategy_letter[strategy];
    const Bytes data = make_data(DataKind::mixed, 150000, static_cast<std::uint32_t>(level + 7));

    TempDir dir;
    const Bytes file = write_stream(dir.path("r"), mode, data, 0);
    const GunzipResult r = inflate_gzip_strict(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.members, 1);
    EXPECT_EQ(r.data, data);
    EXPECT_EQ(trailer_of(file), gzip_trailer(crc32_of(data), 150000));
    if (level > 0) {
        // Exactly the engine's data for these parameters, framed once.
        const Bytes body(file.begin() + 12, file.end() - 8);
        EXPECT_EQ(body, raw_deflate(data, level, strategy));
    }
}

INSTANTIATE_TEST_SUITE_P(All, LevelStrategy,
                         ::testing::Combine(::testing::Range(0, 10), ::testing::Range(0, 4)));

// The same data in pieces of any size or in one call: same decoded bytes and
// the same trailer.
TEST(WriterPieces, PiecesAndOneCallAgree) {
    TempDir dir;
    for (DataKind kind : {DataKind::text, DataKind::random, DataKind::zeros, DataKind::mixed}) {
        SCOPED_TRACE(to_string(kind));
        const Bytes data = make_data(kind, 70000, 9);
        const Bytes whole = write_stream(dir.path("whole"), "wb6", data, 0);
        for (std::size_t piece : {1u, 3u, 1000u, 16383u, 16384u, 16385u, 50000u}) {
            if (piece == 1 && kind != DataKind::text) continue;  // one slow case is enough
            SCOPED_TRACE(piece);
            const Bytes pieces = write_stream(dir.path("pieces"), "wb6", data, piece);
            const GunzipResult r = inflate_gzip_strict(pieces);
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(r.data, data);
            EXPECT_EQ(trailer_of(pieces), trailer_of(whole));
        }
    }
}

// Random piece sizes, including empty writes.
TEST(WriterPieces, RandomPieceSizes) {
    TempDir dir;
    const Bytes data = make_data(DataKind::mixed, 200000, 11);
    std::mt19937 rng(12);
    const std::string path = dir.path("rand");
    GzPtr h(gzopen(path.c_str(), "wb3"));
    ASSERT_NE(h, nullptr);
    std::size_t at = 0;
    while (at < data.size()) {
        const std::size_t n = std::min<std::size_t>(data.size() - at, rng() % 40000);
        ASSERT_EQ(gzwrite(h.get(), data.data() + at, static_cast<unsigned>(n)),
                  static_cast<int>(n));
        at += n;
    }
    ASSERT_EQ(close_handle(h), 0);
    const Bytes file = read_file(path);
    EXPECT_EQ(inflate_gzip_strict(file).data, data);
    EXPECT_EQ(trailer_of(file), gzip_trailer(crc32_of(data), 200000));
}

}  // namespace
}  // namespace zpress_test
