// The write entry points: characters, text, formatted output, argument and
// direction checks, error reporting and failing output files.
#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <string>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

// The layer takes its heap blocks with the nothrow form of new[]; counting
// that form shows whether gzprintf allocates.  It forwards to the ordinary
// form, so that delete[] matches under the sanitizers too.
namespace {
int g_nothrow_array_news = 0;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    ++g_nothrow_array_news;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace zpress_test {
namespace {

using namespace gzstream;

class WriterApi : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.path("w.gz");
        h_.reset(gzopen(path_.c_str(), "wb"));
        ASSERT_NE(h_, nullptr);
    }
    // Closes the stream and gives what it decodes to.
    Bytes finish() { return close_and_gunzip(h_, path_); }

    TempDir dir_;
    std::string path_;
    GzPtr h_;
};

TEST_F(WriterApi, PutcWritesLowByteAndReturnsIt) {
    EXPECT_EQ(gzputc(h_.get(), 0x141), 0x41);
    EXPECT_EQ(gzputc(h_.get(), 0xFF), 0xFF);
    EXPECT_EQ(gzputc(h_.get(), -1), 0xFF);
    EXPECT_EQ(finish(), (Bytes{0x41, 0xFF, 0xFF}));
}

TEST_F(WriterApi, PutsWritesTextWithoutTerminator) {
    EXPECT_EQ(gzputs(h_.get(), "hello\n"), 6);
    EXPECT_EQ(gzputs(h_.get(), ""), 0);
    EXPECT_EQ(finish(), bytes_of("hello\n"));
}

// Output of any length, on both sides of the stack buffer's size.
TEST_F(WriterApi, PrintfWritesOutputOfAnyLength) {
    const std::string fits(4095, 'a');
    const std::string just_over(4096, 'b');
    const std::string large(100000, 'c');
    EXPECT_EQ(gzprintf(h_.get(), "%d-%s|", 42, "x"), 5);
    EXPECT_EQ(gzprintf(h_.get(), "%s", fits.c_str()), 4095);
    EXPECT_EQ(gzprintf(h_.get(), "%s", just_over.c_str()), 4096);
    EXPECT_EQ(gzprintf(h_.get(), "%s", ""), 0);
    EXPECT_EQ(gzprintf(h_.get(), "%s%c", fits.c_str(), 'd'), 4096);
    EXPECT_EQ(gzprintf(h_.get(), "<%s|%d>", large.c_str(), -7), 100005);
    int code = 1;
    EXPECT_EQ(error_of(h_.get(), &code), "");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(finish(), bytes_of("42-x|" + fits + just_over + fits + "d<" + large + "|-7>"));
}

// Short output is formatted on the stack; only longer output takes one heap
// block.
TEST_F(WriterApi, PrintfAllocatesOnlyForLongOutput) {
    const std::string fits(4095, 's');
    const int before = g_nothrow_array_news;
    EXPECT_EQ(gzprintf(h_.get(), "%s", fits.c_str()), 4095);
    EXPECT_EQ(gzprintf(h_.get(), "%d %s\n", 12345, "short"), 12);
    EXPECT_EQ(g_nothrow_array_news, before);
    EXPECT_EQ(gzprintf(h_.get(), "%s!", fits.c_str()), 4096);
    EXPECT_EQ(g_nothrow_array_news, before + 1);
    EXPECT_EQ(finish(), bytes_of(fits + "12345 short\n" + fits + "!"));
}

// Text that cannot be formatted (a wide character the C locale cannot
// convert) is lost: the call fails and so does the stream, up to the close.
TEST_F(WriterApi, PrintfThatCannotFormatFailsTheStream) {
    ASSERT_EQ(gzputs(h_.get(), "before"), 6);
    EXPECT_EQ(gzprintf(h_.get(), "%ls", L"\u00e9t\u00e9"), -1);
    int code = 0;
    EXPECT_EQ(error_of(h_.get(), &code), path_ + ": stream error");
    EXPECT_EQ(code, Z_STREAM_ERROR);
    EXPECT_EQ(gzputs(h_.get(), "after"), -1);
    EXPECT_EQ(close_handle(h_), Z_STREAM_ERROR);
}

TEST_F(WriterApi, ZeroLengthWriteChangesNothing) {
    const char byte = 'z';
    EXPECT_EQ(gzwrite(h_.get(), &byte, 0), 0);
    EXPECT_EQ(gzwrite(h_.get(), nullptr, 0), 0);
    EXPECT_EQ(gztell(h_.get()), 0);
    EXPECT_EQ(finish(), Bytes{});
    // The trailer of an empty stream: CRC 0, length 0.
    const Bytes file = read_file(path_);
    EXPECT_EQ(Bytes(file.end() - 8, file.end()), Bytes(8, 0));
}

TEST_F(WriterApi, LengthAboveIntMaxIsRefused) {
    const char byte = 'z';
    EXPECT_EQ(gzwrite(h_.get(), &byte, static_cast<unsigned>(INT_MAX) + 1u), Z_STREAM_ERROR);
    EXPECT_EQ(gzwrite(h_.get(), &byte, UINT_MAX), Z_STREAM_ERROR);
    EXPECT_EQ(finish(), Bytes{});
}

TEST_F(WriterApi, HealthyHandleHasEmptyErrorText) {
    ASSERT_EQ(gzputs(h_.get(), "data"), 4);
    int code = 7;
    EXPECT_STREQ(gzerror(h_.get(), &code), "");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(finish(), bytes_of("data"));
}

TEST_F(WriterApi, ReadOperationsOnWriteHandle) {
    char buf[4];
    EXPECT_EQ(gzread(h_.get(), buf, sizeof buf), Z_STREAM_ERROR);
    EXPECT_EQ(gzgetc(h_.get()), -1);
    EXPECT_EQ(gzungetc('a', h_.get()), -1);
    EXPECT_EQ(gzgets(h_.get(), buf, sizeof buf), nullptr);
    EXPECT_EQ(gzeof(h_.get()), 0);
    EXPECT_EQ(gzrewind(h_.get()), -1);
    ASSERT_EQ(gzputs(h_.get(), "still fine"), 10);
    EXPECT_EQ(finish(), bytes_of("still fine"));
}

TEST(WriterDirection, WriteOperationsOnReadHandle) {
    GzPtr h = open_bytes(gzip_reference(bytes_of("abc")));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(gzwrite(h.get(), "x", 1), Z_STREAM_ERROR);
    EXPECT_EQ(gzputc(h.get(), 'x'), -1);
    EXPECT_EQ(gzputs(h.get(), "x"), Z_STREAM_ERROR);
    EXPECT_EQ(gzprintf(h.get(), "%s", "x"), Z_STREAM_ERROR);
    EXPECT_EQ(gzflush(h.get(), Z_SYNC_FLUSH), Z_STREAM_ERROR);
    EXPECT_EQ(gzsetparams(h.get(), 1, 0), Z_STREAM_ERROR);
    EXPECT_EQ(read_to_end(h.get(), 10).data, bytes_of("abc"));
    EXPECT_EQ(close_handle(h), 0);
}

TEST(WriterDirection, NullHandle) {
    EXPECT_EQ(gzclose(nullptr), Z_STREAM_ERROR);
    int code = 0;
    EXPECT_STREQ(gzerror(nullptr, &code), "stream error");
    EXPECT_EQ(code, Z_STREAM_ERROR);
    EXPECT_EQ(gzwrite(nullptr, "x", 1), Z_STREAM_ERROR);
    EXPECT_EQ(gzputc(nullptr, 'x'), -1);
    EXPECT_EQ(gzflush(nullptr, Z_FINISH), Z_STREAM_ERROR);
    EXPECT_EQ(gzsetparams(nullptr, 1, 0), Z_STREAM_ERROR);
    EXPECT_EQ(gzseek(nullptr, 0, 0), -1);
    EXPECT_EQ(gztell(nullptr), -1);
    EXPECT_EQ(gzrewind(nullptr), -1);
    EXPECT_EQ(gzeof(nullptr), 0);
    gzclearerr(nullptr);
}

// A block write that fails shows at once through gzwrite and gzerror, and the
// close reports it.
TEST(WriterFailure, FullDeviceDuringWrite) {
    GzPtr h(gzopen("/dev/full", "wb1"));
    ASSERT_NE(h, nullptr);
    const Bytes data = make_data(DataKind::random, 100000, 5);
    EXPECT_LT(gzwrite(h.get(), data.data(), static_cast<unsigned>(data.size())), 100000);
    int code = 0;
    EXPECT_EQ(error_of(h.get(), &code), "/dev/full: file error");
    EXPECT_EQ(code, Z_ERRNO);
    EXPECT_EQ(gzerrno(h.get()), ENOSPC);
    EXPECT_EQ(gzseek(h.get(), 10, 1), -1);  // no seeking in a stream in file error
    EXPECT_LT(close_handle(h), 0);
}

// Nothing reaches the device before the close: the failure shows at the close.
TEST(WriterFailure, FullDeviceAtClose) {
    GzPtr h(gzopen("/dev/full", "wb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(gzputs(h.get(), "small"), 5);
    EXPECT_EQ(gzerrno(h.get()), 0);
    EXPECT_EQ(close_handle(h), Z_ERRNO);
    EXPECT_EQ(errno, ENOSPC);  // the failing fclose's reason
}

// After the deflate data was finished, further data is refused; what was
// accepted still forms a valid member whose trailer describes exactly it.
TEST(WriterFailure, WriteAfterFinishIsRefusedAndStreamStaysValid) {
    TempDir dir;
    const std::string path = dir.path("fin.gz");
    GzPtr h(gzopen(path.c_str(), "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzputs(h.get(), "before"), 6);
    ASSERT_EQ(gzflush(h.get(), Z_FINISH), Z_OK);
    EXPECT_EQ(gzputs(h.get(), "after"), 0);
    EXPECT_EQ(gzputc(h.get(), 'x'), -1);
    EXPECT_EQ(gzflush(h.get(), Z_SYNC_FLUSH), Z_OK);  // nothing is left to flush
    EXPECT_EQ(close_handle(h), 0);
    const Bytes file = read_file(path);
    const GunzipResult r = inflate_gzip_strict(file);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.data, bytes_of("before"));
    EXPECT_EQ(Bytes(file.end() - 8, file.end()), gzip_trailer(crc32_of(bytes_of("before")), 6));
}

}  // namespace
}  // namespace zpress_test
