// Lines: the newline and member tallies the access points carry, and the
// calls that position a read stream by line number and tell the totals.
//
// The tallies are counted only while a handle has an index, over the
// output of each inflate call as it is produced (one vectorised pass over
// bytes still in the cache), so plain sequential reading pays nothing.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "gz_handle.h"
#include "gz_index.h"
#include "newline_count.h"

namespace gzstream {

void line_tally::start(gz_off_t position, gz_off_t lines_before, gz_off_t members_so_far) {
    lines = lines_before;
    members = members_so_far;
    end = position;
}

void line_tally::add(const unsigned char* data, std::size_t n, gz_off_t position) {
    // Once the totals are known, points noted later need no counts: the
    // line calls find their way from the ones that have them.
    if (lines < 0 || total_lines >= 0) return;
    if (end != position - static_cast<gz_off_t>(n)) {
        forget();  // bytes went by uncounted
        return;
    }
    lines += static_cast<gz_off_t>(count_newlines(data, n));
    end = position;
}

void line_tally::member_started(gz_off_t position) {
    if (known_at(position))
        ++members;
    else
        forget();
}

void line_tally::ended(gz_off_t position) {
    if (!known_at(position)) return;
    total_lines = lines;
    total_members = members;
}

namespace {

struct line_start {
    gz_off_t out = 0;    // an uncompressed position
    gz_off_t lines = 0;  // newline bytes before it
};

// The last place known to lie before the byte that follows newline number
// `newline`: the last access point whose count is below it, or the start.
// Points saved before lines were counted carry none and are passed over.
line_start start_for(gz_handle* s, gz_off_t newline) {
    const point_index* index = index_ensure(s);
    if (index == nullptr || index->discredited()) return {};
    const auto& points = index->points();
    for (std::size_t k = points.size(); k-- > 0;)
        if (points[k].lines >= 0 && points[k].lines < newline)
            return {points[k].out, points[k].lines};
    return {};
}

// Reads on until `newlines` (at least 1) more newline bytes have gone by
// and stops right behind the last of them, scanning the decoded bytes where
// they lie so that the stream stands exactly there.  Its position, or -1 at
// the end of the data or on an error.
gz_off_t pass_newlines(gz_handle* s, gz_off_t newlines) {
    for (;;) {
        if (s->pushback_char != -1) {
            const int c = gzgetc(s);
            if (c < 0) return -1;
            if (c == '\n' && --newlines == 0) return s->bytes_out;
            continue;
        }
        const long n = peek_decoded(s);
        if (n <= 0) return -1;
        const unsigned char* const at = s->ahead.next;
        const unsigned char* const end = at + n;
        const auto here = static_cast<gz_off_t>(count_newlines(at, static_cast<std::size_t>(n)));
        if (here < newlines) {
            newlines -= here;
            take_decoded(s, static_cast<std::size_t>(n));
            continue;
        }
        const unsigned char* p = at;
        for (;;) {
            p = static_cast<const unsigned char*>(
                    std::memchr(p, '\n', static_cast<std::size_t>(end - p))) +
                1;
            if (--newlines == 0) break;
        }
        take_decoded(s, static_cast<std::size_t>(p - at));
        return s->bytes_out;
    }
}

// Back to `position`, with the byte that was handed back there (if any)
// waiting again.  Before a byte handed back at the very start the position
// is -1.
void go_back(gz_handle* s, gz_off_t position, int pushed) {
    const gz_off_t back = pushed != -1 ? position + 1 : position;
    if (gzseek(s, back, 0) == back && pushed != -1) gzungetc(pushed, s);
}

const point_index* counted_index(gz_handle* s) {
    if (s == nullptr || s->direction != 'r' || !s->index || s->index->discredited()) return nullptr;
    return s->index.get();
}

}  // namespace

gz_off_t gzseek_line(gz_handle* file, gz_off_t line) {
    if (file == nullptr || file->direction != 'r' || file->status < 0 || line < 1) return -1;
    if (line == 1) return gzseek(file, 0, 0);
    const gz_off_t newline = line - 1;
    const gz_off_t position = file->bytes_out;
    const int pushed = file->pushback_char;
    const line_start from = start_for(file, newline);
    if (gzseek(file, from.out, 0) == from.out) {
        const gz_off_t found = pass_newlines(file, newline - from.lines);
        if (found >= 0) return found;
    }
    // Damaged data leaves the stream in error where reading stopped, as a
    // gzread would; past the end, it goes back to where it stood.
    if (file->status >= 0) go_back(file, position, pushed);
    return -1;
}

gz_off_t gzindex_lines(gz_handle* file) {
    const point_index* index = counted_index(file);
    return index != nullptr ? index->total_lines() : -1;
}

gz_off_t gzindex_members(gz_handle* file) {
    const point_index* index = counted_index(file);
    return index != nullptr ? index->total_members() : -1;
}

gz_off_t gzindex_points(gz_handle* file) {
    const point_index* index = counted_index(file);
    return index != nullptr ? static_cast<gz_off_t>(index->point_count()) : -1;
}

}  // namespace gzstream
