// The writer: the member header, feeding the deflate engine with whole-block
// output, flushing, parameter changes, forward seeking by zero fill, and the
// final deflate data with the trailer.
//
// A failure is final.  Once a write to the file has come back short, stdio
// may have dropped bytes it had buffered and the engine has moved on, so the
// output can no longer become a valid stream: nothing is written again, every
// write entry point fails, and gzclose returns the status.  A failed write is
// never retried, so no byte the file accepted is written twice.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "engine.h"
#include "gz_handle.h"
#include "gzip_format.h"

namespace gzstream {
namespace {

// gzprintf formats into a stack buffer of this size first; longer output
// takes one heap buffer of its exact size.
constexpr int PRINTF_BUFFER_SIZE = 4096;

bool writable(const gz_handle* s) { return s != nullptr && s->direction == 'w'; }

bool failed(const gz_handle* s) { return s->status < 0; }

// The deflate data was finished by gzflush(Z_FINISH): nothing more can follow.
bool finished(const gz_handle* s) { return s->status == Z_STREAM_END; }

// Hands bytes to the file; a short write makes the stream fail for good.
bool put(gz_handle* s, const void* data, std::size_t size) {
    if (size == 0) return true;
    errno = 0;
    if (std::fwrite(data, 1, size, s->file) == size) return true;
    note_errno(s, errno);
    s->status = Z_ERRNO;
    return false;
}

// The name stored in a written member: the base name, without a ".gz" suffix.
std::string_view stored_name(std::string_view path) {
    if (auto slash = path.rfind('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    if (path.size() > 3 && path.ends_with(".gz")) path.remove_suffix(3);
    return path;
}

// A little-endian 32-bit word of the trailer.
void store_le32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
}

// Writes the full output buffer and empties it; false on a short write.
bool write_full_block(gz_handle* s) {
    if (!put(s, s->write_buffer.get(), STREAM_BUFFER_SIZE)) return false;
    s->engine.next_out = s->write_buffer.get();
    s->engine.avail_out = STREAM_BUFFER_SIZE;
    return true;
}

unsigned block_for(gz_off_t remaining) {
    return remaining < STREAM_BUFFER_SIZE ? static_cast<unsigned>(remaining) : STREAM_BUFFER_SIZE;
}

}  // namespace

// One member header: by default magic, deflate, FNAME only, no time, Unix;
// with `fields`, the name, comment and time given there.  The open succeeds
// even if this write fails; the stream is then failed, and the first write or
// the close reports it.
void write_header(gz_handle* s, const gz_header_fields* fields) {
    using text = std::optional<std::string_view>;
    const auto given = [](const char* t) { return t != nullptr ? text(t) : std::nullopt; };
    const text name = fields != nullptr ? given(fields->name) : stored_name(s->display_name);
    const text comment = fields != nullptr ? given(fields->comment) : std::nullopt;
    const int flags = (name ? gzip::kFlagName : 0) | (comment ? gzip::kFlagComment : 0);
    // ID1 ID2 CM FLG, MTIME, XFL 0, OS.
    unsigned char fixed[gzip::kFixedHeaderSize] = {
        gzip::kMagic1, gzip::kMagic2, gzip::kMethodDeflate, static_cast<unsigned char>(flags)};
    fixed[9] = gzip::kOsUnix;
    store_le32(fixed + 4, fields != nullptr ? fields->mtime : 0);
    static constexpr unsigned char terminator = 0;
    bool ok = put(s, fixed, sizeof fixed);
    s->data_start = gzip::kFixedHeaderSize;
    for (const text& t : {name, comment}) {
        if (!t) continue;
        ok = ok && put(s, t->data(), t->size()) && put(s, &terminator, 1);
        s->data_start += static_cast<gz_off_t>(t->size()) + 1;
    }
}

int gzwrite(gz_handle* file, const void* buf, unsigned len) {
    if (!writable(file) || len > INT_MAX) return Z_STREAM_ERROR;
    if (failed(file)) return -1;
    if (finished(file)) return 0;  // the engine would refuse it: nothing is taken
    engine::stream& z = file->engine;
    const auto* const src = static_cast<const unsigned char*>(buf);
    z.next_in = src;
    z.avail_in = len;
    while (z.avail_in != 0) {
        if (z.avail_out == 0 && !write_full_block(file)) break;
        file->bytes_in += z.avail_in;
        file->bytes_out += z.avail_out;
        file->status = engine::deflate(z, Z_NO_FLUSH);
        file->bytes_in -= z.avail_in;
        file->bytes_out -= z.avail_out;
        if (file->status != Z_OK) break;
    }
    // Only the accepted bytes belong to the member: a refused tail (stream
    // finished, failed block write) must not enter the trailer's CRC.
    const unsigned accepted = len - z.avail_in;
    file->running_crc = engine::crc32(file->running_crc, src, accepted);
    return failed(file) ? -1 : static_cast<int>(accepted);
}

int gzputc(gz_handle* file, int c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return gzwrite(file, &byte, 1) == 1 ? byte : -1;
}

int gzputs(gz_handle* file, const char* text) {
    if (text == nullptr) return Z_STREAM_ERROR;
    const std::size_t len = std::strlen(text);
    if (len > INT_MAX) return Z_STREAM_ERROR;
    return gzwrite(file, text, static_cast<unsigned>(len));
}

int gzprintf(gz_handle* file, const char* format, ...) {
    if (!writable(file) || format == nullptr) return Z_STREAM_ERROR;
    if (failed(file)) return -1;
    char local[PRINTF_BUFFER_SIZE];
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int len = std::vsnprintf(local, sizeof local, format, args);
    va_end(args);
    const char* text = local;
    std::unique_ptr<char[]> large;
    int status = Z_OK;
    if (len < 0) {
        status = Z_STREAM_ERROR;  // the format could not be expanded (over INT_MAX bytes, ...)
    } else if (len >= PRINTF_BUFFER_SIZE) {
        large.reset(new (std::nothrow) char[static_cast<std::size_t>(len) + 1]);
        // The second expansion must give what the first measured, or the
        // buffer would hold bytes it never wrote.
        if (large &&
            std::vsnprintf(large.get(), static_cast<std::size_t>(len) + 1, format, again) == len) {
            text = large.get();
        } else if (large) {
            status = Z_STREAM_ERROR;
        } else {
            status = Z_MEM_ERROR;
        }
    }
    va_end(again);
    if (status != Z_OK) {
        // The caller's text is lost: the stream must not close as complete.
        file->status = status;
        return -1;
    }
    return gzwrite(file, text, static_cast<unsigned>(len));
}

int flush_output(gz_handle* s, int flush) {
    if (failed(s)) return s->status;
    if (finished(s)) return Z_OK;  // everything went out with the final flush
    engine::stream& z = s->engine;
    z.avail_in = 0;
    bool done = false;
    for (;;) {
        const unsigned pending = STREAM_BUFFER_SIZE - z.avail_out;
        if (pending != 0) {
            if (!put(s, s->write_buffer.get(), pending)) return Z_ERRNO;
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

int gzflush(gz_handle* file, int flush) {
    // An unknown mode is the caller's mistake, not the stream's failure.
    if (!writable(file) || flush < Z_NO_FLUSH || flush > Z_FINISH) return Z_STREAM_ERROR;
    if (const int rc = flush_output(file, flush); rc != Z_OK) return rc;
    // A failing fflush may have dropped what stdio held: the stream is lost.
    errno = 0;
    if (std::fflush(file->file) != 0) {
        note_errno(file, errno);
        file->status = Z_ERRNO;
    }
    return failed(file) ? file->status : Z_OK;
}

void finish_member(gz_handle* s) {
    if (flush_output(s, Z_FINISH) != Z_OK) return;
    unsigned char trailer[8];
    store_le32(trailer, s->running_crc);
    // The trailer holds the length modulo 2^32.
    store_le32(trailer + 4, static_cast<std::uint32_t>(s->bytes_in));
    put(s, trailer, sizeof trailer);
}

int gzsetparams(gz_handle* file, int level, int strategy) {
    if (!writable(file)) return Z_STREAM_ERROR;
    if (failed(file)) return file->status;
    engine::stream& z = file->engine;
    // The engine may have to compress what it holds before the change: make
    // room for that output, as often as it fills the buffer.
    int rc;
    for (;;) {
        if (z.avail_out == 0 && !write_full_block(file)) return file->status;
        file->bytes_out += z.avail_out;
        rc = engine::deflate_params(z, level, strategy);
        file->bytes_out -= z.avail_out;
        if (rc != Z_BUF_ERROR || z.avail_out != 0) break;
    }
    return rc;
}

// Forward only: appends zero bytes up to `target`.
gz_off_t seek_write(gz_handle* s, gz_off_t target) {
    if (failed(s) || target < s->bytes_in) return -1;
    gz_off_t offset = target - s->bytes_in;
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
