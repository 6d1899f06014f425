// zpress::gzfile: ownership, reading, writing, lines, positioning, errors.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "gzip_builder.h"
#include "mem_file.h"
#include "temp_io.h"
#include "test_data.h"
#include "zlib_oracle.h"
#include "zpress/gzio.h"
#include "zpress/zpress.hpp"

namespace {

using zpress_test::Bytes;
using zpress_test::ByteView;

std::span<std::byte> as_writable(std::vector<char>& v) {
    return std::as_writable_bytes(std::span(v));
}

std::string as_string(ByteView b) { return {b.begin(), b.end()}; }

// Everything read() delivers until it gives 0.
std::string read_all(zpress::gzfile& f, std::size_t block) {
    std::string out;
    std::vector<char> buf(block);
    for (std::size_t n; (n = f.read(as_writable(buf))) != 0;) out.append(buf.data(), n);
    return out;
}

class GzfileTest : public ::testing::Test {
  protected:
    std::string put(const std::string& name, ByteView data) {
        const std::string p = dir_.path(name);
        zpress_test::write_file(p, data);
        return p;
    }
    zpress_test::TempDir dir_;
};

TEST_F(GzfileTest, WrittenFileIsGzipThatAnyReaderDecodes) {
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::mixed, 300000);
    const std::string p = dir_.path("w.gz");
    {
        zpress::gzfile f(p, "wb9");
        f.write(std::as_bytes(std::span(data)).first(1000));
        f.write(std::string_view(reinterpret_cast<const char*>(data.data()) + 1000,
                                 data.size() - 1000));
        f.close();
        f.close();  // a second close does nothing
        EXPECT_FALSE(f.is_open());
    }
    const auto decoded = zpress_test::inflate_gzip_strict(zpress_test::read_file(p));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.data, data);
}

TEST_F(GzfileTest, ReadsMembersAndPlainDataWhateverTheBlockSize) {
    const Bytes a = zpress_test::make_data(zpress_test::DataKind::text, 100000, 1);
    const Bytes b = zpress_test::make_data(zpress_test::DataKind::random, 70000, 2);
    const std::string two =
        put("two.gz",
            zpress_test::concat({zpress_test::gzip_reference(a), zpress_test::gzip_reference(b)}));
    const std::string plain = put("plain.txt", a);
    for (std::size_t block : {1u, 4096u, 1u << 20}) {
        zpress::gzfile f(two, "rb");
        EXPECT_EQ(read_all(f, block), as_string(a) + as_string(b)) << block;
        EXPECT_TRUE(f.eof());
        std::vector<char> more(10);
        EXPECT_EQ(f.read(as_writable(more)), 0u);
        zpress::gzfile g(plain, "rb");
        EXPECT_EQ(read_all(g, block), as_string(a)) << block;
    }
}

TEST_F(GzfileTest, GetlineGivesLinesOfAnyLength) {
    const std::string huge(1'000'000, 'x');  // far past any internal block
    const std::string text = "first\n\n" + huge + "\r\n" + "last without newline";
    const std::string p = put("lines.gz", zpress_test::gzip_reference(zpress_test::bytes_of(text)));
    zpress::gzfile f(p, "rb");
    std::string line = "stale";
    std::vector<std::string> lines;
    while (f.getline(line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], huge + "\r");  // only the newline is removed
    EXPECT_EQ(lines[3], "last without newline");
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(f.getline(line));

    // Plain data from a pipe comes a byte at a time, a handed-back byte too.
    const int fd = zpress_test::pipe_holding(zpress_test::bytes_of("ab\ncd"));
    ASSERT_GE(fd, 0);
    zpress::gzfile piped("/dev/fd/" + std::to_string(fd), "rb");
    ASSERT_EQ(gzstream::gzgetc(piped.handle()), 'a');
    ASSERT_EQ(gzstream::gzungetc('a', piped.handle()), 'a');
    ASSERT_TRUE(piped.getline(line));
    EXPECT_EQ(line, "ab");
    ASSERT_TRUE(piped.getline(line));
    EXPECT_EQ(line, "cd");
    EXPECT_FALSE(piped.getline(line));
    ::close(fd);
}

