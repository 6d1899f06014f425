// The deflate tracer that finds the window bytes an access point's data
// copy: its answer must be exactly the engine's on every stream the engine
// decodes, and where it gives up, the engine's answer must come back.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

// How many places the tracer followed to the end; every answer, traced or
// not, must be the engine's.
std::size_t traced_like_the_engine(const Bytes& stream, const std::vector<Place>& places) {
    const int fd = memfd_with(stream);
    const auto size = static_cast<gz_off_t>(stream.size());
    std::size_t traced = 0;
    Bytes expected(kWindowSize), used(kWindowSize);
    for (const Place& place : places) {
        access_point p;
        p.in = place.in;
        p.bits = place.bits;
        p.window_size = place.window_size;
        const auto same = [&] {
            return std::equal(used.begin(), used.begin() + p.window_size, expected.begin());
        };
        std::fill(expected.begin(), expected.end(), 2);
        EXPECT_EQ(mark_used_window_bytes_by_engine(fd, size, p, expected.data()), 0);
        if (trace_window_use(fd, size, first_byte(p), p.bits, p.window_size, used.data())) {
            ++traced;
            EXPECT_TRUE(same()) << "traced differently at " << p.in << "/" << p.bits;
        }
        std::fill(used.begin(), used.end(), 2);
        EXPECT_EQ(mark_used_window_bytes(fd, size, p, used.data()), 0);
        EXPECT_TRUE(same()) << "not the engine's answer at " << p.in << "/" << p.bits;
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
        for (int level = 1; level <= 9; ++level) two_members(kind, 200000, level, kStrategyDefault);
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
            const auto from = static_cast<std::size_t>(place.in - (place.bits != 0 ? 1 : 0));
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
struct BitWriter {
    Bytes out;
    unsigned used = 8;  // bits of the last byte
    void bit(unsigned b) {
        if (used == 8) out.push_back(0), used = 0;
        out.back() = static_cast<unsigned char>(out.back() | b << used++);
    }
    void bits(unsigned value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) bit(value >> i & 1u);
    }
    void code(unsigned value, unsigned length) {  // first bit highest
        while (length-- != 0) bit(value >> length & 1u);
    }
};

// A dynamic block's header.  Code lengths 0-14 are sent as four-bit codes
// (the length itself), repeats of the previous length (16) as 11110 and runs
// of zeros (18) as 11111: with `zeros` the last 11 lengths (0) go as one run
// of `zeros`, with `repeat_first` the first three (0) as a repeat.
void dynamic_header(BitWriter& w, bool last, const std::vector<unsigned>& lit,
                    const std::vector<unsigned>& dist, unsigned zeros = 0,
                    bool repeat_first = false) {
    w.bits(last ? 5 : 4, 3);
    w.bits(static_cast<unsigned>(lit.size()) - 257, 5);
    w.bits(static_cast<unsigned>(dist.size()) - 1, 5);
    w.bits(19 - 4, 4);
    for (unsigned s :
         {16u, 17u, 18u, 0u, 8u, 7u, 9u, 6u, 10u, 5u, 11u, 4u, 12u, 3u, 13u, 2u, 14u, 1u, 15u})
        w.bits(s < 15 ? 4 : s == 16 || s == 18 ? 5 : 0, 3);
    std::vector<unsigned> all = lit;
    all.insert(all.end(), dist.begin(), dist.end());
    if (repeat_first) {
        w.code(0b11110, 5);
        w.bits(0, 2);
        all.erase(all.begin(), all.begin() + 3);
    }
    if (zeros != 0) all.resize(all.size() - 11);
    for (unsigned len : all) w.code(len, 4);
    if (zeros != 0) {
        w.code(0b11111, 5);
        w.bits(zeros - 11, 7);
    }
}

// Codes the engine takes though they are incomplete (one one-bit code, no
// distance code at all) are traced; codes and lengths it refuses are left to
// it.
TEST(WindowTrace, OddCodesAreTracedAsTheEngineTakesThem) {
    std::vector<unsigned> only_end(257, 0);
    only_end[256] = 1;
    std::vector<unsigned> lit(260, 0);  // 'a' 0, the end 10, a match of 5 11
    lit['a'] = 1;
    lit[256] = lit[259] = 2;
    std::vector<unsigned> dist(30, 0);  // one code, 0, for distances 49-64
    dist[11] = 1;
    const std::vector<unsigned> no_dist = {0};
    std::vector<unsigned> over = lit, no_end = lit, gap = dist, dist31 = dist;
    over['b'] = 1;
    gap[12] = 2;            // 0, 10, and 11 unused
    no_end.resize(286, 0);  // 'a' 0, a match of 258 1
    no_end[256] = no_end[259] = 0;
    no_end[285] = 1;
    dist31.push_back(0);
    // Matches of 5 from 54 and 64 bytes before the point, a literal between.
    const auto body = [](BitWriter& w) {
        w.code(0b11, 2), w.code(0, 1), w.bits(5, 4);
        w.code(0, 1);
        w.code(0b11, 2), w.code(0, 1), w.bits(15, 4);
        w.code(0b10, 2);
    };
    const auto stored = [](BitWriter& w, unsigned check) {
        w.bits(0, 3);
        w.used = 8;
        w.bits(3, 16), w.bits(check, 16), w.bits(0x6F7473, 24);
    };
    struct Case {
        const char* name;
        bool traced;
        std::function<void(BitWriter&)> write;
    };
    const std::vector<Case> cases = {
        {"single codes", true,
         [&](BitWriter& w) {
             dynamic_header(w, false, only_end, no_dist);
             w.code(0, 1);
             dynamic_header(w, true, lit, dist);
             body(w);
         }},
        {"the unused half of a one-bit code", false,
         [&](BitWriter& w) {
             dynamic_header(w, true, lit, dist);
             w.code(0b11, 2), w.code(1, 1), w.bits(0, 16);
         }},
        {"a match without distance codes", false,
         [&](BitWriter& w) {
             dynamic_header(w, true, lit, no_dist);
             w.code(0b11, 2), w.bits(0, 16);
         }},
        {"over-subscribed", false,
         [&](BitWriter& w) { dynamic_header(w, true, over, dist), body(w); }},
        {"incomplete", false, [&](BitWriter& w) { dynamic_header(w, true, lit, gap), body(w); }},
        {"31 distance codes", false,
         [&](BitWriter& w) { dynamic_header(w, true, lit, dist31), body(w); }},
        {"no end-of-block code", false,
         [&](BitWriter& w) {
             dynamic_header(w, true, no_end, dist);
             w.code(0, 1);
             for (int i = 0; i < 130; ++i) w.code(1, 1), w.code(0, 1), w.bits(0, 4);
         }},
        {"length code 286 in a fixed block", false,
         [&](BitWriter& w) { w.bits(3, 3), w.code(0b11000110, 8), w.bits(0, 5 + 7); }},
        {"a run of zeros to the last length", true,
         [&](BitWriter& w) { dynamic_header(w, true, lit, dist, 11), body(w); }},
        {"a run of zeros past the last length", false,
         [&](BitWriter& w) { dynamic_header(w, true, lit, dist, 12), body(w); }},
        {"a repeat before any length", false,
         [&](BitWriter& w) { dynamic_header(w, true, lit, dist, 0, true), body(w); }},
        {"stored", true,
         [&](BitWriter& w) { stored(w, 0xFFFC), dynamic_header(w, true, lit, dist), body(w); }},
        {"stored lengths that disagree", false,
         [&](BitWriter& w) { stored(w, 0xFFFD), dynamic_header(w, true, lit, dist), body(w); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitWriter w;
        c.write(w);
        if (!c.traced) w.bits(0, 16);  // what follows the damage matters not
        for (unsigned window : {100u, kWindowSize})
            EXPECT_EQ(traced_like_the_engine(w.out, {{0, 0, window}}), c.traced ? 1u : 0u);
    }
}

}  // namespace
}  // namespace zpress_test
