// Access points: a handle that restarts at them must answer every call as a
// handle that rewinds and reads forward does, also on damaged streams, and
// the index must stay within its memory and appear only once a handle seeks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gz_index.h"
#include "gz_test_util.h"
#include "gzip_builder.h"
#include "temp_io.h"
#include "test_data.h"
#include "zlib_oracle.h"

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
            const gz_off_t target =
                rng() % 8 == 0 ? gztell(plain.get()) : static_cast<gz_off_t>(rng() % span);
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
    for (std::uint32_t seed : {1u, 2u})
        run_side_by_side(in.stream, seed + 10 * static_cast<std::uint32_t>(GetParam()), 400);
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

// Index files as gz_index_file.cpp lays them out: a 76-byte header (the
// version at 8, the point count at 44, the compressed file's stamp from 48
// on), then per point 73 bytes of fields (the window size at 41, the packed
// window's size at 49, the CRC of the compressed bytes before the point at
// 53, lines + 1 at 57, members + 1 at 65) and the window, deflated, then a
// CRC-32 of it all.  Version 4 deflates the window's run form, versions 2
// and 3 the window itself and have no stamp; version 2 had only the first
// 53 bytes of fields.
constexpr std::size_t kIndexHeader = 76;
constexpr std::size_t kHeaderBeforeStamps = 48;
constexpr std::size_t kPointFields = 73;
constexpr std::size_t kV2PointFields = 53;

