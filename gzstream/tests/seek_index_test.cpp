// Access points: a handle that restarts at them must answer every call as a
// handle that rewinds and reads forward does, also on damaged streams, and
// the index must stay within its memory and appear only once a handle seeks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gz_index.h"
#include "gz_test_util.h"
#include "gzip_builder.h"
#include "temp_io.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

// Four members of text and mixed data, about 2.5 MiB in all.
std::vector<Bytes> member_plains() {
    std::vector<Bytes> plains;
    std::uint32_t seed = 700;
    for (std::size_t size : {900000u, 400000u, 700000u, 500000u}) {
        plains.push_back(make_data(seed % 2 ? DataKind::text : DataKind::mixed, size, seed));
        ++seed;
    }
    return plains;
}

Bytes members(const std::vector<Bytes>& plains, std::size_t bad_crc_member = SIZE_MAX) {
    Bytes stream;
    for (std::size_t i = 0; i < plains.size(); ++i) {
        MemberParts how;
        if (i == bad_crc_member) how.crc = crc32_of(plains[i]) ^ 0x40u;
        const Bytes m = gzip_member(plains[i], how);
        stream.insert(stream.end(), m.begin(), m.end());
    }
    return stream;
}

struct Damaged {
    std::string name;
    Bytes stream;
};

std::vector<Damaged> damaged_streams() {
    const std::vector<Bytes> plains = member_plains();
    std::vector<Damaged> out;
    out.push_back({"whole", members(plains)});
    out.push_back({"bad CRC in the second member", members(plains, 1)});
    Bytes corrupt = members(plains);
    // Inside the third member's deflate data: the engine meets a bad code.
    const std::size_t third = gzip_member(plains[0]).size() + gzip_member(plains[1]).size();
    for (std::size_t i = 0; i < 64; ++i) corrupt[third + 200000 + i] ^= 0xA5;
    out.push_back({"corrupt deflate data", corrupt});
    const Bytes whole = members(plains);
    out.push_back({"cut off in the last member", Bytes(whole.begin(), whole.end() - 150000)});
    return out;
}

// A handle on `stream` that never keeps access points, or one that keeps
// them at every block end.
GzPtr open_with_points(const Bytes& stream, bool points) {
    GzPtr h = open_bytes(stream);
    EXPECT_NE(h, nullptr);
    if (h) {
        EXPECT_TRUE(index_configure(h.get(), points ? 1 : 0, kIndexMemoryLimit));
    }
    return h;
}

// One random sequence of calls applied to both handles in step, errors and
// clearerr included; every result must be the same.
void run_side_by_side(const Bytes& stream, std::uint32_t seed, int steps) {
    GzPtr plain = open_with_points(stream, false);
    GzPtr indexed = open_with_points(stream, true);
    ASSERT_TRUE(plain && indexed);
    std::mt19937 rng(seed);
    const gz_off_t span = 2600000;
    std::string trail;
    Bytes a(70000), b(70000);

    for (int step = 0; step < steps; ++step) {
        SCOPED_TRACE("step " + std::to_string(step) + " after: " + trail);
        if (trail.size() > 600) trail.erase(0, trail.size() - 600);
        const auto pick = rng() % 100;
        if (pick < 30) {
            const auto n = static_cast<unsigned>(rng() % 4 == 0 ? rng() % 70000 : rng() % 500);
            trail += "read " + std::to_string(n) + "; ";
            const int got = gzread(plain.get(), a.data(), n);
            ASSERT_EQ(gzread(indexed.get(), b.data(), n), got);
            if (got > 0) {
                ASSERT_TRUE(std::equal(a.begin(), a.begin() + got, b.begin()));
            }
        } else if (pick < 38) {
            trail += "getc; ";
            ASSERT_EQ(gzgetc(indexed.get()), gzgetc(plain.get()));
        } else if (pick < 44) {
            const int c = static_cast<int>(rng() % 256);
            trail += "ungetc; ";
            ASSERT_EQ(gzungetc(c, indexed.get()), gzungetc(c, plain.get()));
        } else if (pick < 74) {
            const int whence = static_cast<int>(rng() % 2);
            // Now and then to where it stands, which keeps a handed-back byte.
            const gz_off_t target = rng() % 8 == 0 ? gztell(plain.get())
                                                   : static_cast<gz_off_t>(rng() % span);
            const gz_off_t offset = whence == 1 ? target - gztell(plain.get()) : target;
            trail += "seek " + std::to_string(offset) + "," + std::to_string(whence) + "; ";
            ASSERT_EQ(gzseek(indexed.get(), offset, whence), gzseek(plain.get(), offset, whence));
        } else if (pick < 82) {
            trail += "rewind; ";
            ASSERT_EQ(gzrewind(indexed.get()), gzrewind(plain.get()));
        } else if (pick < 90) {
            trail += "clearerr; ";
            gzclearerr(plain.get());
            gzclearerr(indexed.get());
        } else {
            trail += "eof; ";
            ASSERT_EQ(gzeof(indexed.get()), gzeof(plain.get()));
        }
        ASSERT_EQ(gztell(indexed.get()), gztell(plain.get()));
        // The texts differ only in the descriptor number of the name.
        int code_plain = 0, code_indexed = 0;
        const std::string text_plain = error_of(plain.get(), &code_plain);
        const std::string text_indexed = error_of(indexed.get(), &code_indexed);
        auto message = [](const std::string& text) {
            const auto colon = text.find(">: ");
            return colon == std::string::npos ? text : text.substr(colon);
        };
        ASSERT_EQ(message(text_indexed), message(text_plain));
        ASSERT_EQ(code_indexed, code_plain);
    }
    const int closed_plain = close_handle(plain);
    EXPECT_EQ(close_handle(indexed), closed_plain);
}

