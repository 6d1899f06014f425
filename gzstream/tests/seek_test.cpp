// Positioning: gzseek, gztell and gzrewind on compressed, plain, piped and
// write streams.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <utility>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "mem_file.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

// A concatenated stream with members of very different sizes (one empty)
// and its plain bytes.
struct MultiMember {
    Bytes plain;
    Bytes stream;
    std::vector<std::size_t> boundaries;  // plain offsets where a member starts
};

MultiMember multi_member() {
    MultiMember m;
    std::uint32_t seed = 50;
    for (std::size_t size : {30000u, 1u, 0u, 45000u, 20000u}) {
        const Bytes part = make_data(DataKind::mixed, size, seed++);
        m.boundaries.push_back(m.plain.size());
        m.plain.insert(m.plain.end(), part.begin(), part.end());
        const Bytes member =
            gzip_member(part, MemberParts{}.with_level(static_cast<int>(seed % 10)));
        m.stream.insert(m.stream.end(), member.begin(), member.end());
    }
    return m;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t len) {
    len = std::min(len, b.size() - from);
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(from + len));
}

Bytes read_n(gz_handle* h, std::size_t n) {
    Bytes buf(n);
    const int got = gzread(h, buf.data(), static_cast<unsigned>(n));
    buf.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return buf;
}

class SeekRead : public ::testing::Test {
  protected:
    void SetUp() override {
        m_ = multi_member();
        h_ = open_bytes(m_.stream);
        ASSERT_NE(h_, nullptr);
    }
    gz_off_t size() const { return static_cast<gz_off_t>(m_.plain.size()); }

    MultiMember m_;
    GzPtr h_;
};

TEST_F(SeekRead, ForwardFromTheStart) {
    EXPECT_EQ(gzseek(h_.get(), 100, 0), 100);
    EXPECT_EQ(gztell(h_.get()), 100);
    EXPECT_EQ(read_n(h_.get(), 500), slice(m_.plain, 100, 500));
    EXPECT_EQ(gztell(h_.get()), 600);
}

TEST_F(SeekRead, BackwardRewindsAndSkips) {
    ASSERT_EQ(read_n(h_.get(), 1000).size(), 1000u);
    EXPECT_EQ(gzseek(h_.get(), 10, 0), 10);
    EXPECT_EQ(gzgetc(h_.get()), m_.plain[10]);
    EXPECT_EQ(gzseek(h_.get(), -5, 1), 6);
    EXPECT_EQ(gzgetc(h_.get()), m_.plain[6]);
}

TEST_F(SeekRead, AroundMemberBoundaries) {
    for (std::size_t boundary : m_.boundaries) {
        for (std::size_t target : {boundary - (boundary > 0), boundary, boundary + 1}) {
            if (target > m_.plain.size()) continue;
            SCOPED_TRACE(target);
            ASSERT_EQ(gzseek(h_.get(), static_cast<gz_off_t>(target), 0),
                      static_cast<gz_off_t>(target));
            EXPECT_EQ(read_n(h_.get(), 3), slice(m_.plain, target, 3));
        }
    }
}

TEST_F(SeekRead, RandomOffsetsBothWhences) {
    std::mt19937 rng(77);
    gz_off_t pos = 0;
    for (int i = 0; i < 300; ++i) {
        const auto target = static_cast<gz_off_t>(rng() % (m_.plain.size() + 1));
        const bool relative = rng() % 2 == 1;
        SCOPED_TRACE(std::to_string(i) + ": " + std::to_string(target));
        ASSERT_EQ(gzseek(h_.get(), relative ? target - pos : target, relative ? 1 : 0), target);
        ASSERT_EQ(gztell(h_.get()), target);
        const std::size_t n = rng() % 2000;
        const Bytes got = read_n(h_.get(), n);
        ASSERT_EQ(got, slice(m_.plain, static_cast<std::size_t>(target), n));
        pos = target + static_cast<gz_off_t>(got.size());
    }
}