TEST_F(GzfileTest, ReadTellAndSeekAgreeWithGetlineReadAhead) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    const std::string p = put("pos.gz", zpress_test::gzip_reference(zpress_test::bytes_of(text)));
    zpress::gzfile f(p, "rb");
    std::string line;
    ASSERT_TRUE(f.getline(line));
    EXPECT_EQ(f.tell(), 7);  // counts what the caller has had, not what was read ahead
    // One read-ahead, the stream layer's: the handle goes on behind the line.
    EXPECT_EQ(gzstream::gzgetc(f.handle()), 'l');
    EXPECT_EQ(gzstream::gzungetc('l', f.handle()), 'l');
    std::vector<char> buf(5);
    ASSERT_EQ(f.read(as_writable(buf)), 5u);
    EXPECT_EQ(std::string(buf.data(), 5), text.substr(7, 5));
    EXPECT_EQ(f.seek(3, SEEK_CUR), 15);
    ASSERT_TRUE(f.getline(line));
    EXPECT_EQ(line, text.substr(15, text.find('\n', 15) - 15));
    EXPECT_EQ(f.seek(100000, SEEK_SET), 100000);  // forward
    ASSERT_EQ(f.read(as_writable(buf)), 5u);
    EXPECT_EQ(std::string(buf.data(), 5), text.substr(100000, 5));
    EXPECT_EQ(f.seek(10, SEEK_SET), 10);  // backward
    ASSERT_EQ(f.read(as_writable(buf)), 5u);
    EXPECT_EQ(std::string(buf.data(), 5), text.substr(10, 5));
    f.rewind();
    EXPECT_EQ(f.tell(), 0);
    ASSERT_TRUE(f.getline(line));
    EXPECT_EQ(line, "line 0");
}

// A seek that cannot be made throws and leaves the position where it was:
// past the end, from the end, and offsets whose sum overflows.
TEST_F(GzfileTest, FailedSeeksThrowAndMoveNothing) {
    const std::string p =
        put("s.gz", zpress_test::gzip_reference(zpress_test::bytes_of("0123456789")));
    zpress::gzfile f(p, "rb");
    std::string line;
    std::vector<char> two(2);
    ASSERT_EQ(f.read(as_writable(two)), 2u);
    EXPECT_THROW(f.seek(0, SEEK_END), zpress::error);
    EXPECT_THROW(f.seek(11, SEEK_SET), zpress::error);
    EXPECT_THROW(f.seek(INT64_MAX, SEEK_CUR), zpress::error);
    EXPECT_THROW(f.seek(INT64_MIN, SEEK_CUR), zpress::error);
    EXPECT_THROW(f.seek(-3, SEEK_CUR), zpress::error);
    EXPECT_EQ(f.tell(), 2);
    ASSERT_TRUE(f.getline(line));  // reads ahead to the end
    EXPECT_EQ(line, "23456789");
    EXPECT_EQ(f.seek(-4, SEEK_CUR), 6);
    EXPECT_THROW(f.seek(INT64_MIN, SEEK_CUR), zpress::error);
    ASSERT_TRUE(f.getline(line));
    EXPECT_EQ(line, "6789");

    // A pipe cannot go back: the bytes getline() read ahead are not lost.
    zpress_test::PipeFeeder feeder(zpress_test::gzip_reference(zpress_test::bytes_of("ab\ncd\n")),
                                   3);
    const int fd = feeder.take_read_fd();
    zpress::gzfile piped("/proc/self/fd/" + std::to_string(fd), "rb");
    close(fd);
    ASSERT_TRUE(piped.getline(line));
    EXPECT_THROW(piped.seek(0, SEEK_SET), zpress::error);
    EXPECT_EQ(piped.tell(), 3);
    ASSERT_TRUE(piped.getline(line));
    EXPECT_EQ(line, "cd");
}

