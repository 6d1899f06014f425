// The deflate tracer that finds the window bytes an access point's data
// copy: its answer must be exactly the engine's on every stream the engine
// decodes, and where it gives up, the engine's answer must come back.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "deflate_trace.h"
#include "gz_index.h"
#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

struct Place {
    gz_off_t in;
    int bits;
    unsigned window_size;
};

// Every block end of `stream` that the index notes.
std::vector<Place> places_of(const Bytes& stream) {
    GzPtr h = open_bytes(stream);
    std::vector<Place> places;
    if (!h || !index_configure(h.get(), 1, kIndexMemoryLimit) || gzindex_build(h.get()) != 0) {
        ADD_FAILURE() << "no index";
        return places;
    }
    for (const access_point& p : index_of(h.get())->points())
        places.push_back({p.in, p.bits, p.window_size});
    return places;
}

access_point point_at(const Place& place) {
    access_point p;
    p.in = place.in;
    p.bits = place.bits;
    p.window_size = place.window_size;
    return p;
}

Bytes engine_map(int fd, gz_off_t size, const access_point& p) {
    Bytes used(kWindowSize, 2);
    EXPECT_EQ(mark_used_window_bytes_by_engine(fd, size, p, used.data()), 0);
    used.resize(p.window_size);
    return used;
}

// How many places the tracer followed to the end; every answer, traced or
// not, is the engine's.
std::size_t traced_like_the_engine(const Bytes& stream, const std::vector<Place>& places) {
    const int fd = memfd_with(stream);
    const auto size = static_cast<gz_off_t>(stream.size());
    std::size_t traced = 0;
    Bytes used(kWindowSize);
    for (const Place& place : places) {
        const access_point p = point_at(place);
        const Bytes expected = engine_map(fd, size, p);
        if (trace_window_use(fd, size, first_byte(p), p.bits, p.window_size, used.data())) {
            ++traced;
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), used.begin()))
                << "traced differently at " << p.in << "/" << p.bits;
        }
        std::fill(used.begin(), used.end(), 2);
        EXPECT_EQ(mark_used_window_bytes(fd, size, p, used.data()), 0);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), used.begin()))
            << "not the engine's answer at " << p.in << "/" << p.bits;
    }
    ::close(fd);
    return traced;
}

// Written through the stream layer in pieces, with flushes of every kind
// (empty stored blocks, fixed blocks ending inside a byte) and changes of
// level and strategy between them, then a small second member.
Bytes flushed_members(const Bytes& plain, std::uint32_t seed) {
    const int fd = memfd_with({});
    const int keep = ::dup(fd);
    GzPtr h(gzdopen(fd, "wb"));
    EXPECT_TRUE(h);
    std::mt19937 rng(seed);
    for (std::size_t at = 0; h && at < plain.size();) {
        const std::size_t n = std::min<std::size_t>(plain.size() - at, 1 + rng() % 30000);
        EXPECT_EQ(gzwrite(h.get(), plain.data() + at, static_cast<unsigned>(n)),
                  static_cast<int>(n));
        at += n;
        const auto pick = rng() % 6;
        if (pick < 3) {
            EXPECT_EQ(gzflush(h.get(), static_cast<int>(pick) + 1), Z_OK);
        } else if (pick == 3) {
            const auto level = static_cast<int>(rng() % 10);
            EXPECT_EQ(gzsetparams(h.get(), level, static_cast<int>(rng() % 4)), Z_OK);
        }
    }
    EXPECT_EQ(close_handle(h), 0);
    Bytes stream = file_contents(keep);
    ::close(keep);
    const Bytes tail = gzip_member(make_data(DataKind::text, 3000, seed));
    stream.insert(stream.end(), tail.begin(), tail.end());
    return stream;
}

TEST(WindowTrace, AgreesWithTheEngineAtEveryPlaceOfEveryKindOfStream) {
    struct Case {
        std::string name;
        Bytes stream;
    };
    std::vector<Case> cases;
    std::uint32_t seed = 40;
    auto two_members = [&](DataKind kind, std::size_t size, int level, int strategy) {
        MemberParts how = MemberParts{}.with_level(level).with_strategy(strategy);
        Bytes stream = gzip_member(make_data(kind, size, ++seed), how);
        const Bytes second = gzip_member(make_data(kind, size / 3, ++seed), how);
        stream.insert(stream.end(), second.begin(), second.end());
        cases.push_back({to_string(kind) + " level " + std::to_string(level) + " strategy " +
                             std::to_string(strategy),
                         stream});
    };
    for (DataKind kind : {DataKind::text, DataKind::binary, DataKind::mixed})
        for (int level = 1; level <= 9; ++level)
            two_members(kind, 200000, level, kStrategyDefault);
    for (DataKind kind : {DataKind::random, DataKind::runs, DataKind::zeros})
        two_members(kind, 200000, 6, kStrategyDefault);
    for (int strategy : {kStrategyFiltered, kStrategyHuffmanOnly, kStrategyRle, kStrategyFixed})
        for (DataKind kind : {DataKind::text, DataKind::binary})
            two_members(kind, 150000, strategy == kStrategyRle ? 9 : 4, strategy);
    two_members(DataKind::text, 100000, 0, kStrategyDefault);  // stored blocks only
    cases.push_back({"flushed text", flushed_members(make_data(DataKind::text, 400000, 7), 7)});
    cases.push_back({"flushed mixed", flushed_members(make_data(DataKind::mixed, 400000, 8), 8)});

    std::size_t all = 0, short_windows = 0, inside_bytes = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Place> places = places_of(c.stream);
        all += places.size();
        // Data the engine decodes are traced to their end, every time.
        EXPECT_EQ(traced_like_the_engine(c.stream, places), places.size());
        for (const Place& place : places) {
            short_windows += place.window_size < kWindowSize ? 1 : 0;
            inside_bytes += place.bits != 0 ? 1 : 0;
        }
    }
    EXPECT_GT(all, 200u);
    EXPECT_GT(short_windows, 20u);
    EXPECT_GT(inside_bytes, 20u);
}

