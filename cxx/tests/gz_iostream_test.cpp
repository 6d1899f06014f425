// zpress::igzstream and zpress::ogzstream behave as std::ifstream and
// std::ofstream do, and report damage as badbit (or the exception).
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "gzip_builder.h"
#include "mem_file.h"
#include "temp_io.h"
#include "test_data.h"
#include "zlib_oracle.h"
#include "zpress/zpress.hpp"

namespace {

using zpress_test::Bytes;

std::string as_string(const Bytes& b) { return {b.begin(), b.end()}; }

class GzIostreamTest : public ::testing::Test {
  protected:
    std::string put(const std::string& name, const Bytes& data) {
        const std::string p = dir_.path(name);
        zpress_test::write_file(p, data);
        return p;
    }
    std::string gz(const std::string& name, const std::string& text) {
        return put(name, zpress_test::gzip_reference(zpress_test::bytes_of(text)));
    }
    zpress_test::TempDir dir_;
};

std::string numbered_lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + ": " +
                std::string(static_cast<std::size_t>(i % 97), 'q') + "\n";
    return text;
}

TEST_F(GzIostreamTest, GetlineReadsEveryLineAsFromAStringStream) {
    const std::string text = numbered_lines(30000) + std::string(200000, 'L') + "\ntail";
    zpress::igzstream in(gz("lines.gz", text));
    ASSERT_TRUE(in.is_open());
    std::istringstream expected(text);
    std::string got, want;
    std::size_t count = 0;
    while (std::getline(expected, want)) {
        ASSERT_TRUE(std::getline(in, got)) << "line " << count;
        ASSERT_EQ(got, want) << "line " << count;
        ++count;
    }
    EXPECT_FALSE(std::getline(in, got));
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.bad());
    in.clear();
    in.close();
    EXPECT_FALSE(in.fail());
    EXPECT_FALSE(in.is_open());
}

TEST_F(GzIostreamTest, IteratorsAndExtractorsWork) {
    const std::string text = "12 -7 3.5 word\n";
    zpress::igzstream in(gz("nums.gz", text));
    int a = 0, b = 0;
    double c = 0;
    std::string w;
    in >> a >> b >> c >> w;
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, -7);
    EXPECT_EQ(c, 3.5);
    EXPECT_EQ(w, "word");

    const Bytes data = zpress_test::make_data(zpress_test::DataKind::random, 200000);
    const std::string two = put("two.gz", zpress_test::concat({zpress_test::gzip_reference(data),
                                                               zpress_test::gzip_reference(data)}));
    zpress::igzstream bin(two);
    const std::string all{std::istreambuf_iterator<char>(bin), std::istreambuf_iterator<char>()};
    EXPECT_EQ(all, as_string(data) + as_string(data));

    // read() of a large block, then of what is left
    zpress::igzstream blocks(two);
    std::string big(300000, '\0');
    blocks.read(big.data(), static_cast<std::streamsize>(big.size()));
    EXPECT_EQ(blocks.gcount(), 300000);
    EXPECT_EQ(big, all.substr(0, 300000));
    std::string rest(200000, '\0');
    blocks.read(rest.data(), static_cast<std::streamsize>(rest.size()));
    EXPECT_EQ(blocks.gcount(), 100000);
    EXPECT_TRUE(blocks.eof());
}

TEST_F(GzIostreamTest, PlainFilesReadAsTheyAre) {
    const std::string p = put("plain.txt", zpress_test::bytes_of("not gzip\nat all\n"));
    zpress::igzstream in(p);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "not gzip");
}

