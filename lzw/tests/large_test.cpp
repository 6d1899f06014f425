// Streams past 2 GiB: the counts stay exact and the writer's ratio check
// still produces a stream that decodes.  Slow; labelled "large".
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "lzw_test_util.h"
#include "test_data.h"
#include "zpress/zopen.h"

namespace {

using zpress_test::Bytes;

TEST(LargeStreams, CountsPastTwoGigabytes) {
    constexpr std::int64_t block_size = 1 << 20;
    constexpr std::int64_t blocks = 2048 + 128;  // 2 GiB + 128 MiB
    // Mostly runs, which compress fast, with text among them so that the
    // ratio changes and the table gets cleared now and then.
    std::vector<Bytes> kinds;
    for (std::uint32_t k = 0; k < 8; ++k)
        kinds.push_back(k % 4 == 3 ? zpress_test::text_like(block_size, k)
                                   : zpress_test::runs(block_size, k));
    auto block = [&](std::int64_t n) -> const Bytes& {
        return kinds[static_cast<std::size_t>((n * 5 + n / 8) % 8)];
    };

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::int64_t decoded = 0;
    std::int64_t mismatch_at = -1;
    int last = 1;
    lzw::lzw_info read_info{};
    std::thread reader([&] {
        lzw::lzw_handle* zs = lzw::z_open(fds[0], "r", 0, 0, 0, 0);
        Bytes buf(block_size);
        for (std::int64_t n = 0;; ++n) {
            // Whole blocks at a time: every call but the last fills the buffer.
            last = lzw::zread(zs, buf.data(), static_cast<int>(block_size));
            if (last <= 0) break;
            if (mismatch_at < 0 &&
                (n >= blocks || Bytes(buf.begin(), buf.begin() + last) != block(n)))
                mismatch_at = decoded;
            decoded += last;
        }
        lzw::z_close(zs, &read_info);
    });

    lzw::lzw_handle* zs = lzw::z_open(fds[1], "w", 0, 16, 0, 0);
    ASSERT_NE(zs, nullptr);
    for (std::int64_t n = 0; n < blocks; ++n)
        ASSERT_EQ(lzw::zwrite(zs, block(n).data(), static_cast<int>(block_size)), block_size);
    lzw::lzw_info write_info{};
    EXPECT_EQ(lzw::z_close(zs, &write_info), 0);
    reader.join();

    EXPECT_EQ(last, 0);
    EXPECT_EQ(mismatch_at, -1);
    EXPECT_EQ(decoded, blocks * block_size);
    EXPECT_EQ(write_info.zs_total_in, blocks * block_size);
    EXPECT_EQ(read_info.zs_total_out, blocks * block_size);
    EXPECT_EQ(read_info.zs_total_in, write_info.zs_total_out);
    EXPECT_GT(write_info.zs_total_out, 0);
}

}  // namespace