class SideBySide : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SideBySide, SameResultsWithAndWithoutPoints) {
    static const std::vector<Damaged> inputs = damaged_streams();
    const Damaged& in = inputs[GetParam()];
    SCOPED_TRACE(in.name);
    for (std::uint32_t seed : {1u, 2u}) run_side_by_side(in.stream, seed + 10 * static_cast<std::uint32_t>(GetParam()), 400);
}

INSTANTIATE_TEST_SUITE_P(Streams, SideBySide, ::testing::Values(0u, 1u, 2u, 3u));

// A restart inside a member whose CRC is wrong still finds the mismatch at
// the member's end, and one inside a sound member after it does not.
TEST(AccessPoints, CrcIsCheckedAfterARestartInsideAMember) {
    const std::vector<Bytes> plains = member_plains();
    GzPtr h = open_with_points(members(plains, 0), true);
    ASSERT_NE(h, nullptr);
    // One pass records the points; the member's CRC fails at its end.
    ASSERT_EQ(read_to_end(h.get(), 65536).last, -1);
    ASSERT_GT(index_of(h.get())->point_count(), 10u);

    gzclearerr(h.get());
    ASSERT_EQ(gzseek(h.get(), 600000, 0), 600000);
    Bytes rest(plains[0].size());
    EXPECT_EQ(gzread(h.get(), rest.data(), static_cast<unsigned>(rest.size())), 300000);
    EXPECT_TRUE(std::equal(plains[0].begin() + 600000, plains[0].end(), rest.begin()));
    int code = 0;
    error_of(h.get(), &code);
    EXPECT_EQ(code, Z_DATA_ERROR);

    // Past the bad member the stream cannot be reached by reading, so a
    // point there cannot exist: the seek reads into the error, as before.
    gzclearerr(h.get());
    EXPECT_EQ(gzseek(h.get(), 1000000, 0), -1);
}

TEST(AccessPoints, NoIndexUntilTheFirstSeek) {
    const Bytes stream = members(member_plains());
    GzPtr h = open_bytes(stream);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(read_to_end(h.get(), 16384).last, 0);
    EXPECT_EQ(index_of(h.get()), nullptr);
    ASSERT_EQ(gzseek(h.get(), 5, 0), 5);
    EXPECT_NE(index_of(h.get()), nullptr);
}

TEST(AccessPoints, MemoryStaysWithinTheLimit) {
    const Bytes plain = make_data(DataKind::text, 6u << 20, 800);
    GzPtr h = open_bytes(gzip_member(plain, MemberParts{}.with_level(1)));
    ASSERT_NE(h, nullptr);
    constexpr std::size_t kLimit = 400000;  // fixed buffers and a dozen windows
    ASSERT_TRUE(index_configure(h.get(), 4096, kLimit));
    Bytes buf(1u << 20);
    gz_off_t got = 0;
    int n;
    while ((n = gzread(h.get(), buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
        got += n;
        ASSERT_LE(index_of(h.get())->memory_used(), kLimit);
    }
    EXPECT_EQ(got, static_cast<gz_off_t>(plain.size()));
    const point_index* index = index_of(h.get());
    EXPECT_GE(index->point_count(), 2u);
    EXPECT_GE(index->spacing(), 4096 * 8);
    // The points left are good ones: every seek lands on the right bytes.
    for (gz_off_t at : {gz_off_t{5000000}, gz_off_t{17}, gz_off_t{3000000}, gz_off_t{6000000}}) {
        ASSERT_EQ(gzseek(h.get(), at, 0), at);
        ASSERT_EQ(gzread(h.get(), buf.data(), 1000), 1000);
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 1000,
                               plain.begin() + static_cast<std::ptrdiff_t>(at)));
    }
}