TEST_F(GzIostreamTest, TellgAndSeekg) {
    const std::string text = numbered_lines(5000);
    zpress::igzstream in(gz("pos.gz", text));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(in.tellg(), std::streampos(static_cast<std::streamoff>(line.size() + 1)));
    in.seekg(40000);
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, text.substr(40000, text.find('\n', 40000) - 40000));
    in.seekg(5);
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, text.substr(5, text.find('\n') - 5));
    in.seekg(-3, std::ios::cur);
    EXPECT_EQ(in.get(), text[text.find('\n') + 1 - 3]);
    const std::streampos before = in.tellg();
    in.seekg(static_cast<std::streamoff>(text.size() + 10));  // past the end: failbit, not bad
    EXPECT_TRUE(in.fail());
    EXPECT_FALSE(in.bad());
    in.clear();
    EXPECT_EQ(in.tellg(), before);  // a failed seek moves nothing
    EXPECT_EQ(in.get(), text[static_cast<std::size_t>(std::streamoff(before))]);
    in.seekg(std::numeric_limits<std::streamoff>::max(), std::ios::cur);  // no overflow either
    EXPECT_TRUE(in.fail());
    in.clear();
    in.seekg(0, std::ios::end);  // the length is known only once read: refused, with the reason
    EXPECT_TRUE(in.fail());
    EXPECT_NE(in.last_error().find("can't seek from the end"), std::string::npos)
        << in.last_error();
    in.clear();

    // unget() works where std::ifstream's does: after a read that emptied the
    // block, or skipped it, and right after a seek.
    std::string block(65536, '\0');
    in.seekg(0);
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    EXPECT_TRUE(in.unget());
    EXPECT_EQ(in.get(), text[65535]);
    in.seekg(100);
    EXPECT_TRUE(in.unget());
    EXPECT_EQ(in.get(), text[99]);

    // A pipe read on to its end cannot go back: broken, never a quiet jump.
    const std::string longer = numbered_lines(20000);
    const int fd =
        zpress_test::pipe_holding(zpress_test::gzip_reference(zpress_test::bytes_of(longer)));
    ASSERT_GE(fd, 0);
    zpress::igzstream piped("/dev/fd/" + std::to_string(fd));
    std::getline(piped, line);
    piped.seekg(static_cast<std::streamoff>(longer.size() + 10));
    EXPECT_TRUE(piped.bad());
    EXPECT_NE(piped.last_error().find("can't seek there"), std::string::npos);
    ::close(fd);
}

TEST_F(GzIostreamTest, DamageSetsBadbitNeverAQuietEnd) {
    const std::string text = numbered_lines(20000);
    Bytes bad_crc = zpress_test::gzip_reference(zpress_test::bytes_of(text));
    bad_crc[bad_crc.size() - 6] ^= 0x40;
    Bytes cut = zpress_test::gzip_reference(zpress_test::bytes_of(text));
    cut.resize(cut.size() - 20);
    for (const Bytes& bytes : {bad_crc, cut}) {
        const std::string p = put("bad.gz", bytes);
        {
            zpress::igzstream in(p);
            std::string line;
            while (std::getline(in, line)) {
            }
            EXPECT_TRUE(in.bad());
            EXPECT_FALSE(in.last_error().empty());
        }
        {
            zpress::igzstream in(p);
            in.exceptions(std::ios::badbit);
            std::string line;
            try {
                while (std::getline(in, line)) {
                }
                FAIL() << "no exception";
            } catch (const zpress::error& e) {
                EXPECT_EQ(e.code(), -3) << e.what();
            }
            EXPECT_TRUE(in.bad());
        }
        {
            zpress::igzstream in(p);
            EXPECT_THROW(
                (std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}),
                zpress::error);
        }
    }
}

TEST_F(GzIostreamTest, OpenFailureSetsFailbitWithTheReason) {
    zpress::igzstream in(dir_.path("missing.gz"));
    EXPECT_FALSE(in.is_open());
    EXPECT_TRUE(in.fail());
    EXPECT_NE(in.last_error().find("No such file"), std::string::npos) << in.last_error();
    zpress::ogzstream out(dir_.path("x.gz"), 10);
    EXPECT_TRUE(out.fail());
    EXPECT_FALSE(out.is_open());
    out.close();  // as std::ofstream: closing what is not open fails
    EXPECT_TRUE(out.fail());
}

TEST_F(GzIostreamTest, WrittenStreamDecodesToWhatWasInserted) {
    const std::string p = dir_.path("out.gz");
    std::ostringstream expected;
    {
        zpress::ogzstream out(p, 9);
        const std::string big(150000, 'B');
        for (int i = 0; i < 10000; ++i) {
            out << i << ' ' << 2.5 << " text" << std::endl;  // endl flushes each line
            expected << i << ' ' << 2.5 << " text" << std::endl;
        }
        out.write(big.data(), static_cast<std::streamsize>(big.size()));
        expected.write(big.data(), static_cast<std::streamsize>(big.size()));
        std::ostreambuf_iterator<char> it(out);
        for (char c : std::string("iterated")) *it++ = c;
        expected << "iterated";
        out.close();
        EXPECT_TRUE(out.good());
    }
    const auto decoded = zpress_test::inflate_gzip_strict(zpress_test::read_file(p));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.members, 1);
    EXPECT_EQ(as_string(decoded.data), expected.str());

    // ... and reads back through igzstream
    zpress::igzstream in(p);
    const std::string back{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(back, expected.str());
}

