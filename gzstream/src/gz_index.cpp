// Access points: recording them while inflating, bounding their memory,
// checking loaded ones against the decoder, and restarting the inflater at
// one of them.
#include "gz_index.h"

#include <sys/mman.h>
#include <sys/stat.h>

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

// Restarting costs a seek, a window to inflate and a partial block of input;
// reading on is cheaper when the point is not far ahead.
constexpr gz_off_t kWorthRestarting = gz_off_t{2} * kWindowSize;

// Windows are kept as they are while the memory budget allows, so that
// noting a point costs little more than copying its window, and packed
// only when the budget fills, before any point is given up.  Then memory
// decides how dense the points stay in a large stream: the middle level
// packs nearly as tightly as the highest at half its cost (the fastest
// takes a tenth more room, which halves the points of a stream that fills
// the budget at a power of two).
constexpr int kPackLevel = 6;

const char* const kMismatch = "index does not match the data";

std::unique_ptr<point_index, point_index_deleter> make_index(gz_off_t spacing,
                                                             std::size_t memory_limit) {
    std::unique_ptr<unsigned char[]> ring(new (std::nothrow) unsigned char[kWindowSize]);
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[kPackedWindowLimit]);
    if (!ring || !scratch) return nullptr;
    return std::unique_ptr<point_index, point_index_deleter>(
        new (std::nothrow) point_index(spacing, memory_limit, std::move(ring), std::move(scratch)));
}

// The file offset of the next compressed byte the engine takes, or -1.
gz_off_t input_offset(const gz_handle* s) {
    const gz_off_t file_at = ftello(s->file);
    return file_at < 0 ? -1 : file_at - static_cast<gz_off_t>(s->engine.avail_in);
}

bool can_have_index(gz_handle* s) {
    if (s->direction != 'r' || s->index_disabled || s->pass_through || !s->has_member) return false;
    // Input that cannot tell its position (a pipe) cannot go back to a point.
    if (ftello(s->file) < 0) {
        s->index_disabled = true;
        return false;
    }
    return true;
}

}  // namespace

point_index::point_index(gz_off_t spacing, std::size_t memory_limit,
                         std::unique_ptr<unsigned char[]> ring,
                         std::unique_ptr<unsigned char[]> scratch)
    : spacing_(spacing),
      memory_limit_(memory_limit),
      ring_(std::move(ring)),
      scratch_(std::move(scratch)) {}

std::size_t point_index::first_after(gz_off_t position) const {
    const auto after =
        std::upper_bound(points_.begin(), points_.end(), position,
                         [](gz_off_t t, const access_point& p) { return t < p.out; });
    return static_cast<std::size_t>(after - points_.begin());
}

const access_point* point_index::point_before(gz_off_t target) const {
    if (discredited_) return nullptr;
    const std::size_t after = first_after(target);
    return after == 0 ? nullptr : &points_[after - 1];
}

bool point_index::wants_block_ends(const gz_handle* s) const {
    return (recording_ && s->bytes_out >= due_) || (checking_ && s->bytes_in >= check_in_);
}

void point_index::repositioned(gz_off_t position, bool from_start) {
    if (discredited_) {
        suspend();
        return;
    }
    from_start_ = from_start;
    window_missed_ = false;
    // Points are taken only from what is known to be the data's own decoding.
    recording_ = from_start || !unchecked_;
    if (position == 0)
        tally_.start(0, 0, 1);  // inside the first member, whose header was read
    else
        tally_.forget();
    ring_size_ = 0;
    ring_end_ = position;
    passed_points(position);
    check_from(first_after(position));
}

void point_index::restarted_at(const access_point& p) {
    // The ring starts empty: a window read from a file holds only the bytes
    // the data after its point copies, not all the output before it.
    repositioned(p.out, p.checked || !unchecked_);
    if (p.lines >= 0) tally_.start(p.out, p.lines, p.members);
}

void point_index::check_from(std::size_t k) {
    check_at_ = k;
    checking_ = unchecked_ && k < points_.size();
    check_in_ = checking_ ? points_[k].bytes_in : kNoPoint;
}

// After the points changed: the next one to check is the first at or past
// the compressed position it was waiting for.
void point_index::reseat_check() {
    if (!checking_) return;
    std::size_t k = 0;
    while (k < points_.size() && points_[k].bytes_in < check_in_) ++k;
    check_from(k);
}