// The header's name, comment and time: written as chosen (the exact bytes
// of the format), read back from a member another writer made.
// An index built, saved and loaded into another open of the same file makes
// exact random reads; an index of another file is refused and changes nothing.
TEST_F(GzfileTest, IndexBuiltSavedAndLoaded) {
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::text, 3 << 20, 41);
    const std::string p = put("d.gz", zpress_test::gzip_member(data));
    const std::string other =
        put("o.gz", zpress_test::gzip_member(Bytes(data.begin(), data.end() - 1)));
    const std::string idx = dir_.path("d.idx");
    {
        zpress::gzfile f(p, "rb");
        EXPECT_THROW(f.save_index(idx), zpress::error);  // nothing noted yet
        std::vector<char> first(10);
        f.read(as_writable(first));
        f.build_index();
        EXPECT_EQ(f.tell(), 10);  // the position stays
        f.save_index(idx);
    }
    zpress::gzfile f(p, "rb");
    try {
        zpress::gzfile o(other, "rb");
        o.load_index(idx);
        ADD_FAILURE() << "another file's index was taken";
    } catch (const zpress::error& e) {
        EXPECT_EQ(std::string(e.what()).rfind(idx + ": ", 0), 0u) << e.what();
    }
    f.load_index(idx);
    f.verify_index();
    std::vector<char> buf(4096);
    std::uint64_t seed = 7;
    for (int i = 0; i < 100; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        const auto at = static_cast<std::int64_t>((seed >> 16) % (data.size() - buf.size()));
        ASSERT_EQ(f.seek(at, SEEK_SET), at);
        ASSERT_EQ(f.read(as_writable(buf)), buf.size());
        ASSERT_EQ(std::memcmp(buf.data(), data.data() + at, buf.size()), 0) << at;
    }
    zpress::gzfile plain(put("plain", zpress_test::bytes_of("not gzip")), "rb");
    EXPECT_THROW(plain.build_index(), zpress::error);
}

// Line seeks land on the line getline() then gives; one past the last line
// throws and leaves what getline() read ahead in place.
TEST_F(GzfileTest, SeekLineAndLineCount) {
    const std::string text = "first\nsecond\n\nfourth\nlast, no newline";
    zpress::gzfile f(put("l.gz", zpress_test::gzip_member(zpress_test::bytes_of(text))), "rb");
    EXPECT_EQ(f.lines(), -1);
    std::string line;
    ASSERT_TRUE(f.getline(line));
    EXPECT_THROW(f.seek_line(6), zpress::error);
    EXPECT_THROW(f.seek_line(0), zpress::error);
    ASSERT_TRUE(f.getline(line));
    EXPECT_EQ(line, "second");
    EXPECT_EQ(f.seek_line(4), 14);
    ASSERT_TRUE(f.getline(line));
    EXPECT_EQ(line, "fourth");
    EXPECT_EQ(f.seek_line(5), 21);
    ASSERT_TRUE(f.getline(line));
    EXPECT_EQ(line, "last, no newline");
    f.build_index();
    EXPECT_EQ(f.lines(), 4);
}

