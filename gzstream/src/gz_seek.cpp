// Positioning in the uncompressed data: gzseek, gztell and gzrewind.  A read
// stream moves forward by reading and discarding and backward by rewinding
// first; a write stream only forward (gz_write.cpp).
#include <new>

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

gz_off_t seek_read(gz_handle* s, gz_off_t offset, int whence) {
    if (whence == kFromCurrent) offset += s->bytes_out;
    if (offset < 0) return -1;

    if (s->pass_through) {
        forget_plain_input(s);
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
        skip = skip_pushback(s, skip);
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
    restart_reader(s);
    return fseeko(s->file, s->data_start, SEEK_SET) == 0 ? 0 : -1;
}

}  // namespace gzstream
