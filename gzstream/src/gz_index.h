// Access points for random access in a read stream: places inside the deflate
// data where inflating can start again, each with the 32 KiB of output that
// came before it, kept deflated.  A seek restarts at the nearest earlier
// point instead of at the start of the data.  The index exists only once a
// handle has sought or rewound, so purely sequential readers carry none of it.
//
// Points read back from an index file are not trusted: a decode that passes
// one checks that it finds the decoder exactly where the point says (see
// point_index::after_inflate), and a point that disagrees ends the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "zpress/gzio.h"

namespace gzstream {

struct gz_handle;

// Points start this close together and the spacing doubles each time the
// handle's memory budget fills.
inline constexpr gz_off_t kFirstPointSpacing = gz_off_t{128} << 10;
inline constexpr std::size_t kIndexMemoryLimit = std::size_t{8} << 20;
// The smallest budget that holds the index's fixed buffers and a few points.
inline constexpr std::size_t kIndexMinimumBudget = std::size_t{512} << 10;
// What a seek skips through once a handle has an index.
inline constexpr unsigned kSkipBlock = 262144;
inline constexpr unsigned kWindowSize = 32768;  // the farthest a deflate match reaches back
// The most a deflated window may take: a window that does not compress ends
// up in stored blocks, a few bytes each.
inline constexpr unsigned kPackedWindowLimit = kWindowSize + kWindowSize / 64 + 64;
// How many compressed bytes from a point on an index file's CRC covers.
inline constexpr unsigned kProbeSize = 4096;

// Everything needed to continue inflating at `out` exactly as a read from the
// start of the data would.
struct access_point {
    gz_off_t out = 0;              // uncompressed position
    gz_off_t in = 0;               // file offset of the first whole compressed byte after it
    gz_off_t bytes_in = 0;         // the handle's compressed-byte count there
    gz_off_t member_start = 0;     // uncompressed position where this member's data began
    std::uint32_t crc = 0;         // CRC-32 of this member's output before `out`
    std::uint32_t window_crc = 0;  // CRC-32 of the window as kept
    // CRC-32 of the compressed file before the point's first byte (`in`, or
    // the byte before it when `bits`), as it was when the index was saved.
    std::uint32_t prefix_crc = 0;
    // CRC-32 of the kProbeSize compressed bytes from the first byte on (as
    // far as the file goes), as saved: checked with the prefix.
    std::uint32_t probe_crc = 0;
    int bits = 0;              // high bits of the byte before `in` that follow the point
    unsigned window_size = 0;  // output before `out` within the member, at most kWindowSize
    unsigned packed_size = 0;  // the window, deflated unless `raw`
    // Noted by this handle, or found right by a decode that passed it or that
    // started at it and reached the next place to check; false for a point
    // just loaded.
    bool checked = false;
    // The window keeps only the bytes the data after the point copies, the
    // rest zero (see keep_used_window_bytes): so points read back from a file.
    bool sparse = false;
    // The window is kept as it is (packed_size == window_size), not yet
    // deflated: only points this handle noted.
    bool raw = false;
    // The window is kept in its run form (runs_of_window), deflated, as
    // index files of version 4 on hold it; otherwise deflated whole (or raw).
    bool runs = false;
    // The window as kept: `owned`'s bytes for a point this handle noted, or
    // bytes inside the loaded index file (point_index's stored file), which
    // are neither copied nor allocated one by one.
    const unsigned char* packed = nullptr;
    std::unique_ptr<unsigned char[]> owned;
    // Line and member tallies at `out` (gz_lines.cpp), -1 where the decode
    // that noted the point did not know them (an index saved before lines
    // were counted): newline bytes before `out`, and the members begun at or
    // before it.
    gz_off_t lines = -1;
    gz_off_t members = -1;
};

// Zeroes the bytes of `window` (p.window_size bytes) that the first 32 KiB of
// output after `p` do not copy, decoding the compressed file `fd` of
// `file_size` bytes with pread.  0, or -1 with errno when the file cannot be
// read (or memory is short).  Damaged data after the point ends the search
// where the engine stops, the same way every time.
int keep_used_window_bytes(int fd, gz_off_t file_size, const access_point& p,
                           unsigned char* window);

// The run form of a window of `window_size` bytes (1 to kWindowSize), into
// which an index file saves it: a varint count of runs, for each a varint
// gap (zero bytes after the run before, or from the window's start; at
// least 1 after the first run) and a varint length (at least 1), then the
// runs' bytes in order; the window's other bytes are zero.  A varint is
// LEB128 (seven bits a byte, low bits first, the top bit set on all but the
// last byte), at most three bytes, and a last byte of zero only alone.  The
// form never takes more than run_form_limit: a window of many short runs
// is one run of its whole size.
constexpr std::size_t run_form_limit(unsigned window_size) {
    return std::size_t{2} +
           (window_size < (1u << 7)    ? 1
            : window_size < (1u << 14) ? 2
                                       : 3) +
           window_size;
}
static_assert(run_form_limit(kWindowSize) <= kPackedWindowLimit, "a run form fits the scratch");
// Writes the run form of `window` into `out` (room for run_form_limit
// bytes); its size.
std::size_t runs_of_window(const unsigned char* window, unsigned window_size, unsigned char* out);
// Expands the run form `form` of `size` bytes into `window`; false, with
// `window` undefined, unless it is well formed for `window_size` bytes,
// runs in order and inside the window, ending right after the last run's
// bytes.
bool window_of_runs(const unsigned char* form, std::size_t size, unsigned window_size,
                    unsigned char* window);

namespace engine {
struct stream;
}
// Puts the window `p` keeps, in whichever form, into `window` (room for
// kWindowSize bytes), inflating with `z` (freshly reset; it needs a reset
// after) through `scratch` (kPackedWindowLimit bytes) where the form is
// runs.  Whether that gave p.window_size bytes; the CRC is the caller's.
bool unpack_kept_window(engine::stream& z, const access_point& p, unsigned char* scratch,
                        unsigned char* window);
// Marks in `used` (p.window_size bytes, 1 or 0) the window bytes that the
// first 32 KiB of output after `p` copy: traced from the codes, or where the
// data are damaged, cut or unreadable, found by decoding them with the
// engine, whose reading of such data is the one every decode has.  0, or -1
// with errno.
int mark_used_window_bytes(int fd, gz_off_t file_size, const access_point& p, unsigned char* used);
// Test hook, not part of the public interface: the engine's way alone, which
// the tracer must agree with.
int mark_used_window_bytes_by_engine(int fd, gz_off_t file_size, const access_point& p,
                                     unsigned char* used);

// Whether the window `p` keeps (`packed`, inflated) holds, at every byte
// the data after the point copies, the byte of `actual` (the p.window_size
// bytes of output before the point): the bytes it does not keep are never
// read, so only these matter.  1 when they all agree, 0 when one differs
// or the window does not inflate to its size, -1 with errno when the file
// cannot be read.
int window_agrees(int fd, gz_off_t file_size, const access_point& p, const unsigned char* actual);

// The compressed file offset of the first byte a restart at `p` reads.
inline gz_off_t first_byte(const access_point& p) { return p.in - (p.bits != 0 ? 1 : 0); }

// CRC-32 of `length` bytes of the file `fd` from `from` on, continuing
// `crc`, read with pread.  False with errno (EINVAL when the file ends
// first) when they cannot be read.
bool crc_of_file(int fd, gz_off_t from, gz_off_t length, std::uint32_t& crc);
// CRC-32 of the kProbeSize compressed bytes from `p`'s first byte on, as far
// as a file of `file_size` bytes goes; false with errno as crc_of_file.
bool probe_crc_of(int fd, gz_off_t file_size, const access_point& p, std::uint32_t& crc);

// Newline bytes and member starts counted along the decoded output
// (gz_lines.cpp), so that each point can carry the line it lies in.  Counts
// are known only for a decode that began where they were known (the start
// of the data, or a point that carries them) and saw every byte since.
struct line_tally {
    gz_off_t lines = -1;    // newline bytes before `end`, -1 when unknown
    gz_off_t members = -1;  // members begun at or before `end`
    gz_off_t end = 0;
    gz_off_t total_lines = -1;  // once a counting decode reached the end of the data
    gz_off_t total_members = -1;

