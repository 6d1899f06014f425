// The reader on hand-built inputs: plain data, members and their optional
// fields, damaged headers, data and trailers, and when errors are reported.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

// Reads a whole input through a file path, so that error texts carry it.
class ReaderFormat : public ::testing::Test {
  protected:
    GzPtr open(const Bytes& input) {
        path_ = dir_.path("in.gz");
        write_file(path_, input);
        GzPtr h(gzopen(path_.c_str(), "rb"));
        EXPECT_NE(h, nullptr);
        return h;
    }
    std::string name_colon(const std::string& text) const { return path_ + ": " + text; }

    TempDir dir_;
    std::string path_;
};

// A member of stored data (level 0), whose deflate bytes map one to one onto
// the plain bytes: cutting it at a known place leaves known output.
struct StoredMember {
    Bytes plain;
    Bytes header;
    Bytes body;
    Bytes bytes;
};

StoredMember stored_member(std::size_t size) {
    StoredMember m;
    m.plain = make_data(DataKind::text, size, 3);
    m.header = gzip_header();
    m.body = raw_deflate(m.plain, 0);
    m.bytes = concat(
        {m.header, m.body, gzip_trailer(crc32_of(m.plain), static_cast<std::uint32_t>(size))});
    return m;
}

Bytes prefix(const Bytes& b, std::size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST_F(ReaderFormat, EmptyInputIsAnEmptyStream) {
    GzPtr h = open({});
    char buf[16];
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), 0);
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), 0);
    EXPECT_EQ(gzeof(h.get()), 1);
    int code = -9;
    error_of(h.get(), &code);
    EXPECT_GE(code, 0);
    EXPECT_EQ(close_handle(h), 0);
}

TEST_F(ReaderFormat, OneByteIsPassedThrough) {
    GzPtr h = open(bytes_of("A"));
    char buf[16];
    ASSERT_EQ(gzread(h.get(), buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], 'A');
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), 0);
    EXPECT_EQ(close_handle(h), 0);
}

// Plain data is copied byte for byte, also past the first buffer and when it
// starts with only half of the magic.
TEST_F(ReaderFormat, PlainDataIsPassedThroughUnchanged) {
    for (const Bytes& plain : {make_data(DataKind::text, 70000, 1),
                               concat({Bytes{0x1F, 0x8C}, make_data(DataKind::random, 40000, 2)}),
                               Bytes{0x1F, 0x00}, Bytes{0x8B, 0x1F}}) {
        for (std::size_t chunk : {1u, 1000u, 16384u, 100000u}) {
            if (chunk == 1 && plain.size() > 50000) continue;
            GzPtr h = open(plain);
            const ReadOutcome r = read_to_end(h.get(), chunk);
            EXPECT_EQ(r.last, 0);
            EXPECT_EQ(r.data, plain);
            EXPECT_EQ(gztell(h.get()), static_cast<gz_off_t>(plain.size()));
            EXPECT_EQ(close_handle(h), 0);
        }
    }
}

TEST_F(ReaderFormat, ConcatenatedMembersReadAsOneStream) {
    const Bytes a = make_data(DataKind::text, 20000, 1);
    const Bytes b = make_data(DataKind::mixed, 30000, 2);
    // An empty member in the middle must not end the stream.
    GzPtr h = open(
        concat({gzip_member(a), gzip_member({}), gzip_member(b, MemberParts{}.with_level(1))}));
    const ReadOutcome r = read_to_end(h.get(), 7000);
    EXPECT_EQ(r.last, 0);
    EXPECT_EQ(r.data, concat({a, b}));
    EXPECT_EQ(close_handle(h), 0);
}

