// Writer to reader over every width, checked against the plain reference
// codec in both directions.
#include <gtest/gtest.h>

#include <algorithm>

#include "lzw_test_util.h"
#include "reference_lzw.h"
#include "seeded_rng.h"
#include "test_data.h"

namespace {

using zpress_test::Bytes;

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, MixedDataAgreesWithTheReference) {
    const int bits = GetParam();
    const Bytes in = zpress_test::mixed(1 << 20, static_cast<std::uint32_t>(bits));
    const auto sizes = static_cast<std::uint32_t>(100 + bits);

    const Bytes z = lzw_test::compress(in, bits, lzw_test::random_sizes(sizes, 70000));
    // The reference writes the same bytes, ratio-check clear codes included.
    EXPECT_EQ(z, lzw_ref::encode(in, bits));

    // The reference reads the codec's stream; the table filled and was cleared.
    const auto ref = lzw_ref::decode(z);
    EXPECT_EQ(ref.data, in);
    EXPECT_GT(ref.clears, 0);
    EXPECT_EQ(ref.widest, bits == 9 ? 10 : bits);

    const auto back = lzw_test::decompress(z, lzw_test::random_sizes(sizes + 1, 70000));
    EXPECT_EQ(back.last, 0);
    EXPECT_EQ(back.data, in);
    EXPECT_EQ(back.info.zs_total_in, static_cast<std::int64_t>(z.size()));
    EXPECT_EQ(back.info.zs_total_out, static_cast<std::int64_t>(in.size()));
}

INSTANTIATE_TEST_SUITE_P(Widths, RoundTrip, ::testing::Range(9, 17));

TEST(RoundTripLong, SeveralMegabytesWithLongRuns) {
    // Long runs make strings thousands of bytes long, read back in pieces
    // smaller and larger than a string.
    Bytes in = zpress_test::runs(2 << 20, 3);
    const Bytes more = zpress_test::mixed(2 << 20, 4);
    in.insert(in.end(), more.begin(), more.end());
    const Bytes z = lzw_test::compress(in, 16, lzw_test::random_sizes(1, 1 << 20));
    EXPECT_EQ(lzw_ref::decode(z).data, in);
    EXPECT_EQ(lzw_test::decompress(z, lzw_test::random_sizes(2, 1 << 16)).data, in);
}

TEST(RoundTripLong, CodecReadsAHandMadeStreamOfEveryWidth) {
    // Streams packed code by code from random codes that are all valid
    // (defined, or the next free code while the table has room), including
    // clear codes in the middle, each followed by a literal.
    zpress_test::SeededRng rng(99);
    for (int bits = 9; bits <= 16; ++bits) {
        std::vector<int> codes = {static_cast<int>(rng() % 256)};
        int next_code = 257;
        for (int n = 0; n < 90000; ++n) {
            int code;
            if (rng() % 20000 == 0) {
                code = 256;
            } else {
                const int range = std::min(next_code + 1, 1 << bits);  // next_code: not yet defined
                code = static_cast<int>(rng() % static_cast<std::uint32_t>(range));
                if (code == 256) code = 'z';
            }
            codes.push_back(code);
            if (code == 256) {
                codes.push_back(static_cast<int>(rng() % 256));
                next_code = 257;
            } else if (next_code < (1 << bits)) {
                ++next_code;
            }
        }
        const Bytes z = lzw_ref::pack_codes(0x80 | bits, codes);
        const auto ref = lzw_ref::decode(z);
        ASSERT_FALSE(ref.rejected) << bits;
        const auto d = lzw_test::decompress(z, lzw_test::random_sizes(rng(), 5000));
        EXPECT_EQ(d.last, 0) << bits;
        EXPECT_EQ(d.data, ref.data) << bits;
    }
}

}  // namespace
