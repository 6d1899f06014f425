// Fuzz target: .Z writer and reader round trip.
//
// Input: a byte choosing the largest code width (its value modulo 17: 0 means
// 16, 1 to 8 never make table entries, 9 to 16 as given), an 8-byte seed, then
// the data.  The seed may also stretch the data to a few hundred KiB of
// mutated copies, so that tables fill and clear codes appear at every width.
//
// Checks: zwrite accepts every byte in any slicing and the compressed bytes do
// not depend on the slicing; z_close reports exact counts; the header names
// the width; the reader, with random request sizes over a descriptor that
// delivers small pieces, gives back exactly the data.  Then one damaged copy
// of the stream (cut, a bit flipped, or another flags byte) must fail, or
// give exactly what an independent strict decoder makes of it; a cut copy
// gives a prefix of the data.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/check.h"
#include "common/choices.h"
#include "common/short_reads.h"
#include "mem_file.h"
#include "reference_lzw.h"
#include "zpress/zopen.h"

namespace {

using zpress_test::Bytes;

constexpr std::uint32_t kMaxChunk = 70000;
constexpr std::size_t kStretchLimit = 300000;

// Copies of the data with a few bytes changed in each, up to about `limit`.
Bytes stretch(const Bytes& data, std::size_t limit, fuzz::choices& pick) {
    Bytes out = data;
    if (data.empty()) return out;
    while (out.size() < limit) {
        const std::size_t from = out.size();
        out.insert(out.end(), data.begin(), data.end());
        for (std::uint32_t k = pick.below(8); k > 0; --k)
            out[from + pick.below(static_cast<std::uint32_t>(data.size()))] =
                static_cast<unsigned char>(pick.next());
    }
    return out;
}

template <typename NextCount>
Bytes compress(const Bytes& data, int bits, NextCount next_count) {
    const int fd = zpress_test::memfd_with({});
    FUZZ_CHECK(fd >= 0);
    const int keep = dup(fd);
    FUZZ_CHECK(keep >= 0);
    lzw::lzw_handle* z = lzw::z_open(fd, "w", 0, bits, 0, 0);
    FUZZ_CHECK(z != nullptr);
    std::size_t at = 0;
    while (at < data.size()) {
        const std::size_t n = std::min<std::size_t>(next_count(), data.size() - at);
        FUZZ_CHECK(lzw::zwrite(z, data.data() + at, static_cast<int>(n)) == static_cast<int>(n));
        at += n;
    }
    lzw::lzw_info info{};
    FUZZ_CHECK(lzw::z_close(z, &info) == 0);
    Bytes packed = zpress_test::file_contents(keep);
    close(keep);
    FUZZ_CHECK(info.zs_total_in == static_cast<std::int64_t>(data.size()));
    FUZZ_CHECK(info.zs_total_out == static_cast<std::int64_t>(packed.size()));
    return packed;
}

struct read_back {
    Bytes data;
    int last = 0;  // 0: normal end; -1: error
    int error = 0;
    bool capped = false;
};

// Reads a whole stream in 16 KiB requests, stopping once `cap` bytes are in.
read_back read_whole(const Bytes& z, std::size_t cap) {
    read_back r;
    const int fd = zpress_test::memfd_with(z);
    FUZZ_CHECK(fd >= 0);
    lzw::lzw_handle* zs = lzw::z_open(fd, "r", 0, 0, 0, 0);
    FUZZ_CHECK(zs != nullptr);
    Bytes buf(16384);
    for (;;) {
        if (r.data.size() >= cap) {
            r.capped = true;
            break;
        }
        errno = 0;
        const int n = lzw::zread(zs, buf.data(), static_cast<int>(buf.size()));
        if (n <= 0) {
            r.last = n;
            r.error = errno;
            break;
        }
        r.data.insert(r.data.end(), buf.begin(), buf.begin() + n);
    }
    FUZZ_CHECK(lzw::z_close(zs, nullptr) == 0);
    return r;
}

// A copy of the stream with one kind of damage; `cut` says which kind.
Bytes damage(const Bytes& z, fuzz::choices& pick, bool& cut) {
    Bytes d = z;
    const auto size = static_cast<std::uint32_t>(z.size());
    cut = false;
    switch (pick.below(3)) {
        case 0:
            cut = true;
            d.resize(pick.below(size));
            break;
        case 1: {
            const std::uint32_t bit = pick.below(8 * size);
            d[bit / 8] = static_cast<unsigned char>(d[bit / 8] ^ (1u << (bit % 8)));
            break;
        }
        default:
            d[2] = static_cast<unsigned char>(pick.next());
            break;
    }
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const fuzz::split_input in = fuzz::split(input, size);
    const int bits = in.flags % 17;
    fuzz::choices pick(in.seed);
    Bytes data(in.data, in.data + in.size);
    if (pick.one_in(4)) data = stretch(data, kStretchLimit, pick);

    const Bytes packed = compress(data, bits, [&] { return pick.chunk(kMaxChunk); });
    const Bytes packed_whole =
        compress(data, bits, [&] { return static_cast<std::uint32_t>(data.size()); });
    FUZZ_CHECK(packed == packed_whole);

    if (data.empty()) {
        FUZZ_CHECK(packed.empty());  // no byte, no header
        return 0;
    }
    FUZZ_CHECK(packed.size() >= 3 && packed[0] == 0x1F && packed[1] == 0x9D);
    FUZZ_CHECK(packed[2] == (0x80 | (bits == 0 ? 16 : bits)));

    // Read back, the magic taken by the caller or not.
    const bool gotmagic = pick.one_in(2);
    const std::size_t skip = gotmagic ? 2 : 0;
    const int fd = zpress_test::memfd_with(zpress_test::ByteView(packed).subspan(skip));
    FUZZ_CHECK(fd >= 0);
    lzw::lzw_handle* z = lzw::z_open(fd, "r", 0, 0, 0, gotmagic ? 1 : 0);
    FUZZ_CHECK(z != nullptr);
    fuzz::short_reads::plan slicing;
    slicing.fd = fd;
    slicing.seed = pick.next();
    slicing.max_piece = pick.one_in(2) ? 1u + pick.below(64) : 0;
    slicing.interrupt = pick.one_in(4);
    fuzz::short_reads::arm(slicing);
    Bytes got;
    Bytes buf(kMaxChunk);
    for (;;) {
        const int count = static_cast<int>(pick.chunk(kMaxChunk));
        const int n = lzw::zread(z, buf.data(), count);
        FUZZ_CHECK(n >= 0 && n <= count);
        if (n == 0 && count > 0) break;
        got.insert(got.end(), buf.begin(), buf.begin() + n);
        FUZZ_CHECK(got.size() <= data.size());
    }
    FUZZ_CHECK(lzw::zread(z, buf.data(), 100) == 0);
    fuzz::short_reads::disarm();
    lzw::lzw_info info{};
    FUZZ_CHECK(lzw::z_close(z, &info) == 0);
    FUZZ_CHECK(got == data);
    FUZZ_CHECK(info.zs_total_out == static_cast<std::int64_t>(data.size()));
    FUZZ_CHECK(info.zs_total_in == static_cast<std::int64_t>(packed.size()));

    // Damage is found, or decodes as the strict reference says; another
    // flags byte can make the rest of the stream expand, hence the cap.
    bool cut = false;
    const Bytes damaged = damage(packed, pick, cut);
    const std::size_t cap = 2 * data.size() + 65536;
    const read_back r = read_whole(damaged, cap);
    const lzw_ref::decode_result judge = lzw_ref::decode_as_read(damaged, false, cap + 16384);
    FUZZ_CHECK(lzw_ref::codec_agrees(judge, r.data, r.last, r.error, r.capped));
    if (cut && damaged.size() >= 3) {
        // The header is all there: a cut stream ends cleanly with a prefix.
        FUZZ_CHECK(r.last == 0);
        FUZZ_CHECK(r.data.size() <= data.size() &&
                   std::equal(r.data.begin(), r.data.end(), data.begin()));
    }
    return 0;
}