// Zero bytes after the last member are padding, also past a buffer's worth.
TEST_F(ReaderFormat, ZeroPaddingAfterTheLastMemberIsIgnored) {
    const Bytes a = make_data(DataKind::text, 3000, 4);
    for (const std::size_t zeros : {1u, 512u, 300000u}) {
        GzPtr h = open(concat({gzip_member(a), Bytes(zeros, 0)}));
        const ReadOutcome r = read_to_end(h.get(), 1000);
        EXPECT_EQ(r.last, 0);
        EXPECT_EQ(r.data, a);
        EXPECT_EQ(gzeof(h.get()), 1);
        EXPECT_EQ(close_handle(h), 0);
    }
}

// Anything else after the last member may be a member whose magic was hit,
// or data appended by mistake: a data error, once the data before it has
// been delivered.  A header that starts there and is bad is one as well.
TEST_F(ReaderFormat, OtherBytesAfterTheLastMemberAreADataError) {
    const Bytes a = make_data(DataKind::text, 3000, 4);
    struct Case {
        Bytes tail;
        const char* reason;
    };
    const Case cases[] = {
        {{0x1F}, "trailing garbage"},
        {{0x1F, 0x8C}, "trailing garbage"},
        {bytes_of("garbage"), "trailing garbage"},
        {{0x8B, 0x1F, 0x8B}, "trailing garbage"},
        {concat({Bytes(200000, 0), bytes_of("x")}), "trailing garbage"},
        {concat({Bytes(10, 0), gzip_member(a)}), "trailing garbage"},
        {{0x1F, 0x8B, 0x07}, "data error"},
        {{0x1F, 0x8B}, "data error"},
        {{0x1F, 0x8B, 8}, "data error"},
    };
    for (const Case& c : cases) {
        GzPtr h = open(concat({gzip_member(a), c.tail}));
        Bytes buf(10000);
        ASSERT_EQ(gzread(h.get(), buf.data(), 10000), 3000);
        EXPECT_EQ(prefix(buf, 3000), a);
        EXPECT_EQ(gzread(h.get(), buf.data(), 10000), -1);
        int code = 0;
        EXPECT_EQ(error_of(h.get(), &code), name_colon(c.reason));
        EXPECT_EQ(code, Z_DATA_ERROR);
        EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
    }
}

TEST_F(ReaderFormat, BadFirstHeaderFailsTheFirstRead) {
    struct Case {
        unsigned char method;
        unsigned char flags;
    };
    for (const Case c : {Case{8, 0x20}, Case{8, 0x40}, Case{8, 0x88}, Case{7, 0x08}, Case{0, 0}}) {
        SCOPED_TRACE(int{c.flags});
        GzPtr h = open(concat({gzip_header(HeaderParts{}.with_flags(c.flags).with_method(c.method)),
                               raw_deflate(bytes_of("payload")),
                               gzip_trailer(crc32_of(bytes_of("payload")), 7)}));
        char buf[64];
        EXPECT_EQ(gzread(h.get(), buf, sizeof buf), -1);
        int code = 0;
        EXPECT_EQ(error_of(h.get(), &code), name_colon("data error"));
        EXPECT_EQ(code, Z_DATA_ERROR);
        EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
    }
}

// Extra field, name, comment and header CRC are skipped in that order, also
// when they are longer than one input buffer; the text flag is ignored.
TEST_F(ReaderFormat, OptionalHeaderFieldsAreSkipped) {
    const Bytes plain = make_data(DataKind::text, 5000, 6);
    const std::string long_name(30000, 'n');
    const Bytes long_extra = make_data(DataKind::random, 20000, 7);
    for (const HeaderParts& header : {
             HeaderParts{}
                 .with_flags(0x1E)
                 .with_extra(bytes_of("AB\x02\x00xy"))
                 .with_name("file.txt")
                 .with_comment("a comment"),
             HeaderParts{}.with_flags(0x1F).with_name(""),
             HeaderParts{}.with_flags(0x00),
             HeaderParts{}.with_flags(kFlagText),
             HeaderParts{}.with_flags(kFlagExtra).with_extra(long_extra),
             HeaderParts{}
                 .with_flags(kFlagName | kFlagComment)
                 .with_name(long_name)
                 .with_comment(long_name),
             HeaderParts{}.with_flags(kFlagHeaderCrc),
             // A checked header longer than one read of the file.
             HeaderParts{}
                 .with_flags(kFlagHeaderCrc | kFlagExtra | kFlagName)
                 .with_extra(make_data(DataKind::random, 65535, 10))
                 .with_name(std::string(70000, 'n')),
         }) {
        SCOPED_TRACE(int{header.flags});
        const Bytes member = gzip_member(plain, MemberParts{}.with_header(header));
        GzPtr h = open(concat({member, member}));
        const ReadOutcome r = read_to_end(h.get(), 3000);
        EXPECT_EQ(r.last, 0);
        EXPECT_EQ(r.data, concat({plain, plain}));
        EXPECT_EQ(close_handle(h), 0);
    }
}

