// zpress::ilzwstream and zpress::olzwstream, checked against the plain
// reference codec.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <iterator>
#include <string>

#include "gzip_builder.h"
#include "reference_lzw.h"
#include "temp_io.h"
#include "test_data.h"
#include "zpress/zpress.hpp"

namespace {

using zpress_test::Bytes;

class LzwIostreamTest : public ::testing::Test {
  protected:
    zpress_test::TempDir dir_;
};

TEST_F(LzwIostreamTest, WritesWhatTheReferenceDecodesAtEveryWidth) {
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::mixed, 300000);
    for (int bits : {9, 12, 16}) {
        const std::string p = dir_.path(std::to_string(bits).append(".Z"));
        zpress::olzwstream out(p, bits);
        ASSERT_TRUE(out.is_open());
        out.write(reinterpret_cast<const char*>(data.data()), 1000);
        out.write(reinterpret_cast<const char*>(data.data()) + 1000,
                  static_cast<std::streamsize>(data.size() - 1000));
        out.close();
        ASSERT_TRUE(out.good()) << out.last_error();
        const auto decoded = lzw_ref::decode(zpress_test::read_file(p));
        ASSERT_TRUE(decoded.ok && !decoded.rejected) << bits;
        EXPECT_EQ(decoded.data, data) << bits;
    }
    // No data still makes a stream: the header alone, which decodes to nothing.
    const std::string p = dir_.path("empty.Z");
    zpress::olzwstream empty(p, 12);
    empty.close();
    ASSERT_TRUE(empty.good()) << empty.last_error();
    EXPECT_EQ(zpress_test::read_file(p), (Bytes{0x1f, 0x9d, 0x8c}));
}

TEST_F(LzwIostreamTest, ReadsWhatTheReferenceEncodes) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "row " + std::to_string(i * 7919 % 1000) + "\n";
    const Bytes plain(text.begin(), text.end());
    const std::string p = dir_.path("r.Z");
    zpress_test::write_file(p, lzw_ref::encode(plain, 16));
    zpress::ilzwstream in(p);
    std::string line;
    std::size_t pos = 0;
    while (std::getline(in, line)) {
        ASSERT_EQ(line, text.substr(pos, line.size()));
        pos += line.size() + 1;
    }
    EXPECT_EQ(pos, text.size());
    EXPECT_FALSE(in.bad());
    zpress::ilzwstream again(p);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), text);
}

TEST_F(LzwIostreamTest, DataThatIsNotDotZSetsBadbit) {
    const std::string p = dir_.path("not.Z");
    zpress_test::write_file(p, zpress_test::bytes_of("plain text, no magic"));
    zpress::ilzwstream in(p);
    ASSERT_TRUE(in.is_open());
    std::string line;
    EXPECT_FALSE(std::getline(in, line));
    EXPECT_TRUE(in.bad());
    EXPECT_NE(in.last_error().find("not .Z data"), std::string::npos) << in.last_error();

    zpress::ilzwstream thrower(p);
    thrower.exceptions(std::ios::badbit);
    try {
        thrower.get();
        FAIL() << "no exception";
    } catch (const zpress::error& e) {
        EXPECT_EQ(e.code(), -3);
    }
}

TEST_F(LzwIostreamTest, BadArgumentsAndFailuresAreReported) {
    zpress::olzwstream narrow(dir_.path("x.Z"), 8);
    EXPECT_TRUE(narrow.fail());
    zpress::ilzwstream missing(dir_.path("missing.Z"));
    EXPECT_TRUE(missing.fail());
    EXPECT_NE(missing.last_error().find("No such file"), std::string::npos);

    zpress::olzwstream full("/dev/full");
    const std::string many(100000, 'a');
    full << many << "bcd";
    full.close();
    EXPECT_TRUE(full.bad());
    // The first failure, a failed write: never taken for damaged data.
    EXPECT_EQ(full.last_error(), "/dev/full: No space left on device");
}

// In memory: no file is involved, so a file size limit far below the data's
// size (whose excess would end the process by SIGXFSZ) changes nothing.
TEST_F(LzwIostreamTest, BuffersInMemoryAtEveryWidth) {
    const Bytes data = zpress_test::make_data(zpress_test::DataKind::mixed, 200000);
    const std::string text(data.begin(), data.end());
    rlimit was{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
    rlimit small = was;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string limited = zpress::lzw_decompress(zpress::lzw_compress(text, 16));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &was), 0);
    EXPECT_EQ(limited, text);

    for (int bits : {9, 12, 16}) {
        const std::string z = zpress::lzw_compress(text, bits);
        const auto decoded = lzw_ref::decode(Bytes(z.begin(), z.end()));
        ASSERT_TRUE(decoded.ok && !decoded.rejected) << bits;
        EXPECT_EQ(decoded.data, data) << bits;
        EXPECT_EQ(zpress::lzw_decompress(z), text) << bits;
        const Bytes reference = lzw_ref::encode(data, bits);
        EXPECT_EQ(zpress::lzw_decompress(std::string(reference.begin(), reference.end())), text);
    }
    EXPECT_EQ(zpress::lzw_decompress(zpress::lzw_compress("", 12)), "");
    for (const std::string& bad :
         {std::string(), std::string("plain"), std::string("\x1f\x9d\x91")}) {
        try {
            (void)zpress::lzw_decompress(bad);
            FAIL() << "decoded " << bad.size() << " bytes of no .Z data";
        } catch (const zpress::error& e) {
            EXPECT_STREQ(e.what(), "<memory>: not .Z data, or damaged");
        }
    }
    EXPECT_THROW((void)zpress::lzw_compress("x", 17), zpress::error);
}

}  // namespace