// Sets when the next point is due: `spacing_` after the last point at or
// before `position`, never next to one that exists already.
void point_index::passed_points(gz_off_t position) {
    const std::size_t after = first_after(position);
    next_point_ = after == points_.size() ? kNoPoint : points_[after].out;
    const gz_off_t last = after == 0 ? 0 : points_[after - 1].out;
    due_ = last > kNoPoint - spacing_ ? kNoPoint : last + spacing_;
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

point_index::ring_span point_index::ring_last(unsigned length) const {
    const unsigned start = (ring_head_ + kWindowSize - length) % kWindowSize;
    const unsigned first = std::min(length, kWindowSize - start);
    return {ring_.get() + start, first, ring_.get(), length - first};
}

std::uint32_t point_index::ring_crc(unsigned length) const {
    const ring_span span = ring_last(length);
    const std::uint32_t crc = engine::crc32(0, span.first, span.first_size);
    return engine::crc32(crc, span.second, span.second_size);
}

void point_index::after_inflate(gz_handle* s, const unsigned char* produced,
                                unsigned char*& crc_mark) {
    engine::stream& z = s->engine;
    const gz_off_t out = s->bytes_out;
    tally_.add(produced, static_cast<std::size_t>(z.next_out - produced), out);
    if (!recording_ && !checking_) return;
    if (recording_ && out >= next_point_) passed_points(out);
    const bool near_due = recording_ && out + kWindowSize >= due_;
    const bool near_check = checking_ && out + kWindowSize >= points_[check_at_].out;
    if (!near_due && !near_check) return;
    keep_window(produced, static_cast<std::size_t>(z.next_out - produced), out);

    const int where = z.data_type;
    const bool at_block_end = s->status == Z_OK && (where & engine::kAtBlockEnd) != 0;
    if (checking_) {
        const access_point& p = points_[check_at_];
        // A point in the middle of the data lies at a block end; one at a
        // member's start is checked once the member's header is read.
        if (s->bytes_in > check_in_ ||
            (s->bytes_in == check_in_ && at_block_end && p.out != p.member_start)) {
            s->running_crc = engine::crc32(s->running_crc, crc_mark,
                                           static_cast<std::size_t>(z.next_out - crc_mark));
            crc_mark = z.next_out;
            const verdict v = s->bytes_in > check_in_
                                  ? verdict::wrong
                                  : check(s, p, where & engine::kUnusedBitsMask);
            if (v == verdict::wrong) {
                failed_check(s);
                return;
            }
            passed_check(v == verdict::agrees);
        }
    }

    // A block has ended and another follows in this member: restartable.
    if (!recording_ || !at_block_end || (where & engine::kInLastBlock) != 0 || out < due_) return;
    const gz_off_t in_member = out - s->member_start;
    const auto window_size = static_cast<unsigned>(std::min<gz_off_t>(kWindowSize, in_member));
    if (ring_size_ < window_size) return;  // the window was not all seen: wait for the next block
    // The point carries the member's CRC so far, so that the trailer is still
    // checked after a restart there.
    s->running_crc =
        engine::crc32(s->running_crc, crc_mark, static_cast<std::size_t>(z.next_out - crc_mark));
    crc_mark = z.next_out;
    record(s, where & engine::kUnusedBitsMask, window_size);
}

// Whether the decoder stands exactly where the point says, with the same
// output behind it.
point_index::verdict point_index::check(gz_handle* s, const access_point& p, int bits) {
    if (input_offset(s) != p.in || bits != p.bits || s->bytes_out != p.out ||
        s->member_start != p.member_start || s->running_crc != p.crc || tally_.disagrees(p))
        return verdict::wrong;
    // A decode that began at an unchecked point (a probe) vouches for that
    // point through the CRC; this one's window is compared when a decode
    // from the start passes it, which is what marks it checked.
    if (p.checked || p.window_size == 0 || !from_start_) return verdict::agrees;
    if (ring_size_ < p.window_size || ring_end_ != p.out) {
        // Not all of the output before it passed through here (a restart
        // shortly before, a handed-back byte): the window cannot be compared
        // this time.
        return verdict::window_unseen;
    }
    // Byte by byte, not by CRC: a CRC-32 is linear, so a window changed on
    // purpose can be made to keep it.  A window read from a file keeps only
    // the bytes the data after the point copies, and only those are used.
    unsigned char* window = scratch_.get();
    const ring_span span = ring_last(p.window_size);
    std::memcpy(window, span.first, span.first_size);
    std::memcpy(window + span.first_size, span.second, span.second_size);
    struct stat st;
    if (::fstat(fileno(s->file), &st) != 0) return verdict::window_unseen;
    const int agrees = window_agrees(fileno(s->file), st.st_size, p, window);
    if (agrees < 0) return verdict::window_unseen;
    return agrees == 1 ? verdict::agrees : verdict::wrong;
}

// A point disagrees with the data.  Output decoded from an unchecked point
// may be wrong, so that read fails; a decode from the start of the data is
// right whatever the index says, and only the index goes.
void point_index::failed_check(gz_handle* s) {
    discredited_ = true;
    suspend();
    if (!from_start_) {
        s->status = Z_DATA_ERROR;
        s->engine.msg = kMismatch;
    }
}

void point_index::member_started(gz_handle* s) {
    tally_.member_started(s->bytes_out);
    if (checking_) {
        const access_point& p = points_[check_at_];
        if (s->bytes_in == check_in_ && p.out == p.member_start) {
            if (input_offset(s) != p.in || s->bytes_out != p.out || p.bits != 0 ||
                p.crc != s->running_crc || tally_.disagrees(p)) {
                failed_check(s);
                return;
            }
            passed_check(true);
        } else if (s->bytes_in >= check_in_) {
            failed_check(s);
            return;
        }
    }
    if (!recording_) return;
    if (s->bytes_out >= next_point_) passed_points(s->bytes_out);
    if (s->bytes_out >= due_) record(s, 0, 0);
}

// The point at check_at_ is where the decode found it.  A decode that began
// at the start of the data or at a checked point vouches for it, once it
// has compared the point's window too.
void point_index::passed_check(bool window_compared) {
    access_point& p = points_[check_at_];
    if (!window_compared)
        window_missed_ = true;
    else if (from_start_)
        p.checked = true;
    // A point from a file of the format before lines learns its tallies
    // from a decode that counted them on the way.
    if (from_start_ && p.lines < 0 && tally_.known_at(p.out)) {
        p.lines = tally_.lines;
        p.members = tally_.members;
    }
    if (probing_) probe_done_ = true;
    check_from(check_at_ + 1);
}

void point_index::all_checked() {
    unchecked_ = false;
    for (access_point& p : points_) p.checked = true;
}

bool point_index::member_ended(const gz_handle* s, std::uint32_t isize) {
    if (from_start_ || discredited_ || !unchecked_) return true;
    if (isize == static_cast<std::uint32_t>(s->bytes_out - s->member_start)) {
        if (probing_) probe_done_ = true;
        return true;
    }
    discredited_ = true;
    suspend();
    return false;
}

std::size_t point_index::memory_for(std::size_t count, std::size_t packed) const {
    return sizeof(*this) + kWindowSize + kPackedWindowLimit + kSkipBlock +
           count * sizeof(access_point) + packed;
}

unsigned char* point_index::skip_buffer() {
    if (!skip_) skip_.reset(new (std::nothrow) unsigned char[kSkipBlock]);
    return skip_.get();
}

std::size_t point_index::memory_used() const {
    return memory_for(points_.capacity(), packed_bytes_ + stored_.get_deleter().size);
}

std::size_t point_index::memory_with_one_more(std::size_t packed) const {
    std::size_t capacity = points_.capacity();
    if (points_.size() == capacity) capacity = std::max<std::size_t>(1, 2 * capacity);
    return memory_for(capacity, packed_bytes_ + stored_.get_deleter().size + packed);
}

// Noted points own their windows; the loaded file goes once none of its
// windows is left.
void point_index::count_windows() {
    packed_bytes_ = 0;
    bool uses_file = false;
    for (const access_point& p : points_) {
        if (p.owned)
            packed_bytes_ += p.packed_size;
        else if (p.packed != nullptr)
            uses_file = true;
    }
    if (!uses_file) stored_ = stored_file(nullptr, stored_file_deleter{});
}

// Doubles the spacing and drops every other point, keeping those that lie
// on the wider grid.
void point_index::thin_out() {
    spacing_ = spacing_ > kNoPoint / 2 ? kNoPoint : spacing_ * 2;
    std::size_t kept = 0;
    for (std::size_t i = 1; i < points_.size(); i += 2) points_[kept++] = std::move(points_[i]);
    points_.resize(kept);
    points_.shrink_to_fit();
    count_windows();
    reseat_check();
}

void point_index::set_memory_limit(std::size_t limit, gz_off_t position) {
    memory_limit_ = limit;
    while (memory_used() > memory_limit_ && !points_.empty())
        if (!pack_windows()) thin_out();
    passed_points(position);
}

// Packs every window still kept as it is; whether any was.
bool point_index::pack_windows() {
    bool packed_any = false;
    for (access_point& p : points_) {
        if (!p.raw) continue;
        const auto n = static_cast<unsigned>(
            engine::deflate_whole(kPackLevel, Z_DEFAULT_STRATEGY, p.packed, p.window_size, nullptr,
                                  0, scratch_.get(), kPackedWindowLimit));
        if (n == 0 || n >= p.packed_size) continue;
        std::unique_ptr<unsigned char[]> packed(new (std::nothrow) unsigned char[n]);
        if (!packed) continue;
        std::memcpy(packed.get(), scratch_.get(), n);
        p.owned = std::move(packed);
        p.packed = p.owned.get();
        packed_bytes_ -= p.packed_size - n;
        p.packed_size = n;
        p.raw = false;
        packed_any = true;
    }
    return packed_any;
}

void point_index::record(gz_handle* s, int bits, unsigned window_size) {
    const gz_off_t out = s->bytes_out;
    access_point p;
    p.packed_size = window_size;
    p.raw = window_size > 0;
    while (memory_with_one_more(p.packed_size) > memory_limit_ && !points_.empty()) {
        if (pack_windows()) continue;
        thin_out();
        passed_points(out);
    }
    if (out < due_) return;
    const ring_span span = ring_last(window_size);
    if (memory_with_one_more(p.packed_size) > memory_limit_ && p.raw) {
        p.packed_size = static_cast<unsigned>(engine::deflate_whole(
            kPackLevel, Z_DEFAULT_STRATEGY, span.first, span.first_size, span.second,
            span.second_size, scratch_.get(), kPackedWindowLimit));
        if (p.packed_size == 0) return;
        p.raw = false;
    }
    if (memory_with_one_more(p.packed_size) > memory_limit_) {
        due_ = out > kNoPoint - spacing_ ? kNoPoint : out + spacing_;  // not even one fits
        return;
    }
    p.in = input_offset(s);
    if (p.in < 0) {
        recording_ = false;
        return;
    }
    p.out = out;
    p.checked = true;
    p.bytes_in = s->bytes_in;
    p.member_start = s->member_start;
    p.crc = s->running_crc;
    p.bits = bits;
    p.window_size = window_size;
    if (tally_.known_at(out)) {
        p.lines = tally_.lines;
        p.members = tally_.members;
    }
    if (window_size > 0) {
        p.owned.reset(new (std::nothrow) unsigned char[p.packed_size]);
        if (!p.owned) return;
        p.packed = p.owned.get();
        if (p.raw) {
            std::memcpy(p.owned.get(), span.first, span.first_size);
            std::memcpy(p.owned.get() + span.first_size, span.second, span.second_size);
        } else {
            std::memcpy(p.owned.get(), scratch_.get(), p.packed_size);
        }
        p.window_crc = ring_crc(window_size);
    }
    const unsigned packed = p.packed_size;
    try {
        const std::size_t k = first_after(out);
        points_.insert(points_.begin() + static_cast<std::ptrdiff_t>(k), std::move(p));
        // The point waiting for its check (or the end of the points) moved up.
        if (k <= check_at_) ++check_at_;
    } catch (const std::bad_alloc&) {
        return;
    }
    packed_bytes_ += packed;
    due_ = out > kNoPoint - spacing_ ? kNoPoint : out + spacing_;
}

point_index::prefix point_index::prefix_matches(int fd, const access_point& p) {
    const gz_off_t end = first_byte(p);
    if (prefixes_trusted_) return prefix::agrees;
    // Before a point no further than one found right, the bytes are those
    // the index was saved from too: every point's CRC came from one file.
    if (end <= prefix_end_) return prefix::agrees;
    std::uint32_t crc = prefix_crc_;
    if (!crc_of_file(fd, prefix_end_, end - prefix_end_, crc)) return prefix::unreadable;
    if (crc != p.prefix_crc) return prefix::differs;
    prefix_end_ = end;
    prefix_crc_ = crc;
    return prefix::agrees;
}

point_index::prefix point_index::probe_matches(int fd, gz_off_t file_size, const access_point& p) {
    std::uint32_t crc = 0;
    if (!probe_crc_of(fd, file_size, p, crc)) return prefix::unreadable;
    return crc == p.probe_crc ? prefix::agrees : prefix::differs;
}

bool point_index::adopt(std::vector<access_point>& points, gz_off_t spacing, stored_file& file) {
    if (memory_for(points.size(), file.get_deleter().size) > memory_limit_) return false;
    points_ = std::move(points);
    stored_ = std::move(file);
    count_windows();
    spacing_ = spacing;
    unchecked_ = !points_.empty();
    return true;
}

bool point_index::unpack_window(gz_handle* s, const access_point& p) {
    engine::stream& z = s->engine;
    engine::inflate_reset(z);
    const bool whole = unpack_kept_window(z, p, scratch_.get(), ring_.get());
    engine::inflate_reset(z);
    return whole && engine::crc32(0, ring_.get(), p.window_size) == p.window_crc;
}

// The data lie inside the mapping, which may begin before them.
void stored_file_deleter::operator()(unsigned char* /*data*/) const { ::munmap(mapping, mapped); }

stored_file make_stored_file(std::size_t size) {
    // A file of a megabyte or more goes into huge pages where the system
    // offers them: one fault and one clear per 2 MiB instead of one per
    // 4 KiB page, which is most of what a short-lived reader's load costs.
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    const bool huge = size >= kHuge / 2 && size <= SIZE_MAX - 2 * kHuge;
    const std::size_t length =
        huge ? (size + kHuge - 1) / kHuge * kHuge + kHuge : (size == 0 ? 1 : size);
    void* mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | (huge ? 0 : MAP_POPULATE), -1, 0);
    if (mapping == MAP_FAILED) return stored_file(nullptr, stored_file_deleter{});
    auto* data = static_cast<unsigned char*>(mapping);
    if (huge) {
        const auto at = reinterpret_cast<std::uintptr_t>(mapping);
        data += (kHuge - at % kHuge) % kHuge;
        (void)::madvise(data, length - kHuge, MADV_HUGEPAGE);
    }
    return stored_file(data, stored_file_deleter{size, mapping, length});
}

