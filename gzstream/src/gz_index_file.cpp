// Saving a read handle's access points to a file and loading them into
// another handle on the same compressed file, so that it seeks at once.
//
// Layout, integers little-endian:
//   8 bytes  "ZPGZIDX\n"
//   u32      format version (4; 3 and 2 are still read, see gzindex_load)
//   u64      size of the compressed file
//   u32 u32  CRC-32 of its first and of its last kIdentityBlock bytes
//   u64      data_start (offset behind the first member header)
//   u64      spacing
//   u32      number of points
//   u64 u64 u64 u32
//            (version 4 on) the compressed file's device, inode and change
//            time (seconds, nanoseconds) as the index was saved, all zero
//            when not recorded (see stamp_worth_keeping)
//   for each point:
//            u64 out, u64 in, u64 bytes_in, u64 member_start, u32 crc,
//            u32 CRC-32 of the kProbeSize compressed bytes from the point's
//            first bit on, u8 bits, u32 window size, u32 window CRC-32,
//            u32 packed size,
//            fields added in version 3 (see write_v3_fields):
//              u32 CRC-32 of the compressed file before the point's first
//                  byte,
//              u64 lines + 1, u64 members + 1 (see access_point; 0 where
//                  they were not counted),
//            the window (window size bytes): only the bytes the data after
//            the point copies, the rest zero (see keep_used_window_bytes),
//            and the window CRC is of that.  From version 4 on it is saved
//            as one raw deflate stream of exactly packed size bytes that
//            inflates to its run form, defined beside run_form_limit
//            (gz_index.h): a varint count of runs, for each a varint gap
//            (zero bytes after the run before, or from the window's start;
//            at least 1 after the first run) and a varint length (at least
//            1), then the runs' bytes in order, ending right after the last
//            run's bytes; every other byte of the window is zero.  A varint
//            is LEB128 of at most three bytes whose last byte is zero only
//            when it is the only one.  The runs lie inside the window, and
//            the form never takes more than one run of the whole window
//            (count 1, gap 0, the window size, then the window).  Before
//            version 4 the window itself was deflated.
//   u32      CRC-32 of everything before it
//
// Windows are checked when first used, as they are inflated, not by the
// load, which stays one read of the file and its CRC: a window that is not
// well formed, or whose bytes do not have the window CRC, drops the index
// there (see index_restart), and gzindex_verify refuses it.
//
// Version 2 files lack the CRC of the bytes before each point, without
// which a point could stand for data that has changed since, and the line
// tallies: their points are taken only after one decode from the start of
// the data has found every one of them right (see gzindex_load).
//
// An index file comes from outside the process and steers where inflating
// restarts and which CRC a trailer is compared with, so nothing in it is
// trusted: every field is checked against the compressed file and against
// what a decoder can produce, with arithmetic that cannot overflow, and a
// file that fails any check is refused whole, before the handle is touched.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "gz_handle.h"
#include "gz_index.h"

namespace gzstream {
namespace {

constexpr std::string_view kMagic{"ZPGZIDX\n", 8};
constexpr std::uint32_t kVersion = 4;
constexpr std::uint32_t kVersionBeforeRuns = 3;
constexpr std::uint32_t kVersionBeforePrefixes = 2;
constexpr gz_off_t kIdentityBlock = 65536;
constexpr std::size_t kFileHeader = 8 + 4 + 8 + 4 + 4 + 8 + 8 + 4;
// Seconds between a compressed file's last change and the save of its
// index for the index to keep the file's stamp (see stamp_worth_keeping).
constexpr int kStampMargin = 2;
constexpr std::size_t kV3PointFields = 4 + 8 + 8;
constexpr std::size_t kV2PointFields = 8 * 4 + 4 + 4 + 1 + 4 + 4 + 4;
// Deflate cannot expand data by more than this per compressed byte.
constexpr gz_off_t kMostExpansion = 1032;
// What lies between two members' deflate data: a trailer and a header.
constexpr gz_off_t kLeastBetweenMembers = 8 + 10;

// The file as the file system knows it: which one it is and when it last
// changed.  Every write to a file, and every change of its size, sets its
// change time to the current time, which no caller can set back.
struct file_stamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    gz_off_t seconds = 0;
    std::uint32_t nanoseconds = 0;

