// The exact bytes a write stream starts and ends with: the fixed header, the
// stored name taken from the path or descriptor, and the trailer of an empty
// stream.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "gz_test_util.h"
#include "gzip_builder.h"

namespace zpress_test {
namespace {

using namespace gzstream;

Bytes header_with_name(const std::string& name) {
    return concat({Bytes{0x1F, 0x8B, 0x08, 0x08, 0, 0, 0, 0, 0, 0x03}, bytes_of(name), Bytes{0}});
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t len) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(from + len));
}

struct NameCase {
    const char* path;  // relative to a temporary directory
    const char* stored;
};

class StoredName : public ::testing::TestWithParam<NameCase> {};

TEST_P(StoredName, HeaderCarriesBaseNameWithoutGzSuffix) {
    TempDir dir;
    const std::string path = dir.path(GetParam().path);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    GzPtr h(gzopen(path.c_str(), "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(close_handle(h), 0);
    const Bytes file = read_file(path);
    const Bytes expected = header_with_name(GetParam().stored);
    ASSERT_GE(file.size(), expected.size());
    EXPECT_EQ(slice(file, 0, expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, StoredName,
                         ::testing::Values(NameCase{"a/b/c.gz", "c"}, NameCase{"c.txt", "c.txt"},
                                           NameCase{"c.GZ", "c.GZ"}, NameCase{".gz", ".gz"},
                                           NameCase{"a/.gz", ".gz"}, NameCase{"x.gz", "x"},
                                           NameCase{"report.txt.gz", "report.txt"},
                                           NameCase{"d.gz.gz", "d.gz"},
                                           NameCase{"e.tgz", "e.tgz"}));

TEST(WriterHeader, DescriptorStreamStoresFdName) {
    TempDir dir;
    const std::string path = dir.path("out");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    GzPtr h(gzdopen(fd, "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(close_handle(h), 0);
    const Bytes expected = header_with_name("<fd:" + std::to_string(fd) + ">");
    EXPECT_EQ(slice(read_file(path), 0, expected.size()), expected);
}

// The caller's name stands for the path: stored as gzopen would store it, and
// the start of every error text.  A failed open leaves the caller's
// descriptor or stdio stream open.
TEST(WriterHeader, NamedOpenersStoreAndShowTheGivenName) {
    TempDir dir;
    const std::string path = dir.path("out");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(gzdopen_named(fd, "d/report.txt.gz", "b6"), nullptr);  // no direction
    GzPtr h(gzdopen_named(fd, "d/report.txt.gz", "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(close_handle(h), 0);
    const Bytes expected = header_with_name("report.txt");
    EXPECT_EQ(slice(read_file(path), 0, expected.size()), expected);

    std::FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(gzopen_stdio(in, "shown", "b"), nullptr);
    ASSERT_EQ(std::fseek(in, 3, SEEK_SET), 0);  // still open: cut inside the header
    GzPtr r(gzopen_stdio(in, "shown", "rb"));
    ASSERT_NE(r, nullptr);
    char c;
    EXPECT_EQ(gzread(r.get(), &c, 1), 1);  // not a member from byte 3 on: plain data
    std::FILE* cut = fmemopen(const_cast<unsigned char*>(expected.data()), 4, "rb");
    ASSERT_NE(cut, nullptr);
    GzPtr damaged(gzopen_stdio(cut, "shown", "rb"));
    ASSERT_NE(damaged, nullptr);
    EXPECT_EQ(gzread(damaged.get(), &c, 1), -1);
    int status;
    EXPECT_STREQ(gzerror(damaged.get(), &status), "shown: data error");
}

// A writer given header fields stores exactly those: FLG says which texts
// follow, MTIME is the time given, XFL and OS stay 0 and 3.
TEST(WriterHeader, ChosenFieldsAreStoredExactly) {
    TempDir dir;
    const std::string path = dir.path("dir/ignored.gz");
    std::filesystem::create_directories(dir.path("dir"));
    const Bytes data = bytes_of("chosen header\n");
    struct Case {
        gz_header_fields fields;
        Bytes header;
    };
    for (const Case& c : {
             Case{{.name = "orig.txt", .comment = "made here", .mtime = 0x63A1B2C3},
                  concat({Bytes{0x1F, 0x8B, 8, 0x18, 0xC3, 0xB2, 0xA1, 0x63, 0, 3},
                          bytes_of(std::string("orig.txt\0made here\0", 19))})},
             Case{{}, Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3}},
             Case{{.name = nullptr, .comment = "", .mtime = 1},
                  Bytes{0x1F, 0x8B, 8, 0x10, 1, 0, 0, 0, 0, 3, 0}},
         }) {
        GzPtr h(gzopen_header(path.c_str(), "wb9", &c.fields));
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(gzputs(h.get(), "chosen header\n"), 14);
        ASSERT_EQ(close_handle(h), 0);
        const Bytes file = read_file(path);
        EXPECT_EQ(slice(file, 0, c.header.size()), c.header);
        const GunzipResult r = inflate_gzip_strict(file);
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.data, data);

        // Read back: the same fields.
        GzPtr back(gzopen(path.c_str(), "rb"));
        gz_header_fields got;
        ASSERT_EQ(gzheader(back.get(), &got), Z_OK);
        EXPECT_EQ(got.mtime, c.fields.mtime);
        EXPECT_EQ(got.name == nullptr, c.fields.name == nullptr);
        EXPECT_EQ(got.comment == nullptr, c.fields.comment == nullptr);
    }

    // On a stdio stream too; a reading mode and an over-long text are
    // refused, leaving the caller's stream open.
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const gz_header_fields named{.name = "n", .comment = nullptr, .mtime = 0};
    const std::string too_long(GZ_HEADER_TEXT_MAX + 1, 'x');
    const gz_header_fields over{.name = too_long.c_str(), .comment = nullptr, .mtime = 0};
    errno = 0;
    EXPECT_EQ(gzopen_stdio_header(file, "s", "rb", &named), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(gzopen_stdio_header(file, "s", "wb", &over), nullptr);
    EXPECT_EQ(gzopen_header(path.c_str(), "wb", nullptr), nullptr);
    GzPtr h(gzopen_stdio_header(file, "s", "wb", &named));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzputs(h.get(), "x"), 1);
    const int fd = dup(fileno(file));
    ASSERT_EQ(close_handle(h), 0);
    const Bytes written = file_contents(fd);
    close(fd);
    EXPECT_EQ(slice(written, 0, 12), (Bytes{0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3, 'n', 0}));
}

// Header + name + the engine's final empty block + CRC 0 and length 0.
TEST(WriterHeader, EmptyStreamIsHeaderFinalEmptyBlockAndZeroTrailer) {
    for (const char* mode : {"wb", "wb0", "wb9"}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const std::string path = dir.path("empty.gz");
        GzPtr h(gzopen(path.c_str(), mode));
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(close_handle(h), 0);
        const int level = mode[2] == 0 ? 6 : mode[2] - '0';
        const Bytes expected = concat(
            {header_with_name("empty"), raw_deflate({}, level), Bytes{0, 0, 0, 0, 0, 0, 0, 0}});
        EXPECT_EQ(read_file(path), expected);
        EXPECT_TRUE(inflate_gzip_strict(expected).ok);
    }
}

// MTIME and XFL stay 0 whatever the level or strategy.
TEST(WriterHeader, HeaderBytesDoNotDependOnLevelOrStrategy) {
    const Bytes expected = header_with_name("h");
    for (const char* mode : {"wb1", "wb9", "wb0", "wbh", "wbR", "wbf"}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const std::string path = dir.path("h.gz");
        GzPtr h(gzopen(path.c_str(), mode));
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(gzputs(h.get(), "some data"), 9);
        ASSERT_EQ(close_handle(h), 0);
        EXPECT_EQ(slice(read_file(path), 0, expected.size()), expected);
    }
}

}  // namespace
}  // namespace zpress_test