    bool known_at(gz_off_t position) const { return lines >= 0 && end == position; }
    // Whether a point's tallies differ from these where both are known.
    bool disagrees(const access_point& p) const {
        return p.lines >= 0 && known_at(p.out) && (p.lines != lines || p.members != members);
    }
    void start(gz_off_t position, gz_off_t lines_before, gz_off_t members_so_far);
    void forget() { lines = members = -1; }
    // `n` decoded bytes that end at `position`.
    void add(const unsigned char* data, std::size_t n, gz_off_t position);
    void member_started(gz_off_t position);
    void ended(gz_off_t position);
};

// An index file as read, kept whole while points use windows inside it:
// one mapping made present in one call (a fresh heap buffer of its size
// would fault in page by page, and go back to the system when freed).
struct stored_file_deleter {
    std::size_t size = 0;  // the file's, as the memory budget counts it
    void* mapping = nullptr;
    std::size_t mapped = 0;
    void operator()(unsigned char* data) const;
};
using stored_file = std::unique_ptr<unsigned char[], stored_file_deleter>;
// `size` bytes, or null with errno.
stored_file make_stored_file(std::size_t size);

class point_index {
  public:
    point_index(gz_off_t spacing, std::size_t memory_limit, std::unique_ptr<unsigned char[]> ring,
                std::unique_ptr<unsigned char[]> scratch);

