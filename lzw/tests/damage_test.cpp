// Damaged .Z streams: .Z carries no checksum, so the reader's only defence
// is to take no code that a writer cannot make.  Each damaged variant must
// either fail with EINVAL or give exactly what the strict reference decoder
// makes of the same bytes; a cut stream gives a prefix of the original.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "lzw_test_util.h"
#include "reference_lzw.h"
#include "seeded_rng.h"
#include "test_data.h"

namespace {

using zpress_test::Bytes;
using zpress_test::is_prefix;

// Counts of the verdicts, so that a sweep can show it met both.
struct tally {
    int refused = 0;
    int taken = 0;
};

void judge(const Bytes& z, const std::string& what, tally& t) {
    const auto ref = lzw_ref::decode(z);
    const auto d = lzw_test::decompress(z);
    if (ref.ok && !ref.rejected) {
        EXPECT_EQ(d.last, 0) << what;
        EXPECT_TRUE(d.data == ref.data) << what;
        ++t.taken;
    } else {
        EXPECT_EQ(d.last, -1) << what;
        EXPECT_EQ(d.error, EINVAL) << what;
        EXPECT_TRUE(is_prefix(d.data, ref.data)) << what;
        ++t.refused;
    }
}

// Cuts (all, or `samples` of them) and single-bit flips (all, or `samples`
// of them) of the stream z of `original`.
tally sweep(const Bytes& z, const Bytes& original, std::size_t samples, std::uint32_t seed) {
    zpress_test::SeededRng rng(seed);
    auto positions = [&](std::size_t n) {
        std::vector<std::size_t> at;
        if (n <= samples) {
            for (std::size_t i = 0; i < n; ++i) at.push_back(i);
        } else {
            for (std::size_t i = 0; i < samples; ++i) at.push_back(rng() % n);
        }
        return at;
    };
    tally t;
    for (const std::size_t n : positions(z.size())) {
        const auto d = lzw_test::decompress(Bytes(z.begin(), z.begin() + static_cast<long>(n)));
        if (n < 3) {
            EXPECT_EQ(d.last, -1) << "cut at " << n;  // no magic, or no flags byte
        } else {
            EXPECT_EQ(d.last, 0) << "cut at " << n;
            EXPECT_TRUE(is_prefix(d.data, original)) << "cut at " << n;
        }
    }
    for (const std::size_t bit : positions(8 * z.size())) {
        Bytes damaged = z;
        damaged[bit / 8] = static_cast<unsigned char>(damaged[bit / 8] ^ (1u << (bit % 8)));
        judge(damaged, "flip of bit " + std::to_string(bit), t);
    }
    return t;
}

TEST(DamagedStreams, WriterStreamsOfEveryWidth) {
    for (int bits = 9; bits <= 16; ++bits) {
        const auto seed = static_cast<std::uint32_t>(bits);
        for (const Bytes& in :
             {zpress_test::text_like(4000, seed), zpress_test::binary_like(3000, seed),
              zpress_test::random_bytes(1500, seed)}) {
            const Bytes z = lzw_test::compress(in, bits);
            const tally t = sweep(z, in, 200, seed);
            EXPECT_GT(t.refused, 0) << bits;
        }
    }
}

TEST(DamagedStreams, StreamsWithClearCodes) {
    // The writer's own clears: a full 9-bit table over random data.
    const Bytes noise = zpress_test::random_bytes(40000, 3);
    const Bytes z = lzw_test::compress(noise, 9);
    ASSERT_GT(lzw_ref::decode(z).clears, 0);
    sweep(z, noise, 200, 4);

    // Every bit of a short stream with a clear every few dozen codes, and
    // codes equal to the next free code right after each clear.
    zpress_test::SeededRng rng(5);
    std::vector<int> codes = {'s'};
    int next_code = 257;
    for (int n = 0; n < 300; ++n) {
        if (n % 40 == 39) {
            codes.insert(codes.end(), {256, static_cast<int>(rng() % 256), 257});
            next_code = 258;
            continue;
        }
        codes.push_back(static_cast<int>(rng() % static_cast<std::uint32_t>(next_code + 1)));
        if (codes.back() == 256) codes.back() = 'c';
        ++next_code;
    }
    const Bytes packed = lzw_ref::pack_codes(0x8C, codes);
    const auto ref = lzw_ref::decode(packed);
    ASSERT_FALSE(ref.rejected);
    ASSERT_EQ(ref.clears, 7);
    EXPECT_EQ(lzw_test::decompress(packed).data, ref.data);
    const tally t = sweep(packed, ref.data, 8 * packed.size(), 6);
    EXPECT_GT(t.refused, 0);
}

TEST(DamagedStreams, EveryFlagsByte) {
    const Bytes in = zpress_test::text_like(3000, 8);
    Bytes z = lzw_test::compress(in, 12);
    tally t;
    for (int flags = 0; flags < 256; ++flags) {
        z[2] = static_cast<unsigned char>(flags);
        judge(z, "flags " + std::to_string(flags), t);
    }
    // Only the original width and block mode (bits 5 and 6 carry nothing)
    // read the stream whole; among the rest, a few low widths may happen to
    // decode to something.
    EXPECT_GE(t.taken, 4);
    EXPECT_GT(t.refused, 200);
}

}  // namespace
