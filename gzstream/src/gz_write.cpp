// Writing: feeding the deflate engine, whole-block output, flushing and
// parameter changes.
#include <climits>
#include <cstdarg>
#include <cstring>

#include "engine.h"
#include "gz_handle.h"

namespace gzstream {
namespace {

constexpr int PRINTF_BUFFER_SIZE = 4096;

bool writable(const gz_handle* s) {
    return s != nullptr && s->direction == 'w';
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

}  // namespace

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

int gzflush(gz_handle* s, int flush) {
    if (!writable(s)) return Z_STREAM_ERROR;
    if (const int rc = flush_output(s, flush); rc != Z_OK) return rc;
    std::fflush(s->file);
    return s->status == Z_STREAM_END ? Z_OK : s->status;
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

}  // namespace gzstream
