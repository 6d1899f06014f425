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
int inflate_reset(stream& s);
int inflate_end(stream& s);

std::uint32_t crc32(std::uint32_t crc, const unsigned char* data, std::size_t len);

// zlib's fixed text for a status code.
const char* status_text(int code);

}  // namespace gzstream::engine