TEST_F(GzfileTest, HeaderNameCommentAndTime) {
    const std::string p = dir_.path("h.gz");
    {
        zpress::gzfile w(
            p, "wb9",
            zpress::gzip_header{.name = "report.txt", .comment = "Q3", .mtime = 4294967295});
        w.write(std::string_view("body\n"));
        w.close();
    }
    const Bytes file = zpress_test::read_file(p);
    const Bytes expected =
        zpress_test::concat({Bytes{0x1F, 0x8B, 8, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0, 3},
                             zpress_test::bytes_of(std::string("report.txt\0Q3\0", 14))});
    ASSERT_GE(file.size(), expected.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);
    const auto decoded = zpress_test::inflate_gzip_strict(file);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(as_string(decoded.data), "body\n");

    const zpress_test::GzipFields fields{.name = "orig name",
                                         .comment = "a comment",
                                         .extra = std::nullopt,
                                         .header_crc = true,
                                         .text = false};
    const std::string q =
        put("q.gz", zpress_test::gzip_reference(zpress_test::bytes_of("q"), 6,
                                                zpress_test::kStrategyDefault, &fields));
    const zpress::gzip_header h = zpress::gzfile(q, "rb").header();
    EXPECT_EQ(h.name, "orig name");
    EXPECT_EQ(h.comment, "a comment");
    EXPECT_EQ(h.mtime, 0);
    // A flipped bit in the name fails the header's CRC: no name is handed out.
    Bytes damaged = zpress_test::read_file(q);
    damaged[12] ^= 0x20;
    EXPECT_THROW((void)zpress::gzfile(put("d.gz", damaged), "rb").header(), zpress::error);
    const zpress::gzip_header none =
        zpress::gzfile(put("plain", zpress_test::bytes_of("plain")), "rb").header();
    EXPECT_TRUE(none.name.empty() && none.comment.empty() && none.mtime == 0);

    for (const zpress::gzip_header& bad :
         {zpress::gzip_header{.name = std::string("a\0b", 3), .comment = "", .mtime = 0},
          zpress::gzip_header{.name = "", .comment = std::string(70000, 'c'), .mtime = 0},
          zpress::gzip_header{.name = "", .comment = "", .mtime = -1},
          zpress::gzip_header{.name = "", .comment = "", .mtime = 4294967296}}) {
        EXPECT_THROW(zpress::gzfile(dir_.path("bad.gz"), "wb", bad), zpress::error);
    }
    EXPECT_THROW(zpress::gzfile(q, "rb", zpress::gzip_header{}), zpress::error);
    EXPECT_THROW((void)zpress::gzfile(dir_.path("w.gz"), "wb").header(), zpress::error);
}

// Buffers in memory, checked by zlib's own gzip decoder.  Decompression is
// strict: anything but whole gzip members throws.
TEST_F(GzfileTest, GzipBuffersInMemory) {
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::mixed, 300000);
    const std::string text = as_string(data);
    const std::string one = zpress::gzip_compress(text, 9);
    const std::string empty = zpress::gzip_compress("");
    const std::string both = one + empty + one + std::string(100, '\0');
    const auto decoded = zpress_test::inflate_gzip_strict(zpress_test::bytes_of(one + empty + one));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.members, 3);
    EXPECT_EQ(as_string(decoded.data), text + text);
    EXPECT_EQ(zpress::gzip_decompress(both), text + text);
    EXPECT_EQ(zpress::gzip_decompress(empty), "");

    std::string bad_crc = one;
    bad_crc[bad_crc.size() - 8] ^= 1;
    for (const std::string& bad : {one.substr(0, one.size() / 2), one.substr(0, one.size() - 1),
                                   bad_crc, std::string("plain text"), std::string()}) {
        try {
            const std::string got = zpress::gzip_decompress(bad);
            ADD_FAILURE() << "gave " << got.size() << " bytes for " << bad.size()
                          << " bytes of bad input";
        } catch (const zpress::error& e) {
            EXPECT_EQ(e.code(), -3) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("<memory>: ", 0), 0u) << e.what();
        }
    }
    EXPECT_THROW((void)zpress::gzip_compress(text, 10), zpress::error);

    // Header fields through memory; a bound on the output, met exactly or passed.
    const zpress::gzip_header fields{.name = "n.txt", .comment = "c", .mtime = 1700000000};
    const std::string named = zpress::gzip_compress(text, 6, fields);
    zpress::gzip_header got;
    EXPECT_EQ(zpress::gzip_decompress(named, &got, text.size()), text);
    EXPECT_EQ(got.name, fields.name);
    EXPECT_EQ(got.comment, fields.comment);
    EXPECT_EQ(got.mtime, fields.mtime);
    try {
        (void)zpress::gzip_decompress(named, nullptr, text.size() - 1);
        ADD_FAILURE() << "a bound passed";
    } catch (const zpress::error& e) {
        EXPECT_EQ(e.code(), -5) << e.what();
    }
}

