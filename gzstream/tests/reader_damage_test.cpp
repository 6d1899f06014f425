// Every truncation point and every single-bit flip of a few small streams:
// the reader must either report an error (a negative gzread, and then a
// non-zero gzclose) or deliver exactly the original bytes.  Never a crash, never short
// or altered output passed off as a success.  Before an error it delivers
// exactly what zlib's inflate gives from the same input: every byte that
// decodes before a cut or damage, in every split of the reads.
//
// A few damages change what the input legitimately is, and are checked for
// that exact meaning instead: without its first magic byte(s) the input is
// plain data delivered verbatim, and a stream cut right before its second
// member is a valid one-member stream.  Damage to the second member's magic
// leaves bytes after the first member that are neither a member nor zero
// padding: an error like any other.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

struct Sample {
    std::string name;
    Bytes stream;
    Bytes plain;
    std::size_t second_member_at = 0;  // 0: a single member
    Bytes first_member_plain;
};

struct Tally {
    int cases = 0;
    int errors = 0;
    int exact = 0;
};

enum class Verdict { error, success };

struct Result {
    Verdict verdict;
    Bytes data;
};

Result read_damaged(const Bytes& input, std::size_t chunk) {
    GzPtr h = open_bytes(input);
    if (h == nullptr) return {Verdict::error, {}};
    const ReadOutcome r = read_to_end(h.get(), chunk);
    const int closed = close_handle(h);
    // An error seen by gzread must also come out of the close, and damage
    // must come out of gzread itself: a caller that stops at 0 must never
    // take a damaged stream for a complete one.
    EXPECT_TRUE(r.last == 0 || closed < 0) << "gzread failed but gzclose gave " << closed;
    EXPECT_TRUE(closed == 0 || r.last < 0) << "gzread ended with 0, gzclose gave " << closed;
    return {r.last < 0 || closed != 0 ? Verdict::error : Verdict::success, r.data};
}

// Checks one damaged input; `meaning` is set when the damage turns the input
// into another valid input with a known result.
void check(const Sample& s, const Bytes& input, const Bytes* meaning, std::size_t index,
           const std::string& what, Tally& tally) {
    static constexpr std::size_t chunks[] = {4096, 1, 7, 100};
    const Result r = read_damaged(input, chunks[index % 4]);
    ++tally.cases;
    if (meaning != nullptr) {
        EXPECT_EQ(r.verdict, Verdict::success) << s.name << ": " << what;
        EXPECT_EQ(r.data, *meaning) << s.name << ": " << what;
        ++tally.exact;
        return;
    }
    if (r.verdict == Verdict::error) {
        ++tally.errors;
        EXPECT_EQ(r.data, inflate_gzip_tolerant(input, 1u << 20).data)
            << s.name << ": " << what << ", read in " << chunks[index % 4] << "-byte calls";
        return;
    }
    EXPECT_EQ(r.data, s.plain) << s.name << ": " << what << " passed as success";
    ++tally.exact;
}

Tally sweep(const Sample& s) {
    Tally tally;
    const std::size_t size = s.stream.size();
    const std::size_t second = s.second_member_at;
    for (std::size_t cut = 0; cut < size; ++cut) {
        const Bytes input(s.stream.begin(), s.stream.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes* meaning = nullptr;
        if (cut < 2) meaning = &input;  // empty, or one byte of plain data
        if (second != 0 && cut == second) meaning = &s.first_member_plain;
        check(s, input, meaning, cut, "cut at " + std::to_string(cut), tally);
    }
    for (std::size_t at = 0; at < size; ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes input = s.stream;
            input[at] ^= static_cast<unsigned char>(1u << bit);
            const Bytes* meaning = nullptr;
            if (at < 2) meaning = &input;
            check(s, input, meaning, at * 8 + static_cast<std::size_t>(bit),
                  "flip of bit " + std::to_string(bit) + " at " + std::to_string(at), tally);
        }
    }
    return tally;
}

