// While data is being written, the layer hands its stdio stream the header
// and whole 16384-byte blocks only; the partial last block and the trailer go
// out at the close.  The test watches every fwrite the layer makes (this
// executable is linked with --wrap=fwrite) and the file size on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

extern "C" std::size_t __real_fwrite(const void* data, std::size_t size, std::size_t count,
                                     std::FILE* file);

namespace {
std::vector<std::size_t>* g_fwrite_log = nullptr;
}

extern "C" std::size_t __wrap_fwrite(const void* data, std::size_t size, std::size_t count,
                                     std::FILE* file) {
    if (g_fwrite_log != nullptr) g_fwrite_log->push_back(size * count);
    return __real_fwrite(data, size, count, file);
}

namespace zpress_test {
namespace {

using namespace gzstream;

class FwriteLog {
  public:
    FwriteLog() { g_fwrite_log = &sizes_; }
    ~FwriteLog() { g_fwrite_log = nullptr; }
    const std::vector<std::size_t>& sizes() const { return sizes_; }

  private:
    std::vector<std::size_t> sizes_;
};

TEST(WriteBlocks, OneLargeWriteHandsOnlyWholeBlocks) {
    constexpr std::size_t kBlock = 16384;
    constexpr std::size_t kHeader = 10 + 6;  // name "big.z" and its terminator
    TempDir dir;
    const std::string path = dir.path("big.z");
    // Incompressible data fills several blocks; the compressible tail then
    // leaves a partly filled one behind when the call returns.
    const Bytes data =
        concat({make_data(DataKind::random, 60000, 1), make_data(DataKind::text, 40000, 2)});
    GzPtr h(gzopen(path.c_str(), "wb6"));
    ASSERT_NE(h, nullptr);

    std::size_t blocks = 0;
    {
        FwriteLog log;
        ASSERT_EQ(gzwrite(h.get(), data.data(), 100000), 100000);
        for (std::size_t n : log.sizes()) EXPECT_EQ(n, kBlock);
        blocks = log.sizes().size();
    }
    EXPECT_GE(blocks, 3u);
    const std::size_t before_close = size_on_disk(path);
    EXPECT_LE(before_close, kHeader + blocks * kBlock);
    const Bytes prefix = read_file(path);

    {
        FwriteLog log;
        ASSERT_EQ(close_handle(h), 0);
        ASSERT_FALSE(log.sizes().empty());
        EXPECT_LT(log.sizes().back(), kBlock);  // the partial last block
    }
    const Bytes file = read_file(path);
    EXPECT_GT(file.size(), kHeader + blocks * kBlock);
    ASSERT_LE(prefix.size(), file.size());
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), file.begin()));
    EXPECT_EQ(inflate_gzip_strict(file).data, data);
}

TEST(WriteBlocks, FlushHandsThePartialBlock) {
    TempDir dir;
    const std::string path = dir.path("f.z");
    GzPtr h(gzopen(path.c_str(), "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzputs(h.get(), "a short line\n"), 13);
    {
        FwriteLog log;
        ASSERT_EQ(gzflush(h.get(), Z_SYNC_FLUSH), Z_OK);
        ASSERT_EQ(log.sizes().size(), 1u);
        EXPECT_LT(log.sizes().front(), 100u);
    }
    EXPECT_EQ(inflate_gzip_strict(read_file(path)).data, bytes_of("a short line\n"));
    EXPECT_EQ(close_handle(h), 0);
}

}  // namespace
}  // namespace zpress_test