// Bytes after the last member other than zeros are damage too.
TEST_F(GzfileTest, GzipInMemoryRefusesTrailingBytes) {
    const std::string one = zpress::gzip_compress("data");
    EXPECT_EQ(zpress::gzip_decompress(one + std::string(512, '\0')), "data");
    for (const std::string& tail :
         {std::string("junk"), std::string("\0\0x", 3), std::string(1, '\x1f')})
        EXPECT_THROW((void)zpress::gzip_decompress(one + tail), zpress::error) << tail.size();
}

TEST_F(GzfileTest, WriterSeeksForwardWithZeros) {
    const std::string p = dir_.path("z.gz");
    zpress::gzfile f(p, "wb");
    f.write(std::string_view("ab"));
    EXPECT_EQ(f.seek(3, SEEK_CUR), 5);
    EXPECT_EQ(f.tell(), 5);
    EXPECT_THROW(f.seek(1, SEEK_SET), zpress::error);  // a writer cannot go back
    f.write(std::string_view("c"));
    f.close();
    const auto decoded = zpress_test::inflate_gzip_strict(zpress_test::read_file(p));
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(as_string(decoded.data), std::string("ab\0\0\0c", 6));
}

TEST_F(GzfileTest, OpenFailuresThrowWithTheReason) {
    try {
        zpress::gzfile f(dir_.path("missing.gz"), "rb");
        FAIL() << "opened a missing file";
    } catch (const zpress::error& e) {
        EXPECT_EQ(e.code(), -1);
        EXPECT_EQ(e.what(), dir_.path("missing.gz") + ": No such file or directory");
    }
    try {
        zpress::gzfile f(dir_.path("x.gz"), "b6");  // no direction
        FAIL() << "accepted a mode without r, w or a";
    } catch (const zpress::error& e) {
        EXPECT_EQ(e.code(), -2);
        EXPECT_NE(std::string(e.what()).find("b6"), std::string::npos) << e.what();
    }
}

TEST_F(GzfileTest, WrongDirectionAndClosedFilesThrow) {
    const std::string p = put("r.gz", zpress_test::gzip_reference(zpress_test::bytes_of("abc")));
    zpress::gzfile r(p, "rb");
    EXPECT_THROW(r.write(std::string_view("x")), zpress::error);
    zpress::gzfile w(dir_.path("w.gz"), "wb");
    std::vector<char> buf(4);
    try {
        (void)w.read(as_writable(buf));
        FAIL() << "read from a writer";
    } catch (const zpress::error& e) {
        EXPECT_EQ(e.code(), -2);
    }
    zpress::gzfile none;
    EXPECT_THROW((void)none.read(as_writable(buf)), zpress::error);
    EXPECT_NO_THROW(none.close());
}