void point_index_deleter::operator()(point_index* index) const { delete index; }

std::unique_ptr<point_index, point_index_deleter> index_make_for(gz_handle* s) {
    if (!can_have_index(s)) return nullptr;
    return make_index(kFirstPointSpacing, s->index_budget);
}

void index_replace(gz_handle* s, std::unique_ptr<point_index, point_index_deleter> index) {
    // Decoding that began at a loaded point not yet checked proves nothing.
    const bool from_start = !s->index || s->index->decoding_from_start();
    s->index = std::move(index);
    if (s->index && s->decode_in_step) s->index->repositioned(decoded_position(s), from_start);
}

// Made on a handle's first seek or rewind; an index a check found wrong is
// replaced by a fresh one.
point_index* index_ensure(gz_handle* s) {
    if (s->index && !s->index->discredited()) return s->index.get();
    if (s->index) s->index_refused = true;  // only loaded places are ever found wrong
    s->index.reset();
    if (s->index_budget == 0) return nullptr;
    index_replace(s, index_make_for(s));
    return s->index.get();
}

const access_point* index_point_for(gz_handle* s, gz_off_t target) {
    const point_index* index = index_ensure(s);
    if (index == nullptr) return nullptr;
    const access_point* point = index->point_before(target);
    // Backward, as far as the caller sees: the point replaces the rewind.
    if (target < s->bytes_out || point == nullptr) return point;
    // Forward: read on after an error (clearerr), as a handle without points
    // would; otherwise jump when the point is well ahead of the next decoded
    // byte (a handed-back byte sits in front of it).
    if (!s->decode_in_step) return nullptr;
    const gz_off_t position = s->bytes_out + (s->pushback_char != -1 ? 1 : 0);
    return point->out - position >= kWorthRestarting ? point : nullptr;
}