TEST_F(GzIostreamTest, FailedWriteSetsBadbitAndCloseThrowsWhenAsked) {
    {
        zpress::ogzstream out("/dev/full");
        ASSERT_TRUE(out.is_open());
        out << "a little";
        out.close();  // the only write happens here
        EXPECT_TRUE(out.bad());
        EXPECT_EQ(out.last_error(), "/dev/full: No space left on device");
    }
    {
        // Met only by close(): with badbit in the mask the caller gets the
        // zpress::error itself, not a std::ios_base::failure.
        zpress::ogzstream out("/dev/full");
        out.exceptions(std::ios::badbit);
        out << "a little";
        try {
            out.close();
            FAIL() << "no exception";
        } catch (const zpress::error& e) {
            EXPECT_STREQ(e.what(), "/dev/full: No space left on device");
        }
        EXPECT_TRUE(out.bad());
    }
    {
        zpress::ogzstream out("/dev/full", 0);
        out.exceptions(std::ios::badbit);
        const std::string big(1 << 20, 'x');
        try {
            out.write(big.data(), static_cast<std::streamsize>(big.size()));
            out.close();
            FAIL() << "no exception";
        } catch (const zpress::error& e) {
            EXPECT_EQ(e.code(), -1);
        }
        EXPECT_TRUE(out.bad());
    }
    {
        // flush() meets the failure: badbit; close() still closes and reports.
        zpress::ogzstream out("/dev/full", 0);
        const std::string big(1 << 20, 'x');
        out << big << std::flush;
        EXPECT_TRUE(out.bad());
        out.clear();
        EXPECT_NO_THROW(out.close());
        EXPECT_TRUE(out.bad());
        EXPECT_FALSE(out.is_open());
    }
}

// gzip inside other streams: members written one after the other into a
// std::stringstream read back as one stream; a cut-off member is an error,
// never an end; a failing sink or source is reported.
TEST_F(GzIostreamTest, GzipInsideOtherStreams) {
    std::stringstream held;
    std::string expected;
    for (int member = 0; member < 2; ++member) {
        zpress::ogzstream out(held, member == 0 ? 6 : 1);
        for (int i = 0; i < 3000; ++i) {
            out << "member " << member << " line " << i << '\n';
            expected += "member " + std::to_string(member) + " line " + std::to_string(i) + "\n";
        }
        out.close();
        ASSERT_TRUE(out.good()) << out.last_error();
    }
    const std::string gz = held.str();
    const auto decoded = zpress_test::inflate_gzip_strict(zpress_test::bytes_of(gz));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.members, 2);

    std::istringstream source(gz);
    zpress::igzstream in(source);
    std::string line, back;
    while (std::getline(in, line)) back += line + '\n';
    EXPECT_EQ(back, expected);
    EXPECT_FALSE(in.bad());

    std::istringstream again(gz);
    zpress::igzstream seeker(again);
    std::getline(seeker, line);
    EXPECT_EQ(seeker.tellg(), std::streampos(static_cast<std::streamoff>(line.size() + 1)));
    seeker.seekg(5);  // an istream cannot go back: refused, nothing moves
    EXPECT_TRUE(seeker.fail());
    seeker.clear();
    ASSERT_TRUE(std::getline(seeker, line));
    EXPECT_EQ(line, "member 0 line 1");

    for (std::size_t cut : {gz.size() / 3, gz.size() - 4}) {
        std::istringstream cut_source(gz.substr(0, cut));
        zpress::igzstream cut_in(cut_source);
        cut_in.exceptions(std::ios::badbit);
        try {
            while (std::getline(cut_in, line)) {
            }
            FAIL() << "a cut at " << cut << " read as the end";
        } catch (const zpress::error& e) {
            EXPECT_EQ(e.code(), -3) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("<istream>: ", 0), 0u) << e.what();
        }
    }

    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    zpress::ogzstream to_broken(broken);
    to_broken << "lost";
    to_broken.close();
    EXPECT_TRUE(to_broken.bad());
    EXPECT_EQ(to_broken.last_error(), "<ostream>: Input/output error");
}

