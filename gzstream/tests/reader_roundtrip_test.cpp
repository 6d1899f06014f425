// Streams written by this layer, and by zlib's own gzip-mode deflate, read
// back by this layer's reader.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

void write_pieces(gz_handle* h, const Bytes& data, std::size_t piece) {
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const auto n = static_cast<unsigned>(std::min(piece, data.size() - at));
        ASSERT_EQ(gzwrite(h, data.data() + at, n), static_cast<int>(n));
    }
}

Bytes write_then_read(const Bytes& data, const std::string& mode, std::size_t write_piece,
                      std::size_t read_piece) {
    TempDir dir;
    const std::string path = dir.path("rt.gz");
    GzPtr w(gzopen(path.c_str(), mode.c_str()));
    EXPECT_NE(w, nullptr);
    if (w == nullptr) return {};
    write_pieces(w.get(), data, write_piece);
    EXPECT_EQ(close_handle(w), 0);
    GzPtr r(gzopen(path.c_str(), "rb"));
    EXPECT_NE(r, nullptr);
    const ReadOutcome out = read_to_end(r.get(), read_piece);
    EXPECT_EQ(out.last, 0);
    EXPECT_EQ(gzeof(r.get()), 1);
    EXPECT_EQ(gztell(r.get()), static_cast<gz_off_t>(out.data.size()));
    EXPECT_EQ(close_handle(r), 0);
    return out.data;
}

class LevelKind : public ::testing::TestWithParam<std::tuple<int, DataKind>> {};

TEST_P(LevelKind, WriterToReader) {
    const auto [level, kind] = GetParam();
    static constexpr std::size_t pieces[] = {16384, 1000, 65536, 4097, 100000, 333};
    const std::size_t write_piece = pieces[static_cast<std::size_t>(level) % 6];
    const std::size_t read_piece = pieces[static_cast<std::size_t>(level + 3) % 6];
    const Bytes data = make_data(kind, 120000, static_cast<std::uint32_t>(level + 20));
    EXPECT_EQ(write_then_read(data, "wb" + std::to_string(level), write_piece, read_piece), data);
}

INSTANTIATE_TEST_SUITE_P(All, LevelKind,
                         ::testing::Combine(::testing::Range(0, 10),
                                            ::testing::Values(DataKind::text, DataKind::random,
                                                              DataKind::zeros, DataKind::mixed)),
                         [](const auto& param_info) {
                             return "level" + std::to_string(std::get<0>(param_info.param)) + "_" +
                                    to_string(std::get<1>(param_info.param));
                         });

// Chunk sizes on both sides from a single byte to more than the whole data.
TEST(ChunkSizes, WriterToReader) {
    const Bytes small = make_data(DataKind::mixed, 40000, 30);
    const Bytes large = make_data(DataKind::mixed, 250000, 31);
    for (std::size_t chunk : {1u, 2u, 3u, 511u, 4096u, 16383u, 16384u, 16385u, 65537u, 100000u}) {
        SCOPED_TRACE(chunk);
        const Bytes& data = chunk < 100 ? small : large;
        EXPECT_EQ(write_then_read(data, "wb6", chunk, 16384), data);
        EXPECT_EQ(write_then_read(data, "wb6", 16384, chunk), data);
    }
}

// zlib's gzip writer, with and without optional fields, single and
// concatenated members.
TEST(ZlibStreams, ReadBack) {
    const Bytes a = make_data(DataKind::mixed, 90000, 40);
    const Bytes b = make_data(DataKind::text, 30000, 41);
    const GzipFields plain_fields{};
    const GzipFields all_fields{.name = "name.txt",
                                .comment = "a comment",
                                .extra = bytes_of("AB\x04\x00wxyz"),
                                .header_crc = true,
                                .text = true};
    const GzipFields long_fields{.name = std::string(20000, 'n'),
                                 .comment = std::string(17000, 'c'),
                                 .extra = make_data(DataKind::random, 30000, 42),
                                 .header_crc = true,
                                 .text = false};
    for (const GzipFields* fields :
         {static_cast<const GzipFields*>(nullptr), &plain_fields, &all_fields, &long_fields}) {
        for (int level : {0, 1, 6, 9}) {
            SCOPED_TRACE(level);
            const Bytes one = gzip_reference(a, level, kStrategyDefault, fields);
            GzPtr h = open_bytes(one);
            EXPECT_EQ(read_to_end(h.get(), 10000).data, a);
            EXPECT_EQ(close_handle(h), 0);

            const Bytes two = concat({one, gzip_reference(b, level, kStrategyFiltered, fields),
                                      gzip_reference({}, level, kStrategyDefault, fields)});
            GzPtr h2 = open_bytes(two);
            EXPECT_EQ(read_to_end(h2.get(), 16384).data, concat({a, b}));
            EXPECT_EQ(close_handle(h2), 0);
        }
    }
}

}  // namespace
}  // namespace zpress_test
