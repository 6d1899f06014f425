// Access points: recording them while inflating, bounding their memory, and
// restarting the inflater at one of them.
#include "gz_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "engine.h"
#include "gz_handle.h"

namespace gzstream {
namespace {

constexpr gz_off_t kNoPoint = std::numeric_limits<gz_off_t>::max();

// Restarting costs a seek, a dictionary load and a partial block of input;
// reading on is cheaper when the point is not far ahead.
constexpr gz_off_t kWorthRestarting = 2 * kWindowSize;

std::unique_ptr<point_index> make_index(gz_off_t spacing, std::size_t memory_limit) {
    std::unique_ptr<unsigned char[]> ring(new (std::nothrow) unsigned char[kWindowSize]);
    if (!ring) return nullptr;
    return std::unique_ptr<point_index>(new (std::nothrow)
                                            point_index(spacing, memory_limit, std::move(ring)));
}

// Makes the index on a handle's first seek or rewind.  Input that cannot
// tell its position (a pipe) cannot go back to a point either: it gets none.
point_index* ensure_index(gz_handle* s) {
    if (s->index) return s->index.get();
    if (s->index_disabled || s->pass_through || !s->has_member) return nullptr;
    if (ftello(s->file) < 0) {
        s->index_disabled = true;
        return nullptr;
    }
    s->index.reset(make_index(kFirstPointSpacing, kIndexMemoryLimit).release());
    if (s->index && s->decode_in_step) s->index->repositioned(s->bytes_out);
    return s->index.get();
}

}  // namespace

point_index::point_index(gz_off_t spacing, std::size_t memory_limit,
                         std::unique_ptr<unsigned char[]> ring)
    : spacing_(spacing), memory_limit_(memory_limit), ring_(std::move(ring)) {}

const access_point* point_index::point_before(gz_off_t target) const {
    auto after = std::upper_bound(points_.begin(), points_.end(), target,
                                  [](gz_off_t t, const access_point& p) { return t < p.out; });
    return after == points_.begin() ? nullptr : &*(after - 1);
}

void point_index::repositioned(gz_off_t position) {
    recording_ = true;
    ring_size_ = 0;
    ring_end_ = position;
    passed_points(position);
}

// Sets when the next point is due: `spacing_` after the last point at or
// before `position`, never next to one that exists already.
void point_index::passed_points(gz_off_t position) {
    auto after = std::upper_bound(points_.begin(), points_.end(), position,
                                  [](gz_off_t t, const access_point& p) { return t < p.out; });
    next_point_ = after == points_.end() ? kNoPoint : after->out;
    due_ = (after == points_.begin() ? 0 : (after - 1)->out) + spacing_;
}

void point_index::keep_window(const unsigned char* data, std::size_t n, gz_off_t end) {
    if (ring_end_ != end - static_cast<gz_off_t>(n)) ring_size_ = 0;  // not continuous
    ring_end_ = end;
    if (n > kWindowSize) {
        data += n - kWindowSize;
        n = kWindowSize;
    }
    const auto count = static_cast<unsigned>(n);
    const unsigned first = std::min(count, kWindowSize - ring_head_);
    std::memcpy(ring_.get() + ring_head_, data, first);
    std::memcpy(ring_.get(), data + first, count - first);
    ring_head_ = (ring_head_ + count) % kWindowSize;
    ring_size_ = std::min(kWindowSize, ring_size_ + count);
}

void point_index::after_inflate(gz_handle* s, const unsigned char* produced,
                                unsigned char*& crc_mark) {
    if (!recording_) return;
    engine::stream& z = s->engine;
    const gz_off_t out = s->bytes_out;
    if (out >= next_point_) passed_points(out);
    if (out + kWindowSize < due_) return;
    keep_window(produced, static_cast<std::size_t>(z.next_out - produced), out);

    // A block has ended and another follows in this member: restartable.
    const int where = z.data_type;
    if (s->status != Z_OK || (where & engine::kAtBlockEnd) == 0 ||
        (where & engine::kInLastBlock) != 0 || out < due_)
        return;
    const gz_off_t in_member = out - s->member_start;
    const auto window_size =
        static_cast<unsigned>(std::min<gz_off_t>(kWindowSize, in_member));
    if (ring_size_ < window_size) return;  // the window was not all seen: wait for the next block
    // The point carries the member's CRC so far, so that the trailer is still
    // checked after a restart there.
    s->running_crc = engine::crc32(s->running_crc, crc_mark,
                                   static_cast<std::size_t>(z.next_out - crc_mark));
    crc_mark = z.next_out;
    record(s, where & engine::kUnusedBitsMask, window_size);
}

void point_index::member_started(gz_handle* s) {
    if (!recording_) return;
    if (s->bytes_out >= next_point_) passed_points(s->bytes_out);
    if (s->bytes_out >= due_) record(s, 0, 0);
}

std::size_t point_index::memory_used() const {
    return sizeof(*this) + kWindowSize + points_.capacity() * sizeof(access_point) +
           window_bytes_;
}

std::size_t point_index::memory_with_one_more(unsigned window_size) const {
    std::size_t capacity = points_.capacity();
    if (points_.size() == capacity) capacity = std::max<std::size_t>(1, 2 * capacity);
    return sizeof(*this) + kWindowSize + capacity * sizeof(access_point) + window_bytes_ +
           window_size;
}

// Doubles the spacing and drops every other point, keeping those that lie
// on the wider grid.
void point_index::thin_out() {
    spacing_ *= 2;
    std::size_t kept = 0;
    for (std::size_t i = 1; i < points_.size(); i += 2) points_[kept++] = std::move(points_[i]);
    points_.resize(kept);
    points_.shrink_to_fit();
    window_bytes_ = 0;
    for (const access_point& p : points_) window_bytes_ += p.window_size;
}

void point_index::record(gz_handle* s, int bits, unsigned window_size) {
    const gz_off_t out = s->bytes_out;
    while (memory_with_one_more(window_size) > memory_limit_ && !points_.empty()) {
        thin_out();
        passed_points(out);
    }
    if (out < due_) return;
    if (memory_with_one_more(window_size) > memory_limit_) {
        due_ = out + spacing_;  // not even one point fits: try again later
        return;
    }
    const gz_off_t file_at = ftello(s->file);
    if (file_at < 0) {
        recording_ = false;
        return;
    }
    access_point p;
    p.out = out;
    p.in = file_at - static_cast<gz_off_t>(s->engine.avail_in);
    p.bytes_in = s->bytes_in;
    p.member_start = s->member_start;
    p.crc = s->running_crc;
    p.bits = bits;
    p.window_size = window_size;
    if (window_size > 0) {
        p.window.reset(new (std::nothrow) unsigned char[window_size]);
        if (!p.window) return;
        // The ring's last window_size bytes, oldest first.
        const unsigned start = (ring_head_ + kWindowSize - window_size) % kWindowSize;
        const unsigned first = std::min(window_size, kWindowSize - start);
        std::memcpy(p.window.get(), ring_.get() + start, first);
        std::memcpy(p.window.get() + first, ring_.get(), window_size - first);
    }
    try {
        auto at = std::upper_bound(points_.begin(), points_.end(), out,
                                   [](gz_off_t t, const access_point& q) { return t < q.out; });
        points_.insert(at, std::move(p));
    } catch (const std::bad_alloc&) {
        return;
    }
    window_bytes_ += window_size;
    due_ = out + spacing_;
}

bool point_index::adopt(std::vector<access_point> points, gz_off_t spacing) {
    std::size_t windows = 0;
    for (const access_point& p : points) windows += p.window_size;
    if (sizeof(*this) + kWindowSize + points.capacity() * sizeof(access_point) + windows >
        memory_limit_)
        return false;
    points_ = std::move(points);
    window_bytes_ = windows;
    spacing_ = spacing;
    return true;
}

point_index* index_for_loading(gz_handle* s) {
    return ensure_index(s);
}

void point_index_deleter::operator()(point_index* index) const {
    delete index;
}

const access_point* index_point_for(gz_handle* s, gz_off_t target) {
    const point_index* index = ensure_index(s);
    if (index == nullptr) return nullptr;
    const access_point* point = index->point_before(target);
    // Backward, as far as the caller sees: the point replaces the rewind.
    if (target < s->bytes_out || point == nullptr) return point;
    // Forward: read on after an error (clearerr), as a handle without points
    // would; otherwise jump when the point is well ahead of the next decoded
    // byte (a handed-back byte sits in front of it).
    if (!s->decode_in_step) return nullptr;
    const gz_off_t position = s->bytes_out + (s->pushback_char != -1 ? 1 : 0);
    return point->out >= position + kWorthRestarting ? point : nullptr;
}

bool index_restart(gz_handle* s, const access_point& point) {
    engine::stream& z = s->engine;
    restart_reader(s);
    s->running_crc = point.crc;
    s->in_member = true;
    s->member_start = point.member_start;
    s->bytes_in = point.bytes_in;
    s->bytes_out = point.out;

    bool ok = fseeko(s->file, point.in - (point.bits != 0 ? 1 : 0), SEEK_SET) == 0;
    if (ok && point.bits != 0) {
        const int c = std::fgetc(s->file);
        ok = c != EOF && engine::inflate_prime(z, point.bits, c >> (8 - point.bits)) == Z_OK;
    }
    if (ok && point.window_size != 0)
        ok = engine::inflate_set_dictionary(z, point.window.get(), point.window_size) == Z_OK;
    s->decode_in_step = ok;
    if (ok)
        s->index->repositioned(point.out);
    else
        s->index->suspend();
    return ok;
}

void index_rewound(gz_handle* s, bool ok) {
    // After a failed rewind the reads go on from wherever the file stands.
    s->decode_in_step = ok;
    point_index* index = ensure_index(s);
    if (index == nullptr) return;
    if (ok)
        index->repositioned(0);
    else
        index->suspend();
}

void index_read_failed(gz_handle* s) {
    s->decode_in_step = false;
    if (s->index) s->index->suspend();
}

bool index_configure(gz_handle* s, gz_off_t spacing, std::size_t memory_limit) {
    if (s == nullptr || s->direction != 'r' || s->index) return false;
    if (spacing <= 0) {
        s->index_disabled = true;
        return true;
    }
    if (s->pass_through || !s->has_member || ftello(s->file) < 0) return false;
    s->index.reset(make_index(spacing, memory_limit).release());
    if (s->index && s->decode_in_step) s->index->repositioned(s->bytes_out);
    return s->index != nullptr;
}

const point_index* index_of(const gz_handle* s) {
    return s->index.get();
}

}  // namespace gzstream