// A pipe cannot go back to a point: it gets no index, and seeks behave as
// they always did (forward by reading, backward refused).
TEST(AccessPoints, PipesKeepNoIndex) {
    const Bytes plain = make_data(DataKind::text, 300000, 900);
    const Bytes stream = gzip_member(plain);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        std::size_t at = 0;
        while (at < stream.size()) {
            const ssize_t n = ::write(fds[1], stream.data() + at, stream.size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        ::close(fds[1]);
    });
    GzPtr h(gzdopen(fds[0], "rb"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(gzseek(h.get(), 200000, 0), 200000);
    EXPECT_EQ(index_of(h.get()), nullptr);
    EXPECT_EQ(gzgetc(h.get()), plain[200000]);
    // Refused before anything moves: the next byte is still the one after.
    EXPECT_EQ(gzseek(h.get(), 10, 0), -1);
    EXPECT_EQ(gztell(h.get()), 200001);
    EXPECT_EQ(gzgetc(h.get()), plain[200001]);
    EXPECT_EQ(read_to_end(h.get(), 16384).last, 0);
    h.reset();
    writer.join();
}

// Saved points serve a second handle on the same file, and only that file.
class SavedIndex : public ::testing::Test {
  protected:
    void SetUp() override {
        plains_ = member_plains();
        stream_ = members(plains_);
        for (const Bytes& p : plains_) plain_.insert(plain_.end(), p.begin(), p.end());
        write_file(gz_path_, stream_);
        GzPtr h(gzopen(gz_path_.c_str(), "rb"));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(gzindex_save(h.get(), index_path_.c_str()), -1);  // nothing noted yet
        ASSERT_TRUE(index_configure(h.get(), 65536, kIndexMemoryLimit));
        ASSERT_EQ(read_to_end(h.get(), 65536).last, 0);
        ASSERT_EQ(gzindex_save(h.get(), index_path_.c_str()), 0);
        saved_points_ = index_of(h.get())->point_count();
        ASSERT_GT(saved_points_, 20u);
    }

    // Loads `index` into a fresh handle on `gz`; the load's result.
    int load(const std::string& gz, const std::string& index, GzPtr* out = nullptr) {
        GzPtr h(gzopen(gz.c_str(), "rb"));
        EXPECT_NE(h, nullptr);
        const int rc = gzindex_load(h.get(), index.c_str());
        if (out != nullptr) *out = std::move(h);
        return rc;
    }

    TempDir dir_;
    std::string gz_path_ = dir_.path("data.gz");
    std::string index_path_ = dir_.path("data.gz.idx");
    std::vector<Bytes> plains_;
    Bytes stream_, plain_;
    std::size_t saved_points_ = 0;
};

TEST_F(SavedIndex, SecondHandleSeeksWithTheSavedPoints) {
    GzPtr h;
    ASSERT_EQ(load(gz_path_, index_path_, &h), 0);
    EXPECT_EQ(index_of(h.get())->point_count(), saved_points_);
    Bytes buf(5000);
    for (gz_off_t at : {gz_off_t{2400000}, gz_off_t{10}, gz_off_t{1300007}, gz_off_t{899999}}) {
        ASSERT_EQ(gzseek(h.get(), at, 0), at);
        ASSERT_EQ(gzread(h.get(), buf.data(), 5000), 5000);
        EXPECT_TRUE(std::equal(buf.begin(), buf.end(), plain_.begin() + static_cast<std::ptrdiff_t>(at)));
    }
    const ReadOutcome rest = read_to_end(h.get(), 65536);
    EXPECT_EQ(rest.last, 0);
    EXPECT_EQ(close_handle(h), 0);
}

TEST_F(SavedIndex, StaleForeignOrDamagedIndexIsRefused) {
    // The same file changed at its end, grown, or another file.
    Bytes changed = stream_;
    changed[changed.size() - 9] ^= 1;
    const std::string changed_path = dir_.path("changed.gz");
    write_file(changed_path, changed);
    EXPECT_EQ(load(changed_path, index_path_), -1);
    Bytes grown = stream_;
    grown.push_back(0);
    write_file(changed_path, grown);
    EXPECT_EQ(load(changed_path, index_path_), -1);
    const Bytes other = members({plains_[1], plains_[0], plains_[2], plains_[3]});
    write_file(changed_path, other);
    EXPECT_EQ(load(changed_path, index_path_), -1);

    // Damage anywhere in the index file, and cutting it short.
    const Bytes index = read_file(index_path_);
    const std::string bad_path = dir_.path("bad.idx");
    for (std::size_t at : {std::size_t{3}, std::size_t{9}, std::size_t{60}, index.size() / 2,
                           index.size() - 1}) {
        Bytes bad = index;
        bad[at] ^= 0x10;
        write_file(bad_path, bad);
        EXPECT_EQ(load(gz_path_, bad_path), -1) << "byte " << at;
    }
    write_file(bad_path, Bytes(index.begin(), index.end() - 100));
    EXPECT_EQ(load(gz_path_, bad_path), -1);
    EXPECT_EQ(load(gz_path_, dir_.path("missing.idx")), -1);

    // A refused load leaves the handle reading as usual.
    GzPtr h;
    ASSERT_EQ(load(changed_path, index_path_, &h), -1);
    EXPECT_EQ(read_to_end(h.get(), 65536).data.size(), plain_.size());
}

}  // namespace
}  // namespace zpress_test
