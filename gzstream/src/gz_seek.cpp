// Positioning, end and error queries, and character and line input.
#include <cstring>
#include <new>

#include "engine.h"
#include "gz_handle.h"

namespace gzstream {
namespace {

constexpr int kFromStart = 0;
constexpr int kFromCurrent = 1;

bool in_error(const gz_handle* s) {
    return s->status == Z_ERRNO || s->status == Z_DATA_ERROR;
}

unsigned block_for(gz_off_t remaining) {
    return remaining < STREAM_BUFFER_SIZE ? static_cast<unsigned>(remaining) : STREAM_BUFFER_SIZE;
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

// Forward by reading and discarding, backward by rewinding first.
gz_off_t seek_read(gz_handle* s, gz_off_t offset, int whence) {
    if (whence == kFromCurrent) offset += s->bytes_out;
    if (offset < 0) return -1;

    if (s->pass_through) {
        s->pushback_char = -1;
        s->engine.next_in = s->read_buffer.get();
        s->engine.avail_in = 0;
        if (fseeko(s->file, offset, SEEK_SET) != 0) return -1;
        s->input_ended = 0;  // the end seen before the move is not the end here
        s->bytes_in = s->bytes_out = offset;
        return offset;
    }

    gz_off_t skip;
    if (offset >= s->bytes_out) {
        skip = offset - s->bytes_out;
    } else {
        if (gzrewind(s) < 0) return -1;
        skip = offset;
    }
    if (skip > 0) {
        if (!s->write_buffer) {
            s->write_buffer.reset(new (std::nothrow) unsigned char[STREAM_BUFFER_SIZE]);
            if (!s->write_buffer) return -1;
        }
        if (s->pushback_char != -1) {
            s->pushback_char = -1;
            s->bytes_out++;
            skip--;
            if (s->pushback_at_end) s->status = Z_STREAM_END;
        }
    }
    while (skip > 0) {
        const int n = gzread(s, s->write_buffer.get(), block_for(skip));
        if (n <= 0) return -1;
        skip -= n;
    }
    return s->bytes_out;
}

}  // namespace

gz_off_t gzseek(gz_handle* s, gz_off_t offset, int whence) {
    if (s == nullptr || (whence != kFromStart && whence != kFromCurrent) || in_error(s)) return -1;
    return s->direction == 'w' ? seek_write(s, offset, whence) : seek_read(s, offset, whence);
}

gz_off_t gztell(gz_handle* s) {
    // The answer a seek by 0 from here would give, without its side effects:
    // on plain data that seek repositions the file, which drops a handed-back
    // byte and, on a pipe, the buffered input.
    if (s == nullptr || in_error(s)) return -1;
    const gz_off_t position = s->direction == 'w' ? s->bytes_in : s->bytes_out;
    return position < 0 ? -1 : position;
}

int gzrewind(gz_handle* s) {
    if (s == nullptr || s->direction != 'r') return -1;
    s->status = Z_OK;
    s->input_ended = 0;
    s->pushback_char = -1;
    s->pushback_at_end = 0;
    s->engine.next_in = s->read_buffer.get();
    s->engine.avail_in = 0;
    s->running_crc = engine::crc32(0, nullptr, 0);
    if (!s->pass_through) engine::inflate_reset(s->engine);
    // data_start lies behind the first member's header, inside its data.
    s->in_member = s->has_member;
    s->bytes_in = s->bytes_out = 0;
    return fseeko(s->file, s->data_start, SEEK_SET) == 0 ? 0 : -1;
}

int gzeof(gz_handle* s) {
    if (s == nullptr || s->direction != 'r') return 0;
    if (s->input_ended) return 1;
    return s->status == Z_STREAM_END ? 1 : 0;
}

void gzclearerr(gz_handle* s) {
    if (s == nullptr) return;
    if (s->status != Z_STREAM_END) s->status = Z_OK;
    s->input_ended = 0;
    std::clearerr(s->file);
}

int gzgetc(gz_handle* s) {
    unsigned char c;
    return gzread(s, &c, 1) == 1 ? c : -1;
}

int gzungetc(int c, gz_handle* s) {
    if (s == nullptr || s->direction != 'r' || c < 0 || s->pushback_char != -1) return -1;
    s->pushback_char = c;
    s->bytes_out--;
    s->pushback_at_end = s->status == Z_STREAM_END;
    if (s->pushback_at_end) s->status = Z_OK;
    s->input_ended = 0;
    return c;
}

char* gzgets(gz_handle* s, char* buf, int size) {
    if (buf == nullptr || size <= 0) return nullptr;
    int stored = 0;
    while (stored < size - 1) {
        if (gzread(s, buf + stored, 1) != 1) break;
        if (buf[stored++] == '\n') break;
    }
    buf[stored] = '\0';
    return stored == 0 && size > 1 ? nullptr : buf;
}

}  // namespace gzstream