std::uint64_t get_le(const Bytes& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

void put_le(Bytes& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
}

// Written as a new file: rewriting one in place makes some file systems
// flush it to disk each time.
void write_new(const std::string& path, ByteView data) {
    std::filesystem::remove(path);
    write_file(path, data);
}

void fix_crc(Bytes& index) {
    put_le(index, index.size() - 4, crc32_of(ByteView(index.data(), index.size() - 4)), 4);
}

std::vector<std::size_t> point_offsets(const Bytes& index) {
    std::vector<std::size_t> at;
    std::size_t pos = get_le(index, 8, 4) >= 4 ? kIndexHeader : kHeaderBeforeStamps;
    for (std::uint64_t i = 0; i < get_le(index, 44, 4); ++i) {
        at.push_back(pos);
        pos += kPointFields + get_le(index, pos + 49, 4);
    }
    return at;
}

// A window's run form, as an index of version 4 saves it.
Bytes run_form(ByteView window) {
    const auto size = static_cast<unsigned>(window.size());
    Bytes form(run_form_limit(size));
    form.resize(runs_of_window(window.data(), size, form.data()));
    return form;
}

// Point `p`'s window in an index of version 4 (`form`: its run form).
Bytes window_at(const Bytes& index, std::size_t p, bool form = false) {
    const Bytes runs =
        raw_inflate(ByteView(index).subspan(p + kPointFields, get_le(index, p + 49, 4))).value();
    if (form) return runs;
    Bytes window(get_le(index, p + 41, 4));
    EXPECT_TRUE(window_of_runs(runs.data(), runs.size(), static_cast<unsigned>(window.size()),
                               window.data()));
    return window;
}

// The index with point `p`'s window replaced by `packed`, CRC made right.
Bytes with_window(const Bytes& index, std::size_t p, ByteView packed) {
    Bytes out(index.begin(), index.begin() + static_cast<std::ptrdiff_t>(p + kPointFields));
    put_le(out, p + 49, packed.size(), 4);
    out =
        concat({out, packed, ByteView(index).subspan(p + kPointFields + get_le(index, p + 49, 4))});
    fix_crc(out);
    return out;
}

// The same index of version 4 in an older format: each window deflated
// whole; version 2 without prefix CRCs and tallies.
Bytes as_version(const Bytes& index, std::uint32_t version) {
    Bytes older(index.begin(), index.begin() + kHeaderBeforeStamps);
    put_le(older, 8, version, 4);
    for (std::size_t p : point_offsets(index)) {
        const auto at = index.begin() + static_cast<std::ptrdiff_t>(p);
        const Bytes window =
            get_le(index, p + 49, 4) == 0 ? Bytes{} : raw_deflate(window_at(index, p), 9);
        Bytes fields(
            at, at + static_cast<std::ptrdiff_t>(version == 2 ? kV2PointFields : kPointFields));
        put_le(fields, 49, window.size(), 4);
        older = concat({older, fields, window});
    }
    older.resize(older.size() + 4);
    fix_crc(older);
    return older;
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
        // The build goes back to where the stream stood, handed-back byte too.
        ASSERT_EQ(gzread(h.get(), Bytes(100).data(), 100), 100);
        ASSERT_EQ(gzungetc('#', h.get()), '#');
        ASSERT_EQ(gzindex_build(h.get()), 0);
        EXPECT_EQ(gztell(h.get()), 99);
        EXPECT_EQ(gzgetc(h.get()), '#');
        EXPECT_EQ(gzgetc(h.get()), plain_[100]);
        ASSERT_EQ(gzindex_save(h.get(), index_path_.c_str()), 0);
        saved_points_ = index_of(h.get())->point_count();
        ASSERT_GT(saved_points_, 10u);
        index_ = read_file(index_path_);
    }

    // Loads `index` into a fresh handle on `gz`; the load's result.
    int load(const std::string& gz, const std::string& index, GzPtr* out = nullptr) {
        GzPtr h(gzopen(gz.c_str(), "rb"));
        EXPECT_NE(h, nullptr);
        errno = 0;
        const int rc = gzindex_load(h.get(), index.c_str());
        const int saved = errno;
        if (out != nullptr) *out = std::move(h);
        h.reset();
        errno = saved;
        return rc;
    }
    int load_bytes(const Bytes& index, GzPtr* out = nullptr) {
        write_new(bad_path_, index);
        return load(gz_path_, bad_path_, out);
    }

    // A handle that took `index` reads and seeks as the data says, or fails;
    // never a byte of its own making, never past the end.
    void reads_true_or_fails(const Bytes& index) {
        GzPtr h;
        if (load_bytes(index, &h) != 0) {
            EXPECT_EQ(errno, EINVAL);
            return;
        }
        const auto size = static_cast<gz_off_t>(plain_.size());
        Bytes buf(3000);
        for (gz_off_t at : {size - 10, gz_off_t{5}, size / 2, size + 1, size / 3}) {
            const gz_off_t r = gzseek(h.get(), at, 0);
            if (at > size) {
                EXPECT_EQ(r, -1);
            }
            if (r < 0) {
                gzclearerr(h.get());
                continue;
            }
            ASSERT_EQ(r, at);
            const int n = gzread(h.get(), buf.data(), 3000);
            const std::size_t want =
                std::min<std::size_t>(3000, plain_.size() - static_cast<std::size_t>(at));
            if (n >= 0 && static_cast<std::size_t>(n) == want &&
                std::equal(buf.begin(), buf.begin() + n, plain_.begin() + at))
                continue;
            // Wrong bytes are followed by an error before any end.
            EXPECT_EQ(read_to_end(h.get(), 65536).last, -1) << "at " << at;
            gzclearerr(h.get());
        }
    }

    TempDir dir_;
    std::string gz_path_ = dir_.path("data.gz");
    std::string index_path_ = dir_.path("data.gz.idx");
    std::string bad_path_ = dir_.path("bad.idx");
    std::vector<Bytes> plains_;
    Bytes stream_, plain_, index_;
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
        EXPECT_TRUE(
            std::equal(buf.begin(), buf.end(), plain_.begin() + static_cast<std::ptrdiff_t>(at)));
    }
    const ReadOutcome rest = read_to_end(h.get(), 65536);
    EXPECT_EQ(rest.last, 0);
    // Every point was passed and found right: the index is still there.
    ASSERT_NE(index_of(h.get()), nullptr);
    EXPECT_EQ(index_of(h.get())->point_count(), saved_points_);
    EXPECT_EQ(gzindex_verify(h.get()), 0);
    EXPECT_EQ(close_handle(h), 0);

    // A build passes every loaded point: nothing is left to verify.
    ASSERT_EQ(load(gz_path_, index_path_, &h), 0);
    ASSERT_EQ(gzindex_build(h.get()), 0);
    EXPECT_FALSE(index_of(h.get())->unchecked());

    // Loaded while bytes wait decoded ahead of gzgetc, past the first point:
    // the read on finds every point right, and the index can be saved.
    const auto first_out = static_cast<gz_off_t>(get_le(index_, point_offsets(index_)[0], 8));
    h.reset(gzopen(gz_path_.c_str(), "rb"));
    Bytes lead(static_cast<std::size_t>(first_out - 1000));
    ASSERT_EQ(gzread(h.get(), lead.data(), static_cast<unsigned>(lead.size())), first_out - 1000);
    EXPECT_EQ(gzgetc(h.get()), plain_[static_cast<std::size_t>(first_out - 1000)]);
    ASSERT_EQ(gzindex_load(h.get(), index_path_.c_str()), 0);
    EXPECT_EQ(read_to_end(h.get(), 65536).last, 0);
    EXPECT_EQ(gzindex_save(h.get(), bad_path_.c_str()), 0);

    // An index of the points up to 1 MB only verifies, though the pass
    // notes points of its own after them.
    {
        GzPtr part(gzopen(gz_path_.c_str(), "rb"));
        ASSERT_EQ(gzseek(part.get(), 1000000, 0), 1000000);
        ASSERT_EQ(gzindex_save(part.get(), bad_path_.c_str()), 0);
    }
    ASSERT_EQ(load(gz_path_, bad_path_, &h), 0);
    EXPECT_EQ(gzindex_verify(h.get()), 0);
}