// gzheader gives the first member's MTIME, FNAME and FCOMMENT; a text too
// long to keep is dropped whole, never cut short, and reading is unharmed.
TEST_F(ReaderFormat, FirstHeaderFieldsAreKept) {
    const Bytes plain = bytes_of("data");
    HeaderParts first = HeaderParts{}
                            .with_flags(0x1E)
                            .with_extra(bytes_of("ex"))
                            .with_name("a.txt")
                            .with_comment("note");
    first.mtime = 0xFEDCBA98;
    const std::string longest(GZ_HEADER_TEXT_MAX, 'n');
    const auto text = [](const char* t) {
        return t != nullptr ? std::optional<std::string>(t) : std::nullopt;
    };
    struct Case {
        HeaderParts header;
        int result;
        const char* name;
        const char* comment;
    };
    for (const Case& c : {
             Case{first, Z_OK, "a.txt", "note"},
             Case{HeaderParts{}.with_flags(0), Z_OK, nullptr, nullptr},
             Case{HeaderParts{}
                      .with_flags(kFlagName | kFlagComment)
                      .with_name("")
                      .with_comment(longest),
                  Z_OK, "", longest.c_str()},
             Case{HeaderParts{}
                      .with_flags(kFlagName | kFlagComment)
                      .with_name(longest + "n")
                      .with_comment("c"),
                  Z_BUF_ERROR, nullptr, "c"},
         }) {
        SCOPED_TRACE(int{c.header.flags});
        const Bytes member = gzip_member(plain, MemberParts{}.with_header(c.header));
        GzPtr h = open(concat({member, gzip_member(plain)}));
        gz_header_fields fields;
        ASSERT_EQ(gzheader(h.get(), &fields), c.result);
        EXPECT_EQ(fields.mtime, c.header.mtime);
        EXPECT_EQ(text(fields.name), text(c.name));
        EXPECT_EQ(text(fields.comment), text(c.comment));
        EXPECT_EQ(read_to_end(h.get(), 100).data, concat({plain, plain}));
        // The later member's header ("member") changes nothing.
        ASSERT_EQ(gzheader(h.get(), &fields), c.result);
        EXPECT_EQ(text(fields.name), text(c.name));
    }
    gz_header_fields fields;
    GzPtr h = open(bytes_of("plain text"));
    EXPECT_EQ(gzheader(h.get(), &fields), -1);
    GzPtr w(gzopen(dir_.path("w.gz").c_str(), "wb"));
    EXPECT_EQ(gzheader(w.get(), &fields), Z_STREAM_ERROR);
}

// The trailer's length (modulo 2^32) must match: the member's data is given,
// then the error, as for a wrong CRC.
TEST_F(ReaderFormat, WrongLengthInTrailerIsADataError) {
    const Bytes plain = make_data(DataKind::text, 4000, 8);
    for (const std::uint32_t isize : {12345u, 4000u + (1u << 31), 3999u}) {
        SCOPED_TRACE(isize);
        GzPtr h =
            open(concat({gzip_member(plain, MemberParts{}.with_isize(isize)), gzip_member(plain)}));
        const ReadOutcome r = read_to_end(h.get(), 1000);
        EXPECT_EQ(r.last, -1);
        EXPECT_EQ(r.data, plain);
        EXPECT_EQ(error_of(h.get()), name_colon("data error"));
        EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
    }
}

