// Long random sequences of reads, character I/O, seeks, rewinds and queries,
// checked step by step against a plain in-memory model of the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <tuple>

#include "gz_index.h"
#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

// What the stream should do: the plain bytes, the position, the one byte
// that may wait after gzungetc, and whether the last read ran into the end.
class Model {
  public:
    Model(Bytes plain, bool plain_stream) : plain_(std::move(plain)), plain_stream_(plain_stream) {}

    gz_off_t pos() const { return pos_; }
    bool has_pushback() const { return pushback_.has_value(); }

    Bytes read(std::size_t n) {
        Bytes out;
        if (n > 0 && pushback_) {
            out.push_back(*pushback_);
            pushback_.reset();
            ++pos_;
        }
        while (out.size() < n && pos_ < size())
            out.push_back(plain_[static_cast<std::size_t>(pos_++)]);
        // A compressed stream knows it is at the end after any short read;
        // plain data only after a read that found nothing.
        must_be_eof_ = n > 0 && (plain_stream_ ? out.empty() : out.size() < n);
        return out;
    }

    void ungetc(int c) {
        pushback_ = static_cast<unsigned char>(c);
        --pos_;
        must_be_eof_ = false;
    }

    gz_off_t seek(gz_off_t offset, int whence) {
        const gz_off_t target = whence == 1 ? pos_ + offset : offset;
        if (target < 0) return -1;
        must_be_eof_ = false;
        if (plain_stream_) {
            pushback_.reset();  // the file itself is repositioned
            // Past the end: at the end, as for compressed data.
            pos_ = std::min(target, size());
            must_be_eof_ = target > size();
            return must_be_eof_ ? -1 : target;
        }
        gz_off_t skip = target - pos_;
        if (target < pos_) {
            rewind();
            skip = target;
        }
        if (skip > 0 && pushback_) {
            pushback_.reset();
            ++pos_;
            --skip;
        }
        if (skip > size() - pos_) {
            pos_ = size();
            must_be_eof_ = true;
            return -1;
        }
        pos_ += skip;
        return pos_;
    }

    void rewind() {
        pos_ = 0;
        pushback_.reset();
        must_be_eof_ = false;
    }

    // -1: either answer is right here.
    int expected_eof() const {
        if (pushback_ || pos_ < size()) return 0;
        return must_be_eof_ ? 1 : -1;
    }

  private:
    gz_off_t size() const { return static_cast<gz_off_t>(plain_.size()); }

    Bytes plain_;
    bool plain_stream_;
    gz_off_t pos_ = 0;
    std::optional<unsigned char> pushback_;
    bool must_be_eof_ = false;
};

struct Input {
    std::string name;
    Bytes stream;
    Bytes plain;
    bool plain_stream = false;
};

Input multi_member_input(bool with_padding) {
    Input in{with_padding ? "members+padding" : "members", {}, {}, false};
    std::uint32_t seed = with_padding ? 200 : 100;
    for (std::size_t size : {9000u, 0u, 15000u, 1u, 30000u}) {
        const Bytes part = make_data(seed % 2 ? DataKind::text : DataKind::mixed, size, seed);
        ++seed;
        in.plain.insert(in.plain.end(), part.begin(), part.end());
        const Bytes m = gzip_member(part, MemberParts{}.with_level(static_cast<int>(seed % 10)));
        in.stream.insert(in.stream.end(), m.begin(), m.end());
    }
    // Zero padding after the last member, as on a tape, ends the data.
    if (with_padding) in.stream.insert(in.stream.end(), 1000, 0);
    return in;
}

Input plain_input() {
    const Bytes text = make_data(DataKind::text, 40000, 300);
    return {"plain", text, text, true};
}

// Several MiB in one member, so that access points fall inside it.
Input big_single_member_input() {
    Input in{"big member", {}, make_data(DataKind::text, 2u << 20, 400), false};
    const Bytes tail = make_data(DataKind::mixed, 1u << 20, 401);
    in.plain.insert(in.plain.end(), tail.begin(), tail.end());
    in.stream = gzip_member(in.plain);
    return in;
}