    bool recorded() const { return device != 0 || inode != 0 || seconds != 0 || nanoseconds != 0; }
    bool operator==(const file_stamp&) const = default;
};

file_stamp stamp_of(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<gz_off_t>(st.st_ctim.tv_sec),
            static_cast<std::uint32_t>(st.st_ctim.tv_nsec)};
}

// What ties an index to one compressed file.
struct identity {
    int fd = -1;
    gz_off_t size = 0;
    std::uint32_t first_crc = 0;
    std::uint32_t last_crc = 0;
    file_stamp stamp;
};

// Read without moving the handle's own file position.
bool identify(std::FILE* file, identity& id) {
    id.fd = fileno(file);
    struct stat st;
    if (id.fd < 0 || ::fstat(id.fd, &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    id.size = st.st_size;
    id.stamp = stamp_of(st);
    const gz_off_t block = id.size < kIdentityBlock ? id.size : kIdentityBlock;
    id.first_crc = id.last_crc = engine::crc32(0, nullptr, 0);
    return crc_of_file(id.fd, 0, block, id.first_crc) &&
           crc_of_file(id.fd, id.size - block, block, id.last_crc);
}

bool probe_crc(const identity& id, const access_point& p, std::uint32_t& crc) {
    return probe_crc_of(id.fd, id.size, p, crc);
}

class writer {
  public:
    void u8(unsigned v) { out_.push_back(static_cast<unsigned char>(v)); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8((v >> (8 * i)) & 0xFF);
    }
    void u64(gz_off_t v) {
        const auto u = static_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) u8(static_cast<unsigned>((u >> (8 * i)) & 0xFF));
    }
    void bytes(const unsigned char* p, std::size_t n) { out_.insert(out_.end(), p, p + n); }
    void stamp(const file_stamp& st) {
        u64(static_cast<gz_off_t>(st.device));
        u64(static_cast<gz_off_t>(st.inode));
        u64(st.seconds);
        u32(st.nanoseconds);
    }
    std::vector<unsigned char>& data() { return out_; }

  private:
    std::vector<unsigned char> out_;
};

class reader {
  public:
    reader(const unsigned char* p, std::size_t n) : p_(p), left_(n) {}
    bool u8(unsigned& v) {
        if (left_ < 1) return false;
        v = *p_++;
        --left_;
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (left_ < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p_[i]) << (8 * i);
        p_ += 4;
        left_ -= 4;
        return true;
    }
    bool raw64(std::uint64_t& v) {
        if (left_ < 8) return false;
        v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p_[i]) << (8 * i);
        p_ += 8;
        left_ -= 8;
        return true;
    }
    // Offsets and counts: 0..INT64_MAX.
    bool u64(gz_off_t& v) {
        std::uint64_t u = 0;
        if (!raw64(u) || u > static_cast<std::uint64_t>(INT64_MAX)) return false;
        v = static_cast<gz_off_t>(u);
        return true;
    }
    const unsigned char* take(std::size_t n) {
        if (left_ < n) return nullptr;
        const unsigned char* at = p_;
        p_ += n;
        left_ -= n;
        return at;
    }
    std::size_t left() const { return left_; }

  private:
    const unsigned char* p_;
    std::size_t left_;
};

// The per-point fields of format version 3, kept together.
void write_v3_fields(writer& w, const access_point& p, std::uint32_t prefix_crc) {
    w.u32(prefix_crc);
    w.u64(p.lines + 1);
    w.u64(p.members + 1);
}
bool read_v3_fields(reader& r, access_point& p) {
    gz_off_t lines = 0, members = 0;
    if (!r.u32(p.prefix_crc) || !r.u64(lines) || !r.u64(members)) return false;
    p.lines = lines - 1;
    p.members = members - 1;
    return true;
}