// A header whose CRC-16 does not match is damaged before any of its
// member's data: the first read fails at once, gzheader gives no field, and
// a later member's damaged header comes after the members before it.
TEST_F(ReaderFormat, WrongHeaderCrcIsADataErrorBeforeItsData) {
    const Bytes plain = make_data(DataKind::text, 3000, 9);
    const MemberParts checked =
        MemberParts{}.with_header(HeaderParts{}.with_flags(kFlagName | kFlagHeaderCrc));
    Bytes damaged = gzip_member(plain, checked);
    damaged[11] ^= 0x01;  // "member" becomes "mdmber"
    GzPtr h = open(damaged);
    gz_header_fields fields;
    EXPECT_EQ(gzheader(h.get(), &fields), Z_DATA_ERROR);
    char buf[100];
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), -1);
    EXPECT_EQ(close_handle(h), Z_DATA_ERROR);

    h = open(concat({gzip_member(plain, checked), damaged}));
    const ReadOutcome r = read_to_end(h.get(), 1000);
    EXPECT_EQ(r.last, -1);
    EXPECT_EQ(r.data, plain);
    EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
}

// The call that meets the bad CRC still gives its bytes; the next gives -1.
TEST_F(ReaderFormat, CrcMismatchIsReportedOnTheNextCall) {
    const Bytes plain = make_data(DataKind::text, 4000, 9);
    GzPtr h = open(gzip_member(plain, MemberParts{}.with_crc(crc32_of(plain) ^ 0x00010000u)));
    Bytes buf(10000);
    ASSERT_EQ(gzread(h.get(), buf.data(), 10000), 4000);
    EXPECT_EQ(prefix(buf, 4000), plain);
    EXPECT_EQ(gzread(h.get(), buf.data(), 10000), -1);
    EXPECT_EQ(gzread(h.get(), buf.data(), 10000), -1);
    EXPECT_EQ(gzgetc(h.get()), -1);
    EXPECT_EQ(error_of(h.get()), name_colon("data error"));
    EXPECT_EQ(gzeof(h.get()), 0);
    EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
}

// A member cut inside its deflate data is damaged, not finished: the bytes
// inflated so far arrive, then -1.
TEST_F(ReaderFormat, CutInsideDeflateDataIsAnError) {
    const StoredMember m = stored_member(1000);
    const std::size_t data_at = m.header.size() + 5;  // behind the stored block's header
    GzPtr h = open(prefix(m.bytes, data_at + 500));
    Bytes buf(4096);
    ASSERT_EQ(gzread(h.get(), buf.data(), 4096), 500);
    EXPECT_EQ(prefix(buf, 500), prefix(m.plain, 500));
    EXPECT_EQ(gzread(h.get(), buf.data(), 4096), -1);
    int code = 0;
    EXPECT_EQ(error_of(h.get(), &code), name_colon("unexpected end of file"));
    EXPECT_EQ(code, Z_DATA_ERROR);
    EXPECT_LT(close_handle(h), 0);
}

// gzclose does not read on: a cut-off file read only 4 KiB in met no damage
// and closes with 0; read to the cut, it closes with the error.
TEST_F(ReaderFormat, CloseReportsOnlyTheDamageMet) {
    const Bytes member = gzip_member(make_data(DataKind::text, 200000, 11));
    const Bytes cut = prefix(member, member.size() / 2);
    Bytes buf(4096);
    GzPtr h = open(cut);
    ASSERT_EQ(gzread(h.get(), buf.data(), 4096), 4096);
    EXPECT_EQ(close_handle(h), 0);
    h = open(cut);
    EXPECT_EQ(read_to_end(h.get(), 4096).last, -1);
    EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
}

