// zwrite and the writer's side of z_close: exact bytes, counts, failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "lzw_test_util.h"
#include "mem_file.h"
#include "reference_lzw.h"
#include "test_data.h"
#include "zpress/zopen.h"

namespace {

using zpress_test::Bytes;

TEST(WriterBytes, WorkedExamples) {
    EXPECT_EQ(lzw_test::compress({0x61, 0x62}, 16), (Bytes{0x1F, 0x9D, 0x90, 0x61, 0xC4, 0x00}));
    EXPECT_EQ(lzw_test::compress({0x61}, 16), (Bytes{0x1F, 0x9D, 0x90, 0x61, 0x00}));
    EXPECT_EQ(lzw_test::compress({0x61}, 12)[2], 0x8C);
    EXPECT_EQ(lzw_test::compress({0x61}, 0)[2], 0x90);
    EXPECT_EQ(lzw_test::compress({0x61}, 1)[2], 0x81);
}

TEST(WriterBytes, NothingWrittenLeavesNoOutput) {
    EXPECT_TRUE(lzw_test::compress({}, 16).empty());
    // A zwrite of 0 bytes writes no header either.
    const int fd = zpress_test::memfd_with({});
    lzw::lzw_handle* zs = lzw::z_open(fd, "w", 0, 16, 0, 0);
    ASSERT_NE(zs, nullptr);
    const unsigned char byte = 'x';
    EXPECT_EQ(lzw::zwrite(zs, &byte, 0), 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_END), 0);
    lzw::lzw_info info{};
    EXPECT_EQ(lzw::z_close(zs, &info), 0);
    EXPECT_EQ(info.zs_total_in, 0);
    EXPECT_EQ(info.zs_total_out, 0);
}

TEST(WriterBytes, CountsReported) {
    const Bytes in = zpress_test::mixed(200000, 21);
    lzw::lzw_info info{};
    const Bytes z = lzw_test::compress(in, 16, lzw_test::fixed_size(16384), &info);
    EXPECT_EQ(info.reserved0, 0u);
    EXPECT_EQ(info.reserved1, 0xFFFFFFFFu);
    EXPECT_EQ(info.reserved2, 0u);
    EXPECT_EQ(info.zs_total_in, static_cast<std::int64_t>(in.size()));
    EXPECT_EQ(info.zs_total_out, static_cast<std::int64_t>(z.size()));
    static_assert(sizeof(info.zs_total_in) == 8 && sizeof(info.zs_total_out) == 8);
}

TEST(WriterBytes, SameOutputWhateverTheCallSizes) {
    const Bytes in = zpress_test::mixed(1 << 20, 5);
    const Bytes whole = lzw_test::compress(in, 16, lzw_test::fixed_size(1 << 20));
    EXPECT_EQ(lzw_test::compress(in, 16, lzw_test::fixed_size(1)), whole);
    EXPECT_EQ(lzw_test::compress(in, 16, lzw_test::random_sizes(8, 100000)), whole);
    EXPECT_EQ(whole, lzw_ref::encode(in, 16));
}

TEST(WriterBytes, IncompressibleInputGetsClearCodes) {
    // Past the full table the ratio is measured every 10000 bytes, and a
    // ratio that does not improve clears the table.
    const Bytes in = zpress_test::random_bytes(300000, 1);
    for (const int bits : {16, 12, 8}) {
        const Bytes z = lzw_test::compress(in, bits);
        const auto ref = lzw_ref::decode(z);
        EXPECT_GT(ref.clears, 0) << bits;
        EXPECT_EQ(ref.data, in);
        EXPECT_EQ(z, lzw_ref::encode(in, bits));
    }
}

