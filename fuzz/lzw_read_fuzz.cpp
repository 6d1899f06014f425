// Fuzz target: the .Z (LZW) reader over arbitrary bytes.
//
// Input: a flags byte (bit 0: open with gotmagic, the first two bytes having
// been taken by the caller; bit 1: the descriptor delivers data in small
// pieces, as a pipe does, and bit 2 makes it fail with EINTR now and then;
// bits 4-7 bound the piece size), an 8-byte seed, then the stream.
//
// The stream is decoded three times:
//  - a reference run with 16 KiB requests on a descriptor that delivers
//    whole requests, judged by an independent strict decoder: the codec must
//    refuse exactly the streams it refuses (a code no writer makes, a bad
//    header) and otherwise give exactly its bytes, since .Z has no checksum
//    that could catch damage handed out as data;
//  - a run with random request sizes (0 included) and the chosen descriptor
//    behaviour, which must give the same bytes and the same ending: the
//    result may not depend on how the caller or the descriptor slices data;
//  - a run in which one of the reference's read() calls fails with EIO, which
//    must end in -1 with EIO, never in a normal end.
// Output is capped at 1 MiB, so streams that expand enormously stay cheap.
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

using zpress_test::agree_on_common_part;
using zpress_test::Bytes;

constexpr std::size_t kOutputCap = std::size_t{1} << 20;
constexpr std::uint32_t kMaxChunk = 40000;

struct outcome {
    Bytes data;
    int last = 0;   // 0: normal end; -1: error
    int error = 0;  // errno with -1
    bool capped = false;
    lzw::lzw_info info{};
    long reads = 0;  // read() calls the codec made
};

struct stream_bytes {
    const unsigned char* data;  // what the descriptor holds
    std::size_t size;
    bool gotmagic;
    std::size_t whole_size;  // the stream with its magic, as its writer made it
};

// Decodes the stream; `next_count` chooses each request size.
template <typename NextCount>
outcome decode(const stream_bytes& s, fuzz::short_reads::plan plan, NextCount next_count,
               std::size_t cap) {
    outcome out;
    const int fd = zpress_test::memfd_with({s.data, s.size});
    FUZZ_CHECK(fd >= 0);
    lzw::lzw_handle* z = lzw::z_open(fd, "r", 0, 0, 0, s.gotmagic ? 1 : 0);
    FUZZ_CHECK(z != nullptr);
    plan.fd = fd;
    fuzz::short_reads::arm(plan);
    Bytes buf(kMaxChunk);
    bool short_result = false;
    for (;;) {
        if (out.data.size() >= cap) {
            out.capped = true;
            break;
        }
        const int count = static_cast<int>(next_count());
        errno = 0;
        const int n = lzw::zread(z, buf.data(), count);
        if (n < 0) {
            FUZZ_CHECK(n == -1);
            out.last = -1;
            out.error = errno;
            FUZZ_CHECK(out.error != 0);
            // A failed stream stays failed.
            FUZZ_CHECK(lzw::zread(z, buf.data(), 1) == -1);
            break;
        }
        FUZZ_CHECK(n <= count);
        if (count == 0) {
            FUZZ_CHECK(n == 0);
            continue;
        }
        // While data remains every request is filled: a short answer is only
        // ever followed by the end.
        if (short_result) FUZZ_CHECK(n == 0);
        if (n == 0) break;
        short_result = n < count;
        out.data.insert(out.data.end(), buf.begin(), buf.begin() + n);
    }
    out.reads = fuzz::short_reads::calls();
    fuzz::short_reads::disarm();
    FUZZ_CHECK(lzw::z_close(z, &out.info) == 0);
    FUZZ_CHECK(out.info.reserved0 == 0 && out.info.reserved1 == 0xFFFFFFFFu &&
               out.info.reserved2 == 0);
    if (!out.capped) {
        FUZZ_CHECK(out.info.zs_total_out == static_cast<std::int64_t>(out.data.size()));
        // Counted input never exceeds what the stream holds (the three header
        // bytes are always counted, even when the caller took the magic).
        const std::int64_t most = static_cast<std::int64_t>(s.whole_size < 3 ? 3 : s.whole_size);
        FUZZ_CHECK(out.info.zs_total_in >= 0 && out.info.zs_total_in <= most);
        if (out.last == 0 && s.whole_size >= 3) FUZZ_CHECK(out.info.zs_total_in == most);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const fuzz::split_input in = fuzz::split(input, size);
    const bool gotmagic = (in.flags & 1) != 0;
    const std::size_t taken = gotmagic ? std::min<std::size_t>(in.size, 2) : 0;
    const stream_bytes s{in.data + taken, in.size - taken, gotmagic, in.size};
    fuzz::choices pick(in.seed);

    // A descriptor that delivers whole requests, 16 KiB at a time.
    const outcome ref = decode(
        s, {}, [] { return 16384u; }, kOutputCap);
    // The stream was read through the wrapper (the build links it in).
    FUZZ_CHECK(ref.reads > 0);
    // No I/O fails here, so -1 can only mean a stream that is not .Z data.
    if (ref.last == -1) FUZZ_CHECK(ref.error == EINVAL);
    // A run stops asking at the cap, by which time it holds less than one
    // more request beyond it.
    const lzw_ref::decode_result judge =
        lzw_ref::decode_as_read({in.data, in.size}, gotmagic, kOutputCap + 16384);
    FUZZ_CHECK(lzw_ref::codec_agrees(judge, ref.data, ref.last, ref.error, ref.capped));

    // Random request sizes over a descriptor that may slice the data.
    fuzz::short_reads::plan sliced;
    sliced.seed = pick.next();
    if (in.flags & 2) sliced.max_piece = 1u << ((in.flags >> 4) & 0x0F);
    sliced.interrupt = (in.flags & 4) != 0;
    const outcome mixed = decode(
        s, sliced, [&] { return pick.chunk(kMaxChunk); }, kOutputCap);
    FUZZ_CHECK(agree_on_common_part(mixed.data, ref.data));
    if (!ref.capped && !mixed.capped) {
        FUZZ_CHECK(mixed.last == ref.last);
        // A call that fails gives -1 instead of the bytes it had decoded, so
        // how much comes before an error depends on the request sizes.
        if (ref.last == 0)
            FUZZ_CHECK(mixed.data.size() == ref.data.size());
        else
            FUZZ_CHECK(mixed.error == ref.error);
    }

    // A read() that fails is an error, never the end of the data.
    if (ref.reads > 0) {
        fuzz::short_reads::plan failing;
        failing.fail_at = 1 + static_cast<long>(pick.below(static_cast<std::uint32_t>(ref.reads)));
        const outcome broken = decode(
            s, failing, [&] { return pick.chunk(kMaxChunk); }, 2 * kOutputCap);
        FUZZ_CHECK(agree_on_common_part(broken.data, ref.data));
        if (!broken.capped) {
            FUZZ_CHECK(broken.last == -1);
            // The injected failure, unless the stream was found bad first.
            FUZZ_CHECK(broken.error == EIO || (ref.last == -1 && broken.error == EINVAL));
        }
    }
    return 0;
}
