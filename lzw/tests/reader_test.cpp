// zread: header handling, the decoding rules, stream ends, and failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include "lzw_test_util.h"
#include "mem_file.h"
#include "reference_lzw.h"
#include "seeded_rng.h"
#include "test_data.h"
#include "zpress/zopen.h"

namespace {

using lzw_test::decompress;
using lzw_test::fixed_size;
using zpress_test::Bytes;

Bytes as_bytes(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

TEST(ReaderHeader, WorkedExampleWithAndWithoutMagic) {
    const Bytes z = {0x1F, 0x9D, 0x90, 0x61, 0xC4, 0x00};
    const auto plain = decompress(z);
    EXPECT_EQ(plain.data, as_bytes("ab"));
    EXPECT_EQ(plain.last, 0);
    EXPECT_EQ(plain.info.zs_total_in, 6);
    EXPECT_EQ(plain.info.zs_total_out, 2);
    EXPECT_EQ(plain.info.reserved0, 0u);
    EXPECT_EQ(plain.info.reserved1, 0xFFFFFFFFu);
    EXPECT_EQ(plain.info.reserved2, 0u);

    const auto taken = decompress(z, fixed_size(16384), true);  // codec sees 90 61 C4 00
    EXPECT_EQ(taken.data, as_bytes("ab"));
    EXPECT_EQ(taken.info.zs_total_in, 6);
}

TEST(ReaderHeader, HeaderOnlyStreamsAreEmpty) {
    for (const bool gotmagic : {false, true}) {
        const auto d = decompress({0x1F, 0x9D, 0x90}, fixed_size(100), gotmagic);
        EXPECT_TRUE(d.data.empty());
        EXPECT_EQ(d.last, 0);
        EXPECT_EQ(d.calls, 1);
        EXPECT_EQ(d.info.zs_total_in, 3) << "gotmagic " << gotmagic;
        EXPECT_EQ(d.info.zs_total_out, 0);
    }
}

TEST(ReaderHeader, HeaderWithoutItsFlagsByteIsRefused) {
    // Also after a magic the caller took: an empty stream still has its flags.
    for (const bool gotmagic : {false, true}) {
        const auto d = decompress({0x1F, 0x9D}, fixed_size(100), gotmagic);
        EXPECT_EQ(d.last, -1) << "gotmagic " << gotmagic;
        EXPECT_EQ(d.error, EINVAL) << "gotmagic " << gotmagic;
        EXPECT_TRUE(d.data.empty());
    }
}

TEST(ReaderHeader, FlagsByte) {
    // Width 17 is refused, and the handle stays refused.
    lzw::lzw_handle* zs = lzw::z_open(
        zpress_test::memfd_with(Bytes{0x1F, 0x9D, 0x91, 0x61, 0xC4, 0x00}), "r", 0, 0, 0, 0);
    ASSERT_NE(zs, nullptr);
    unsigned char buf[16];
    errno = 0;
    EXPECT_EQ(lzw::zread(zs, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(lzw::zread(zs, buf, sizeof buf), -1);
    EXPECT_EQ(lzw::z_close(zs, nullptr), 0);

    // Bits 5 and 6 carry nothing.
    EXPECT_EQ(decompress({0x1F, 0x9D, 0xF0, 0x61, 0xC4, 0x00}).data, as_bytes("ab"));
}

TEST(ReaderHeader, WrongOrShortMagic) {
    for (const Bytes& z : {Bytes{0x1F, 0x8B, 0x08, 0x00}, Bytes{0x1F}, Bytes{}}) {
        const auto d = decompress(z);
        EXPECT_EQ(d.last, -1);
        EXPECT_EQ(d.error, EINVAL);
    }
}

TEST(ReaderHeader, CountZeroDoesNothing) {
    lzw::lzw_handle* zs = lzw::z_open(
        zpress_test::memfd_with(Bytes{0x1F, 0x9D, 0x90, 0x61, 0xC4, 0x00}), "r", 0, 0, 0, 0);
    ASSERT_NE(zs, nullptr);
    unsigned char buf[4];
    EXPECT_EQ(lzw::zread(zs, buf, 0), 0);  // must not consume the header
    EXPECT_EQ(lzw::zread(zs, buf, 4), 2);
    EXPECT_EQ(lzw::zread(zs, buf, 0), 0);
    EXPECT_EQ(lzw::zread(zs, buf, 4), 0);
    lzw::lzw_info info{};
    EXPECT_EQ(lzw::z_close(zs, &info), 0);
    EXPECT_EQ(info.zs_total_out, 2);
}

TEST(ReaderOpen, BadArgumentsAreRefused) {
    for (const char* mode : {"", "rw", "x", "rb", "W"}) {
        errno = 0;
        EXPECT_EQ(lzw::z_open(0, mode, 0, 0, 0, 0), nullptr) << mode;
        EXPECT_EQ(errno, EINVAL);
    }
    for (const int bits : {-1, 17, 32}) {
        errno = 0;
        EXPECT_EQ(lzw::z_open(0, "w", 0, bits, 0, 0), nullptr) << bits;
        EXPECT_EQ(errno, EINVAL);
    }
}

TEST(ReaderCodes, NoBlockModeMakes256AnEntry) {
    // Codes a, a, 256: without block mode 256 is the first entry, "aa".
    EXPECT_EQ(decompress(lzw_ref::pack_codes(0x10, {'a', 'a', 256})).data, as_bytes("aaaa"));
    // With block mode the same code clears the table.
    EXPECT_EQ(decompress(lzw_ref::pack_codes(0x90, {'a', 'a', 256, 'b', 'c'})).data,
              as_bytes("aabc"));
}

TEST(ReaderCodes, ClearCodeLast) {
    lzw::lzw_handle* zs = lzw::z_open(
        zpress_test::memfd_with(lzw_ref::pack_codes(0x90, {'a', 'b', 256})), "r", 0, 0, 0, 0);
    ASSERT_NE(zs, nullptr);
    unsigned char buf[16];
    EXPECT_EQ(lzw::zread(zs, buf, sizeof buf), 2);
    EXPECT_EQ(lzw::zread(zs, buf, sizeof buf), 0);
    EXPECT_EQ(lzw::z_close(zs, nullptr), 0);
}

TEST(ReaderCodes, CodeDefinedByItselfAndRuns) {
    // a, then 257 before it exists: "a" + "a" + "a".
    EXPECT_EQ(decompress(lzw_ref::pack_codes(0x90, {'a', 257})).data, as_bytes("aaa"));
    // 300 equal bytes from the writer use such codes throughout.
    const Bytes in(300, 'x');
    const Bytes z = lzw_test::compress(in, 16);
    EXPECT_EQ(z, lzw_ref::encode(in, 16));
    EXPECT_EQ(decompress(z).data, in);
    EXPECT_EQ(decompress(z, fixed_size(1)).data, in);
}

TEST(ReaderCodes, SmallAndNineBitWidths) {
    // Width 9: once 511 is defined the codes are 10 bits wide and stay so.
    const Bytes text = zpress_test::text_like(60000, 7);
    const Bytes z9 = lzw_ref::encode(text, 9);
    EXPECT_EQ(lzw_ref::decode(z9).widest, 10);
    EXPECT_EQ(decompress(z9).data, text);
    // Width 8 or less: no entries, every byte one 9-bit code.
    for (const int bits : {1, 8}) {
        const Bytes z = lzw_ref::encode(text, bits);
        const auto ref = lzw_ref::decode(z);
        EXPECT_EQ(ref.widest, 9);
        EXPECT_EQ(ref.codes, text.size() + static_cast<std::size_t>(ref.clears));
        EXPECT_EQ(decompress(z).data, text) << bits;
    }
}

// Decodes z and expects the damage to be found: -1 with EINVAL.  The call
// that meets it delivers nothing; earlier calls only what comes before it.
void expect_refused(const Bytes& z) {
    const auto ref = lzw_ref::decode(z);
    EXPECT_TRUE(ref.rejected);
    for (const int count : {1, 16384}) {
        const auto d = decompress(z, fixed_size(count));
        EXPECT_EQ(d.last, -1) << "count " << count;
        EXPECT_EQ(d.error, EINVAL);
        EXPECT_LE(d.data.size(), ref.data.size());
        EXPECT_TRUE(std::equal(d.data.begin(), d.data.end(), ref.data.begin()));
        if (ref.data.size() < static_cast<std::size_t>(count)) {
            EXPECT_TRUE(d.data.empty());
        }
    }
}

TEST(ReaderCodes, CodesNoWriterMakesAreRefused) {
    // 'a' then 300 while the next free code is 257.
    expect_refused({0x1F, 0x9D, 0x90, 0x61, 0x58, 0x02});
    // One above the next free code, later in the stream.
    expect_refused(lzw_ref::pack_codes(0x90, {'a', 'b', 259}));
    // A first code that is not a literal byte.
    expect_refused(lzw_ref::pack_codes(0x90, {258, 'a', 257}));
    expect_refused(lzw_ref::pack_codes(0x90, {256, 'a'}));
    // Right after a clear only a literal byte may come: not 256, not 257
    // (the reader's next free code is 256 there, the writer's 257).
    for (const int after : {256, 257, 300}) {
        expect_refused(lzw_ref::pack_codes(0x90, {'a', 'b', 256, after}));
    }
    // A full table makes no entry, so a code equal to the next free code
    // names nothing: width 8 in block mode (next free 257), without block
    // mode (256), and width 9 once 511 is defined (512, in 10 bits).
    expect_refused(lzw_ref::pack_codes(0x88, {'a', 257}));
    expect_refused(lzw_ref::pack_codes(0x08, {'a', 256}));
    std::vector<int> full = {'a'};
    for (int n = 0; n < 255; ++n) full.push_back('a' + n % 3);
    expect_refused(lzw_ref::pack_codes(0x89, [&] {
        auto codes = full;
        codes.push_back(511);
        codes.push_back(512);
        return codes;
    }()));
    // ... while 511 itself is fine there.
    full.push_back(511);
    const auto ok = decompress(lzw_ref::pack_codes(0x89, full));
    EXPECT_EQ(ok.last, 0);
    EXPECT_EQ(ok.data, lzw_ref::decode(lzw_ref::pack_codes(0x89, full)).data);
}

TEST(ReaderCodes, DamageLateInTheStreamFailsAfterTheGoodPart) {
    // What came before the damage may have been delivered by earlier calls;
    // the call that meets it fails, and so does every later one.
    const Bytes text = zpress_test::text_like(20000, 5);
    Bytes z = lzw_ref::encode(text, 16);
    // Codes of 13 bits by now, the next one with its top bits set: past
    // every entry made so far.
    z.insert(z.end(), {0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(lzw_ref::decode(z).rejected);
    const auto d = decompress(z, fixed_size(1000));
    EXPECT_EQ(d.last, -1);
    EXPECT_EQ(d.error, EINVAL);
    EXPECT_GT(d.data.size(), 15000u);
    EXPECT_TRUE(std::equal(d.data.begin(), d.data.end(), text.begin()));
}

TEST(ReaderCodes, CodesAroundAClearCode) {
    // After a clear the first code is a literal; the code after it may be
    // 257, the entry it defines: "ab", "c", then "c" + "c".
    EXPECT_EQ(decompress(lzw_ref::pack_codes(0x90, {'a', 'b', 256, 'c', 257})).data,
              as_bytes("abccc"));
    // Entries from before the clear are gone: 258 there is one too far.
    expect_refused(lzw_ref::pack_codes(0x90, {'a', 'b', 'c', 256, 'd', 258}));
}

TEST(ReaderCodes, StringsFromFarBackAndAcrossTheWindow) {
    // "ab" and "bx" are defined first, then a run of codes each defined by
    // itself, strings one byte longer each time, puts half a megabyte after
    // them; then the early codes and the longest run string come back.
    std::vector<int> codes = {'a', 'b', 'x'};
    int next_code = 259;
    for (int n = 0; n < 1000; ++n) codes.push_back(next_code++);
    for (const int c : {257, 258, next_code - 1, int{'x'}, next_code, 257}) codes.push_back(c);
    const Bytes z = lzw_ref::pack_codes(0x90, codes);
    const auto ref = lzw_ref::decode(z);
    ASSERT_FALSE(ref.rejected);
    ASSERT_GT(ref.data.size(), 500000u);
    EXPECT_EQ(decompress(z, fixed_size(1)).data, ref.data);
    EXPECT_EQ(decompress(z, fixed_size(16384)).data, ref.data);
    EXPECT_EQ(decompress(z, lzw_test::random_sizes(7, 3000)).data, ref.data);
    // All of it in one call, longer than the window the reader keeps.
    const auto whole = decompress(z, fixed_size(1 << 20));
    EXPECT_EQ(whole.data, ref.data);
    EXPECT_EQ(whole.calls, 2);
}

TEST(ReaderEnds, CutInsideACode) {
    // Four 9-bit codes take 36 bits; 32 bits hold three of them.
    Bytes z = lzw_ref::pack_codes(0x90, {'a', 'b', 'c', 'd'});
    ASSERT_EQ(z.size(), 3u + 5u);
    z.pop_back();
    const auto d = decompress(z);
    EXPECT_EQ(d.data, as_bytes("abc"));
    EXPECT_EQ(d.last, 0);
}

TEST(ReaderEnds, CutOneByteIntoAGroup) {
    // A whole group of eight codes plus one byte of the next group: that byte
    // cannot hold a code, and nothing may be made up from stale buffer bytes.
    const std::vector<int> codes = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
    Bytes z = lzw_ref::pack_codes(0x90, codes);
    z.resize(3 + 9 + 1);
    // Taken with zeros as its high bits, the lone byte would read as 'i'.
    const auto d = decompress(z);
    EXPECT_EQ(d.data, as_bytes("abcdefgh"));
    EXPECT_EQ(d.last, 0);
}

TEST(ReaderEnds, ReadSizesDoNotChangeTheResult) {
    const Bytes in = zpress_test::mixed(400000, 3);
    const Bytes z = lzw_test::compress(in, 16);
    EXPECT_EQ(decompress(z, fixed_size(1)).data, in);
    EXPECT_EQ(decompress(z, fixed_size(16384)).data, in);
    EXPECT_EQ(decompress(z, lzw_test::random_sizes(5, 70000)).data, in);
}

// Feeds a pipe in pieces of 1 to 7 bytes and waits until each piece has been
// read, so that every read() returns less than a group.  Before each piece
// the reading thread gets a signal whose handler does not restart calls, so
// a read() waiting for data fails with EINTR.
void trickle(int fd, const Bytes& data, std::uint32_t seed, pthread_t reader,
             const std::atomic<bool>* reader_done) {
    zpress_test::SeededRng rng(seed);
    std::size_t done = 0;
    while (done < data.size() && !*reader_done) {
        pthread_kill(reader, SIGUSR1);
        const std::size_t n = std::min<std::size_t>(1 + rng() % 7, data.size() - done);
        if (write(fd, data.data() + done, n) != static_cast<ssize_t>(n)) break;
        done += n;
        int pending = 1;
        while (ioctl(fd, FIONREAD, &pending) == 0 && pending > 0 && !*reader_done)
            std::this_thread::yield();
    }
    close(fd);
}

TEST(ReaderPipes, SmallPiecesAndSignalsFromAPipe) {
    lzw_test::interrupt_with(SIGUSR1);
    const auto old_pipe = std::signal(SIGPIPE, SIG_IGN);  // should the reader stop early
    const Bytes in = zpress_test::mixed(30000, 11);
    const Bytes z = lzw_test::compress(in, 12);
    for (const bool gotmagic : {false, true}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const Bytes fed(z.begin() + (gotmagic ? 2 : 0), z.end());
        std::atomic<bool> reader_done{false};
        std::thread feeder(trickle, fds[1], fed, 9, pthread_self(), &reader_done);
        const auto d = lzw_test::decompress_fd(fds[0], gotmagic, lzw_test::random_sizes(2, 5000));
        reader_done = true;
        feeder.join();
        EXPECT_EQ(d.last, 0);
        EXPECT_EQ(d.data, in) << "gotmagic " << gotmagic;
        EXPECT_EQ(d.info.zs_total_in, static_cast<std::int64_t>(z.size()));
    }
    std::signal(SIGPIPE, old_pipe);
}

TEST(ReaderFailures, ReadFailureIsAnError) {
    // A directory cannot be read: the header read fails.
    const int dir = open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    auto d = lzw_test::decompress_fd(dir, true);
    EXPECT_EQ(d.last, -1);
    EXPECT_EQ(d.error, EISDIR);

    // Mid-stream: a non-blocking pipe runs dry with its writer still open.
    const Bytes z = lzw_test::compress(zpress_test::text_like(50000, 4), 16);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    ASSERT_EQ(write(fds[1], z.data(), z.size() / 2), static_cast<ssize_t>(z.size() / 2));
    d = lzw_test::decompress_fd(fds[0], false);
    EXPECT_EQ(d.last, -1);
    EXPECT_EQ(d.error, EAGAIN);
    EXPECT_GT(d.data.size(), 0u);
    close(fds[1]);

    // A closed descriptor.
    const int fd = zpress_test::memfd_with(z);
    lzw::lzw_handle* zs = lzw::z_open(fd, "r", 0, 0, 0, 0);
    ASSERT_NE(zs, nullptr);
    unsigned char buf[64];
    EXPECT_EQ(lzw::zread(zs, buf, sizeof buf), 64);
    close(fd);
    int got;
    while ((got = lzw::zread(zs, buf, sizeof buf)) > 0) {
    }
    EXPECT_EQ(got, -1);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(lzw::zread(zs, buf, sizeof buf), -1) << "a failed stream stays failed";
    EXPECT_EQ(errno, EBADF) << "with the first failure's reason";
    EXPECT_EQ(lzw::z_close(zs, nullptr), -1);  // close() of the closed descriptor
}

TEST(ReaderFailures, CodesThatWouldMakeAPrefixLoopAreRefused) {
    // 258 as first code, then 257 before it exists, would make 257 -> 258
    // and 258 -> 257, a chain that never reaches a literal.  The first code
    // already gives the damage away.
    const Bytes z = lzw_ref::pack_codes(0x90, {258, 257, 'A', 258, 'B'});
    for (const int count : {1, 7, 100000}) {
        const auto d = decompress(z, fixed_size(count));
        EXPECT_EQ(d.last, -1) << count;
        EXPECT_EQ(d.error, EINVAL);
        EXPECT_TRUE(d.data.empty());
    }
}

// Checks the codec against the reference on a stream that may be damaged:
// equal data when the reference takes it all; otherwise an EINVAL failure
// after data that agrees with the reference's.
void expect_agreement(const Bytes& z, std::uint32_t seed) {
    const auto ref = lzw_ref::decode(z);
    const auto d = decompress(z, lzw_test::random_sizes(seed, 9000));
    if (!ref.rejected) {
        EXPECT_EQ(d.last, 0);
        EXPECT_EQ(d.data, ref.data);
        return;
    }
    EXPECT_EQ(d.last, -1);
    EXPECT_EQ(d.error, EINVAL);
    EXPECT_LE(d.data.size(), ref.data.size());
    const std::size_t n = std::min(d.data.size(), ref.data.size());
    EXPECT_TRUE(
        std::equal(d.data.begin(), d.data.begin() + static_cast<long>(n), ref.data.begin()));
}

TEST(ReaderFailures, GarbageIsRefusedLikeTheReferenceDoes) {
    // Random bytes after a valid header, and random codes of which some are
    // not defined yet: the sanitizer build also watches every write.
    zpress_test::SeededRng rng(17);
    for (int round = 0; round < 40; ++round) {
        const int bits = 9 + round % 8;
        Bytes z = {0x1F, 0x9D, static_cast<unsigned char>(0x80 | bits)};
        const Bytes noise = zpress_test::random_bytes(2000 + rng() % 20000, rng());
        z.insert(z.end(), noise.begin(), noise.end());
        expect_agreement(z, rng());

        const bool block = round % 4 != 0;
        std::vector<int> codes;
        int next_code = block ? 257 : 256;
        // Undefined codes now and then, or just one near the end.
        const std::uint32_t rarity = round % 3 == 0 ? 100 : 3000;
        const int lone = round % 3 == 2 ? static_cast<int>(5900 + rng() % 100) : -1;
        for (int n = 0; n < 6000; ++n) {
            const std::uint32_t r = rng();
            int code;
            if (n == 0) {
                code = static_cast<int>(r % 256);
            } else if (n == lone) {
                code = std::min(next_code + 1 + static_cast<int>(r % 40), (1 << bits) - 1);
            } else if (lone < 0 && r % rarity == 0) {
                code = static_cast<int>((r >> 8) % (1u << bits));
            } else {
                code = static_cast<int>((r >> 8) % static_cast<std::uint32_t>(next_code));
            }
            if (block && code == 256) code = 'z';  // no clears: they would reset next_code
            codes.push_back(code);
            if (n > 0 && next_code < (1 << bits)) ++next_code;
        }
        expect_agreement(lzw_ref::pack_codes((block ? 0x80 : 0) | bits, codes), rng());
    }
}

}  // namespace