// Saved windows are run forms (version 4); a file of version 3, windows
// deflated whole, still serves and saves again as the same file.  A run form
// or deflate stream not exactly well formed is never used: the seek takes
// the long way and drops the index, and gzindex_verify refuses it.
TEST_F(SavedIndex, RunFormWindowsAndTheVersionBefore) {
    EXPECT_EQ(get_le(index_, 8, 4), 4u);
    std::mt19937 rng(4);
    std::vector<gz_off_t> offsets(25);
    for (gz_off_t& at : offsets) at = static_cast<gz_off_t>(rng() % plain_.size());
    auto reads_right = [&](gz_handle* h) {
        Bytes buf(300);
        for (gz_off_t at : offsets) {
            ASSERT_EQ(gzseek(h, at, 0), at);
            const int n = gzread(h, buf.data(), 300);
            ASSERT_GT(n, 0);
            ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + n, plain_.begin() + at)) << at;
        }
    };
    GzPtr h;
    ASSERT_EQ(load(gz_path_, index_path_, &h), 0);
    reads_right(h.get());
    EXPECT_EQ(gzindex_refused(h.get()), 0);
    const Bytes v3 = as_version(index_, 3);
    ASSERT_EQ(load_bytes(v3, &h), 0);
    reads_right(h.get());
    EXPECT_EQ(gzindex_refused(h.get()), 0);
    ASSERT_EQ(load_bytes(v3, &h), 0);
    const std::string again = dir_.path("again.idx");
    ASSERT_EQ(gzindex_save(h.get(), again.c_str()), 0);
    // The same file, but for the stamp, which a save two seconds after the
    // file was written would record.
    auto unstamped = [](Bytes b) {
        std::fill(b.begin() + kHeaderBeforeStamps, b.begin() + kIndexHeader, 0);
        fix_crc(b);
        return b;
    };
    EXPECT_EQ(unstamped(read_file(again)), unstamped(index_));

    const std::vector<std::size_t> points = point_offsets(index_);
    const std::size_t q = points[points.size() / 2];
    // A version-3 window that does not inflate to its size: nothing to save.
    const std::size_t v3_q = point_offsets(v3)[points.size() / 2];
    ASSERT_EQ(load_bytes(with_window(v3, v3_q, raw_deflate(Bytes(10, 'x'))), &h), 0);
    errno = 0;
    EXPECT_EQ(gzindex_save(h.get(), again.c_str()), -1);
    EXPECT_EQ(errno, EINVAL);

    ASSERT_EQ(get_le(index_, q + 41, 4), kWindowSize);
    const auto past_q = static_cast<gz_off_t>(get_le(index_, q, 8) + 100);
    const Bytes form = window_at(index_, q, true);
    // The count of runs spelled with a needless last byte.
    Bytes longer_count = form;
    const auto count_end =
        std::find_if(longer_count.begin(), longer_count.end(), [](unsigned c) { return c < 0x80; });
    *count_end |= 0x80;
    longer_count.insert(count_end + 1, 0);
    Bytes past_end = window_at(index_, q);
    past_end.resize(kWindowSize + 3, 'x');
    const Bytes packed = raw_deflate(form, 1);
    const struct {
        const char* what;
        Bytes packed;
        bool usable;
    } cases[] = {{"packed anew", packed, true},
                 {"bytes after the stream", concat({packed, Bytes{0}}), false},
                 {"bytes after the runs", raw_deflate(concat({form, Bytes{'x'}})), false},
                 {"overlong count", raw_deflate(longer_count), false},
                 {"run past the window", raw_deflate(run_form(past_end)), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bad = with_window(index_, q, c.packed);
        ASSERT_EQ(load_bytes(bad, &h), 0);
        ASSERT_EQ(gzseek(h.get(), past_q, 0), past_q);
        EXPECT_EQ(gzgetc(h.get()), plain_[static_cast<std::size_t>(past_q)]);
        EXPECT_EQ(gzindex_refused(h.get()), c.usable ? 0 : 1);
        ASSERT_EQ(load_bytes(bad, &h), 0);
        EXPECT_EQ(gzindex_verify(h.get()), c.usable ? 0 : -1);
    }
}

// Windows of shapes a saved index seldom shows: all zero, one byte, a
// non-zero last byte, and so many short runs that the form is one run of
// the whole window (run_form_limit bounds every form).  Each comes back.
TEST(RunForm, EveryShapeOfWindowComesBack) {
    Bytes text = make_data(DataKind::text, kWindowSize, 9), alternate(kWindowSize, 0);
    for (std::size_t i = 0; i < kWindowSize; ++i) {
        if (i % 13 > 2) text[i] = 0;
        if (i % 2 == 0) alternate[i] = static_cast<unsigned char>(1 + i % 200);
    }
    Bytes last(300, 0);
    last.back() = 7;
    Bytes back(kWindowSize);
    for (const Bytes& w : {Bytes(kWindowSize, 0), Bytes(1, 'q'), last, text, alternate}) {
        const auto size = static_cast<unsigned>(w.size());
        const Bytes form = run_form(w);
        ASSERT_TRUE(window_of_runs(form.data(), form.size(), size, back.data()));
        EXPECT_TRUE(std::equal(w.begin(), w.end(), back.begin()));
    }
    EXPECT_EQ(run_form(alternate).size(), run_form_limit(kWindowSize));
    EXPECT_LT(run_form(text).size(), kWindowSize / 2);
}