// a * b, or INT64_MAX when that does not fit.
gz_off_t saturating_product(gz_off_t a, gz_off_t b) {
    gz_off_t r;
    return __builtin_mul_overflow(a, b, &r) ? INT64_MAX : r;
}

// Everything that must hold for a point read back from a file: it lies in
// the file's deflate data, behind the one before it in every respect, its
// output can have come from the compressed bytes before it, and its window
// is exactly what a recorded point would carry.  All values are already
// within 0..INT64_MAX, and every sum or product below is one that cannot
// overflow or is guarded.
bool plausible(const access_point& p, const access_point* before, const identity& id,
               gz_off_t data_start) {
    if (p.bits < 0 || p.bits > 7) return false;
    // In the deflate data, with room for the trailer after it.
    if (p.in < data_start || p.in > id.size - 8) return false;
    if (p.bits != 0 && p.in == data_start) return false;
    const gz_off_t headers = p.in - p.bytes_in;  // what is not deflate data before it
    if (p.bytes_in > p.in - data_start) return false;
    if (p.out <= 0 || p.out > saturating_product(kMostExpansion, p.bytes_in + 1)) return false;
    if (p.member_start > p.out) return false;
    if (p.member_start > 0 && headers < data_start + kLeastBetweenMembers) return false;
    const gz_off_t in_member = p.out - p.member_start;
    if (p.window_size != (in_member < kWindowSize ? in_member : kWindowSize)) return false;
    if (in_member == 0 && p.bits != 0) return false;  // a member starts on a byte
    if ((p.window_size == 0) != (p.packed_size == 0) || p.packed_size > kPackedWindowLimit)
        return false;
    if (before == nullptr) return true;
    const gz_off_t headers_before = before->in - before->bytes_in;
    if (p.out <= before->out || p.bytes_in <= before->bytes_in || p.in < before->in ||
        p.member_start < before->member_start || headers < headers_before)
        return false;
    if (p.member_start != before->member_start &&
        (p.member_start < before->out || headers - headers_before < kLeastBetweenMembers))
        return false;
    return true;
}

// The line tallies of a point, read back (`counted` is the last point
// before it that has them): each count is one that the output between the
// points can hold, and the member count rises where a new member begins
// (empty members begin where the one before them ended, so a point at such
// a place may count more members than one before it with the same start).
bool plausible_tally(const access_point& p, const access_point* counted) {
    if ((p.lines < 0) != (p.members < 0)) return false;
    if (p.lines < 0) return true;
    if (p.lines > p.out || p.members < 1 || p.members > p.in / kLeastBetweenMembers + 1)
        return false;
    if (counted == nullptr) return true;
    if (p.lines < counted->lines || p.lines - counted->lines > p.out - counted->out) return false;
    return p.member_start == counted->member_start ? p.members >= counted->members
                                                   : p.members > counted->members;
}

