// Mode strings: the parser itself, and what the openers do with its verdict.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "gz_mode.h"
#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

TEST(ModeParse, DirectionLevelStrategyAndFileModes) {
    struct Case {
        const char* mode;
        char direction;
        int level;
        int strategy;
        const char* fopen_mode;  // for a path; fdopen gets it without 'x' and 'e'
    };
    for (const Case& c : {Case{"wb6", 'w', 6, 0, "wbe"}, Case{"rb", 'r', -1, 0, "rbe"},
                          Case{"ab9h", 'w', 9, 2, "abe"}, Case{"b6", 0, 6, 0, nullptr},
                          Case{"wb19", 'w', 9, 0, "wbe"}, Case{"wbhfR", 'w', -1, 3, "wbe"},
                          Case{"wbRf", 'w', -1, 1, "wbe"}, Case{"rw", 'w', -1, 0, "wbe"},
                          Case{"wr", 'r', -1, 0, "rbe"}, Case{"wbx", 'w', -1, 0, "wbxe"},
                          Case{"r+b", 'r', -1, 0, "rbe"}, Case{"r+w", 'w', -1, 0, "wbe"},
                          Case{"rx", 'r', -1, 0, "rbe"}, Case{"wa", 'w', -1, 0, "abe"},
                          Case{"aw", 'w', -1, 0, "wbe"}, Case{"", 0, -1, 0, nullptr}}) {
        SCOPED_TRACE(c.mode);
        const gz_mode m = parse_mode(c.mode);
        EXPECT_EQ(m.direction, c.direction);
        EXPECT_EQ(m.level, c.level);
        EXPECT_EQ(m.strategy, c.strategy);
        if (c.fopen_mode == nullptr) continue;
        EXPECT_STREQ(fopen_mode(m), c.fopen_mode);
        std::string plain(c.fopen_mode);
        std::erase(plain, 'x');
        std::erase(plain, 'e');
        EXPECT_STREQ(fdopen_mode(m), plain.c_str());
    }
}

// Every character of a mode counts, however long it is.
TEST(ModeParse, LongModeIsReadToItsEnd) {
    const std::string longer = "w" + std::string(200, 'b') + "a7";
    const gz_mode m = parse_mode(longer.c_str());
    EXPECT_EQ(m.direction, 'w');
    EXPECT_TRUE(m.append);
    EXPECT_EQ(m.level, 7);

    const std::string digits = "r" + std::string(100, '7') + "b";
    EXPECT_EQ(parse_mode(digits.c_str()).level, 7);
}

TEST(ModeOpen, ModeWithoutDirectionIsRefusedAndCreatesNothing) {
    TempDir dir;
    const std::string path = dir.path("never.gz");
    EXPECT_EQ(gzopen(path.c_str(), "b6"), nullptr);
    EXPECT_EQ(gzopen(path.c_str(), ""), nullptr);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(gzopen(nullptr, "rb"), nullptr);
    EXPECT_EQ(gzopen(path.c_str(), nullptr), nullptr);
}

TEST(ModeOpen, NegativeDescriptorGivesNull) {
    EXPECT_EQ(gzdopen(-1, "wb"), nullptr);
    EXPECT_EQ(gzdopen(-1, "rb"), nullptr);
    EXPECT_EQ(gzdopen_gotmagic(-1, "rb"), nullptr);
}