// Members of every block shape: long text, empty, one byte, stored blocks
// (level 0), one long run of zeros, Huffman-only coding.
Input big_multi_member_input() {
    Input in{"big members", {}, {}, false};
    struct Part {
        DataKind kind;
        std::size_t size;
        MemberParts how;
    };
    const Part parts[] = {
        {DataKind::text, 1200000, MemberParts{}},
        {DataKind::text, 0, MemberParts{}},
        {DataKind::mixed, 700000, MemberParts{}.with_level(1)},
        {DataKind::text, 1, MemberParts{}},
        {DataKind::random, 300000, MemberParts{}.with_level(0)},
        {DataKind::zeros, 1000000, MemberParts{}.with_level(9)},
        {DataKind::text, 900000, MemberParts{}.with_strategy(kStrategyHuffmanOnly)},
    };
    std::uint32_t seed = 500;
    for (const Part& part : parts) {
        const Bytes plain = make_data(part.kind, part.size, seed++);
        in.plain.insert(in.plain.end(), plain.begin(), plain.end());
        const Bytes m = gzip_member(plain, part.how);
        in.stream.insert(in.stream.end(), m.begin(), m.end());
    }
    return in;
}

// How the handle under test keeps access points.
enum class Points {
    usual,        // as every handle does
    none,         // never: every backward seek rewinds
    every_block,  // at every block end and member start
    thinned,      // as many as possible in little memory: spacing doubles over and over
};

// The index's fixed buffers and room for a dozen or so deflated windows.
constexpr std::size_t kThinBudget = 400000;

void set_points(gz_handle* h, Points points) {
    switch (points) {
        case Points::usual:
            return;
        case Points::none:
            ASSERT_TRUE(index_configure(h, 0, 0));
            return;
        case Points::every_block:
            ASSERT_TRUE(index_configure(h, 1, kIndexMemoryLimit));
            return;
        case Points::thinned:
            ASSERT_TRUE(index_configure(h, 1, kThinBudget));
            return;
    }
}