// Reads and checks the body (everything before the trailing CRC).
bool parse(reader& r, const identity& id, gz_off_t data_start, std::vector<access_point>& points,
           gz_off_t& spacing, std::uint32_t& version, file_stamp& stamp) {
    const unsigned char* magic = r.take(kMagic.size());
    std::uint32_t first_crc = 0, last_crc = 0, count = 0;
    gz_off_t size = 0, start = 0;
    if (magic == nullptr || std::memcmp(magic, kMagic.data(), kMagic.size()) != 0) return false;
    if (!r.u32(version) || version < kVersionBeforePrefixes || version > kVersion) return false;
    if (!r.u64(size) || !r.u32(first_crc) || !r.u32(last_crc) || !r.u64(start) || !r.u64(spacing) ||
        !r.u32(count))
        return false;
    if (version >= kVersion && (!r.raw64(stamp.device) || !r.raw64(stamp.inode) ||
                                !r.u64(stamp.seconds) || !r.u32(stamp.nanoseconds)))
        return false;
    if (size != id.size || first_crc != id.first_crc || last_crc != id.last_crc ||
        start != data_start || start > size)
        return false;
    // The spacing starts at kFirstPointSpacing (tests set less) and only
    // doubles, never past what the data can hold.
    if (spacing <= 0 ||
        (spacing > kFirstPointSpacing && spacing > saturating_product(kMostExpansion, size)))
        return false;
    const bool prefixes = version != kVersionBeforePrefixes;
    const std::size_t fields = prefixes ? kV2PointFields + kV3PointFields : kV2PointFields;
    if (count > r.left() / fields) return false;
    points.reserve(count);
    const access_point* counted = nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
        access_point p;
        unsigned bits = 0;
        if (!r.u64(p.out) || !r.u64(p.in) || !r.u64(p.bytes_in) || !r.u64(p.member_start) ||
            !r.u32(p.crc) || !r.u32(p.probe_crc) || !r.u8(bits) || !r.u32(p.window_size) ||
            !r.u32(p.window_crc) || !r.u32(p.packed_size) || (prefixes && !read_v3_fields(r, p)))
            return false;
        p.bits = static_cast<int>(bits);
        p.sparse = true;
        p.runs = version > kVersionBeforeRuns;
        if (!plausible(p, points.empty() ? nullptr : &points.back(), id, data_start) ||
            !plausible_tally(p, counted))
            return false;
        // The window stays where it was read, in the index's stored file.
        if (p.packed_size != 0 && (p.packed = r.take(p.packed_size)) == nullptr) return false;
        // The compressed bytes at the point are compared when it is first
        // used (index_restart), with those before it: a load reads nothing
        // of the compressed file but its ends.
        points.push_back(std::move(p));
        if (points.back().lines >= 0) counted = &points.back();
    }
    return r.left() == 0;
}

// Turns a point's window as kept in memory into the one of the file: gets
// the window back, zeroes the bytes the data after the point never copies
// (a window read from a file has them zero already) and deflates its run
// form.
class sparse_packer {
  public:
    sparse_packer()
        : window_(new (std::nothrow) unsigned char[kWindowSize]),
          form_(new (std::nothrow) unsigned char[kPackedWindowLimit]),
          packed_(new (std::nothrow) unsigned char[kPackedWindowLimit]),
          ready_(window_ && form_ && packed_ && engine::inflate_init(z_) == Z_OK) {}
    ~sparse_packer() { engine::inflate_end(z_); }
    sparse_packer(const sparse_packer&) = delete;
    sparse_packer& operator=(const sparse_packer&) = delete;
    bool ready() const { return ready_; }

    // The packed window and its CRC, valid until the next call; false with
    // errno when the compressed file cannot be read or a window read from
    // an older file does not inflate to its size (EINVAL).
    bool pack(const identity& id, const access_point& p, const unsigned char*& packed,
              unsigned& packed_size, std::uint32_t& crc) {
        engine::inflate_reset(z_);
        if (!unpack_kept_window(z_, p, form_.get(), window_.get())) {
            errno = EINVAL;
            return false;
        }
        // A loaded window keeps its CRC as read, so that damage to it still
        // shows when it is used.
        crc = p.window_crc;
        if (!p.sparse) {
            if (keep_used_window_bytes(id.fd, id.size, p, window_.get()) != 0) return false;
            crc = engine::crc32(0, window_.get(), p.window_size);
        }
        const std::size_t form = runs_of_window(window_.get(), p.window_size, form_.get());
        packed_size = static_cast<unsigned>(
            engine::deflate_whole(kFormLevel, Z_DEFAULT_STRATEGY, form_.get(), form, nullptr, 0,
                                  packed_.get(), kPackedWindowLimit));
        if (packed_size == 0) {
            errno = ENOMEM;
            return false;
        }
        packed = packed_.get();
        return true;
    }

  private:
    // The run form is mostly the window's own bytes: the middle level packs
    // it within a percent of the highest.
    static constexpr int kFormLevel = 6;
    engine::stream z_;
    std::unique_ptr<unsigned char[]> window_, form_, packed_;
    bool ready_ = false;
};