TEST(ModeOpen, MissingFileForReadingGivesNullWithErrno) {
    TempDir dir;
    errno = 0;
    EXPECT_EQ(gzopen(dir.path("absent.gz").c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

// 'x' reaches fopen: an existing file is not replaced.
TEST(ModeOpen, ExclusiveFlagIsPassedToFopen) {
    TempDir dir;
    const std::string path = dir.path("exists.gz");
    write_file(path, bytes_of("keep me"));
    errno = 0;
    EXPECT_EQ(gzopen(path.c_str(), "wbx"), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read_file(path), bytes_of("keep me"));

    const std::string fresh = dir.path("fresh.gz");
    GzPtr h(gzopen(fresh.c_str(), "wbx9"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(close_handle(h), 0);
}

// A mode that decides to read opens the file for reading alone, whatever
// else it holds: the file is never truncated or written.  The handle's
// descriptor is closed on exec.
TEST(ModeOpen, ReadingModesLeaveTheFileAsItWas) {
    TempDir dir;
    const std::string path = dir.path("keep.gz");
    const Bytes plain = make_data(DataKind::text, 3000, 4);
    const Bytes stream = gzip_reference(plain);
    write_file(path, stream);
    for (const char* mode : {"wr", "r+", "r+b", "w+r", "ar", "rw+r", "rx"}) {
        SCOPED_TRACE(mode);
        GzPtr h(gzopen(path.c_str(), mode));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(gzputs(h.get(), "x"), Z_STREAM_ERROR);
        bool cloexec_seen = false;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            if (std::filesystem::read_symlink(fd.path(), ec) != path) continue;
            const int flags = fcntl(std::stoi(fd.path().filename().string()), F_GETFD);
            EXPECT_NE(flags & FD_CLOEXEC, 0);
            cloexec_seen = true;
        }
        EXPECT_TRUE(cloexec_seen);
        EXPECT_EQ(read_to_end(h.get(), 1000).data, plain);
        EXPECT_EQ(close_handle(h), 0);
        EXPECT_EQ(read_file(path), stream);
    }
}

TEST(ModeOpen, AppendModeAddsASecondMember) {
    TempDir dir;
    const std::string path = dir.path("log.gz");
    const Bytes first = make_data(DataKind::text, 5000, 1);
    const Bytes second = make_data(DataKind::text, 7000, 2);
    write_file(path, gzip_reference(first));
    GzPtr h(gzopen(path.c_str(), "ab9h"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzwrite(h.get(), second.data(), static_cast<unsigned>(second.size())), 7000);
    ASSERT_EQ(close_handle(h), 0);

    const GunzipResult r = inflate_gzip_strict(read_file(path));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.members, 2);
    EXPECT_EQ(r.data, concat({first, second}));

    GzPtr in(gzopen(path.c_str(), "rb"));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(read_to_end(in.get(), 4096).data, concat({first, second}));
}

// The level and strategy letters reach the engine: the written deflate data is
// what the engine makes with exactly those parameters.
TEST(ModeOpen, LevelAndStrategyReachTheEngine) {
    const Bytes data = make_data(DataKind::mixed, 60000, 3);
    struct Case {
        const char* mode;
        int level;
        int strategy;
    };
    for (const Case& c :
         {Case{"wb", 6, 0}, Case{"wb1", 1, 0}, Case{"wb19", 9, 0}, Case{"w9b1", 1, 0},
          Case{"wbh", 6, 2}, Case{"wb3R", 3, 3}, Case{"wbfh1", 1, 2}, Case{"wRf8", 8, 1}}) {
        SCOPED_TRACE(c.mode);
        TempDir dir;
        const std::string path = dir.path("p");
        GzPtr h(gzopen(path.c_str(), c.mode));
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(gzwrite(h.get(), data.data(), static_cast<unsigned>(data.size())), 60000);
        ASSERT_EQ(close_handle(h), 0);
        const Bytes file = read_file(path);
        const std::size_t header = 10 + 2;  // name "p" and its terminator
        const Bytes body(file.begin() + header, file.end() - 8);
        EXPECT_EQ(body, raw_deflate(data, c.level, c.strategy));
    }
}

TEST(ModeOpen, LevelZeroWritesStoredBlocks) {
    const Bytes data = make_data(DataKind::zeros, 3000);
    TempDir dir;
    const std::string path = dir.path("s");
    GzPtr h(gzopen(path.c_str(), "wb0"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzwrite(h.get(), data.data(), 3000), 3000);
    ASSERT_EQ(close_handle(h), 0);
    const Bytes file = read_file(path);
    EXPECT_EQ(first_block_type(ByteView(file).subspan(12)), 0);
    EXPECT_GT(file.size(), 3000u);
    EXPECT_EQ(inflate_gzip_strict(file).data, data);
}

// An over-long mode is cut, not overrun: fopen still sees a valid mode.
TEST(ModeOpen, OverlongModeOpensWithTheCutCopy) {
    TempDir dir;
    const std::string path = dir.path("long.gz");
    const std::string mode = "wb" + std::string(300, 'b');
    GzPtr h(gzopen(path.c_str(), mode.c_str()));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzputs(h.get(), "x"), 1);
    ASSERT_EQ(close_handle(h), 0);
    EXPECT_EQ(inflate_gzip_strict(read_file(path)).data, bytes_of("x"));
}

}  // namespace
}  // namespace zpress_test