namespace {

// Moves the handle to the point, without asking whether it can be trusted.
bool restart_at(gz_handle* s, const access_point& point) {
    engine::stream& z = s->engine;
    point_index* index = s->index.get();
    restart_reader(s);
    if (point.window_size != 0 && !index->unpack_window(s, point)) {
        // A window that does not give back what was recorded: the index is
        // damaged, and the seek takes the long way.
        s->index.reset();
        s->index_refused = true;
        return false;
    }
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
        ok = engine::inflate_set_dictionary(z, index->ring(), point.window_size) == Z_OK;
    s->decode_in_step = ok;
    if (ok)
        index->restarted_at(point);
    else
        index->suspend();
    return ok;
}

// The last loaded point is used only once a decode from it has reached the
// end of its member and found the length there as the index says: a point
// whose position alone was changed would otherwise let a seek land past the
// real end of the data.  Other points are checked by the reads that pass
// the point after them.
bool probe(gz_handle* s, std::size_t k) {
    point_index* index = s->index.get();
    unsigned char* block = index->skip_buffer();
    if (block == nullptr || !restart_at(s, index->points()[k])) return false;
    index->start_probe();
    int n;
    do {
        n = gzread(s, block, kSkipBlock);
    } while (n > 0 && s->index.get() == index && !index->probe_done());
    if (s->index.get() != index) return false;  // dropped: the point was wrong
    if (!index->end_probe()) return false;
    index->mark_checked(k);
    return true;
}

}  // namespace