    // The last point at or before `target`, or null.
    const access_point* point_before(gz_off_t target) const;

    // Decoding continues at `position` in step with a read from the start of
    // the data; `from_start` when it began there or at a point of this
    // handle's own, so that what it decodes is the data's own truth.
    void repositioned(gz_off_t position, bool from_start);
    bool decoding_from_start() const { return from_start_; }
    // Decoding is no longer in step (an error, a failed repositioning): no
    // new points and no checks until the next repositioning.
    void suspend() { recording_ = checking_ = false; }
    // The index does not belong to the data as they are: never used again.
    void discredit() {
        discredited_ = true;
        suspend();
    }

    // Whether the inflate call about to run should stop at block ends: a
    // point may come due, or one to check may lie in the buffered input.
    bool wants_block_ends(const gz_handle* s) const;

    void after_inflate(gz_handle* s, const unsigned char* produced, unsigned char*& crc_mark);
    void member_started(gz_handle* s);
    // The data ended cleanly after its last member (gz_read.cpp).
    void data_ended(gz_off_t position) { tally_.ended(position); }
    // Newline bytes and members in the whole data, -1 until a decode that
    // knew its tallies reached the end.
    gz_off_t total_lines() const { return tally_.total_lines; }
    gz_off_t total_members() const { return tally_.total_members; }
    // A member's trailer held `isize`: false when a decode that began at an
    // unchecked point finds that its length disagrees.
    bool member_ended(const gz_handle* s, std::uint32_t isize);  // drops the index if not

    // The points, and replacing them with ones read back from a saved index
    // (validated by the caller), whose windows lie in `file`.  They stay
    // unchecked until a decode from the start of the data has passed every
    // one of them.  False, taking nothing, when they would not fit the
    // memory limit.
    const std::vector<access_point>& points() const { return points_; }
    bool adopt(std::vector<access_point>& points, gz_off_t spacing, stored_file& file);

    // A decode found the decoder somewhere a point does not say: the index
    // must not be used again.
    bool discredited() const { return discredited_; }
    // Whether points came from a file and not all have been checked yet.
    bool unchecked() const { return unchecked_; }
    void all_checked();
    // Whether the restart at `p` must first show that it leads to the next
    // place a decode can be checked at: the last loaded point, the only one
    // through which a changed position could carry a seek past the end of
    // the data (any other has a later point whose position bounds it).
    bool needs_probe(const access_point& p) const {
        return unchecked_ && !p.checked && &p == &points_.back();
    }
    void start_probe() {
        probing_ = true;
        probe_done_ = false;
    }
    bool probe_done() const { return probe_done_; }
    // Ends a probe: whether it reached a check that agreed.
    bool end_probe() {
        probing_ = false;
        return probe_done_ && !discredited_;
    }
    void mark_checked(std::size_t k) { points_[k].checked = true; }
    enum class prefix { agrees, differs, unreadable };
    // The compressed file is known to be unchanged since the index was
    // saved (its stamp, see gz_index_file.cpp): prefix_matches need not
    // read the bytes before a point.
    void trust_prefixes() { prefixes_trusted_ = true; }
    // Whether the compressed bytes before loaded point `p` are those the
    // index was saved from (its prefix_crc), reading `fd` with pread only
    // as far as an earlier call has not; a restart at `p` then rests on
    // nothing but the data.
    prefix prefix_matches(int fd, const access_point& p);
    // The same for the kProbeSize compressed bytes the restart at `p` reads
    // first (its probe_crc), in a compressed file of `file_size` bytes.
    static prefix probe_matches(int fd, gz_off_t file_size, const access_point& p);
    // The data were read to their end from the start with this index.
    bool complete() const { return complete_; }
    void set_complete() { complete_ = true; }

    // Thins the points at once until they fit; decoding stands at `position`.
    void set_memory_limit(std::size_t limit, gz_off_t position);
    // Whether every point has been checked by the decodes since the last
    // repositioning.
    bool all_passed() const {
        return !unchecked_ || (check_at_ >= points_.size() && !window_missed_);
    }
    std::size_t memory_used() const;
    std::size_t point_count() const { return points_.size(); }
    gz_off_t spacing() const { return spacing_; }

    // Inflates the window of `p` into the ring with `s`'s engine (reset
    // before and after); false unless it gives exactly the window recorded.
    bool unpack_window(gz_handle* s, const access_point& p);
    const unsigned char* ring() const { return ring_.get(); }
    unsigned char* skip_buffer();
    // After a restart at `p` whose window unpack_window left in the ring.
    void restarted_at(const access_point& p);

