// Where the reader's bytes come from: streams whose magic the caller has
// already taken (gotmagic), and pipes that deliver the stream in small pieces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

// Takes the two magic bytes off the descriptor, as the command line does
// before it hands standard input over.
void take_magic(int fd) {
    unsigned char magic[2];
    std::size_t got = 0;
    while (got < 2) {
        const ssize_t n = ::read(fd, magic + got, 2 - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(magic[0], 0x1F);
    EXPECT_EQ(magic[1], 0x8B);
}

GzPtr open_gotmagic(const Bytes& input) {
    const int fd = memfd_with(input);
    take_magic(fd);
    GzPtr h(gzdopen_gotmagic(fd, "rb"));
    EXPECT_NE(h, nullptr);
    return h;
}

// After a magic the caller took, a valid header must follow: without the
// method and flags bytes it is cut off, and nothing is delivered.
TEST(GotMagic, BytesAfterTheMagicMustBeAValidHeader) {
    for (const Bytes& input : {Bytes{0x1F, 0x8B}, Bytes{0x1F, 0x8B, 'A'}, Bytes{0x1F, 0x8B, 8},
                               concat({Bytes{0x1F, 0x8B}, bytes_of("hello world")})}) {
        GzPtr h = open_gotmagic(input);
        char buf[8];
        EXPECT_EQ(gzread(h.get(), buf, sizeof buf), -1);
        int code = 0;
        error_of(h.get(), &code);
        EXPECT_EQ(code, Z_DATA_ERROR);
        EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
    }
}

TEST(GotMagic, MembersAfterTheFirstNeedTheirMagic) {
    const Bytes a = make_data(DataKind::text, 9000, 1);
    const Bytes b = make_data(DataKind::text, 4000, 2);
    const Bytes second = gzip_member(b);
    GzPtr h = open_gotmagic(concat({gzip_member(a), ByteView(second).subspan(2)}));
    const ReadOutcome r = read_to_end(h.get(), 5000);
    EXPECT_EQ(r.last, -1);
    EXPECT_EQ(r.data, a);
    EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
}

TEST(GotMagic, PathOpenerStartsAtTheMethodByte) {
    TempDir dir;
    const std::string path = dir.path("headless");
    const Bytes plain = make_data(DataKind::text, 3000, 3);
    const Bytes member = gzip_member(plain);
    write_file(path, ByteView(member).subspan(2));
    GzPtr h(gzopen_gotmagic(path.c_str(), "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(read_to_end(h.get(), 1000).data, plain);
    EXPECT_EQ(close_handle(h), 0);
}

// A pipe fed in small pieces: the reader must not mistake a short read of
// the pipe for the end of the stream.
class PipeSource : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PipeSource, MembersArriveWhole) {
    const Bytes a = make_data(DataKind::mixed, 60000, 4);
    const Bytes b = make_data(DataKind::text, 20000, 5);
    PipeFeeder feeder(
        concat({gzip_member(a),
                gzip_member(b, MemberParts{}.with_header(HeaderParts{}.with_flags(0x1E))),
                Bytes(100, 0)}),
        GetParam());
    GzPtr h(gzdopen(feeder.take_read_fd(), "rb"));
    ASSERT_NE(h, nullptr);
    const ReadOutcome r = read_to_end(h.get(), 3000);
    EXPECT_EQ(r.last, 0);
    EXPECT_EQ(r.data, concat({a, b}));
    EXPECT_EQ(close_handle(h), 0);
}

TEST_P(PipeSource, PlainDataPassesThrough) {
    const Bytes plain = make_data(DataKind::text, 50000, 6);
    PipeFeeder feeder(plain, GetParam());
    GzPtr h(gzdopen(feeder.take_read_fd(), "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(read_to_end(h.get(), 4000).data, plain);
    EXPECT_EQ(close_handle(h), 0);
}

TEST_P(PipeSource, GotMagicOnAPipe) {
    const Bytes a = make_data(DataKind::text, 30000, 7);
    PipeFeeder feeder(gzip_member(a), GetParam());
    const int fd = feeder.take_read_fd();
    take_magic(fd);
    GzPtr h(gzdopen_gotmagic(fd, "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(read_to_end(h.get(), 16384).data, a);
    EXPECT_EQ(close_handle(h), 0);
}

TEST_P(PipeSource, CutStreamIsAnError) {
    const Bytes member =
        gzip_member(make_data(DataKind::random, 30000, 8), MemberParts{}.with_level(1));
    PipeFeeder feeder(Bytes(member.begin(), member.begin() + 20000), GetParam());
    GzPtr h(gzdopen(feeder.take_read_fd(), "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(read_to_end(h.get(), 4096).last, -1);
    EXPECT_LT(close_handle(h), 0);
}

INSTANTIATE_TEST_SUITE_P(PieceSizes, PipeSource, ::testing::Values(1u, 7u, 4097u, 70000u));

// A stdio stream without a descriptor: with a seek function (fmemopen) it
// goes back and keeps an index; without one (a fopencookie stream that only
// reads) a backward seek fails and reading goes on where it stood.
TEST(StdioSource, SeeksBackOnlyWithASeekFunction) {
    const Bytes a = make_data(DataKind::text, 600000, 9);
    const Bytes b = make_data(DataKind::text, 300000, 10);
    Bytes gz = concat({gzip_member(a), gzip_member(b)});
    const Bytes all = concat({a, b});
    char buf[100];

    std::FILE* seekable = fmemopen(gz.data(), gz.size(), "rb");
    ASSERT_NE(seekable, nullptr);
    GzPtr h(gzopen_stdio(seekable, "<memory>", "rb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzindex_build(h.get()), 0);
    for (const gz_off_t at : {gz_off_t{850000}, gz_off_t{10}, gz_off_t{700000}}) {
        ASSERT_EQ(gzseek(h.get(), at, 0), at);
        ASSERT_EQ(gzread(h.get(), buf, sizeof buf), 100);
        EXPECT_EQ(std::memcmp(buf, all.data() + at, sizeof buf), 0) << at;
    }
    EXPECT_EQ(close_handle(h), 0);

    struct source {
        const Bytes* data;
        std::size_t at;
    } from{&gz, 0};
    const auto read = [](void* cookie, char* out, std::size_t size) -> ssize_t {
        auto& s = *static_cast<source*>(cookie);
        const std::size_t n = std::min(size, s.data->size() - s.at);
        std::memcpy(out, s.data->data() + s.at, n);
        s.at += n;
        return static_cast<ssize_t>(n);
    };
    std::FILE* forward = fopencookie(
        &from, "rb", {.read = read, .write = nullptr, .seek = nullptr, .close = nullptr});
    ASSERT_NE(forward, nullptr);
    h.reset(gzopen_stdio(forward, "<cookie>", "rb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzseek(h.get(), 5000, 0), 5000);
    EXPECT_EQ(gzseek(h.get(), 10, 0), -1);
    EXPECT_EQ(gzrewind(h.get()), -1);
    errno = 0;
    EXPECT_EQ(gzindex_build(h.get()), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(gzread(h.get(), buf, sizeof buf), 100);
    EXPECT_EQ(std::memcmp(buf, all.data() + 5000, sizeof buf), 0);
    EXPECT_EQ(close_handle(h), 0);
}

}  // namespace
}  // namespace zpress_test