// Cut where nothing can be inflated yet: the very call that meets the cut
// fails, since 0 would pass for the end of a complete stream.
TEST_F(ReaderFormat, CutBeforeAnyOutputFailsAtOnce) {
    const StoredMember m = stored_member(1000);
    for (std::size_t cut : {m.header.size(), m.header.size() + 3}) {
        GzPtr h = open(prefix(m.bytes, cut));
        char buf[64];
        EXPECT_EQ(gzread(h.get(), buf, sizeof buf), -1);
        EXPECT_EQ(gzread(h.get(), buf, sizeof buf), -1);
        EXPECT_LT(close_handle(h), 0);
    }
}

// Damage in the first deflate block: every read entry point fails at once
// and keeps failing until the error is cleared; never the 0 of an end.
TEST_F(ReaderFormat, DamagedFirstBlockFailsEveryRead) {
    const StoredMember m = stored_member(1000);
    Bytes bad_type = m.bytes;
    bad_type[m.header.size()] |= 0x06;  // block type 3 does not exist
    Bytes bad_length = m.bytes;
    bad_length[m.header.size() + 3] ^= 0x01;  // LEN and NLEN disagree
    for (const auto& [input, text] : {std::pair{bad_type, "invalid block type"},
                                      std::pair{bad_length, "invalid stored block lengths"}}) {
        SCOPED_TRACE(text);
        GzPtr h = open(input);
        char buf[100];
        for (unsigned len : {100u, 1u, 100u}) EXPECT_EQ(gzread(h.get(), buf, len), -1);
        EXPECT_EQ(gzgetc(h.get()), -1);
        EXPECT_EQ(gzgets(h.get(), buf, sizeof buf), nullptr);
        EXPECT_EQ(gzseek(h.get(), 10, 0), -1);
        int code = 0;
        EXPECT_EQ(error_of(h.get(), &code), name_colon(text));
        EXPECT_EQ(code, Z_DATA_ERROR);
        EXPECT_EQ(gzeof(h.get()), 0);
        EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
    }
}

TEST_F(ReaderFormat, CutInsideTrailerIsADataError) {
    const StoredMember m = stored_member(1000);
    const std::size_t trailer_at = m.bytes.size() - 8;
    for (std::size_t keep = 0; keep < 8; ++keep) {
        SCOPED_TRACE(keep);
        GzPtr h = open(prefix(m.bytes, trailer_at + keep));
        const ReadOutcome r = read_to_end(h.get(), 600);
        EXPECT_EQ(r.last, -1);
        EXPECT_EQ(r.data, m.plain);
        EXPECT_EQ(error_of(h.get()), name_colon("data error"));
        EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
    }
}

TEST_F(ReaderFormat, CutInsideHeaderIsADataError) {
    const Bytes member =
        gzip_member(bytes_of("xyz"), MemberParts{}.with_header(HeaderParts{}
                                                                   .with_flags(0x1E)
                                                                   .with_extra(bytes_of("ex"))
                                                                   .with_name("nm")
                                                                   .with_comment("cm")));
    const std::size_t header_size = 10 + 2 + 2 + 3 + 3 + 2;
    for (std::size_t cut = 2; cut < header_size; ++cut) {
        SCOPED_TRACE(cut);
        GzPtr h = open(prefix(member, cut));
        gz_header_fields fields;
        EXPECT_EQ(gzheader(h.get(), &fields), Z_DATA_ERROR);
        char buf[8];
        EXPECT_EQ(gzread(h.get(), buf, sizeof buf), -1);
        EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
    }
}