void run_model(const Input& in, std::uint32_t seed, int steps, Points points = Points::usual) {
    GzPtr h = open_bytes(in.stream);
    ASSERT_NE(h, nullptr);
    if (!in.plain_stream) set_points(h.get(), points);
    Model model(in.plain, in.plain_stream);
    std::mt19937 rng(seed);
    const auto size = static_cast<gz_off_t>(in.plain.size());
    std::string trail;  // the last operations, for failure messages
    auto note = [&trail](const std::string& op) {
        trail += op + "; ";
        if (trail.size() > 600) trail.erase(0, trail.size() - 600);
    };

    for (int step = 0; step < steps; ++step) {
        const auto pick = static_cast<unsigned>(rng() % 100);
        SCOPED_TRACE("step " + std::to_string(step) + " after: " + trail);
        if (pick < 22) {
            const std::size_t n = rng() % 8 == 0 ? rng() % 40000 : rng() % 300;
            note("read " + std::to_string(n));
            Bytes buf(n + 1);
            const int got = gzread(h.get(), buf.data(), static_cast<unsigned>(n));
            const Bytes want = model.read(n);
            ASSERT_EQ(got, static_cast<int>(want.size()));
            buf.resize(want.size());
            ASSERT_EQ(buf, want);
        } else if (pick < 32) {
            note("getc");
            const Bytes want = model.read(1);
            ASSERT_EQ(gzgetc(h.get()), want.empty() ? -1 : int{want[0]});
        } else if (pick < 42) {
            const int c = rng() % 16 == 0 ? 0x100 + static_cast<int>(rng() % 256)
                                          : static_cast<int>(rng() % 256);
            if (model.pos() == 0) continue;  // nothing before the start to hand back
            note("ungetc " + std::to_string(c));
            if (model.has_pushback()) {
                ASSERT_EQ(gzungetc(c, h.get()), -1);
            } else {
                ASSERT_EQ(gzungetc(c, h.get()), c);
                model.ungetc(c);
            }
        } else if (pick < 50) {
            const int buf_size = 1 + static_cast<int>(rng() % 120);
            note("gets " + std::to_string(buf_size));
            Bytes want;
            while (want.size() + 1 < static_cast<std::size_t>(buf_size)) {
                const Bytes one = model.read(1);
                if (one.empty()) break;
                want.push_back(one[0]);
                if (one[0] == '\n') break;
            }
            std::string buf(static_cast<std::size_t>(buf_size), '#');
            const char* got = gzgets(h.get(), buf.data(), buf_size);
            if (want.empty() && buf_size > 1) {
                ASSERT_EQ(got, nullptr);
            } else {
                ASSERT_EQ(got, buf.data());
                ASSERT_EQ(
                    Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(want.size())),
                    want);
                ASSERT_EQ(buf[want.size()], '\0');
            }
        } else if (pick < 74) {
            const int whence = static_cast<int>(rng() % 2);
            gz_off_t target;
            switch (rng() % 8) {
                case 0:
                    target = size + static_cast<gz_off_t>(rng() % 100);  // at or past the end
                    break;
                case 1:
                    target = -static_cast<gz_off_t>(rng() % 10) - 1;  // before the start
                    break;
                case 2:
                    target = model.pos() + static_cast<gz_off_t>(rng() % 50);  // a short hop
                    break;
                default:
                    target = static_cast<gz_off_t>(rng() % static_cast<std::uint32_t>(size + 1));
            }
            const gz_off_t offset = whence == 1 ? target - model.pos() : target;
            note("seek " + std::to_string(offset) + "," + std::to_string(whence));
            ASSERT_EQ(gzseek(h.get(), offset, whence), model.seek(offset, whence));
        } else if (pick < 84) {
            note("tell");
            ASSERT_EQ(gztell(h.get()), model.pos());
        } else if (pick < 88) {
            note("rewind");
            ASSERT_EQ(gzrewind(h.get()), 0);
            model.rewind();
        } else {
            note("eof");
            const int want = model.expected_eof();
            if (want >= 0) {
                ASSERT_EQ(gzeof(h.get()), want);
            }
        }
        int code = 0;
        gzerror(h.get(), &code);
        ASSERT_GE(code, 0) << gzerror(h.get(), &code);
    }
    if (points == Points::every_block || points == Points::thinned) {
        const point_index* index = index_of(h.get());
        ASSERT_NE(index, nullptr);
        EXPECT_GT(index->point_count(), 0u);
        if (points == Points::thinned && in.plain.size() > (1u << 20)) {
            EXPECT_LE(index->memory_used(), kThinBudget);
            EXPECT_GT(index->spacing(), 1);
        }
    }
    EXPECT_EQ(close_handle(h), 0);
}

class SeekModel : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SeekModel, MultiMemberStream) { run_model(multi_member_input(false), GetParam(), 3000); }

TEST_P(SeekModel, ZeroPaddedStream) {
    run_model(multi_member_input(true), GetParam() + 1000, 3000);
}

TEST_P(SeekModel, PlainStream) { run_model(plain_input(), GetParam() + 2000, 3000); }

INSTANTIATE_TEST_SUITE_P(Seeds, SeekModel, ::testing::Values(1u, 2u, 3u));

// The same random sequences over streams of several MiB, with access points
// as usual, none at all, at every block end, and thinned to fit little memory.
class IndexedSeekModel : public ::testing::TestWithParam<std::tuple<Points, std::uint32_t>> {};

int steps_for(Points points) {
    // Without points every backward seek inflates from the start.
    return points == Points::none ? 300 : 1500;
}

TEST_P(IndexedSeekModel, SmallMembers) {
    const auto [points, seed] = GetParam();
    run_model(multi_member_input(true), seed + 3000, 3000, points);
}

TEST_P(IndexedSeekModel, BigMember) {
    const auto [points, seed] = GetParam();
    static const Input in = big_single_member_input();
    run_model(in, seed + 4000, steps_for(points), points);
}

TEST_P(IndexedSeekModel, BigMembers) {
    const auto [points, seed] = GetParam();
    static const Input in = big_multi_member_input();
    run_model(in, seed + 5000, steps_for(points), points);
}

INSTANTIATE_TEST_SUITE_P(Points, IndexedSeekModel,
                         ::testing::Combine(::testing::Values(Points::usual, Points::none,
                                                              Points::every_block, Points::thinned),
                                            ::testing::Values(1u, 2u)));

}  // namespace
}  // namespace zpress_test