// Damage is reported after the bytes that came before it, and never as an end.
TEST_F(GzfileTest, DamagedDataThrowsAfterTheGoodBytes) {
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::text, 50000);
    Bytes bad_crc = zpress_test::gzip_reference(data);
    bad_crc[bad_crc.size() - 8] ^= 1;
    Bytes cut = zpress_test::gzip_reference(data);
    cut.resize(cut.size() / 2);
    Bytes cut_in_trailer = zpress_test::gzip_reference(data);
    cut_in_trailer.resize(cut_in_trailer.size() - 3);
    Bytes bad_deflate = zpress_test::gzip_reference(data);
    for (std::size_t i = 20; i < 40; ++i) bad_deflate[i] = 0xFF;
    for (const auto& [name, bytes] :
         {std::pair{"crc", bad_crc}, std::pair{"cut", cut}, std::pair{"trailer", cut_in_trailer},
          std::pair{"deflate", bad_deflate}}) {
        zpress::gzfile f(put(std::string(name) + ".gz", bytes), "rb");
        std::vector<char> buf(4096);
        std::size_t total = 0;
        try {
            for (std::size_t n; (n = f.read(as_writable(buf))) != 0;) total += n;
            FAIL() << name << ": damage read as a normal end after " << total << " bytes";
        } catch (const zpress::error& e) {
            EXPECT_LT(e.code(), 0) << name;
            EXPECT_LE(total, data.size()) << name;
            // A cut says so, wherever it falls; other damage does not.
            const bool says_cut = std::string(e.what()).ends_with(": cut off before its end");
            const std::string kind = name;
            EXPECT_EQ(says_cut, kind == "cut" || kind == "trailer") << e.what();
        }
        EXPECT_THROW(f.close(), zpress::error) << name;
    }
    // getline too
    zpress::gzfile g(put("crc2.gz", bad_crc), "rb");
    std::string line;
    EXPECT_THROW(while (g.getline(line)){}, zpress::error);
}

TEST_F(GzfileTest, FailedWriteIsReportedByCloseNotLost) {
    zpress::gzfile f("/dev/full", "wb");
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::random, 200000);
    bool threw = false;
    try {
        f.write(std::as_bytes(std::span(data)));
    } catch (const zpress::error& e) {
        threw = true;
        EXPECT_EQ(e.code(), -1);
        EXPECT_STREQ(e.what(), "/dev/full: No space left on device");
    }
    EXPECT_TRUE(threw);
    try {
        f.close();
        ADD_FAILURE() << "the failed write closed as a success";
    } catch (const zpress::error& e) {
        EXPECT_STREQ(e.what(), "/dev/full: No space left on device");
    }
    EXPECT_FALSE(f.is_open());

    // A write too small to reach the file fails only at close.
    zpress::gzfile g("/dev/full", "wb");
    g.write(std::string_view("small"));
    EXPECT_THROW(g.close(), zpress::error);
}

TEST_F(GzfileTest, MovesTransferTheFileAndCloseWhatWasHeld) {
    const std::string p1 = dir_.path("one.gz");
    const std::string p2 = dir_.path("two.gz");
    zpress::gzfile a(p1, "wb");
    a.write(std::string_view("one"));
    zpress::gzfile b(std::move(a));
    EXPECT_FALSE(a.is_open());  // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_TRUE(b.is_open());
    zpress::gzfile c(p2, "wb");
    c.write(std::string_view("two"));
    c = std::move(b);  // closes two.gz, complete
    auto two = zpress_test::inflate_gzip_strict(zpress_test::read_file(p2));
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(as_string(two.data), "two");
    c.write(std::string_view("!"));
    c.close();
    auto one = zpress_test::inflate_gzip_strict(zpress_test::read_file(p1));
    ASSERT_TRUE(one.ok);
    EXPECT_EQ(as_string(one.data), "one!");
    // The destructor finishes a file that was never closed.
    {
        zpress::gzfile d(p1, "wb");
        d.write(std::string_view("dtor"));
    }
    one = zpress_test::inflate_gzip_strict(zpress_test::read_file(p1));
    ASSERT_TRUE(one.ok);
    EXPECT_EQ(as_string(one.data), "dtor");
}

TEST_F(GzfileTest, FlushMakesWrittenDataReadableBeforeClose) {
    const std::string p = dir_.path("f.gz");
    zpress::gzfile w(p, "wb");
    w.write(std::string_view("visible\n"));
    w.flush();
    zpress::gzfile r(p, "rb");
    std::string line;
    // The member is unfinished, so the reader stops with an error after the line.
    ASSERT_TRUE(r.getline(line));
    EXPECT_EQ(line, "visible");
    w.close();
}

}  // namespace
