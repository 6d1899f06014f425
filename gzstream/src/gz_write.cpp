// The writer: the member header, feeding the deflate engine with whole-block
// output, flushing, parameter changes, forward seeking by zero fill, and the
// final deflate data with the trailer.
#include <climits>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string_view>

#include "engine.h"
#include "gz_handle.h"
#include "gzip_format.h"

namespace gzstream {
namespace {

constexpr int PRINTF_BUFFER_SIZE = 4096;
constexpr int kFromStart = 0;

bool writable(const gz_handle* s) {
    return s != nullptr && s->direction == 'w';
}

// The name stored in a written member: the base name, without a ".gz" suffix.
std::string_view stored_name(std::string_view path) {
    if (auto slash = path.rfind('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    if (path.size() > 3 && path.ends_with(".gz")) path.remove_suffix(3);
    return path;
}

// The trailer's little-endian 32-bit words.
void put_le32(std::FILE* file, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        std::fputc(static_cast<int>(value & 0xFF), file);
        value >>= 8;
    }
}

// Writes the full output buffer; false (with status Z_ERRNO) on a short write.
bool write_full_block(gz_handle* s) {
    s->engine.next_out = s->write_buffer.get();
    if (std::fwrite(s->write_buffer.get(), 1, STREAM_BUFFER_SIZE, s->file) != STREAM_BUFFER_SIZE) {
        s->status = Z_ERRNO;
        return false;
    }
    s->engine.avail_out = STREAM_BUFFER_SIZE;
    return true;
}

unsigned block_for(gz_off_t remaining) {
    return remaining < STREAM_BUFFER_SIZE ? static_cast<unsigned>(remaining) : STREAM_BUFFER_SIZE;
}

}  // namespace

// One member header: magic, deflate, FNAME only, no time, Unix.  Write errors
// show up later, at a block write or at the close.
void write_header(gz_handle* s) {
    const std::string_view name = stored_name(s->display_name);
    std::fprintf(s->file, "%c%c%c%c%c%c%c%c%c%c", gzip::kMagic1, gzip::kMagic2,
                 gzip::kMethodDeflate, gzip::kFlagName, 0, 0, 0, 0, 0, gzip::kOsUnix);
    std::fprintf(s->file, "%.*s%c", static_cast<int>(name.size()), name.data(), 0);
    s->data_start = static_cast<gz_off_t>(name.size()) + gzip::kFixedHeaderSize + 1;
}

int gzwrite(gz_handle* s, const void* buf, unsigned len) {
    if (!writable(s) || len > INT_MAX) return Z_STREAM_ERROR;
    engine::stream& z = s->engine;
    const auto* const src = static_cast<const unsigned char*>(buf);
    z.next_in = src;
    z.avail_in = len;
    while (z.avail_in != 0) {
        if (z.avail_out == 0 && !write_full_block(s)) break;
        s->bytes_in += z.avail_in;
        s->bytes_out += z.avail_out;
        s->status = engine::deflate(z, Z_NO_FLUSH);
        s->bytes_in -= z.avail_in;
        s->bytes_out -= z.avail_out;
        if (s->status != Z_OK) break;
    }
    // Only the accepted bytes belong to the member: a refused tail (stream
    // finished, failed block write) must not enter the trailer's CRC.
    const unsigned accepted = len - z.avail_in;
    s->running_crc = engine::crc32(s->running_crc, src, accepted);
    return static_cast<int>(accepted);
}

int gzputc(gz_handle* s, int c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return gzwrite(s, &byte, 1) == 1 ? byte : -1;
}

int gzputs(gz_handle* s, const char* text) {
    if (text == nullptr) return Z_STREAM_ERROR;
    const std::size_t len = std::strlen(text);
    if (len > INT_MAX) return Z_STREAM_ERROR;
    return gzwrite(s, text, static_cast<unsigned>(len));
}

int gzprintf(gz_handle* s, const char* format, ...) {
    char buf[PRINTF_BUFFER_SIZE];
    buf[PRINTF_BUFFER_SIZE - 1] = 0;
    va_list args;
    va_start(args, format);
    const int len = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (len <= 0 || len > PRINTF_BUFFER_SIZE - 1 || buf[PRINTF_BUFFER_SIZE - 1] != 0) return 0;
    return gzwrite(s, buf, static_cast<unsigned>(len));
}

int flush_output(gz_handle* s, int flush) {
    engine::stream& z = s->engine;
    z.avail_in = 0;
    bool done = false;
    for (;;) {
        const unsigned pending = STREAM_BUFFER_SIZE - z.avail_out;
        if (pending != 0) {
            if (std::fwrite(s->write_buffer.get(), 1, pending, s->file) != pending) {
                s->status = Z_ERRNO;
                return Z_ERRNO;
            }
            z.next_out = s->write_buffer.get();
            z.avail_out = STREAM_BUFFER_SIZE;
        }
        if (done) break;
        s->bytes_out += z.avail_out;
        s->status = engine::deflate(z, flush);
        s->bytes_out -= z.avail_out;
        // A flush that found nothing to do is not an error, also when this
        // round only wrote out what an earlier gzwrite left in the buffer.
        if (s->status == Z_BUF_ERROR) s->status = Z_OK;
        done = z.avail_out != 0 || s->status == Z_STREAM_END;
        if (s->status != Z_OK && s->status != Z_STREAM_END) break;
    }
    return s->status == Z_STREAM_END ? Z_OK : s->status;
}

int gzflush(gz_handle* s, int flush) {
    if (!writable(s)) return Z_STREAM_ERROR;
    if (const int rc = flush_output(s, flush); rc != Z_OK) return rc;
    std::fflush(s->file);
    return s->status == Z_STREAM_END ? Z_OK : s->status;
}

void finish_member(gz_handle* s) {
    if (flush_output(s, Z_FINISH) != Z_OK) return;
    put_le32(s->file, s->running_crc);
    // The trailer holds the length modulo 2^32.
    put_le32(s->file, static_cast<std::uint32_t>(s->bytes_in));
}

int gzsetparams(gz_handle* s, int level, int strategy) {
    if (!writable(s)) return Z_STREAM_ERROR;
    engine::stream& z = s->engine;
    // The engine may have to compress what it holds before the change: make
    // room for that output, as often as it fills the buffer.
    int rc;
    for (;;) {
        if (z.avail_out == 0) {
            write_full_block(s);
            z.avail_out = STREAM_BUFFER_SIZE;  // a block that failed to go out is given up
        }
        s->bytes_out += z.avail_out;
        rc = engine::deflate_params(z, level, strategy);
        s->bytes_out -= z.avail_out;
        if (rc != Z_BUF_ERROR || z.avail_out != 0) break;
    }
    return rc;
}

// Forward only: appends zero bytes.
gz_off_t seek_write(gz_handle* s, gz_off_t offset, int whence) {
    if (whence == kFromStart) offset -= s->bytes_in;
    if (offset < 0) return -1;
    if (!s->read_buffer) {
        s->read_buffer.reset(new (std::nothrow) unsigned char[STREAM_BUFFER_SIZE]);
        if (!s->read_buffer) return -1;
        std::memset(s->read_buffer.get(), 0, STREAM_BUFFER_SIZE);
    }
    while (offset > 0) {
        const int n = gzwrite(s, s->read_buffer.get(), block_for(offset));
        if (n <= 0) return -1;
        offset -= n;
    }
    return s->bytes_in;
}

}  // namespace gzstream
