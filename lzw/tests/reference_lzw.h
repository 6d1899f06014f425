// A plain, slow .Z encoder and decoder written straight from the format
// description, used as an independent check on the codec.  Clarity over
// speed: strings are kept whole, bits are placed one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace lzw_ref {

using bytes = std::vector<unsigned char>;

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
    bytes finish() const;

  private:
    bytes pack_group(bool cut) const;

    bytes done_;
    std::vector<std::pair<int, int>> group_;  // (code, width)
};

// What the writer produces for `in` with largest width `bits` (0 means 16),
// including the clear codes of its ratio check.
bytes encode(const bytes& in, int bits);

struct decode_result {
    bool ok = false;        // header valid
    bool rejected = false;  // a code no writer makes: data stops before it
    bool capped = false;    // decoding stopped at the output limit
    bytes data;
    int clears = 0;  // clear codes met
    int widest = 0;  // widest code read
    std::size_t codes = 0;
};

// Decodes a whole stream, header included, taking only the codes a writer
// can make: a literal byte first and after each clear code, then codes that
// are defined or the one being defined (the next free code, while the table
// still has room for it).  Stops once `max_output` bytes are decoded.
decode_result decode(const bytes& z, std::size_t max_output = SIZE_MAX);

// Header `flags` plus the codes, laid out with the width a reader expects for
// each code.  For building streams by hand.
bytes pack_codes(int flags, const std::vector<int>& codes);

}  // namespace lzw_ref