// The engine's own message reaches gzerror; the good data before the damage
// is delivered first.
TEST_F(ReaderFormat, CorruptDeflateDataGivesTheEngineMessage) {
    const Bytes plain = make_data(DataKind::text, 1000, 10);
    // A stored block that is not the last, then a block of the reserved type.
    Bytes body{0x00, 0xE8, 0x03, 0x17, 0xFC};
    body.insert(body.end(), plain.begin(), plain.end());
    body.push_back(0x07);
    GzPtr h = open(concat({gzip_header(), body, gzip_trailer(0, 0)}));
    Bytes buf(4096);
    ASSERT_EQ(gzread(h.get(), buf.data(), 4096), 1000);
    EXPECT_EQ(prefix(buf, 1000), plain);
    EXPECT_EQ(gzread(h.get(), buf.data(), 4096), -1);
    int code = 0;
    EXPECT_EQ(error_of(h.get(), &code), name_colon("invalid block type"));
    EXPECT_EQ(code, Z_DATA_ERROR);
    EXPECT_EQ(close_handle(h), Z_DATA_ERROR);
}

TEST_F(ReaderFormat, UnreadableFileIsAFileError) {
    GzPtr h(gzopen(dir_.path("").c_str(), "rb"));  // a directory: fopen works, fread fails
    ASSERT_NE(h, nullptr);
    char buf[8];
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), -1);
    int code = 0;
    EXPECT_EQ(error_of(h.get(), &code), dir_.path("") + ": file error");
    EXPECT_EQ(code, Z_ERRNO);
    EXPECT_EQ(close_handle(h), Z_ERRNO);
}

TEST_F(ReaderFormat, ZeroLengthReadsDeliverNothing) {
    GzPtr h = open(gzip_member(bytes_of("abc")));
    char buf[8];
    EXPECT_EQ(gzread(h.get(), buf, 0), 0);
    EXPECT_EQ(gzgetc(h.get()), 'a');
    ASSERT_EQ(gzungetc('Q', h.get()), 'Q');
    EXPECT_EQ(gzread(h.get(), buf, 0), 0);  // the handed-back byte waits
    EXPECT_EQ(gztell(h.get()), 0);
    EXPECT_EQ(gzread(h.get(), buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "Qbc");
    EXPECT_EQ(gzread(h.get(), buf, 0), 0);
    EXPECT_EQ(close_handle(h), 0);
}

TEST_F(ReaderFormat, LengthAboveIntMaxIsRefused) {
    GzPtr h = open(gzip_member(bytes_of("abc")));
    char buf[8];
    EXPECT_EQ(gzread(h.get(), buf, static_cast<unsigned>(INT_MAX) + 1u), Z_STREAM_ERROR);
    EXPECT_EQ(read_to_end(h.get(), 8).data, bytes_of("abc"));
    EXPECT_EQ(close_handle(h), 0);
}

// A handed-back byte is not counted into the CRC a second time, whatever its
// value: the member still verifies.
TEST_F(ReaderFormat, UngetcBeforeMemberEndKeepsCrcValid) {
    const Bytes plain = make_data(DataKind::text, 5000, 11);
    for (int replacement : {int{plain[99]}, int{'Z'}}) {
        GzPtr h = open(concat({gzip_member(plain), gzip_member(plain)}));
        Bytes buf(100);
        ASSERT_EQ(gzread(h.get(), buf.data(), 100), 100);
        ASSERT_EQ(gzungetc(replacement, h.get()), replacement);
        Bytes expected = concat({ByteView(plain).subspan(99), plain});
        expected[0] = static_cast<unsigned char>(replacement);
        const ReadOutcome r = read_to_end(h.get(), 777);
        EXPECT_EQ(r.last, 0);
        EXPECT_EQ(r.data, expected);
        EXPECT_EQ(close_handle(h), 0);
    }
}

TEST_F(ReaderFormat, ReadHandleErrorTextNamesTheFile) {
    GzPtr h = open(gzip_member(bytes_of("abc")));
    int code = 5;
    EXPECT_STREQ(gzerror(h.get(), &code), "");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(read_to_end(h.get(), 2).data, bytes_of("abc"));
    EXPECT_EQ(close_handle(h), 0);
}

}  // namespace
}  // namespace zpress_test