// The whole file at `path`, if it is no larger than `limit`, read in one
// go into one buffer.
stored_file read_whole(const char* path, std::size_t limit, std::size_t& size) {
    stored_file data(nullptr, stored_file_deleter{});
    // Not blocking in the open, as a FIFO would until a writer came: only
    // a regular file is read.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return data;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > limit)) {
        errno = S_ISREG(st.st_mode) ? ENOMEM : EINVAL;
        ok = false;
    }
    size = ok ? static_cast<std::size_t>(st.st_size) : 0;
    if (ok) {
        data = make_stored_file(size);
        ok = data != nullptr;
    }
    std::size_t have = 0;
    while (ok && have < size) {
        const ssize_t n = ::read(fd, data.get() + have, size - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EINVAL;  // shrank while read
            ok = false;
        } else {
            have += static_cast<std::size_t>(n);
        }
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    if (!ok) data = stored_file(nullptr, stored_file_deleter{});
    return data;
}

// Writes `data` to a new file beside `path` and renames it over `path`, so
// that the name never shows a partial index; on failure nothing is left.
bool write_atomically(const char* path, const std::vector<unsigned char>& data) {
    static std::atomic<unsigned> counter{0};
    // A short name of its own, so that any name the directory takes for
    // the index can be written too.
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    const std::string dir(slash == std::string_view::npos ? "" : whole.substr(0, slash + 1));
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + ".zpi" + std::to_string(::getpid()) + "." + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.c_str(), path) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = saved;
    }
    return ok;
}

int stamp_margin = kStampMargin;

// Whether a later load may take the compressed file's stamp as proof that
// its bytes are still those the prefix CRCs were taken from, so that it
// need not read them again.  Only when the file did not change while they
// were read, and had last changed well before: a change within the same
// tick of the file system's clock as the one recorded would keep the
// stamp, and some file systems keep times to a second or two.
bool stamp_worth_keeping(const identity& id) {
    struct stat st;
    timespec now{};
    if (::fstat(id.fd, &st) != 0 || stamp_of(st) != id.stamp || st.st_size != id.size ||
        ::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return false;
    return id.stamp.seconds <= static_cast<gz_off_t>(now.tv_sec) - stamp_margin;
}

}  // namespace

void index_set_stamp_margin(int seconds) { stamp_margin = seconds < 0 ? kStampMargin : seconds; }

bool probe_crc_of(int fd, gz_off_t file_size, const access_point& p, std::uint32_t& crc) {
    const gz_off_t from = first_byte(p);
    const gz_off_t left = file_size - from;
    crc = engine::crc32(0, nullptr, 0);
    return crc_of_file(fd, from, left < kProbeSize ? left : gz_off_t{kProbeSize}, crc);
}

bool crc_of_file(int fd, gz_off_t from, gz_off_t length, std::uint32_t& crc) {
    unsigned char buf[32768];
    while (length > 0) {
        const std::size_t want =
            length < gz_off_t{sizeof buf} ? static_cast<std::size_t>(length) : sizeof buf;
        const ssize_t got = ::pread(fd, buf, want, from);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EINVAL;  // the file shrank meanwhile
            return false;
        }
        crc = engine::crc32(crc, buf, static_cast<std::size_t>(got));
        from += got;
        length -= got;
    }
    return true;
}

