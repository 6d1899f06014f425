#include "engine.h"

#include "crc32_clmul.h"

#include <zlib.h>

#include <climits>
#include <new>

namespace gzstream::engine {
namespace {

static_assert(sizeof(z_stream) <= sizeof(stream::storage), "engine record does not fit");
static_assert(alignof(z_stream) <= 16, "engine record alignment");

constexpr int kRawWindowBits = -15;  // raw deflate data: the gzip framing is ours
constexpr int kMemLevel = 8;

z_stream& record(stream& s) { return *std::launder(reinterpret_cast<z_stream*>(s.storage)); }

// Copies this layer's cursors into the engine's record before a call...
z_stream& load(stream& s) {
    z_stream& z = record(s);
    z.next_in = const_cast<Bytef*>(s.next_in);
    z.avail_in = s.avail_in;
    z.next_out = s.next_out;
    z.avail_out = s.avail_out;
    return z;
}

// ...and reads them back afterwards.
int store(stream& s, int result) {
    const z_stream& z = record(s);
    s.next_in = z.next_in;
    s.avail_in = z.avail_in;
    s.next_out = z.next_out;
    s.avail_out = z.avail_out;
    s.msg = z.msg;
    s.data_type = z.data_type;
    return result;
}

z_stream& fresh(stream& s) {
    z_stream* z = new (s.storage) z_stream{};
    z->zalloc = Z_NULL;
    z->zfree = Z_NULL;
    z->opaque = Z_NULL;
    return load(s);
}

}  // namespace

int deflate_init(stream& s, int level, int strategy) {
    z_stream& z = fresh(s);
    int rc = deflateInit2_(&z, level, Z_DEFLATED, kRawWindowBits, kMemLevel, strategy, ZLIB_VERSION,
                           static_cast<int>(sizeof(z_stream)));
    s.live = rc == Z_OK;
    return store(s, rc);
}

int deflate(stream& s, int flush) { return store(s, ::deflate(&load(s), flush)); }

int deflate_params(stream& s, int level, int strategy) {
    return store(s, ::deflateParams(&load(s), level, strategy));
}

int deflate_end(stream& s) {
    if (!s.live) return Z_OK;
    s.live = false;
    return ::deflateEnd(&record(s));
}

int inflate_init(stream& s) {
    z_stream& z = fresh(s);
    int rc = inflateInit2_(&z, kRawWindowBits, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
    s.live = rc == Z_OK;
    return store(s, rc);
}

int inflate(stream& s) { return store(s, ::inflate(&load(s), Z_NO_FLUSH)); }

int inflate_blocks(stream& s) { return store(s, ::inflate(&load(s), Z_BLOCK)); }

int inflate_prime(stream& s, int bits, int value) {
    return store(s, ::inflatePrime(&load(s), bits, value));
}

int inflate_set_dictionary(stream& s, const unsigned char* dictionary, unsigned length) {
    return store(s, ::inflateSetDictionary(&load(s), dictionary, length));
}

int inflate_reset(stream& s) { return store(s, ::inflateReset(&load(s))); }

int inflate_end(stream& s) {
    if (!s.live) return Z_OK;
    s.live = false;
    return ::inflateEnd(&record(s));
}

std::size_t deflate_whole(int level, int strategy, const unsigned char* first,
                          std::size_t first_length, const unsigned char* second,
                          std::size_t second_length, unsigned char* out, std::size_t capacity) {
    if (first_length > UINT_MAX || second_length > UINT_MAX || capacity > UINT_MAX) return 0;
    stream s;
    if (deflate_init(s, level, strategy) != Z_OK) return 0;
    s.next_out = out;
    s.avail_out = static_cast<unsigned>(capacity);
    s.next_in = first;
    s.avail_in = static_cast<unsigned>(first_length);
    int rc = deflate(s, Z_NO_FLUSH);
    if (rc == Z_OK && s.avail_in == 0) {
        s.next_in = second;
        s.avail_in = static_cast<unsigned>(second_length);
        rc = deflate(s, Z_FINISH);
    }
    const std::size_t produced = capacity - s.avail_out;
    deflate_end(s);
    return rc == Z_STREAM_END ? produced : 0;
}

long inflate_whole(stream& s, const unsigned char* data, std::size_t length, unsigned char* out,
                   std::size_t capacity) {
    if (length > UINT_MAX || capacity > UINT_MAX) return -1;
    s.next_in = data;
    s.avail_in = static_cast<unsigned>(length);
    s.next_out = out;
    s.avail_out = static_cast<unsigned>(capacity);
    const int rc = inflate(s);
    if (rc != Z_STREAM_END || s.avail_in != 0) return -1;
    return static_cast<long>(capacity - s.avail_out);
}

namespace {
// Below this length the table is as fast as folding, whose reduction costs a
// fixed few dozen cycles.
constexpr std::size_t kClmulMinimum = 64;
}  // namespace

std::uint32_t crc32(std::uint32_t crc, const unsigned char* data, std::size_t len) {
    return crc32_on(fold_width::best, crc, data, len);
}

std::uint32_t crc32_on(fold_width width, std::uint32_t crc, const unsigned char* data,
                       std::size_t len) {
    // Short runs cost less through the table than the folding's fixed reduction.
    if (len >= kClmulMinimum && clmul_available()) {
        std::size_t done = crc32_clmul(crc, data, len, width);
        data += done;
        len -= done;
    }
    uLong c = crc;
    while (len > 0) {
        uInt chunk = len > UINT_MAX ? UINT_MAX : static_cast<uInt>(len);
        c = ::crc32(c, data, chunk);
        data += chunk;
        len -= chunk;
    }
    return static_cast<std::uint32_t>(c);
}

const char* status_text(int code) { return ::zError(code); }

}  // namespace gzstream::engine

namespace gzstream {
const char* engine_version() { return ZLIB_VERSION; }
}  // namespace gzstream
