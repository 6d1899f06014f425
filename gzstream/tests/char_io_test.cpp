// Character and line input: gzgetc, gzungetc, gzgets, and their effect on
// the position and the end state.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

GzPtr open_member(const std::string& text) {
    GzPtr h = open_bytes(gzip_member(bytes_of(text)));
    EXPECT_NE(h, nullptr);
    return h;
}

TEST(CharIo, GetcThroughTheEnd) {
    GzPtr h = open_member("ab");
    EXPECT_EQ(gzgetc(h.get()), 'a');
    EXPECT_EQ(gzgetc(h.get()), 'b');
    EXPECT_EQ(gzgetc(h.get()), -1);
    EXPECT_EQ(gzeof(h.get()), 1);
    EXPECT_EQ(close_handle(h), 0);
}

TEST(CharIo, GetcGivesBytesAbove127Unsigned) {
    GzPtr h = open_bytes(gzip_member(Bytes{0xFF, 0x80, 0x00}));
    EXPECT_EQ(gzgetc(h.get()), 0xFF);
    EXPECT_EQ(gzgetc(h.get()), 0x80);
    EXPECT_EQ(gzgetc(h.get()), 0x00);
    EXPECT_EQ(gzgetc(h.get()), -1);
}

TEST(CharIo, TellFollowsUngetc) {
    GzPtr h = open_member("0123456789");
    char buf[5];
    ASSERT_EQ(gzread(h.get(), buf, 5), 5);
    EXPECT_EQ(gztell(h.get()), 5);
    EXPECT_EQ(gzungetc('x', h.get()), 'x');
    EXPECT_EQ(gztell(h.get()), 4);
    EXPECT_EQ(gzgetc(h.get()), 'x');
    EXPECT_EQ(gztell(h.get()), 5);
    EXPECT_EQ(gzgetc(h.get()), '5');
}

TEST(CharIo, OnlyOneCharacterCanWaitAndNegativeOnesAreRefused) {
    GzPtr h = open_member("abc");
    EXPECT_EQ(gzgetc(h.get()), 'a');
    EXPECT_EQ(gzungetc(-1, h.get()), -1);
    EXPECT_EQ(gzungetc(-200, h.get()), -1);
    EXPECT_EQ(gzungetc(0x141, h.get()), 0x141);  // the low byte comes back
    EXPECT_EQ(gzungetc('y', h.get()), -1);
    EXPECT_EQ(gztell(h.get()), 0);
    EXPECT_EQ(gzgetc(h.get()), 0x41);
    EXPECT_EQ(gzgetc(h.get()), 'b');
    EXPECT_EQ(gzungetc('q', nullptr), -1);
}

// A character handed back at the end is read again, and then the stream is
// at its end once more.
TEST(CharIo, UngetcAtTheEnd) {
    GzPtr h = open_member("end");
    EXPECT_EQ(read_to_end(h.get(), 10).data, bytes_of("end"));
    EXPECT_EQ(gzeof(h.get()), 1);
    EXPECT_EQ(gzungetc('z', h.get()), 'z');
    EXPECT_EQ(gzeof(h.get()), 0);
    EXPECT_EQ(gztell(h.get()), 2);
    char buf[10];
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), 1);  // only the handed-back byte
    EXPECT_EQ(buf[0], 'z');
    EXPECT_EQ(gzeof(h.get()), 1);
    EXPECT_EQ(gzgetc(h.get()), -1);
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), 0);
    EXPECT_EQ(close_handle(h), 0);
}

// A seek forward consumes the handed-back byte; gztell (a seek by 0) keeps it.
TEST(CharIo, SeekAfterUngetc) {
    GzPtr h = open_member("0123456789abcdef");
    char buf[5];
    ASSERT_EQ(gzread(h.get(), buf, 5), 5);
    ASSERT_EQ(gzungetc('Q', h.get()), 'Q');
    EXPECT_EQ(gztell(h.get()), 4);
    EXPECT_EQ(gzgetc(h.get()), 'Q');
    ASSERT_EQ(gzungetc('R', h.get()), 'R');
    EXPECT_EQ(gzseek(h.get(), 10, 0), 10);
    EXPECT_EQ(gzgetc(h.get()), 'a');
    ASSERT_EQ(gzungetc('S', h.get()), 'S');
    EXPECT_EQ(gzseek(h.get(), 2, 0), 2);  // back: the rewind drops it
    EXPECT_EQ(gzgetc(h.get()), '2');
}

