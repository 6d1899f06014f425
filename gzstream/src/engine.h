// The one doorway to zlib.  zlib.h defines several of this layer's public names
// as macros, so it is included only by engine.cpp; everything else talks to the
// deflate/inflate engine through these wrappers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gzstream::engine {

// A raw deflate or inflate stream (no zlib header or checksum: window bits
// -15).  The cursors are this layer's view of the engine's windows; they are
// handed to the engine on each call and read back afterwards.  The engine's own
// record lives in `storage` and must not move while initialised.
struct stream {
    const unsigned char* next_in = nullptr;
    unsigned avail_in = 0;
    unsigned char* next_out = nullptr;
    unsigned avail_out = 0;
    const char* msg = nullptr;  // the engine's text for its last error, or null
    int data_type = 0;          // inflate: where the last call stopped (see inflate_blocks)

    stream() = default;
    stream(const stream&) = delete;
    stream& operator=(const stream&) = delete;

    bool initialised() const { return live; }

    bool live = false;
    alignas(16) unsigned char storage[128];
};

int deflate_init(stream& s, int level, int strategy);
int deflate(stream& s, int flush);
int deflate_params(stream& s, int level, int strategy);
int deflate_end(stream& s);

int inflate_init(stream& s);
int inflate(stream& s);  // Z_NO_FLUSH
// Like inflate, but also returns at the end of each deflate block, so that a
// caller can note places where decoding could restart.  After such a return
// data_type holds the unused bit count of the last input byte (bits 0-2), 64
// when the block that ended was the last one, and 128 at a block end.
int inflate_blocks(stream& s);
inline constexpr int kAtBlockEnd = 128;
inline constexpr int kInLastBlock = 64;
inline constexpr int kUnusedBitsMask = 7;
int inflate_reset(stream& s);
// Restarting inside deflate data: feed the `bits` low bits of `value` that
// precede the first whole byte, and the output that came before (at most 32 KiB).
int inflate_prime(stream& s, int bits, int value);
int inflate_set_dictionary(stream& s, const unsigned char* dictionary, unsigned length);
int inflate_end(stream& s);

// One-shot raw deflate of the bytes `first` then `second` (a ring buffer's
// two parts) into `out` (room for `capacity`): the compressed size, or 0 when
// it did not fit or the engine failed.  Used for the access points' windows,
// which are small and packed once each.
std::size_t deflate_whole(int level, int strategy, const unsigned char* first,
                          std::size_t first_length, const unsigned char* second,
                          std::size_t second_length, unsigned char* out, std::size_t capacity);
// Inflates one complete raw deflate stream of `length` bytes with `s`, which
// must be freshly reset, into `out`: the bytes produced, or -1 unless the
// stream ended exactly at the end of the input with at most `capacity` bytes.
// `s` needs an inflate_reset afterwards.
long inflate_whole(stream& s, const unsigned char* data, std::size_t length, unsigned char* out,
                   std::size_t capacity);

std::uint32_t crc32(std::uint32_t crc, const unsigned char* data, std::size_t len);

// zlib's fixed text for a status code.
const char* status_text(int code);

}  // namespace gzstream::engine