TEST_F(SeekRead, BeyondTheEndFailsAtTheEnd) {
    EXPECT_EQ(gzseek(h_.get(), size() + 1, 0), -1);
    EXPECT_EQ(gzeof(h_.get()), 1);
    EXPECT_EQ(gztell(h_.get()), size());
    EXPECT_EQ(gzseek(h_.get(), size(), 0), size());  // the end itself is a place
    EXPECT_EQ(gzseek(h_.get(), 7, 0), 7);
    EXPECT_EQ(gzeof(h_.get()), 0);
    EXPECT_EQ(read_n(h_.get(), 10), slice(m_.plain, 7, 10));
    EXPECT_EQ(close_handle(h_), 0);
}

TEST_F(SeekRead, RefusedRequestsChangeNothing) {
    ASSERT_EQ(read_n(h_.get(), 100).size(), 100u);
    EXPECT_EQ(gzseek(h_.get(), 0, 2), -1);
    EXPECT_EQ(gzseek(h_.get(), 10, 7), -1);
    EXPECT_EQ(gzseek(h_.get(), 10, -1), -1);
    EXPECT_EQ(gzseek(h_.get(), -1, 0), -1);
    EXPECT_EQ(gzseek(h_.get(), -101, 1), -1);
    EXPECT_EQ(gztell(h_.get()), 100);
    EXPECT_EQ(read_n(h_.get(), 10), slice(m_.plain, 100, 10));
}

TEST(SeekErrors, NoSeekingInADataErrorUntilRewind) {
    const Bytes plain = make_data(DataKind::text, 3000, 60);
    GzPtr h = open_bytes(gzip_member(plain, MemberParts{}.with_crc(1)));
    EXPECT_EQ(read_to_end(h.get(), 5000).last, -1);
    EXPECT_EQ(gzseek(h.get(), 0, 0), -1);
    EXPECT_EQ(gztell(h.get()), -1);
    EXPECT_EQ(gzrewind(h.get()), 0);
    EXPECT_EQ(read_n(h.get(), 10), slice(plain, 0, 10));
    EXPECT_EQ(gztell(h.get()), 10);
}

// Trailing bytes after the last member never turn the stream into plain data:
// a rewind clears their error and inflates the first member again.
TEST(SeekTrailing, RewindReinflatesTheFirstMember) {
    const Bytes a = make_data(DataKind::text, 20000, 61);
    const Bytes b = make_data(DataKind::text, 5000, 62);
    GzPtr h = open_bytes(concat({gzip_member(a), gzip_member(b), bytes_of("trailing junk")}));
    const Bytes ab = concat({a, b});
    ReadOutcome r = read_to_end(h.get(), 4096);
    EXPECT_EQ(r.data, ab);
    EXPECT_EQ(r.last, -1);
    EXPECT_EQ(gzrewind(h.get()), 0);
    EXPECT_EQ(gzeof(h.get()), 0);
    r = read_to_end(h.get(), 3000);
    EXPECT_EQ(r.data, ab);
    EXPECT_EQ(r.last, -1);
    EXPECT_EQ(gzrewind(h.get()), 0);
    EXPECT_EQ(gzseek(h.get(), 5, 0), 5);
    EXPECT_EQ(read_n(h.get(), 20), slice(ab, 5, 20));
    EXPECT_EQ(gzseek(h.get(), 21000, 0), 21000);
    EXPECT_EQ(read_n(h.get(), 20), slice(ab, 21000, 20));
    EXPECT_EQ(close_handle(h), 0);
}