Sample single(std::string name, Bytes plain, const MemberParts& parts, int block_type) {
    Sample s{std::move(name), gzip_member(plain, parts), plain, 0, {}};
    const Bytes body = raw_deflate(plain, parts.level, parts.strategy);
    EXPECT_EQ(first_block_type(body), block_type) << s.name;
    return s;
}

class DamageSweep : public ::testing::Test {
  protected:
    static void TearDownTestSuite() {
        std::printf("damage sweep total: %d cases, %d errors, %d exact\n", total_.cases,
                    total_.errors, total_.exact);
    }
    void run(const Sample& s) {
        const Tally t = sweep(s);
        std::printf("damage sweep %s (%zu bytes): %d cases, %d errors, %d exact\n", s.name.c_str(),
                    s.stream.size(), t.cases, t.errors, t.exact);
        RecordProperty("cases", t.cases);
        RecordProperty("errors", t.errors);
        RecordProperty("exact", t.exact);
        EXPECT_GT(t.errors, t.cases / 2);  // most damage must be caught, not shrugged off
        total_.cases += t.cases;
        total_.errors += t.errors;
        total_.exact += t.exact;
    }
    static inline Tally total_;
};

TEST_F(DamageSweep, StoredBlock) {
    run(single("stored", make_data(DataKind::text, 200, 1), MemberParts{}.with_level(0), 0));
}

TEST_F(DamageSweep, FixedHuffman) {
    run(single("fixed", make_data(DataKind::text, 300, 2),
               MemberParts{}.with_strategy(kStrategyFixed), 1));
}

TEST_F(DamageSweep, DynamicHuffman) {
    run(single("dynamic", make_data(DataKind::text, 600, 3), MemberParts{}.with_level(9), 2));
}

TEST_F(DamageSweep, AllOptionalHeaderFields) {
    const HeaderParts header = HeaderParts{}
                                   .with_flags(0x1E)
                                   .with_extra(bytes_of("XY\x02\x00ab"))
                                   .with_name("n.txt")
                                   .with_comment("hi");
    run(single("all fields", make_data(DataKind::text, 150, 4),
               MemberParts{}.with_header(header).with_level(9), 2));
}

TEST_F(DamageSweep, TwoMembers) {
    const Bytes a = make_data(DataKind::text, 120, 5);
    const Bytes b = make_data(DataKind::text, 250, 6);
    const Bytes first = gzip_member(
        a, MemberParts{}.with_header(HeaderParts{}.with_flags(0)).with_strategy(kStrategyFixed));
    Sample s{"two members", concat({first, gzip_member(b, MemberParts{}.with_level(9))}),
             concat({a, b}), first.size(), a};
    run(s);
}

// A short stream of long matches (53 bytes): a read that fills its buffer
// inside a match leaves the rest of the match in the engine.  Cut anywhere
// and read in two calls split at every place, it gives all that inflate
// gives from the cut input, then -1.
TEST(CutStream, EveryDecodableByteInEverySplit) {
    const Bytes plain = bytes_of("The quick brown fox " + std::string(700, 'x') + " jumps\n");
    const Bytes stream = gzip_member(plain, MemberParts{}.with_header(HeaderParts{}.with_flags(0)));
    for (std::size_t cut = 10; cut < stream.size(); ++cut) {
        const Bytes input(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes want = inflate_gzip_tolerant(input, 1u << 20).data;
        for (std::size_t first = 1; first <= want.size(); ++first) {
            GzPtr h = open_bytes(input);
            Bytes got(first);
            ASSERT_EQ(gzread(h.get(), got.data(), static_cast<unsigned>(first)),
                      static_cast<int>(first));
            const ReadOutcome rest = read_to_end(h.get(), 4096);
            got.insert(got.end(), rest.data.begin(), rest.data.end());
            ASSERT_EQ(got, want) << "cut at " << cut << ", first read " << first;
            ASSERT_EQ(rest.last, -1);
        }
    }
}

}  // namespace
}  // namespace zpress_test