// A refused load changes nothing: the handle keeps its own points, position,
// handed-back byte and status.
TEST_F(SavedIndex, StaleForeignOrDamagedIndexIsRefusedAndChangesNothing) {
    const std::string other_path = dir_.path("other.gz");
    auto refused_leaves_handle_alone = [&](const std::string& gz,
                                           const std::string& index) -> Bytes {
        GzPtr h(gzopen(gz.c_str(), "rb"));
        if (!h) return {};
        EXPECT_EQ(gzseek(h.get(), 1500000, 0), 1500000);
        EXPECT_EQ(gzseek(h.get(), 700000, 0), 700000);
        EXPECT_EQ(gzungetc('@', h.get()), '@');
        const point_index* before = index_of(h.get());
        const std::size_t points = before->point_count();
        errno = 0;
        EXPECT_EQ(gzindex_load(h.get(), index.c_str()), -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(index_of(h.get()), before);
        EXPECT_EQ(before->point_count(), points);
        EXPECT_EQ(gztell(h.get()), 699999);
        EXPECT_EQ(gzgetc(h.get()), '@');
        const Bytes all = read_to_end(h.get(), 65536).data;
        EXPECT_EQ(gzseek(h.get(), 123456, 0), 123456);
        EXPECT_EQ(gzgetc(h.get()), plain_[123456]);
        return all;
    };
    // The file grown by another member, or the same data at another level.
    const Bytes extra = make_data(DataKind::text, 5000, 77);
    write_file(other_path, concat({stream_, gzip_member(extra)}));
    Bytes all = refused_leaves_handle_alone(other_path, index_path_);
    EXPECT_EQ(all, concat({ByteView(plain_).subspan(700000), extra}));
    Bytes relevel;
    for (const Bytes& p : plains_) {
        const Bytes m = gzip_member(p, MemberParts{}.with_level(9));
        relevel.insert(relevel.end(), m.begin(), m.end());
    }
    write_file(other_path, relevel);
    all = refused_leaves_handle_alone(other_path, index_path_);
    EXPECT_EQ(all, Bytes(plain_.begin() + 700000, plain_.end()));
    // This file changed in the middle: a point's compressed bytes differ.
    // The load reads only the file's ends; the point's first use finds it,
    // drops the places and reads from the start, which finds the damage.
    Bytes changed = stream_;
    const std::size_t point = point_offsets(index_)[3];
    changed[get_le(index_, point + 8, 8) + 100] ^= 1;
    write_file(other_path, changed);
    GzPtr h;
    ASSERT_EQ(load(other_path, index_path_, &h), 0);
    EXPECT_EQ(gzindex_refused(h.get()), 0);
    const auto past = static_cast<gz_off_t>(get_le(index_, point, 8) + 5000);
    GzPtr plain_h(gzopen(other_path.c_str(), "rb"));
    ASSERT_EQ(gzindex_budget(plain_h.get(), 0), 0);
    const gz_off_t want = gzseek(plain_h.get(), past, 0);
    EXPECT_EQ(gzseek(h.get(), past, 0), want);
    EXPECT_EQ(gzindex_refused(h.get()), 1);
    EXPECT_EQ(gzgetc(h.get()), gzgetc(plain_h.get()));
    // The file at the index's place is itself a damaged index.
    write_new(bad_path_, Bytes(index_.begin(), index_.begin() + 100));
    refused_leaves_handle_alone(gz_path_, bad_path_);
    EXPECT_EQ(load(gz_path_, dir_.path("missing.idx")), -1);
    EXPECT_EQ(errno, ENOENT);
}

// Damage with the checksum left as it was, and cuts: refused.  Every byte
// of the header and of the points' fields, and every 251st of the windows.
TEST_F(SavedIndex, EveryDamagedByteAndEveryCutIsRefused) {
    std::vector<bool> field(index_.size(), false);
    for (std::size_t i = 0; i < kIndexHeader; ++i) field[i] = true;
    for (std::size_t p : point_offsets(index_))
        for (std::size_t i = 0; i < kPointFields; ++i) field[p + i] = true;
    for (std::size_t i = index_.size() - 4; i < index_.size(); ++i) field[i] = true;
    GzPtr h(gzopen(gz_path_.c_str(), "rb"));
    for (std::size_t at = 0; at < index_.size(); ++at) {
        if (!field[at] && at % 251 != 0) continue;
        Bytes bad = index_;
        bad[at] ^= static_cast<unsigned char>(1u << (at % 8));
        write_new(bad_path_, bad);
        ASSERT_EQ(gzindex_load(h.get(), bad_path_.c_str()), -1) << "byte " << at;
        write_new(bad_path_,
                  Bytes(index_.begin(), index_.begin() + static_cast<std::ptrdiff_t>(at)));
        ASSERT_EQ(gzindex_load(h.get(), bad_path_.c_str()), -1) << "cut at " << at;
    }
    EXPECT_EQ(index_of(h.get()), nullptr);
    EXPECT_EQ(gzindex_load(h.get(), index_path_.c_str()), 0);
}

// Fields overwritten with extreme values, and random byte changes, each with
// the checksum made right again: refused, or harmless.
TEST_F(SavedIndex, ExtremeValuesAndEditsBehindAFreshChecksum) {
    const std::vector<std::size_t> points = point_offsets(index_);
    const std::size_t first = points[0], last = points.back();
    const std::uint64_t size = stream_.size();
    const std::uint64_t extremes[] = {0,
                                      1,
                                      7,
                                      8,
                                      32768,
                                      size - 8,
                                      size,
                                      size + 1,
                                      std::uint64_t{INT64_MAX},
                                      std::uint64_t{INT64_MAX} + 1,
                                      ~std::uint64_t{0},
                                      std::uint64_t{1} << 40};
    struct Field {
        std::size_t at;
        int width;
    };
    std::vector<Field> fields = {{12, 8}, {28, 8}, {36, 8}, {44, 4}};
    for (std::size_t p : {first, points[1], last})
        for (Field f :
             {Field{0, 8}, {8, 8}, {16, 8}, {24, 8}, {32, 4}, {40, 1}, {41, 4}, {49, 4}, {53, 4}})
            fields.push_back({p + f.at, f.width});
    for (const Field& f : fields) {
        for (std::uint64_t v : extremes) {
            SCOPED_TRACE("field at " + std::to_string(f.at) + " = " + std::to_string(v));
            Bytes bad = index_;
            put_le(bad, f.at, v, f.width);
            fix_crc(bad);
            reads_true_or_fails(bad);
        }
    }
    // Every point shifted in output, and the last one far past the end.
    Bytes bad = index_;
    for (std::size_t p : points) put_le(bad, p, get_le(bad, p, 8) + 12345, 8);
    fix_crc(bad);
    reads_true_or_fails(bad);
    bad = index_;
    put_le(bad, last, 1000000000000, 8);
    fix_crc(bad);
    reads_true_or_fails(bad);
    std::mt19937 rng(22);
    for (int round = 0; round < 150; ++round) {
        bad = index_;
        for (int k = 0; k < 1 + round % 4; ++k)
            bad[rng() % (bad.size() - 4)] ^= static_cast<unsigned char>(1 + rng() % 255);
        fix_crc(bad);
        reads_true_or_fails(bad);
    }
}

// A loaded point that disagrees with the data (here its member CRC): a read
// that restarted before it fails when it gets there and the index goes; a
// read from the start only drops the index; gzindex_verify refuses it.
TEST_F(SavedIndex, ContinuationCheckCatchesAWrongPoint) {
    const std::vector<std::size_t> points = point_offsets(index_);
    Bytes bad = index_;
    const std::size_t wrong = points[points.size() / 2];
    put_le(bad, wrong + 32, get_le(bad, wrong + 32, 4) ^ 1, 4);
    fix_crc(bad);
    const auto wrong_out = static_cast<gz_off_t>(get_le(bad, wrong, 8));
    GzPtr h;
    ASSERT_EQ(load_bytes(bad, &h), 0);
    ASSERT_EQ(gzseek(h.get(), wrong_out - 5000, 0), wrong_out - 5000);
    const ReadOutcome r = read_to_end(h.get(), 1000);
    EXPECT_EQ(r.last, -1);
    EXPECT_LE(r.data.size(), 5000u + 1000u);
    int code = 0;
    error_of(h.get(), &code);
    EXPECT_EQ(code, Z_DATA_ERROR);
    EXPECT_EQ(index_of(h.get()), nullptr);
    // The stream itself is sound: after a rewind it reads, and seeks again.
    ASSERT_EQ(gzrewind(h.get()), 0);
    EXPECT_EQ(read_to_end(h.get(), 65536).data, plain_);
    ASSERT_EQ(gzseek(h.get(), wrong_out + 7, 0), wrong_out + 7);
    EXPECT_EQ(gzgetc(h.get()), plain_[static_cast<std::size_t>(wrong_out + 7)]);

    // Only the position of the last point changed: a seek past the real end
    // through it fails, and one before it reads the data's own bytes.
    bad = index_;
    put_le(bad, points.back(), get_le(bad, points.back(), 8) + 1000, 8);
    fix_crc(bad);
    const auto size = static_cast<gz_off_t>(plain_.size());
    ASSERT_EQ(load_bytes(bad, &h), 0);
    EXPECT_EQ(gzseek(h.get(), size + 500, 0), -1);
    gzclearerr(h.get());
    ASSERT_EQ(gzseek(h.get(), size - 100, 0), size - 100);
    EXPECT_EQ(read_to_end(h.get(), 1000).data, Bytes(plain_.end() - 100, plain_.end()));

    ASSERT_EQ(load_bytes(bad, &h), 0);
    EXPECT_EQ(read_to_end(h.get(), 65536).data, plain_);
    EXPECT_TRUE(index_of(h.get()) == nullptr || index_of(h.get())->discredited());
    EXPECT_EQ(close_handle(h), 0);

    ASSERT_EQ(load_bytes(bad, &h), 0);
    errno = 0;
    EXPECT_EQ(gzindex_verify(h.get()), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(gztell(h.get()), 0);
    EXPECT_EQ(read_to_end(h.get(), 65536).data, plain_);

    // Building over a wrong index notes the points anew, and seeks by them
    // are exact.
    ASSERT_EQ(load_bytes(bad, &h), 0);
    ASSERT_EQ(gzindex_build(h.get()), 0);
    ASSERT_NE(index_of(h.get()), nullptr);
    EXPECT_FALSE(index_of(h.get())->discredited());
    ASSERT_EQ(gzseek(h.get(), size - 100, 0), size - 100);
    EXPECT_EQ(read_to_end(h.get(), 1000).data, Bytes(plain_.end() - 100, plain_.end()));
}

// A window changed so that its CRC-32 stays (a CRC is linear: XOR-ing the
// generator polynomial's bits in anywhere keeps it), and a wrong CRC at a
// point on a member's start: gzindex_verify refuses both.
TEST_F(SavedIndex, VerifyComparesWindowBytesAndEveryPointsCrc) {
    const unsigned char keeps_crc[] = {0x41, 0x06, 0x71, 0xDB, 0x01};
    const std::size_t p = point_offsets(index_)[4];
    Bytes window = window_at(index_, p);
    const auto used =
        std::find_if(window.begin() + 16, window.end() - 8, [](unsigned char c) { return c != 0; });
    ASSERT_NE(used, window.end() - 8);
    const std::uint32_t crc = crc32_of(window);
    for (std::size_t i = 0; i < sizeof keeps_crc; ++i)
        used[static_cast<std::ptrdiff_t>(i)] ^= keeps_crc[i];
    ASSERT_EQ(crc32_of(window), crc);
    const Bytes forged = with_window(index_, p, raw_deflate(run_form(window)));
    GzPtr h;
    ASSERT_EQ(load_bytes(forged, &h), 0);
    errno = 0;
    EXPECT_EQ(gzindex_verify(h.get()), -1);
    EXPECT_EQ(errno, EINVAL);

    // Points at every block end and member start.
    h.reset(gzopen(gz_path_.c_str(), "rb"));
    ASSERT_TRUE(index_configure(h.get(), 1, kIndexMemoryLimit));
    ASSERT_EQ(gzindex_build(h.get()), 0);
    ASSERT_EQ(gzindex_save(h.get(), index_path_.c_str()), 0);
    Bytes bad = read_file(index_path_);
    std::size_t at_member = 0;
    for (std::size_t q : point_offsets(bad))
        if (get_le(bad, q, 8) == plains_[0].size() && get_le(bad, q + 24, 8) == plains_[0].size())
            at_member = q;
    ASSERT_NE(at_member, 0u);
    put_le(bad, at_member + 32, 0x12345678, 4);
    fix_crc(bad);
    ASSERT_EQ(load_bytes(bad, &h), 0);
    EXPECT_EQ(gzindex_verify(h.get()), -1);
}

// Bit rot in a member before a loaded point: a read from the point through
// the member's end fails as it does without the index.  A stale index after
// an edit that keeps every byte the load compares never gives old bytes.
TEST_F(SavedIndex, LoadedPointsNeverHideDamageOrEditsBeforeThem) {
    const std::vector<std::size_t> points = point_offsets(index_);
    std::size_t a = 0, b = 0;
    for (std::size_t i = 0; i + 1 < points.size() && b == 0; ++i) {
        const std::uint64_t in_a = get_le(index_, points[i] + 8, 8),
                            in_b = get_le(index_, points[i + 1] + 8, 8);
        if (get_le(index_, points[i + 1] + 24, 8) == 0 && in_a > 70000 &&
            in_b - in_a > 3 * kProbeSize)
            a = points[i], b = points[i + 1];
    }
    ASSERT_NE(b, 0u);
    Bytes rotten = stream_;
    rotten[get_le(index_, a + 8, 8) + 2 * kProbeSize] ^= 0x10;
    const std::string rotten_path = dir_.path("rotten.gz");
    write_file(rotten_path, rotten);
    const auto from = static_cast<gz_off_t>(get_le(index_, b, 8) + 10);
    // Seek and read on from there: the damage must show before the end.
    auto fails = [&](GzPtr& h) {
        if (gzseek(h.get(), from, 0) == from && read_to_end(h.get(), 65536).last == 0) return false;
        int code = 0;
        error_of(h.get(), &code);
        return code == Z_DATA_ERROR;
    };
    GzPtr h(gzopen(rotten_path.c_str(), "rb"));
    ASSERT_TRUE(fails(h));  // without the index
    ASSERT_EQ(load(rotten_path, index_path_, &h), 0);
    EXPECT_TRUE(fails(h));

    // A valid edit of a small stored member in the middle: a name one byte
    // shorter, the data one byte longer.  Every later position moves by one,
    // while everything the load compares stays.
    const Bytes head = make_data(DataKind::text, 600000, 5),
                tail = make_data(DataKind::mixed, 600000, 6);
    const Bytes mid = make_data(DataKind::random, 1001, 7);
    const MemberParts stored = MemberParts{}.with_level(0);
    const Bytes before = concat(
        {gzip_member(head),
         gzip_member(ByteView(mid).first(1000), stored.with_header(HeaderParts{}.with_name("ab"))),
         gzip_member(tail)});
    const Bytes after = concat({gzip_member(head),
                                gzip_member(mid, stored.with_header(HeaderParts{}.with_name("a"))),
                                gzip_member(tail)});
    ASSERT_EQ(before.size(), after.size());
    write_file(rotten_path, before);
    h.reset(gzopen(rotten_path.c_str(), "rb"));
    ASSERT_EQ(gzindex_build(h.get()), 0);
    ASSERT_EQ(gzindex_save(h.get(), index_path_.c_str()), 0);
    write_new(rotten_path, after);
    ASSERT_EQ(load(rotten_path, index_path_, &h), 0);
    const Bytes now = concat({head, mid, tail});
    const gz_off_t at = static_cast<gz_off_t>(now.size()) - 1000;
    Bytes got(100);
    if (gzseek(h.get(), at, 0) == at && gzread(h.get(), got.data(), 100) == 100) {
        EXPECT_EQ(got, Bytes(now.end() - 1000, now.end() - 900));
    }

    // A stamp saved with the index spares a load reading the bytes before
    // each place, only while nothing has written to the file since.
    write_new(rotten_path, stream_);
    h.reset(gzopen(rotten_path.c_str(), "rb"));
    ASSERT_EQ(gzindex_build(h.get()), 0);
    index_set_stamp_margin(0);
    ASSERT_EQ(gzindex_save(h.get(), index_path_.c_str()), 0);
    index_set_stamp_margin(-1);
    EXPECT_NE(get_le(read_file(index_path_), 64, 8), 0u);  // the change time
    ASSERT_EQ(load(rotten_path, index_path_, &h), 0);
    EXPECT_FALSE(fails(h));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a tick of the file clock
    write_file(rotten_path, rotten);                             // in place
    ASSERT_EQ(load(rotten_path, index_path_, &h), 0);
    EXPECT_TRUE(fails(h));
}

// Load never blocks on what is not a regular file; a small stream's index
// saves and loads; a stream without places has nothing to save; any name
// the directory takes can hold an index.
TEST_F(SavedIndex, LoadAndSaveEdgeCases) {
    const std::string fifo = dir_.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> loaded{false}, unblocked{false};
    std::thread guard([&] {
        for (int i = 0; i < 500 && !loaded; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (loaded) return;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // frees a blocked reader
        unblocked = true;
        if (fd >= 0) ::close(fd);
    });
    GzPtr h(gzopen(gz_path_.c_str(), "rb"));
    errno = 0;
    EXPECT_EQ(gzindex_load(h.get(), fifo.c_str()), -1);
    EXPECT_EQ(errno, EINVAL);
    loaded = true;
    guard.join();
    EXPECT_FALSE(unblocked);

    ASSERT_EQ(gzseek(h.get(), 5, 0), 5);  // an index, but no place in it yet
    errno = 0;
    EXPECT_EQ(gzindex_save(h.get(), bad_path_.c_str()), -1);
    EXPECT_EQ(errno, EINVAL);

    const std::string small = dir_.path("small.gz");
    write_file(small, gzip_member(Bytes{'h', 'i', '\n'}));
    h.reset(gzopen(small.c_str(), "rb"));
    ASSERT_EQ(gzindex_build(h.get()), 0);
    ASSERT_EQ(gzindex_save(h.get(), bad_path_.c_str()), 0);
    EXPECT_EQ(load(small, bad_path_, &h), 0);
    EXPECT_EQ(read_to_end(h.get(), 100).data, (Bytes{'h', 'i', '\n'}));

    const std::string long_name = dir_.path(std::string(254, 'x'));
    h.reset(gzopen(gz_path_.c_str(), "rb"));
    ASSERT_EQ(gzindex_build(h.get()), 0);
    EXPECT_EQ(gzindex_save(h.get(), long_name.c_str()), 0);
    EXPECT_EQ(load(gz_path_, long_name, &h), 0);
}

// The budget thins what is there at once; the save never leaves a partial
// file under the name.
TEST_F(SavedIndex, BudgetAndAtomicSave) {
    GzPtr h(gzopen(gz_path_.c_str(), "rb"));
    ASSERT_TRUE(index_configure(h.get(), 1, kIndexMemoryLimit));
    ASSERT_EQ(gzindex_build(h.get()), 0);
    ASSERT_EQ(gzindex_save(h.get(), index_path_.c_str()), 0);
    const std::size_t dense = index_of(h.get())->point_count();
    EXPECT_EQ(gzindex_budget(h.get(), 1000), -1);
    EXPECT_EQ(gzindex_budget(h.get(), -1), -1);
    const std::size_t small = kIndexMinimumBudget;
    ASSERT_GT(index_of(h.get())->memory_used(), small);
    ASSERT_EQ(gzindex_budget(h.get(), static_cast<std::int64_t>(small)), 0);
    EXPECT_LE(index_of(h.get())->memory_used(), small);
    EXPECT_LT(index_of(h.get())->point_count(), dense);
    EXPECT_GT(index_of(h.get())->point_count(), 0u);
    ASSERT_EQ(gzseek(h.get(), 2000000, 0), 2000000);
    EXPECT_EQ(gzgetc(h.get()), plain_[2000000]);

    // Replacing an index; then a target that cannot take a file: nothing left.
    const std::size_t before = read_file(index_path_).size();
    ASSERT_EQ(gzindex_save(h.get(), index_path_.c_str()), 0);
    EXPECT_LT(read_file(index_path_).size(), before);
    const std::string sub = dir_.path("sub");
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    errno = 0;
    EXPECT_EQ(gzindex_save(h.get(), sub.c_str()), -1);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(gzindex_save(h.get(), dir_.path("none/x.idx").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path(""))) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 3u);  // data.gz, data.gz.idx and sub
    ASSERT_EQ(gzindex_budget(h.get(), 0), 0);
    EXPECT_EQ(index_of(h.get()), nullptr);
    EXPECT_EQ(gzindex_build(h.get()), -1);
}

// Where each line starts: line k (from 1) right after the (k-1)-th newline.
std::vector<gz_off_t> line_starts(const Bytes& plain) {
    std::vector<gz_off_t> at{0};
    for (std::size_t i = 0; i < plain.size(); ++i)
        if (plain[i] == '\n') at.push_back(static_cast<gz_off_t>(i + 1));
    return at;
}

// Every line seek lands on its line's first byte, and one past the last
// line (or before the first) fails with the stream where it stood.
void seeks_lines_right(gz_handle* h, const Bytes& plain, std::uint32_t seed) {
    const std::vector<gz_off_t> starts = line_starts(plain);
    const auto lines = static_cast<gz_off_t>(starts.size());
    std::mt19937 rng(seed);
    for (int i = 0; i < 40; ++i) {
        const gz_off_t line = i == 0 ? lines : 1 + static_cast<gz_off_t>(rng() % starts.size());
        const gz_off_t at = starts[static_cast<std::size_t>(line - 1)];
        ASSERT_EQ(gzseek_line(h, line), at) << "line " << line;
        ASSERT_EQ(gztell(h), at);
        if (static_cast<std::size_t>(at) < plain.size()) {
            ASSERT_EQ(gzgetc(h), plain[static_cast<std::size_t>(at)]) << "line " << line;
        }
    }
    const gz_off_t before = gztell(h);
    EXPECT_EQ(gzseek_line(h, lines + 1), -1);
    EXPECT_EQ(gzseek_line(h, 0), -1);
    EXPECT_EQ(gztell(h), before);
    if (static_cast<std::size_t>(before) < plain.size()) {
        EXPECT_EQ(gzgetc(h), plain[static_cast<std::size_t>(before)]);
    }
}

gz_off_t newlines_in(const Bytes& plain) {
    return static_cast<gz_off_t>(std::count(plain.begin(), plain.end(), '\n'));
}

// Lines: counted while points are noted, saved with them and read back;
// an index of the format before lines still serves, counting from the start.
TEST_F(SavedIndex, LineSeeksAndCountsFreshSavedAndOlderIndexes) {
    ASSERT_GT(newlines_in(plain_), 1000);
    GzPtr fresh(gzopen(gz_path_.c_str(), "rb"));
    EXPECT_EQ(gzindex_lines(fresh.get()), -1);
    seeks_lines_right(fresh.get(), plain_, 1);
    ASSERT_EQ(gzindex_build(fresh.get()), 0);
    EXPECT_EQ(gzindex_lines(fresh.get()), newlines_in(plain_));
    EXPECT_EQ(gzindex_members(fresh.get()), 4);
    EXPECT_EQ(gzindex_points(fresh.get()), static_cast<gz_off_t>(saved_points_));

    GzPtr loaded;
    ASSERT_EQ(load(gz_path_, index_path_, &loaded), 0);
    EXPECT_EQ(gzindex_lines(loaded.get()), -1);  // not read to the end yet
    for (const access_point& p : index_of(loaded.get())->points()) {
        ASSERT_EQ(p.lines, std::count(plain_.begin(), plain_.begin() + p.out, '\n'));
        ASSERT_GE(p.members, 1);
    }
    seeks_lines_right(loaded.get(), plain_, 2);
    EXPECT_EQ(gzseek(loaded.get(), INT64_MAX, 0), -1);  // to the end, from the last point
    EXPECT_EQ(gzindex_lines(loaded.get()), newlines_in(plain_));
    EXPECT_EQ(gzindex_members(loaded.get()), 4);

    // The same points in the format before lines and prefix CRCs, version 2:
    // loaded after one decode from the start has found every point, which
    // learns their tallies on the way.
    const Bytes older = as_version(index_, 2);
    GzPtr old_format;
    ASSERT_EQ(load_bytes(older, &old_format), 0);
    EXPECT_EQ(gzindex_lines(old_format.get()), newlines_in(plain_));
    for (const access_point& p : index_of(old_format.get())->points()) {
        ASSERT_TRUE(p.checked);
        ASSERT_EQ(p.lines, std::count(plain_.begin(), plain_.begin() + p.out, '\n'));
    }
    EXPECT_FALSE(index_of(old_format.get())->unchecked());
    seeks_lines_right(old_format.get(), plain_, 3);

    // A version-2 file whose data changed since: the pass refuses it with
    // EINVAL and the handle stays as it was, at its place, with its index.
    Bytes edited = stream_;
    const std::size_t at =
        static_cast<std::size_t>(get_le(index_, point_offsets(index_)[3] + 8, 8)) - 100;
    ASSERT_TRUE(at > 65536 && at + 65536 < edited.size());  // past what identifies the file
    edited[at] ^= 0x01;
    const std::string edited_path = dir_.path("edited.gz");
    write_file(edited_path, edited);
    write_new(bad_path_, older);
    GzPtr h(gzopen(edited_path.c_str(), "rb"));
    ASSERT_EQ(gzread(h.get(), Bytes(10).data(), 10), 10);
    errno = 0;
    EXPECT_EQ(gzindex_load(h.get(), bad_path_.c_str()), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(index_of(h.get()), nullptr);
    EXPECT_EQ(gztell(h.get()), 10);
    EXPECT_EQ(gzgetc(h.get()), plain_[10]);
}

// A tally changed behind a fresh checksum loads (it is plausible) but a
// decode that passes its point refuses it.
TEST_F(SavedIndex, EditedLineCountIsCaughtByVerify) {
    const std::vector<std::size_t> points = point_offsets(index_);
    const std::size_t p = points[points.size() / 2];
    const std::size_t tally = p + 57;
    Bytes bad = index_;
    put_le(bad, tally, get_le(bad, tally, 8) - 1, 8);
    fix_crc(bad);
    GzPtr h;
    ASSERT_EQ(load_bytes(bad, &h), 0);
    EXPECT_EQ(gzindex_verify(h.get()), -1);
    EXPECT_EQ(index_of(h.get()), nullptr);
}

// Files without a final newline, binary data with none at all, and a
// handle without an index: line seeks work the same.
TEST(Lines, NoFinalNewlineNoNewlinesAndPlainHandles) {
    TempDir dir;
    Bytes text = make_data(DataKind::text, 300000, 41);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    Bytes binary(200000, 'x');
    for (const Bytes* plain : {&text, &binary}) {
        const std::string path = dir.path("t.gz");
        write_file(path, gzip_member(*plain));
        GzPtr h(gzopen(path.c_str(), "rb"));
        seeks_lines_right(h.get(), *plain, 4);
        ASSERT_EQ(gzindex_build(h.get()), 0);
        EXPECT_EQ(gzindex_lines(h.get()), newlines_in(*plain));
        seeks_lines_right(h.get(), *plain, 5);
        GzPtr unindexed(gzopen(path.c_str(), "rb"));
        ASSERT_EQ(gzindex_budget(unindexed.get(), 0), 0);
        seeks_lines_right(unindexed.get(), *plain, 6);
        EXPECT_EQ(gzindex_lines(unindexed.get()), -1);
    }
}

}  // namespace
}  // namespace zpress_test