int gzindex_save(gz_handle* file, const char* path) {
    // An index with no places is worth saving only when it covers the whole
    // data, which was then too short for any.
    if (file == nullptr || path == nullptr || file->direction != 'r' || !file->index ||
        file->index->discredited() ||
        (file->index->point_count() == 0 && !file->index->complete())) {
        errno = EINVAL;
        return -1;
    }
    identity id;
    if (!identify(file->file, id)) return -1;
    try {
        writer w;
        w.bytes(reinterpret_cast<const unsigned char*>(kMagic.data()), kMagic.size());
        w.u32(kVersion);
        w.u64(id.size);
        w.u32(id.first_crc);
        w.u32(id.last_crc);
        w.u64(file->data_start);
        w.u64(file->index->spacing());
        const auto& points = file->index->points();
        w.u32(static_cast<std::uint32_t>(points.size()));
        const std::size_t stamp_at = w.data().size();
        w.stamp(file_stamp{});  // filled in below when the file stood still
        sparse_packer packer;
        if (!packer.ready()) {
            errno = ENOMEM;
            return -1;
        }
        // The CRC of the compressed bytes before each point, continued from
        // one point to the next.
        gz_off_t prefix_end = 0;
        std::uint32_t prefix_crc = engine::crc32(0, nullptr, 0);
        for (const access_point& p : points) {
            std::uint32_t probe = 0;
            if (!probe_crc(id, p, probe)) return -1;
            if (!crc_of_file(id.fd, prefix_end, first_byte(p) - prefix_end, prefix_crc)) return -1;
            prefix_end = first_byte(p);
            const unsigned char* packed = p.packed;
            unsigned packed_size = p.packed_size;
            std::uint32_t window_crc = p.window_crc;
            if (p.window_size != 0 && !p.runs &&
                !packer.pack(id, p, packed, packed_size, window_crc))
                return -1;
            w.u64(p.out);
            w.u64(p.in);
            w.u64(p.bytes_in);
            w.u64(p.member_start);
            w.u32(p.crc);
            w.u32(probe);
            w.u8(static_cast<unsigned>(p.bits));
            w.u32(p.window_size);
            w.u32(window_crc);
            w.u32(packed_size);
            write_v3_fields(w, p, prefix_crc);
            w.bytes(packed, packed_size);
        }
        if (stamp_worth_keeping(id)) {
            writer stamp;
            stamp.stamp(id.stamp);
            std::copy(stamp.data().begin(), stamp.data().end(), w.data().data() + stamp_at);
        }
        w.u32(engine::crc32(0, w.data().data(), w.data().size()));
        return write_atomically(path, w.data()) ? 0 : -1;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
}

int gzindex_load(gz_handle* file, const char* path) {
    if (file == nullptr || path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    // Everything is built aside and only handed over once it has passed.
    auto index = index_make_for(file);
    if (!index) {
        errno = EINVAL;
        return -1;
    }
    identity id;
    if (!identify(file->file, id)) return -1;
    std::vector<access_point> points;
    gz_off_t spacing = 0;
    std::uint32_t version = 0;
    file_stamp stamp;
    std::size_t size = 0;
    stored_file data = read_whole(path, file->index_budget, size);
    if (data == nullptr) return -1;
    try {
        bool ok = size >= kFileHeader + 4;
        if (ok) {
            const std::size_t body = size - 4;
            reader tail(data.get() + body, 4);
            std::uint32_t stored_crc = 0;
            reader r(data.get(), body);
            ok = tail.u32(stored_crc) && stored_crc == engine::crc32(0, data.get(), body) &&
                 parse(r, id, file->data_start, points, spacing, version, stamp);
        }
        if (!ok) {
            errno = EINVAL;
            return -1;
        }
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
    if (!index->adopt(points, spacing, data)) {
        errno = ENOMEM;
        return -1;
    }
    // Points of version 2 carry no CRC of the bytes before them, so nothing
    // would show that the data there are still those they were taken from:
    // they are taken only once a decode from the start has found them all.
    if (version == kVersionBeforePrefixes && index->unchecked() &&
        !index_check_whole(file, index)) {
        errno = EINVAL;
        return -1;
    }
    // The very file the index was saved from, not written to since: the
    // bytes before each point are those its prefix CRC was taken from.
    if (stamp.recorded() && stamp == id.stamp) index->trust_prefixes();
    index_replace(file, std::move(index));
    file->index_refused = false;
    return 0;
}

int gzindex_refused(gz_handle* file) {
    if (file == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return file->index_refused ? 1 : 0;
}

}  // namespace gzstream
