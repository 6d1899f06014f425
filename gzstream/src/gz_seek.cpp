// Positioning in the uncompressed data: gzseek, gztell and gzrewind.  A read
// stream moves forward by reading and discarding and backward by rewinding
// first, or, once it has access points (gz_index.cpp), by restarting at the
// nearest one before the target; a write stream only forward (gz_write.cpp).
//
// A seek that is refused before it starts changes nothing: the target is
// checked without any arithmetic that could overflow, and a stream is reset
// for a rewind only once its file is known to be repositionable, so that a
// backward seek on a pipe leaves the handle reading on where it stood.
#include <unistd.h>

#include <algorithm>
#include <new>

#include "gz_handle.h"

namespace gzstream {
namespace {

constexpr int kFromStart = 0;
constexpr int kFromCurrent = 1;

bool in_error(const gz_handle* s) { return s->status < 0; }

// A pipe or terminal cannot go back; asking the descriptor moves nothing,
// whereas a failing fseeko may already have dropped stdio's buffer.  A
// stream without a descriptor (fopencookie, fmemopen) can go back when it
// has a seek function, which ftello asks without moving.
bool repositionable(const gz_handle* s) {
    const int fd = fileno(s->file);
    return fd >= 0 ? ::lseek(fd, 0, SEEK_CUR) >= 0 : ftello(s->file) >= 0;
}

// The absolute target of a seek, or false when it lies outside 0..INT64_MAX.
bool target_of(gz_off_t position, gz_off_t offset, int whence, gz_off_t& target) {
    if (whence == kFromStart)
        target = offset;
    else if (__builtin_add_overflow(position, offset, &target))
        return false;
    return target >= 0;
}

// Plain data in a file that can be repositioned: the file itself moves.
// Positions count from where the data starts, as for a rewind.  A target
// past the end fails, leaving the stream at its end, as for gzip data.
gz_off_t seek_plain_file(gz_handle* s, gz_off_t target) {
    gz_off_t file_at;
    if (__builtin_add_overflow(s->data_start, target, &file_at)) return -1;
    forget_plain_input(s);
    const gz_off_t end = fseeko(s->file, 0, SEEK_END) == 0 ? ftello(s->file) : -1;
    if (end < 0) return -1;
    const bool past_end = file_at > end;
    if (fseeko(s->file, past_end ? end : file_at, SEEK_SET) != 0) return -1;
    // The end seen before the move is not the end here.
    s->input_ended = past_end;
    s->bytes_in = s->bytes_out = past_end ? std::max<gz_off_t>(end - s->data_start, 0) : target;
    return past_end ? -1 : target;
}

gz_off_t seek_read(gz_handle* s, gz_off_t target) {
    // Plain data that cannot be repositioned (a pipe) is read forward like
    // gzip data, and cannot go back.
    if (s->pass_through && repositionable(s)) return seek_plain_file(s, target);

    // Before a handed-back byte at the very start is read again, the
    // position is -1.
    gz_off_t skip;
    const access_point* point = index_point_for(s, target);
    if (point != nullptr && index_restart(s, *point)) {
        skip = target - s->bytes_out;
    } else if (point == nullptr && target >= s->bytes_out) {
        if (__builtin_sub_overflow(target, s->bytes_out, &skip)) return -1;
    } else {
        if (gzrewind(s) < 0) return -1;
        skip = target;
    }
    if (skip <= 0) return s->bytes_out;
    // A handle with access points skips through the index's larger block.
    unsigned block = 0;
    unsigned char* discard = index_skip_buffer(s, block);
    if (discard == nullptr) {
        if (!s->write_buffer) {
            s->write_buffer.reset(new (std::nothrow) unsigned char[STREAM_BUFFER_SIZE]);
            if (!s->write_buffer) return -1;
        }
        discard = s->write_buffer.get();
        block = STREAM_BUFFER_SIZE;
    }
    skip = skip_pushback(s, skip);
    while (skip > 0) {
        const int n = gzread(s, discard, skip < block ? static_cast<unsigned>(skip) : block);
        if (n <= 0) return -1;
        skip -= n;
    }
    return s->bytes_out;
}

}  // namespace

gz_off_t gzseek(gz_handle* file, gz_off_t offset, int whence) {
    if (file == nullptr || (whence != kFromStart && whence != kFromCurrent) || in_error(file))
        return -1;
    const bool writing = file->direction == 'w';
    gz_off_t target;
    if (!target_of(writing ? file->bytes_in : file->bytes_out, offset, whence, target)) return -1;
    return writing ? seek_write(file, target) : seek_read(file, target);
}

gz_off_t gztell(gz_handle* file) {
    // The answer a seek by 0 from here would give, without its side effects:
    // on plain data that seek repositions the file, which drops a handed-back
    // byte and, on a pipe, the buffered input.
    if (file == nullptr || in_error(file)) return -1;
    const gz_off_t position = file->direction == 'w' ? file->bytes_in : file->bytes_out;
    return position < 0 ? -1 : position;
}

int gzrewind(gz_handle* file) {
    if (file == nullptr || file->direction != 'r' || !repositionable(file)) return -1;
    restart_reader(file);
    const bool ok = fseeko(file->file, file->data_start, SEEK_SET) == 0;
    if (!file->pass_through) index_rewound(file, ok);
    return ok ? 0 : -1;
}

}  // namespace gzstream