TEST(WriterBytes, SignalsDuringWritesToAPipe) {
    // Incompressible data fills the pipe, so the writer blocks in write();
    // signals then interrupt it (EINTR, or a partial write) and it carries on.
    lzw_test::interrupt_with(SIGUSR1);
    const Bytes in = zpress_test::random_bytes(1 << 20, 6);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int closed = -2;
    std::thread writer([&] {
        lzw::lzw_handle* zs = lzw::z_open(fds[1], "w", 0, 16, 0, 0);
        for (std::size_t at = 0; at < in.size(); at += 4096)
            if (lzw::zwrite(zs, in.data() + at, 4096) != 4096) break;
        closed = lzw::z_close(zs, nullptr);
    });
    Bytes z;
    unsigned char buf[1000];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) != 0) {
        if (n < 0) continue;  // the signal may land on this thread too
        z.insert(z.end(), buf, buf + n);
        pthread_kill(writer.native_handle(), SIGUSR1);
    }
    writer.join();
    close(fds[0]);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(z, lzw_ref::encode(in, 16));
}

TEST(WriterFailures, GotmagicWriterRefuses) {
    const int fd = zpress_test::memfd_with({});
    const int keep = dup(fd);
    lzw::lzw_handle* zs = lzw::z_open(fd, "w", 0, 16, 0, 1);
    ASSERT_NE(zs, nullptr);
    const unsigned char data[] = "abc";
    EXPECT_EQ(lzw::zwrite(zs, data, 3), -1);
    EXPECT_EQ(lzw::z_close(zs, nullptr), 0);
    EXPECT_EQ(lseek(keep, 0, SEEK_END), 0);
    close(keep);
}

TEST(WriterFailures, WrongDirectionIsRefused) {
    unsigned char buf[4] = {'a', 'b', 'c', 'd'};
    lzw::lzw_handle* r = lzw::z_open(zpress_test::memfd_with({}), "r", 0, 0, 0, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(lzw::zwrite(r, buf, 4), -1);
    EXPECT_EQ(lzw::z_close(r, nullptr), 0);
    lzw::lzw_handle* w = lzw::z_open(zpress_test::memfd_with({}), "w", 0, 0, 0, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(lzw::zread(w, buf, 4), -1);
    EXPECT_EQ(lzw::z_close(w, nullptr), 0);
}

TEST(WriterFailures, FailedWritesAreReported) {
    // The header cannot be written to a read-only descriptor.
    lzw::lzw_handle* zs = lzw::z_open(open("/dev/null", O_RDONLY), "w", 0, 16, 0, 0);
    ASSERT_NE(zs, nullptr);
    const Bytes in = zpress_test::text_like(100000, 2);
    EXPECT_EQ(lzw::zwrite(zs, in.data(), 10), -1);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(lzw::zwrite(zs, in.data(), 10), -1) << "a broken stream stays broken";
    EXPECT_EQ(errno, EBADF) << "with the first failure's reason";
    lzw::lzw_info info{};
    info.zs_total_in = -7;
    errno = 0;
    EXPECT_EQ(lzw::z_close(zs, &info), -1);
    EXPECT_EQ(errno, EBADF) << "also at the close";
    EXPECT_EQ(info.zs_total_in, -7) << "info untouched after a failed output";

    // The final output fails when the pipe's reader has gone.
    const auto old = std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    zs = lzw::z_open(fds[1], "w", 0, 16, 0, 0);
    ASSERT_NE(zs, nullptr);
    EXPECT_EQ(lzw::zwrite(zs, in.data(), 100), 100);  // header only reaches the pipe
    close(fds[0]);
    errno = 0;
    EXPECT_EQ(lzw::z_close(zs, nullptr), -1);
    EXPECT_EQ(errno, EPIPE);

    // A full buffer that cannot be written fails zwrite itself.
    ASSERT_EQ(pipe(fds), 0);
    zs = lzw::z_open(fds[1], "w", 0, 16, 0, 0);
    ASSERT_NE(zs, nullptr);
    EXPECT_EQ(lzw::zwrite(zs, in.data(), 1), 1);
    close(fds[0]);
    EXPECT_EQ(lzw::zwrite(zs, in.data(), static_cast<int>(in.size())), -1);
    EXPECT_EQ(errno, EPIPE);
    EXPECT_EQ(lzw::z_close(zs, nullptr), -1);
    std::signal(SIGPIPE, old);
}

}  // namespace