  private:
    enum class verdict { wrong, agrees, window_unseen };
    // The last `length` bytes of the ring, in two pieces where it wraps.
    struct ring_span {
        const unsigned char* first;
        unsigned first_size;
        const unsigned char* second;
        unsigned second_size;
    };
    std::size_t first_after(gz_off_t position) const;  // the first point past it
    // The memory `count` points with `packed` bytes of windows would take.
    std::size_t memory_for(std::size_t count, std::size_t packed) const;
    ring_span ring_last(unsigned length) const;
    void keep_window(const unsigned char* data, std::size_t n, gz_off_t end);
    void passed_points(gz_off_t position);
    void check_from(std::size_t k);
    void reseat_check();
    void record(gz_handle* s, int bits, unsigned window_size);
    verdict check(gz_handle* s, const access_point& p, int bits);
    void failed_check(gz_handle* s);
    void passed_check(bool window_compared);
    std::uint32_t ring_crc(unsigned length) const;
    std::size_t memory_with_one_more(std::size_t packed) const;
    void thin_out();
    void count_windows();
    bool pack_windows();

    gz_off_t spacing_;
    std::size_t memory_limit_;
    std::vector<access_point> points_;  // ascending by `out`
    std::size_t packed_bytes_ = 0;      // the windows of the points noted here, together
    stored_file stored_;                // the loaded index file, while a point uses it
    bool recording_ = false;
    gz_off_t due_ = 0;         // no new point before this position
    gz_off_t next_point_ = 0;  // position of the first existing point ahead

    // Checking loaded points: the compressed count of the next one ahead.
    bool unchecked_ = false;
    bool checking_ = false;
    bool from_start_ = true;
    bool discredited_ = false;
    bool complete_ = false;
    bool window_missed_ = false;
    bool probing_ = false;     // a probe decode runs: stop at the first check
    bool probe_done_ = false;  // ... which agreed
    gz_off_t check_in_ = 0;
    std::size_t check_at_ = 0;  // its place in points_
    // The compressed bytes before this offset were found as the index was
    // saved from; their CRC-32.
    gz_off_t prefix_end_ = 0;
    std::uint32_t prefix_crc_ = 0;
    bool prefixes_trusted_ = false;

    // The latest output, kept only as a point comes due or is to be checked.
    std::unique_ptr<unsigned char[]> ring_;
    unsigned ring_head_ = 0;  // where the next byte goes
    unsigned ring_size_ = 0;  // valid bytes, ending at ring_end_
    gz_off_t ring_end_ = 0;
    std::unique_ptr<unsigned char[]> scratch_;  // kPackedWindowLimit bytes to deflate into
    std::unique_ptr<unsigned char[]> skip_;     // kSkipBlock bytes, made on first use
    line_tally tally_;
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
// file could not be repositioned there or the point's window is unusable,
// which drops the index, or when a loaded point fails its probe (see
// gz_index.cpp), which drops it too.
bool index_restart(gz_handle* s, const access_point& point);
// After a rewind, successful (`ok`) or not; creates the index as a seek does.
void index_rewound(gz_handle* s, bool ok);
// A read met an error: what a clearerr lets it decode next need not match a
// read from the start, so no point may be taken from it.  Drops an index that
// a check found wrong.
void index_read_failed(gz_handle* s);

// Makes the handle's index if it can have one (a read stream of gzip data in
// a repositionable file); null otherwise.
point_index* index_ensure(gz_handle* s);
// A new, empty index with the handle's budget, not attached to it; null when
// the handle cannot have one.
std::unique_ptr<point_index, point_index_deleter> index_make_for(gz_handle* s);
// Checks every point of `index` (built for `s`, not attached) by one decode
// of s's compressed file from its start, on a handle of its own so that `s`
// stays as it is whatever the decode finds.  True, with every point then
// trusted as if noted by `s`, when all agree; false, with `index` dropped,
// when one does not, the data cannot be read to their end or the file
// cannot be opened again.
bool index_check_whole(const gz_handle* s,
                       std::unique_ptr<point_index, point_index_deleter>& index);
// Replaces the handle's index, e.g. with a loaded one.
void index_replace(gz_handle* s, std::unique_ptr<point_index, point_index_deleter> index);

// The block a seek skips through when the handle has an index (allocated on
// first use, `size` bytes), or null.  Inflating into a large block spares
// the engine most of its copying of each call's output into its window.
unsigned char* index_skip_buffer(gz_handle* s, unsigned& size);

// Test hook, not part of the public interface: on a handle that has not sought
// yet, `spacing` 0 keeps it without an index for good; otherwise the index is
// made at once with that first spacing and memory limit.
bool index_configure(gz_handle* s, gz_off_t spacing, std::size_t memory_limit);
const point_index* index_of(const gz_handle* s);
// Test hook: how many seconds before a save the compressed file must have
// last changed for the index to keep its stamp (negative: the default).
void index_set_stamp_margin(int seconds);

}  // namespace gzstream