// A window shorter than the matches reach (the engine refuses the match),
// damaged data and data cut short after a place: the engine's answer,
// whether the tracer gave up or followed data that still decode.
TEST(WindowTrace, ShortWindowsDamageAndCutsGiveTheEnginesAnswer) {
    const Bytes stream = flushed_members(make_data(DataKind::text, 300000, 3), 3);
    std::vector<Place> places = places_of(stream);
    ASSERT_GE(places.size(), 6u);
    std::vector<Place> short_windows = places;
    for (Place& place : short_windows) place.window_size /= 7;
    EXPECT_LT(traced_like_the_engine(stream, short_windows), places.size());

    std::mt19937 rng(5);
    std::size_t traced = 0, trials = 0;
    for (const Place& place : places) {
        for (int round = 0; round < 8; ++round, ++trials) {
            const std::size_t from = static_cast<std::size_t>(first_byte(point_at(place)));
            Bytes damaged = stream;
            if (round % 4 == 3) {
                damaged.resize(std::min(damaged.size(), from + rng() % 6000));
            } else {
                const std::size_t at = from + rng() % (round % 2 == 0 ? 64 : 4000);
                if (at < damaged.size()) damaged[at] ^= static_cast<unsigned char>(1u << rng() % 8);
            }
            traced += traced_like_the_engine(damaged, {place});
        }
    }
    EXPECT_LT(traced, trials);  // the fallback was needed ...
    EXPECT_GT(traced, 0u);      // ... and some damage still decodes
}

// Deflate data written bit by bit, for codes no common encoder makes.
class BitWriter {
  public:
    void bits(unsigned value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) bit((value >> i) & 1u);
    }
    // A Huffman code goes first bit highest.
    void code(unsigned value, unsigned length) {
        while (length-- != 0) bit((value >> length) & 1u);
    }
    void align() { bits(0, (8 - used_) % 8); }
    Bytes finish() {
        if (used_ != 0) out_.push_back(static_cast<unsigned char>(byte_));
        return out_;
    }

  private:
    void bit(unsigned b) {
        byte_ |= b << used_;
        if (++used_ == 8) {
            out_.push_back(static_cast<unsigned char>(byte_));
            byte_ = used_ = 0;
        }
    }
    Bytes out_;
    unsigned byte_ = 0, used_ = 0;
};

std::vector<unsigned> canonical_codes(const std::vector<unsigned>& lengths) {
    std::vector<unsigned> codes(lengths.size());
    unsigned code = 0;
    for (unsigned len = 1; len <= 15; code <<= 1, ++len)
        for (std::size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len) codes[s] = code++;
    return codes;
}

struct Symbol {
    unsigned lit;  // literal/length symbol
    unsigned extra = 0, extra_bits = 0;
    int dist = -1;  // distance symbol after a length
    unsigned dist_extra = 0, dist_extra_bits = 0;
};

