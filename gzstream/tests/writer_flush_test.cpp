// Explicit flushes and parameter changes in the middle of a write stream.
#include <gtest/gtest.h>

#include <string>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

int write_bytes(gz_handle* h, const Bytes& data) {
    return gzwrite(h, data.data(), static_cast<unsigned>(data.size()));
}

class WriterFlush : public ::testing::Test {
  protected:
    void open(const char* mode = "wb") {
        path_ = dir_.path("f.gz");
        h_.reset(gzopen(path_.c_str(), mode));
        ASSERT_NE(h_, nullptr);
    }
    // What the bytes on disk decode to so far (the stream may be unfinished).
    Bytes decodable_now() const { return inflate_gzip_strict(read_file(path_)).data; }
    Bytes finish() { return close_and_gunzip(h_, path_); }

    TempDir dir_;
    std::string path_;
    GzPtr h_;
};

TEST_F(WriterFlush, RepeatedSyncFlushIsHarmless) {
    open();
    const Bytes a = make_data(DataKind::text, 3000, 1);
    ASSERT_EQ(write_bytes(h_.get(), a), 3000);
    EXPECT_EQ(gzflush(h_.get(), Z_SYNC_FLUSH), Z_OK);
    EXPECT_EQ(gzflush(h_.get(), Z_SYNC_FLUSH), Z_OK);
    EXPECT_EQ(decodable_now(), a);
    int code = 1;
    EXPECT_EQ(error_of(h_.get(), &code), "");
    EXPECT_EQ(code, 0);
    const Bytes b = make_data(DataKind::text, 2000, 2);
    ASSERT_EQ(write_bytes(h_.get(), b), 2000);
    EXPECT_EQ(finish(), concat({a, b}));
}

// Each flush mode in the middle of a stream: Z_OK, and the data goes on.
// The flushes that push data out make everything so far decodable.
class FlushMode : public WriterFlush, public ::testing::WithParamInterface<int> {};

TEST_P(FlushMode, MidStreamFlushKeepsTheStreamDecodable) {
    const int mode = GetParam();
    open("wb6");
    // Enough incompressible data that compressed bytes are waiting in the
    // output buffer when the flush comes.
    const Bytes a = concat({make_data(DataKind::random, 40000, 3), make_data(DataKind::text, 500)});
    const Bytes b = make_data(DataKind::mixed, 30000, 4);
    ASSERT_EQ(write_bytes(h_.get(), a), static_cast<int>(a.size()));
    EXPECT_EQ(gzflush(h_.get(), mode), Z_OK);
    EXPECT_EQ(gzflush(h_.get(), mode), Z_OK);
    if (mode != Z_NO_FLUSH) {
        EXPECT_EQ(decodable_now(), a);
    }
    if (mode == Z_FINISH) {
        EXPECT_EQ(finish(), a);
        return;
    }
    ASSERT_EQ(write_bytes(h_.get(), b), static_cast<int>(b.size()));
    EXPECT_EQ(gzflush(h_.get(), mode), Z_OK);
    ASSERT_EQ(write_bytes(h_.get(), b), static_cast<int>(b.size()));
    EXPECT_EQ(finish(), concat({a, b, b}));
}

INSTANTIATE_TEST_SUITE_P(Modes, FlushMode,
                         ::testing::Values(Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH,
                                           Z_FINISH));

TEST_F(WriterFlush, FlushRightAfterOpenAndBeforeClose) {
    open();
    EXPECT_EQ(gzflush(h_.get(), Z_SYNC_FLUSH), Z_OK);
    EXPECT_EQ(gzflush(h_.get(), Z_FULL_FLUSH), Z_OK);
    EXPECT_EQ(finish(), Bytes{});
}

TEST_F(WriterFlush, InvalidLevelIsRefusedAndStreamStaysUsable) {
    open();
    const Bytes a = make_data(DataKind::text, 5000, 5);
    ASSERT_EQ(write_bytes(h_.get(), a), 5000);
    EXPECT_EQ(gzsetparams(h_.get(), 10, Z_DEFAULT_STRATEGY), Z_STREAM_ERROR);
    EXPECT_EQ(gzsetparams(h_.get(), -2, Z_DEFAULT_STRATEGY), Z_STREAM_ERROR);
    EXPECT_EQ(gzsetparams(h_.get(), 6, 5), Z_STREAM_ERROR);
    int code = 1;
    EXPECT_EQ(error_of(h_.get(), &code), "");
    EXPECT_EQ(code, 0);
    ASSERT_EQ(write_bytes(h_.get(), a), 5000);
    EXPECT_EQ(finish(), concat({a, a}));
}

TEST_F(WriterFlush, ParameterChangesMidStreamDecode) {
    open("wb1");
    Bytes all;
    struct Step {
        int level;
        int strategy;
        DataKind kind;
    };
    std::uint32_t seed = 10;
    for (const Step& s :
         {Step{9, Z_FILTERED, DataKind::text}, Step{0, 0, DataKind::random},
          Step{6, Z_HUFFMAN_ONLY, DataKind::mixed}, Step{4, Z_RLE, DataKind::zeros},
          Step{-1, 0, DataKind::mixed}, Step{0, 0, DataKind::text}, Step{9, 0, DataKind::random}}) {
        const Bytes part = make_data(s.kind, 25000, seed++);
        ASSERT_EQ(write_bytes(h_.get(), part), 25000);
        all.insert(all.end(), part.begin(), part.end());
        EXPECT_EQ(gzsetparams(h_.get(), s.level, s.strategy), Z_OK);
    }
    const Bytes tail = make_data(DataKind::text, 1000, seed);
    ASSERT_EQ(write_bytes(h_.get(), tail), 1000);
    all.insert(all.end(), tail.begin(), tail.end());
    EXPECT_EQ(finish(), all);
}

// The new level governs the data that follows: zeros after a switch to level
// 0 are stored, not compressed.
TEST_F(WriterFlush, NewLevelAppliesToFollowingData) {
    const Bytes zeros = make_data(DataKind::zeros, 100000);
    std::size_t sizes[2];
    for (int stored = 0; stored < 2; ++stored) {
        open("wb9");
        ASSERT_EQ(gzputs(h_.get(), "a little text first"), 19);
        if (stored) {
            EXPECT_EQ(gzsetparams(h_.get(), 0, Z_DEFAULT_STRATEGY), Z_OK);
        }
        ASSERT_EQ(write_bytes(h_.get(), zeros), 100000);
        EXPECT_EQ(finish(), concat({bytes_of("a little text first"), zeros}));
        sizes[stored] = read_file(path_).size();
    }
    EXPECT_LT(sizes[0], 1000u);
    EXPECT_GT(sizes[1], 100000u);
}

// A parameter change may make the engine emit more than one buffer of
// compressed data; it must still complete, whatever the buffer holds already.
TEST_F(WriterFlush, ParameterChangeDrainsAsOftenAsNeeded) {
    for (std::size_t prefix = 10000; prefix < 60000; prefix += 4321) {
        SCOPED_TRACE(prefix);
        open("wb9");
        const Bytes a = make_data(DataKind::random, prefix, static_cast<std::uint32_t>(prefix));
        ASSERT_EQ(write_bytes(h_.get(), a), static_cast<int>(prefix));
        EXPECT_EQ(gzsetparams(h_.get(), 1, Z_HUFFMAN_ONLY), Z_OK);
        const Bytes b = make_data(DataKind::text, 3000, 1);
        ASSERT_EQ(write_bytes(h_.get(), b), 3000);
        EXPECT_EQ(finish(), concat({a, b}));
    }
}

}  // namespace
}  // namespace zpress_test
