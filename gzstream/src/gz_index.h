// Access points for random access in a read stream: places inside the deflate
// data where inflating can start again, each with the 32 KiB of output that
// came before it.  A seek restarts at the nearest earlier point instead of at
// the start of the data.  The index exists only once a handle has sought or
// rewound, so purely sequential readers carry none of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "zpress/gzio.h"

namespace gzstream {

struct gz_handle;

inline constexpr gz_off_t kFirstPointSpacing = gz_off_t{1} << 20;
inline constexpr std::size_t kIndexMemoryLimit = std::size_t{8} << 20;
inline constexpr unsigned kWindowSize = 32768;  // the farthest a deflate match reaches back

// Everything needed to continue inflating at `out` exactly as a read from the
// start of the data would.
struct access_point {
    gz_off_t out = 0;           // uncompressed position
    gz_off_t in = 0;            // file offset of the first whole compressed byte after it
    gz_off_t bytes_in = 0;      // the handle's compressed-byte count there
    gz_off_t member_start = 0;  // uncompressed position where this member's data began
    std::uint32_t crc = 0;      // CRC-32 of this member's output before `out`
    int bits = 0;               // high bits of the byte before `in` that follow the point
    unsigned window_size = 0;   // output before `out` within the member, at most kWindowSize
    std::unique_ptr<unsigned char[]> window;
};

class point_index {
  public:
    point_index(gz_off_t spacing, std::size_t memory_limit, std::unique_ptr<unsigned char[]> ring);

    // The last point at or before `target`, or null.
    const access_point* point_before(gz_off_t target) const;

    // Decoding continues at `position`, in step with a read from the start of
    // the data.
    void repositioned(gz_off_t position);
    // Decoding is no longer in step (an error, a failed repositioning): no
    // new points until the next repositioning.
    void suspend() { recording_ = false; }

    // Whether an inflate call that may reach `reach` should stop at block ends.
    bool wants_block_ends(gz_off_t reach) const { return recording_ && reach >= due_; }

    void after_inflate(gz_handle* s, const unsigned char* produced, unsigned char*& crc_mark);
    void member_started(gz_handle* s);

    // The points, and replacing them with ones read back from a saved index
    // (ascending, checked by the caller); false when they do not fit.
    const std::vector<access_point>& points() const { return points_; }
    bool adopt(std::vector<access_point> points, gz_off_t spacing);

    std::size_t memory_used() const;
    std::size_t point_count() const { return points_.size(); }
    gz_off_t spacing() const { return spacing_; }

  private:
    void keep_window(const unsigned char* data, std::size_t n, gz_off_t end);
    void passed_points(gz_off_t position);
    void record(gz_handle* s, int bits, unsigned window_size);
    std::size_t memory_with_one_more(unsigned window_size) const;
    void thin_out();

    gz_off_t spacing_;
    std::size_t memory_limit_;
    std::vector<access_point> points_;  // ascending by `out`
    std::size_t window_bytes_ = 0;      // the points' windows together
    bool recording_ = false;
    gz_off_t due_ = 0;         // no new point before this position
    gz_off_t next_point_ = 0;  // position of the first existing point ahead

    // The latest output, kept only as a point comes due.
    std::unique_ptr<unsigned char[]> ring_;
    unsigned ring_head_ = 0;  // where the next byte goes
    unsigned ring_size_ = 0;  // valid bytes, ending at ring_end_
    gz_off_t ring_end_ = 0;
};

struct point_index_deleter {
    void operator()(point_index* index) const;
};

// Hooks for the reader and the seeker.  Each is a no-op for a handle without
// an index unless said otherwise.

// The point a seek to `target` should restart at, creating the index on a
// handle's first seek; null to read on or rewind as without an index.
const access_point* index_point_for(gz_handle* s, gz_off_t target);
// Moves the handle to the point; false (handle then needs a rewind) when the
// file could not be repositioned there.
bool index_restart(gz_handle* s, const access_point& point);
// After a rewind, successful (`ok`) or not; creates the index as a seek does.
void index_rewound(gz_handle* s, bool ok);
// A read met an error: what a clearerr lets it decode next need not match a
// read from the start, so no point may be taken from it.
void index_read_failed(gz_handle* s);

// The handle's index, made if need be, for loading saved points into; null
// when the handle cannot have one.
point_index* index_for_loading(gz_handle* s);

// Test hook, not part of the public interface: on a handle that has not sought
// yet, `spacing` 0 keeps it without an index for good; otherwise the index is
// made at once with that first spacing and memory limit.
bool index_configure(gz_handle* s, gz_off_t spacing, std::size_t memory_limit);
const point_index* index_of(const gz_handle* s);

}  // namespace gzstream