bool index_restart(gz_handle* s, const access_point& point) {
    point_index* index = s->index.get();
    const auto k = static_cast<std::size_t>(&point - index->points().data());
    // A loaded point stands for everything before it in the file: its
    // window, its member's CRC so far, its position.  It is used only while
    // those bytes are the ones the index was made from, so that damage or
    // an edit there is never hidden (the seek then reads from the start).
    if (index->unchecked() && !point.checked) {
        // The bytes the restart reads first, then all those before it.
        const int fd = fileno(s->file);
        struct stat st;
        if (::fstat(fd, &st) != 0) return false;
        point_index::prefix verdict = point_index::probe_matches(fd, st.st_size, point);
        if (verdict == point_index::prefix::agrees) verdict = index->prefix_matches(fd, point);
        if (verdict == point_index::prefix::differs) {
            index->discredit();
            s->index_refused = true;
        }
        if (verdict != point_index::prefix::agrees) return false;
    }
    if (index->needs_probe(point) && !probe(s, k)) return false;
    return restart_at(s, s->index->points()[k]);
}

void index_rewound(gz_handle* s, bool ok) {
    // After a failed rewind the reads go on from wherever the file stands.
    s->decode_in_step = ok;
    point_index* index = index_ensure(s);
    if (index == nullptr) return;
    if (ok)
        index->repositioned(0, true);
    else
        index->suspend();
}

void index_read_failed(gz_handle* s) {
    s->decode_in_step = false;
    if (!s->index) return;
    if (s->index->discredited()) {
        s->index.reset();
        s->index_refused = true;
    } else
        s->index->suspend();
}

unsigned char* index_skip_buffer(gz_handle* s, unsigned& size) {
    size = kSkipBlock;
    return s->index ? s->index->skip_buffer() : nullptr;
}

bool index_configure(gz_handle* s, gz_off_t spacing, std::size_t memory_limit) {
    if (s == nullptr || s->direction != 'r' || s->index) return false;
    if (spacing <= 0) {
        s->index_disabled = true;
        return true;
    }
    if (!can_have_index(s)) return false;
    s->index_budget = memory_limit;
    auto index = make_index(spacing, memory_limit);
    if (!index) return false;
    index_replace(s, std::move(index));
    return true;
}

const point_index* index_of(const gz_handle* s) { return s->index.get(); }

}  // namespace gzstream