// The header's fields through both streams, over a file and over another
// stream; the index calls through the gzfile under a file-backed igzstream.
TEST_F(GzIostreamTest, HeaderFieldsAndTheIndexThroughStreams) {
    const zpress::gzip_header fields{.name = "log.txt", .comment = "day 1", .mtime = 86400};
    const std::string text = numbered_lines(30000);
    std::stringstream held;
    zpress::ogzstream to_stream(held, 9, fields);
    to_stream << text;
    to_stream.close();
    ASSERT_TRUE(to_stream.good()) << to_stream.last_error();
    const std::string p = dir_.path("named.gz");
    zpress::ogzstream to_file(p, 6, fields);
    to_file << text;
    to_file.close();
    ASSERT_TRUE(to_file.good()) << to_file.last_error();

    std::istringstream source(held.str());
    zpress::igzstream from_stream(source);
    zpress::igzstream from_file(p);
    for (const zpress::igzstream* in : {&from_stream, &from_file}) {
        const zpress::gzip_header h = in->header();
        EXPECT_EQ(h.name, fields.name);
        EXPECT_EQ(h.comment, fields.comment);
        EXPECT_EQ(h.mtime, fields.mtime);
    }
    EXPECT_THROW(from_stream.file(), zpress::error);  // no file under it

    const std::string idx = dir_.path("named.idx");
    from_file.file().build_index();
    from_file.file().save_index(idx);
    zpress::igzstream indexed(p);
    indexed.file().load_index(idx);
    std::string line;
    for (const std::size_t at : {std::size_t{1500000}, std::size_t{200}, std::size_t{900000}}) {
        indexed.seekg(static_cast<std::streamoff>(at));
        ASSERT_TRUE(std::getline(indexed, line));
        EXPECT_EQ(line, text.substr(at, text.find('\n', at) - at));
    }

    zpress::ogzstream refused(
        dir_.path("bad.gz"), 6,
        zpress::gzip_header{.name = std::string("a\0b", 3), .comment = "", .mtime = 0});
    EXPECT_TRUE(refused.fail());
    EXPECT_NE(refused.last_error().find("NUL"), std::string::npos) << refused.last_error();
}

// What a user's stream throws comes back nested in the zpress::error: thrown
// when the mask asks for it, its message in last_error() when not.
struct throwing_buffer : std::streambuf {
    int_type underflow() override { throw std::runtime_error("source broke"); }
    int_type overflow(int_type) override { throw std::runtime_error("sink broke"); }
};

// Hands out `held` from memory, then waits on `fd` (a cancellation point),
// saying so in `waiting`.
struct waiting_buffer : std::streambuf {
    std::string held;
    int fd = -1;
    std::atomic<bool>* waiting = nullptr;
    char byte = 0;
    bool served = false;
    int_type underflow() override {
        if (!served) {
            served = true;
            setg(held.data(), held.data(), held.data() + held.size());
            return traits_type::to_int_type(held[0]);
        }
        waiting->store(true);
        if (::read(fd, &byte, 1) != 1) return traits_type::eof();
        setg(&byte, &byte, &byte + 1);
        return traits_type::to_int_type(byte);
    }
};

void* read_until_cancelled(void* buffer) {
    std::istream source(static_cast<waiting_buffer*>(buffer));
    zpress::igzstream in(source);
    std::vector<char> block(65536);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
    return nullptr;  // not reached: the thread is cancelled in the read
}

