// The random-access calls on a whole stream: noting every access point in one
// pass, checking a loaded index against the data, and the memory budget.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>

#include "gz_handle.h"
#include "gz_index.h"

namespace gzstream {
namespace {

// Reads the data from its start to its end, so that the index notes (and
// checks) every point, then goes back to where the stream stood, handed-back
// byte included.  False when the data cannot be read to the end: the stream
// is then in error where reading stopped.  `sound` tells whether the index
// came through the pass with every point found where it said.
bool read_through(gz_handle* s, bool& sound) {
    const gz_off_t position = s->bytes_out;
    const int pushed = s->pushback_char;
    if (gzrewind(s) != 0) return false;
    // The index's large block when it has one: the engine then copies only
    // the end of each call's output into its window, not all of it.
    unsigned size = 0;
    unsigned char* block = index_skip_buffer(s, size);
    if (block == nullptr) {
        if (!s->write_buffer) {
            s->write_buffer.reset(new (std::nothrow) unsigned char[STREAM_BUFFER_SIZE]);
            if (!s->write_buffer) return false;
        }
        block = s->write_buffer.get();
        size = STREAM_BUFFER_SIZE;
    }
    int n;
    while ((n = gzread(s, block, size)) > 0) {
    }
    if (n < 0) return false;
    sound = s->index && !s->index->discredited() && s->index->all_passed();
    if (sound) {
        s->index->set_complete();
        s->index->all_checked();
    }
    // Before a byte handed back at the very start the position is -1.
    const gz_off_t back = pushed != -1 ? position + 1 : position;
    if (gzseek(s, back, 0) != back) return false;
    if (pushed != -1) gzungetc(pushed, s);
    return true;
}

bool usable(const gz_handle* s) { return s != nullptr && s->direction == 'r' && s->status >= 0; }

}  // namespace

int gzindex_build(gz_handle* file) {
    if (!usable(file)) {
        errno = EINVAL;
        return -1;
    }
    const point_index* index = index_ensure(file);
    if (index == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (index->complete()) return 0;
    bool sound = false;
    if (!read_through(file, sound)) return -1;
    if (sound) return 0;
    // A loaded index that the pass found wrong is gone: note the points anew.
    file->index.reset();
    file->index_refused = true;
    return index_ensure(file) != nullptr && read_through(file, sound) && sound ? 0 : -1;
}

int gzindex_verify(gz_handle* file) {
    if (!usable(file) || !file->index || file->index->discredited()) {
        errno = EINVAL;
        return -1;
    }
    if (!file->index->unchecked()) return 0;
    bool sound = false;
    if (!read_through(file, sound)) return -1;
    if (!sound) {
        // Wrong, or some point lies where the data never goes.
        file->index.reset();
        file->index_refused = true;
        errno = EINVAL;
        return -1;
    }
    return 0;
}

bool index_check_whole(const gz_handle* s,
                       std::unique_ptr<point_index, point_index_deleter>& index) {
    // The same file opened anew, with a file position of its own: the pass
    // leaves `s`'s position, buffers, CRC and error state alone.
    char own_path[sizeof "/proc/self/fd/-2147483648"];
    (void)std::snprintf(own_path, sizeof own_path, "/proc/self/fd/%d", fileno(s->file));
    const int fd = ::open(own_path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        index.reset();
        return false;
    }
    gz_handle* own = gzdopen(fd, "rb");
    if (own == nullptr) {
        ::close(fd);
        index.reset();
        return false;
    }
    own->index_budget = s->index_budget;
    bool ok = own->data_start == s->data_start && !own->pass_through;
    if (ok) {
        index_replace(own, std::move(index));
        ok = gzindex_verify(own) == 0 && own->index;
        if (ok) {
            index = std::move(own->index);
            // The pass's decode was own's, not s's.
            index->suspend();
        }
    }
    (void)gzclose(own);
    if (!ok) index.reset();
    return ok;
}

int gzindex_budget(gz_handle* file, std::int64_t bytes) {
    if (file == nullptr || file->direction != 'r' || bytes < 0 ||
        (bytes > 0 && static_cast<std::uint64_t>(bytes) < kIndexMinimumBudget)) {
        errno = EINVAL;
        return -1;
    }
    constexpr auto kMost = std::numeric_limits<std::size_t>::max();
    file->index_budget =
        static_cast<std::uint64_t>(bytes) > kMost ? kMost : static_cast<std::size_t>(bytes);
    if (bytes == 0)
        file->index.reset();
    else if (file->index)
        file->index->set_memory_limit(file->index_budget, decoded_position(file));
    return 0;
}

}  // namespace gzstream