// Plain data on a descriptor that stood at offset 7 when opened: positions
// count from there, for seeks as for the rewind.
TEST(SeekPlain, PositionsCountFromWhereTheDataStarts) {
    const Bytes plain = make_data(DataKind::text, 40000, 62);
    const int fd = memfd_with(plain);
    ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
    GzPtr h(gzdopen(fd, "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(read_n(h.get(), 3), slice(plain, 7, 3));
    EXPECT_EQ(gzseek(h.get(), 5, 0), 5);
    EXPECT_EQ(read_n(h.get(), 4), slice(plain, 12, 4));
    EXPECT_EQ(gzseek(h.get(), -3, 1), 6);
    EXPECT_EQ(gzgetc(h.get()), plain[13]);
    EXPECT_EQ(gzrewind(h.get()), 0);
    EXPECT_EQ(gzgetc(h.get()), plain[7]);
    EXPECT_EQ(gzseek(h.get(), std::numeric_limits<gz_off_t>::max() - 3, 0), -1);
    EXPECT_EQ(gztell(h.get()), 1);
    EXPECT_EQ(read_to_end(h.get(), 9000).data, slice(plain, 8, plain.size()));
}

// Plain data: positions are file offsets.
TEST(SeekPlain, SeeksMoveTheFile) {
    const Bytes plain = make_data(DataKind::text, 40000, 63);
    GzPtr h = open_bytes(plain);
    EXPECT_EQ(gzseek(h.get(), 5, 0), 5);
    EXPECT_EQ(gzgetc(h.get()), plain[5]);
    EXPECT_EQ(gzseek(h.get(), 30000, 1), 30006);
    EXPECT_EQ(gztell(h.get()), 30006);
    EXPECT_EQ(read_n(h.get(), 100), slice(plain, 30006, 100));
    EXPECT_EQ(read_to_end(h.get(), 50000).data, slice(plain, 30106, 50000));
    EXPECT_EQ(gzeof(h.get()), 1);
    EXPECT_EQ(gzseek(h.get(), 2, 0), 2);
    EXPECT_EQ(gzeof(h.get()), 0);  // no longer at the end
    EXPECT_EQ(read_n(h.get(), 3), slice(plain, 2, 3));
    EXPECT_EQ(gzrewind(h.get()), 0);
    EXPECT_EQ(read_to_end(h.get(), 7000).data, plain);
    // Past the end: refused, and the stream is at its end; the end itself
    // can be reached.
    EXPECT_EQ(gzseek(h.get(), 40001, 0), -1);
    EXPECT_EQ(gztell(h.get()), 40000);
    EXPECT_EQ(gzeof(h.get()), 1);
    EXPECT_EQ(gzseek(h.get(), 39990, 0), 39990);
    EXPECT_EQ(gzseek(h.get(), 11, 1), -1);
    EXPECT_EQ(gzgetc(h.get()), -1);
    EXPECT_EQ(gzseek(h.get(), 40000, 0), 40000);
    EXPECT_EQ(close_handle(h), 0);
}

static_assert(std::is_same_v<gz_off_t, std::int64_t>);
static_assert(std::is_same_v<decltype(gzseek(nullptr, 0, 0)), gz_off_t>);
static_assert(std::is_same_v<decltype(gztell(nullptr)), gz_off_t>);

// Positions past 4 GiB, cheaply: a sparse plain file is read as plain data.
TEST(SeekPlain, PositionsPastFourGiB) {
    TempDir dir;
    const std::string path = dir.path("sparse");
    constexpr gz_off_t kTailAt = (gz_off_t{5} << 30) + 3;
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(fseeko(f, kTailAt, SEEK_SET), 0);
        ASSERT_EQ(std::fputs("tail", f), 1);
        ASSERT_EQ(std::fclose(f), 0);
    }
    GzPtr h(gzopen(path.c_str(), "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(gzseek(h.get(), kTailAt - 1, 0), kTailAt - 1);
    EXPECT_EQ(gztell(h.get()), kTailAt - 1);
    EXPECT_EQ(read_n(h.get(), 10), concat({Bytes{0}, bytes_of("tail")}));
    EXPECT_EQ(gztell(h.get()), kTailAt + 4);
    EXPECT_EQ(gzseek(h.get(), -(kTailAt + 3), 1), 1);
    EXPECT_EQ(gzseek(h.get(), kTailAt, 1), kTailAt + 1);
    EXPECT_EQ(read_n(h.get(), 10), bytes_of("ail"));
}

// A handed-back byte on plain data counts once in the position.
TEST(SeekPlain, TellAfterUngetcAndRead) {
    GzPtr h = open_bytes(bytes_of("0123456789abcdef"));
    ASSERT_EQ(read_n(h.get(), 5), bytes_of("01234"));
    ASSERT_EQ(gzungetc('x', h.get()), 'x');
    EXPECT_EQ(gztell(h.get()), 4);
    EXPECT_EQ(read_n(h.get(), 4), bytes_of("x567"));
    EXPECT_EQ(gztell(h.get()), 8);
    EXPECT_EQ(gzgetc(h.get()), '8');
    EXPECT_EQ(gztell(h.get()), 9);
}

// On a pipe nothing can go back: the rewind and a backward seek fail and
// change nothing, so reading goes on where it stood.
TEST(SeekPipe, RewindFailsAndReadingGoesOn) {
    const Bytes first = make_data(DataKind::text, 5000, 64);
    Bytes head = gzip_member(first);
    ASSERT_LT(head.size(), 16384u);
    head.resize(16384, 'f');  // the reader's first 16384-byte read takes exactly this
    const Bytes next = make_data(DataKind::mixed, 40000, 65);
    const Bytes input = concat({head, raw_deflate(next), gzip_trailer(crc32_of(next), 40000)});
    PipeFeeder feeder(input, 999);
    GzPtr h(gzdopen(feeder.take_read_fd(), "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(read_n(h.get(), 10), slice(first, 0, 10));
    EXPECT_EQ(gzrewind(h.get()), -1);
    EXPECT_EQ(gztell(h.get()), 10);
    EXPECT_EQ(gzseek(h.get(), 3, 0), -1);
    ASSERT_EQ(gzungetc('x', h.get()), 'x');
    EXPECT_EQ(gzseek(h.get(), -2, 1), -1);
    EXPECT_EQ(gzgetc(h.get()), 'x');  // the handed-back byte survives too
    EXPECT_EQ(gzeof(h.get()), 0);
    // The first member's data, then bytes that do not begin a member: the
    // data error comes after the data.
    const ReadOutcome r = read_to_end(h.get(), 8000);
    EXPECT_EQ(r.last, -1);
    EXPECT_EQ(r.data, slice(first, 10, first.size()));
    EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
}

// Forward seeks read on, gzip data or plain; past the end they fail at the
// end.
TEST(SeekPipe, ForwardSeeksWorkBackwardSeeksFail) {
    const Bytes plain = make_data(DataKind::text, 50000, 66);
    for (const bool compressed : {true, false}) {
        SCOPED_TRACE(compressed);
        PipeFeeder feeder(compressed ? gzip_member(plain) : plain, 4096);
        GzPtr h(gzdopen(feeder.take_read_fd(), "rb"));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(gzseek(h.get(), 20000, 0), 20000);
        EXPECT_EQ(read_n(h.get(), 100), slice(plain, 20000, 100));
        EXPECT_EQ(gzseek(h.get(), 100, 1), 20200);
        EXPECT_EQ(read_n(h.get(), 100), slice(plain, 20200, 100));
        EXPECT_EQ(gzseek(h.get(), 10, 0), -1);
        EXPECT_EQ(gztell(h.get()), 20300);
        EXPECT_EQ(gzseek(h.get(), 50001, 0), -1);
        EXPECT_EQ(gzgetc(h.get()), -1);
        EXPECT_EQ(gzeof(h.get()), 1);
    }
}

// Targets outside 0..INT64_MAX are refused without computing them (the asan
// preset aborts on a signed overflow) and leave the handle as it was.
TEST(SeekExtreme, ReadStreamRefusesAndStaysPut) {
    constexpr gz_off_t kMax = std::numeric_limits<gz_off_t>::max();
    constexpr gz_off_t kMin = std::numeric_limits<gz_off_t>::min();
    const Bytes plain = make_data(DataKind::text, 3000, 67);
    GzPtr h = open_bytes(gzip_member(plain));
    ASSERT_NE(h, nullptr);
    // A byte handed back at the start puts the position at -1.
    ASSERT_EQ(gzungetc('u', h.get()), 'u');
    EXPECT_EQ(gzseek(h.get(), kMax, 0), -1);
    EXPECT_EQ(gzseek(h.get(), kMin, 1), -1);
    EXPECT_EQ(gzgetc(h.get()), 'u');
    ASSERT_EQ(gzgetc(h.get()), plain[0]);
    for (const auto& [offset, whence] : {std::pair{kMax, 1}, std::pair{kMin, 1}, std::pair{kMin, 0},
                                         std::pair{gz_off_t{-2}, 1}, std::pair{gz_off_t{-1}, 0}}) {
        SCOPED_TRACE(std::to_string(offset) + " whence " + std::to_string(whence));
        EXPECT_EQ(gzseek(h.get(), offset, whence), -1);
        EXPECT_EQ(gztell(h.get()), 1);
    }
    EXPECT_EQ(gzgetc(h.get()), plain[1]);
    // A reachable target past the end still reads to the end and fails.
    EXPECT_EQ(gzseek(h.get(), kMax, 0), -1);
    EXPECT_EQ(gzeof(h.get()), 1);
    EXPECT_EQ(close_handle(h), 0);
}

TEST(SeekExtreme, WriteStreamRefusesAndStaysPut) {
    constexpr gz_off_t kMax = std::numeric_limits<gz_off_t>::max();
    constexpr gz_off_t kMin = std::numeric_limits<gz_off_t>::min();
    TempDir dir;
    const std::string path = dir.path("x.gz");
    GzPtr h(gzopen(path.c_str(), "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzputs(h.get(), "ab"), 2);
    for (const auto& [offset, whence] :
         {std::pair{kMin, 0}, std::pair{kMin, 1}, std::pair{kMax, 1}, std::pair{kMax - 1, 1},
          std::pair{gz_off_t{-1}, 0}, std::pair{gz_off_t{1}, 0}}) {
        SCOPED_TRACE(std::to_string(offset) + " whence " + std::to_string(whence));
        EXPECT_EQ(gzseek(h.get(), offset, whence), -1);
        EXPECT_EQ(gztell(h.get()), 2);
    }
    ASSERT_EQ(gzputs(h.get(), "cd"), 2);
    EXPECT_EQ(close_and_gunzip(h, path), bytes_of("abcd"));
}

// A write stream moves forward only, by compressing zero bytes.
TEST(SeekWrite, ForwardAddsZerosBackwardIsRefused) {
    TempDir dir;
    const std::string path = dir.path("w.gz");
    GzPtr h(gzopen(path.c_str(), "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzputs(h.get(), "ab"), 2);
    EXPECT_EQ(gzseek(h.get(), 10, 1), 12);
    ASSERT_EQ(gzputs(h.get(), "cd"), 2);
    EXPECT_EQ(gzseek(h.get(), 20, 0), 20);
    EXPECT_EQ(gzseek(h.get(), 5, 0), -1);
    EXPECT_EQ(gzseek(h.get(), -1, 1), -1);
    EXPECT_EQ(gzseek(h.get(), 0, 2), -1);
    EXPECT_EQ(gzseek(h.get(), 1, 7), -1);
    EXPECT_EQ(gzseek(h.get(), 20, 0), 20);
    EXPECT_EQ(gztell(h.get()), 20);
    EXPECT_EQ(gzseek(h.get(), 100000, 1), 100020);  // several zero blocks
    ASSERT_EQ(gzputc(h.get(), 'e'), 'e');
    ASSERT_EQ(close_handle(h), 0);

    Bytes expected = bytes_of("ab");
    expected.resize(12, 0);
    expected.push_back('c');
    expected.push_back('d');
    expected.resize(100020, 0);
    expected.push_back('e');
    const Bytes file = read_file(path);
    const GunzipResult r = inflate_gzip_strict(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.data, expected);
    EXPECT_EQ(Bytes(file.end() - 8, file.end()), gzip_trailer(crc32_of(expected), 100021));
}

}  // namespace
}  // namespace zpress_test