TEST(CharIo, GetsInPieces) {
    GzPtr h = open_member("abcdef\n");
    char buf[8];
    EXPECT_EQ(gzgets(h.get(), buf, 4), buf);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(gzgets(h.get(), buf, 4), buf);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(gzgets(h.get(), buf, 4), buf);
    EXPECT_STREQ(buf, "\n");
    EXPECT_EQ(gzgets(h.get(), buf, 4), nullptr);
    EXPECT_EQ(gzgets(h.get(), buf, 1), buf);  // room for the terminator only
    EXPECT_STREQ(buf, "");
}

TEST(CharIo, GetsSizeOneAndTwo) {
    GzPtr h = open_member("xy\nz");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(gzgets(h.get(), buf, 1), buf);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(gztell(h.get()), 0);  // nothing read
    EXPECT_EQ(gzgets(h.get(), buf, 2), buf);
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(gzgets(h.get(), buf, 8), buf);
    EXPECT_STREQ(buf, "y\n");
    EXPECT_EQ(gzgets(h.get(), buf, 8), buf);
    EXPECT_STREQ(buf, "z");  // the last line needs no newline
    EXPECT_EQ(gzgets(h.get(), buf, 8), nullptr);
    EXPECT_EQ(gzgets(h.get(), nullptr, 8), nullptr);
    EXPECT_EQ(gzgets(h.get(), buf, 0), nullptr);
    EXPECT_EQ(gzgets(h.get(), buf, -3), nullptr);
}

TEST(CharIo, LongLineComesInBufferSizedPieces) {
    const std::string line = std::string(100, 'L') + "\n";
    GzPtr h = open_member(line + "next\n");
    std::string got;
    char buf[33];
    for (;;) {
        ASSERT_EQ(gzgets(h.get(), buf, sizeof buf), buf);
        EXPECT_LE(std::strlen(buf), 32u);
        got += buf;
        if (got.back() == '\n') break;
    }
    EXPECT_EQ(got, line);
    ASSERT_EQ(gzgets(h.get(), buf, sizeof buf), buf);
    EXPECT_STREQ(buf, "next\n");
}

// Lines are read across member boundaries like any other bytes.
TEST(CharIo, GetsAcrossMembers) {
    GzPtr h = open_bytes(concat({gzip_member(bytes_of("one\ntw")), gzip_member(bytes_of("o\n"))}));
    char buf[16];
    EXPECT_STREQ(gzgets(h.get(), buf, sizeof buf), "one\n");
    EXPECT_STREQ(gzgets(h.get(), buf, sizeof buf), "two\n");
    EXPECT_EQ(gzgets(h.get(), buf, sizeof buf), nullptr);
    EXPECT_EQ(gzeof(h.get()), 1);
}

