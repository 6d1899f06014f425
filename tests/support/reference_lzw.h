// A plain, slow .Z encoder and decoder written straight from the format
// description, used as an independent check on the codec.  Clarity over
// speed: strings are kept whole, bits are placed one at a time.  It also
// judges runs of the codec (unit tests and fuzz targets alike): it takes only
// the codes a writer can make, so damaged data that the codec hands out as
// good output is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "bytes.h"

namespace lzw_ref {

using zpress_test::Bytes;
using zpress_test::ByteView;

// Lays codes out in groups: eight codes of one width fill exactly `width`
// bytes; a group closed early is padded with zero bytes to its full size.
class group_packer {
  public:
    void put(int code, int width);
    // Ends a group that holds fewer than eight codes; no effect on an empty one.
    void close_group();
    // Bytes of whole (full or closed) groups so far.
    std::size_t complete_bytes() const { return done_.size(); }
    // All bytes, the last group cut to the bytes its codes occupy.
    Bytes finish() const;

  private:
    Bytes pack_group(bool cut) const;

    Bytes done_;
    std::vector<std::pair<int, int>> group_;  // (code, width)
};

// What the writer produces for `in` with largest width `bits` (0 means 16),
// including the clear codes of its ratio check.
Bytes encode(const Bytes& in, int bits);

struct decode_result {
    bool ok = false;        // header valid
    bool rejected = false;  // a code no writer makes: data stops before it
    bool capped = false;    // decoding stopped at the output limit
    Bytes data;
    int clears = 0;  // clear codes met
    int widest = 0;  // widest code read
    std::size_t codes = 0;
};

// Decodes a whole stream, header included, taking only the codes a writer
// can make: a literal byte first and after each clear code, then codes that
// are defined or the one being defined (the next free code, while the table
// still has room for it).  Stops once `max_output` bytes are decoded.
decode_result decode(const Bytes& z, std::size_t max_output = SIZE_MAX);

// Decodes the stream as the codec sees it on a descriptor holding `data`:
// with `gotmagic` the first two bytes are taken for 1F 9D.  A header cut
// short, its flags byte included, is refused.
decode_result decode_as_read(ByteView data, bool gotmagic, std::size_t max_output);

// Whether a run of the codec agrees with the reference's result: where the
// reference refuses, the codec fails with EINVAL after at most the bytes
// before the refusal; otherwise it ends normally with exactly the reference's
// bytes.  `last` is the codec's last result (0 or -1) and `error` its errno;
// `capped` says the run stopped at a cap of its own before either end, so
// only its bytes can be compared.  The reference's cap must be above the
// most such a run can deliver.
bool codec_agrees(const decode_result& ref, ByteView data, int last, int error, bool capped);

// Header `flags` plus the codes, laid out with the width a reader expects for
// each code.  For building streams by hand.
Bytes pack_codes(int flags, const std::vector<int>& codes);

}  // namespace lzw_ref