// One dynamic block.  The code lengths are sent one by one, except that
// with `zeros` the last 11 (which must be 0) go as one run of `zeros`; with
// `repeat_first` the first three (0) go as a repeat of the length before.
void dynamic_block(BitWriter& w, bool last, const std::vector<unsigned>& lit,
                   const std::vector<unsigned>& dist, const std::vector<Symbol>& symbols,
                   unsigned zeros = 0, bool repeat_first = false) {
    w.bits(last ? 1 : 0, 1);
    w.bits(2, 2);
    w.bits(static_cast<unsigned>(lit.size()) - 257, 5);
    w.bits(static_cast<unsigned>(dist.size()) - 1, 5);
    w.bits(19 - 4, 4);
    std::vector<unsigned> code_lengths(19, 4);  // 0-14 four bits, 16 and 18 five
    code_lengths[16] = code_lengths[18] = 5;
    code_lengths[15] = code_lengths[17] = 0;
    static const unsigned kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                        11, 4,  12, 3, 13, 2, 14, 1, 15};
    for (unsigned s : kOrder) w.bits(code_lengths[s], 3);
    const std::vector<unsigned> length_codes = canonical_codes(code_lengths);
    std::vector<unsigned> all = lit;
    all.insert(all.end(), dist.begin(), dist.end());
    if (zeros != 0) all.resize(all.size() - 11);
    if (repeat_first) {  // in place of the first three (0)
        w.code(length_codes[16], code_lengths[16]);
        w.bits(0, 2);
        all.erase(all.begin(), all.begin() + 3);
    }
    for (unsigned len : all) w.code(length_codes[len], code_lengths[len]);
    if (zeros != 0) {
        w.code(length_codes[18], code_lengths[18]);
        w.bits(zeros - 11, 7);
    }
    const std::vector<unsigned> lit_codes = canonical_codes(lit), dist_codes = canonical_codes(dist);
    for (const Symbol& s : symbols) {
        w.code(lit_codes[s.lit], lit[s.lit]);
        w.bits(s.extra, s.extra_bits);
        if (s.dist < 0) continue;
        const auto d = static_cast<std::size_t>(s.dist);
        w.code(dist_codes[d], dist[d]);
        w.bits(s.dist_extra, s.dist_extra_bits);
    }
}

// Codes the engine takes though they are incomplete (one one-bit code, no
// distance code at all) are traced; over-subscribed and incomplete ones it
// refuses are left to it.
TEST(WindowTrace, OddCodesAreTracedAsTheEngineTakesThem) {
    std::vector<unsigned> lit(257, 0);
    std::vector<unsigned> only_end = lit;
    only_end[256] = 1;  // a one-bit code for the end of the block alone
    lit.resize(260, 0);
    lit['a'] = 1;
    lit[256] = 2;
    lit[259] = 2;  // a match of 5
    const std::vector<unsigned> one_distance = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};  // 49-64
    const std::vector<unsigned> no_distance = {0};
    const std::vector<Symbol> copies = {{259, 0, 0, 11, 5, 4}, {'a'}, {259, 0, 0, 11, 15, 4}, {256}};

    struct Case {
        const char* name;
        Bytes data;
        bool traced;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, bool traced, auto&& write) {
        BitWriter w;
        write(w);
        cases.push_back({name, w.finish(), traced});
    };
    add("single codes", true, [&](BitWriter& w) {
        dynamic_block(w, false, only_end, no_distance, {{256}});
        dynamic_block(w, true, lit, one_distance, copies);
    });
    add("the unused half of a one-bit code", false, [&](BitWriter& w) {
        dynamic_block(w, false, lit, one_distance, {{'a'}});
        w.code(0b11, 2);  // a match of 5 ('a' is 0, the end 10) ...
        w.bits(1, 1);     // ... with the distance code that does not exist
        w.bits(0, 16);
    });
    add("a match but no distance code", false, [&](BitWriter& w) {
        dynamic_block(w, true, lit, no_distance, {{'a'}, {259}});
        w.bits(0, 16);
    });
    std::vector<unsigned> over = lit;
    over['b'] = 1;
    add("over-subscribed", false,
        [&](BitWriter& w) { dynamic_block(w, true, over, one_distance, {{'a'}, {256}}); });
    std::vector<unsigned> gap = lit;
    gap[259] = 3;
    add("incomplete", false,
        [&](BitWriter& w) { dynamic_block(w, true, gap, one_distance, {{'a'}, {256}}); });

    add("a repeat before any length", false, [&](BitWriter& w) {
        dynamic_block(w, true, lit, one_distance, copies, 0, true);
    });
    for (bool damaged : {false, true}) {
        add(damaged ? "stored lengths that disagree" : "stored", !damaged, [&](BitWriter& w) {
            w.bits(0, 3);
            w.align();
            w.bits(3, 16);
            w.bits(damaged ? 0xFFFD : 0xFFFC, 16);
            w.bits('s' | 't' << 8 | 'o' << 16, 24);
            dynamic_block(w, true, lit, one_distance, copies);
        });
    }
    std::vector<unsigned> spread = one_distance;
    spread.resize(30, 0);
    add("a run of zero lengths to the last", true,
        [&](BitWriter& w) { dynamic_block(w, true, lit, spread, copies, 11); });
    add("a run of zero lengths past the last", false,
        [&](BitWriter& w) { dynamic_block(w, true, lit, spread, copies, 12); });
    spread.resize(31, 0);
    add("31 distance codes", false,
        [&](BitWriter& w) { dynamic_block(w, true, lit, spread, copies); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (unsigned window : {100u, kWindowSize}) {
            const std::vector<Place> place = {{0, 0, window}};
            EXPECT_EQ(traced_like_the_engine(c.data, place), c.traced ? 1u : 0u);
        }
    }
}

}  // namespace
}  // namespace zpress_test