TEST_F(GzIostreamTest, UserStreamFailuresComeBackNested) {
    for (const bool masked : {true, false}) {
        throwing_buffer thrower;
        std::istream source(&thrower);
        zpress::igzstream in(source);
        if (masked) in.exceptions(std::ios::badbit);
        try {
            in.get();
            EXPECT_FALSE(masked) << "no exception";
        } catch (const zpress::error& e) {
            EXPECT_STREQ(e.what(), "<istream>: source broke");
            try {
                std::rethrow_if_nested(e);
                ADD_FAILURE() << "nothing nested";
            } catch (const std::runtime_error& user) {
                EXPECT_STREQ(user.what(), "source broke");
            }
        }
        EXPECT_TRUE(in.bad());
        EXPECT_EQ(in.last_error(), "<istream>: source broke");
    }
    throwing_buffer sink_buffer;
    std::ostream sink(&sink_buffer);
    zpress::ogzstream out(sink);
    out << "lost";
    out.close();
    EXPECT_EQ(out.last_error(), "<ostream>: sink broke");

    // A source that failed before it was handed over is no empty data.
    std::ifstream missing(dir_.path("missing.gz"));
    zpress::igzstream from_missing(missing);
    EXPECT_TRUE(from_missing.fail());
    EXPECT_FALSE(from_missing.is_open());
    EXPECT_NE(from_missing.last_error().find("failed"), std::string::npos);

    // A thread cancelled while it reads through the bridge ends as cancelled
    // (glibc's forced unwinding is let through), and the process goes on.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<bool> waiting{false};
    waiting_buffer buffer;
    const Bytes gz_bytes =
        zpress_test::gzip_reference(zpress_test::make_data(zpress_test::DataKind::random, 200000));
    buffer.held.assign(gz_bytes.begin(), gz_bytes.begin() + 100000);
    buffer.fd = fds[0];
    buffer.waiting = &waiting;
    pthread_t reader;
    ASSERT_EQ(pthread_create(&reader, nullptr, read_until_cancelled, &buffer), 0);
    while (!waiting.load()) ::usleep(1000);
    ASSERT_EQ(pthread_cancel(reader), 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(reader, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    ::close(fds[0]);
    ::close(fds[1]);
}

// Single characters that fill the block, pieces that fit, straddle or exceed
// it, and reads that mix single characters with blocks of every size: the
// buffers of both formats hand over every byte once, in order.
TEST_F(GzIostreamTest, BufferedPiecesOfEverySizeKeepEveryByte) {
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::mixed, 400000, 9);
    const auto round_trip = [&](auto writer, auto open_reader) {
        std::size_t at = 0;
        const auto* bytes = reinterpret_cast<const char*>(data.data());
        std::ostreambuf_iterator<char> it(writer);
        for (; at < 70000; ++at) *it++ = bytes[at];  // past a whole block, one at a time
        for (const std::size_t piece :
             {std::size_t{40000}, std::size_t{70000}, std::size_t{5}, std::size_t{100000}}) {
            writer.write(bytes + at, static_cast<std::streamsize>(piece));
            at += piece;
        }
        while (at < data.size()) writer.put(bytes[at++]);
        writer.close();
        ASSERT_TRUE(writer.good());
        auto reader = open_reader();
        std::string back;
        std::vector<char> buf(100000);
        for (std::size_t size = 1; reader.peek() != std::char_traits<char>::eof();
             size = size * 7 % 99991) {
            back.push_back(static_cast<char>(reader.get()));
            reader.read(buf.data(), static_cast<std::streamsize>(size));
            back.append(buf.data(), static_cast<std::size_t>(reader.gcount()));
        }
        EXPECT_FALSE(reader.bad());
        EXPECT_EQ(back.size(), data.size());
        EXPECT_TRUE(back == as_string(data));  // not printed: 400 KB
    };
    const std::string gz = dir_.path("b.gz"), z = dir_.path("b.Z");
    round_trip(zpress::ogzstream(gz), [&] { return zpress::igzstream(gz); });
    round_trip(zpress::olzwstream(z), [&] { return zpress::ilzwstream(z); });
}

TEST_F(GzIostreamTest, StreamsMove) {
    const std::string p = dir_.path("m.gz");
    zpress::ogzstream a(p);
    a << "moved ";
    zpress::ogzstream b(std::move(a));
    b << "along";
    EXPECT_FALSE(a.is_open());  // NOLINT(bugprone-use-after-move)
    a << "lost";                // a moved-from stream has no buffer: badbit, no crash
    EXPECT_TRUE(a.bad());
    b.close();
    zpress::igzstream in(p);
    zpress::igzstream other(dir_.path("missing"));
    other = std::move(in);
    zpress::igzstream moved(std::move(other));
    std::string line;
    ASSERT_TRUE(std::getline(moved, line));
    EXPECT_EQ(line, "moved along");
    zpress::ogzstream target(dir_.path("t.gz"));
    target = zpress::ogzstream(p);  // the file held before is closed
    target << "again";
    target.close();
    EXPECT_TRUE(target.good());
}

}  // namespace