// Lines and characters are decoded in bulk ahead of the caller, but what the
// stream holds behind them (a cut in the deflate data or in the trailer)
// shows only once they are taken: until then no error, no end, and the
// position of the bytes taken.
TEST(CharIo, ErrorComesAfterTheBytesBeforeIt) {
    const Bytes plain = make_data(DataKind::text, 200000, 2);
    const Bytes member = gzip_member(plain);
    for (const std::ptrdiff_t cut : {12, 3}) {
        SCOPED_TRACE(cut);
        GzPtr h = open_bytes(Bytes(member.begin(), member.end() - cut));
        char line[300];
        ASSERT_EQ(gzgets(h.get(), line, sizeof line), line);
        Bytes got = bytes_of(line);
        for (;;) {
            // A damaged trailer shows with the last byte, as after a gzread
            // that delivered it.
            if (got.size() < plain.size()) {
                int code = -9;
                error_of(h.get(), &code);
                ASSERT_EQ(code, 0) << "at " << got.size();
                ASSERT_EQ(gzeof(h.get()), 0);
                ASSERT_EQ(gztell(h.get()), static_cast<gz_off_t>(got.size()));
            }
            const int c = gzgetc(h.get());
            if (c == -1) break;
            got.push_back(static_cast<unsigned char>(c));
        }
        const auto whole = cut == 3 ? plain.size() : got.size();
        EXPECT_GT(got.size(), 100000u);
        EXPECT_EQ(got, Bytes(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(whole)));
        int code = 0;
        error_of(h.get(), &code);
        EXPECT_EQ(code, Z_DATA_ERROR);
        EXPECT_EQ(gzeof(h.get()), 1);
        EXPECT_EQ(gztell(h.get()), -1);
        EXPECT_EQ(gzgets(h.get(), line, sizeof line), nullptr);
        EXPECT_LT(close_handle(h), 0);
    }
}

// The read-ahead fills 64 KiB at a time, often inside a match whose rest
// stays in the engine.  Cut anywhere, gzgetc and gzgets give every byte that
// inflate gives from the cut input before they report the damage.
TEST(CharIo, CutStreamGivesEveryDecodableByteFirst) {
    const Bytes plain = bytes_of("The quick brown fox " + std::string(70000, 'x') + " jumps\n");
    const Bytes stream = gzip_member(plain);
    for (std::size_t cut = 20; cut < stream.size(); ++cut) {
        const Bytes input(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes want = inflate_gzip_tolerant(input, 1u << 20).data;
        for (const int line_size : {0, 5, 300}) {  // 0: gzgetc
            GzPtr h = open_bytes(input);
            Bytes got;
            char line[300];
            for (int c; line_size == 0 && (c = gzgetc(h.get())) != -1;)
                got.push_back(static_cast<unsigned char>(c));
            while (line_size != 0 && gzgets(h.get(), line, line_size) != nullptr)
                got.insert(got.end(), line, line + std::strlen(line));
            ASSERT_EQ(got, want) << "cut at " << cut << ", line size " << line_size;
            int code = 0;
            error_of(h.get(), &code);
            ASSERT_EQ(code, Z_DATA_ERROR);
        }
    }
}

// Plain data on a pipe: a line that has arrived is given at once, without
// waiting for a bulk read to fill while the writer is still there.
TEST(CharIo, PlainPipeGivesWhatHasArrived) {
    const std::string text = std::string(20000, 'p') + "\nlast\n";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    std::mutex m;
    std::condition_variable cv;
    bool read_all = false, gave_up = false;
    std::thread writer([&] {
        std::unique_lock<std::mutex> lock(m);
        gave_up = !cv.wait_for(lock, std::chrono::seconds(20), [&] { return read_all; });
        ::close(fds[1]);
    });
    GzPtr h(gzdopen(fds[0], "rb"));
    ASSERT_NE(h, nullptr);
    std::string got;
    char buf[100];
    while (got.size() < text.size() && gzgets(h.get(), buf, sizeof buf) != nullptr) got += buf;
    {
        std::lock_guard<std::mutex> lock(m);
        read_all = true;
    }
    cv.notify_one();
    writer.join();
    EXPECT_FALSE(gave_up);
    EXPECT_EQ(got, text);
}

TEST(CharIo, ClearerrKeepsTheEndButClearsErrors) {
    GzPtr h = open_member("q");
    EXPECT_EQ(read_to_end(h.get(), 4).data, bytes_of("q"));
    gzclearerr(h.get());
    EXPECT_EQ(gzeof(h.get()), 1);
    EXPECT_EQ(gzgetc(h.get()), -1);

    const Bytes plain = make_data(DataKind::text, 100, 1);
    GzPtr bad = open_bytes(gzip_member(plain, MemberParts{}.with_crc(0)));
    EXPECT_EQ(read_to_end(bad.get(), 1000).last, -1);
    gzclearerr(bad.get());
    int code = -9;
    error_of(bad.get(), &code);
    EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace zpress_test
