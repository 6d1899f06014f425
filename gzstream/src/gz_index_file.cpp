// Saving a read handle's access points to a file and loading them into
// another handle on the same compressed file, so that it seeks at once.
//
// Layout, integers little-endian:
//   8 bytes  "ZPGZIDX\n"
//   u32      format version (1)
//   u64      size of the compressed file
//   u32 u32  CRC-32 of its first and of its last kIdentityBlock bytes
//   u64      data_start (offset behind the first member header)
//   u64      spacing
//   u32      number of points, then for each point:
//            u64 out, u64 in, u64 bytes_in, u64 member_start, u32 crc,
//            u8 bits, u32 window size, the window's bytes
//   u32      CRC-32 of everything before it
//
// A loaded index steers where inflating restarts and which CRC a member's
// trailer is compared with, so nothing in it is trusted: a file that does not
// belong to this compressed file (other size, other first or last block) or
// that fails any check is refused whole.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "engine.h"
#include "gz_handle.h"
#include "gz_index.h"

namespace gzstream {
namespace {

constexpr std::string_view kMagic{"ZPGZIDX\n", 8};
constexpr std::uint32_t kVersion = 1;
constexpr gz_off_t kIdentityBlock = 65536;
constexpr std::size_t kFileHeader = 8 + 4 + 8 + 4 + 4 + 8 + 8 + 4;

// What ties an index to one compressed file.
struct identity {
    gz_off_t size = 0;
    std::uint32_t first_crc = 0;
    std::uint32_t last_crc = 0;
};

bool crc_of_range(int fd, gz_off_t from, gz_off_t length, std::uint32_t& crc) {
    unsigned char buf[8192];
    crc = engine::crc32(0, nullptr, 0);
    while (length > 0) {
        const std::size_t want =
            length < gz_off_t{sizeof buf} ? static_cast<std::size_t>(length) : sizeof buf;
        const ssize_t got = ::pread(fd, buf, want, from);
        if (got <= 0) return false;
        crc = engine::crc32(crc, buf, static_cast<std::size_t>(got));
        from += got;
        length -= got;
    }
    return true;
}

// Read without moving the handle's own file position.
bool identify(std::FILE* file, identity& id) {
    const int fd = fileno(file);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id.size = st.st_size;
    const gz_off_t block = id.size < kIdentityBlock ? id.size : kIdentityBlock;
    return crc_of_range(fd, 0, block, id.first_crc) &&
           crc_of_range(fd, id.size - block, block, id.last_crc);
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
    bool u64(gz_off_t& v) {
        if (left_ < 8) return false;
        std::uint64_t u = 0;
        for (int i = 0; i < 8; ++i) u |= static_cast<std::uint64_t>(p_[i]) << (8 * i);
        p_ += 8;
        left_ -= 8;
        if (u > static_cast<std::uint64_t>(INT64_MAX)) return false;
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

// Everything that must hold for a point read back from a file: it lies in
// the file's deflate data, after the one before it, and its window is
// exactly what a recorded point would carry.
bool plausible(const access_point& p, const access_point* before, const identity& id,
               gz_off_t data_start) {
    if (p.out <= 0 || p.member_start > p.out || p.bits > 7) return false;
    if (p.in < data_start || p.in > id.size || (p.bits != 0 && p.in <= data_start)) return false;
    const gz_off_t in_member = p.out - p.member_start;
    if (p.window_size != (in_member < kWindowSize ? in_member : kWindowSize)) return false;
    if (before != nullptr &&
        (p.out <= before->out || p.in < before->in || p.member_start < before->member_start))
        return false;
    return true;
}

bool parse(reader& r, const identity& id, gz_off_t data_start, std::size_t memory_limit,
           std::vector<access_point>& points, gz_off_t& spacing) {
    const unsigned char* magic = r.take(kMagic.size());
    std::uint32_t version = 0, first_crc = 0, last_crc = 0, count = 0;
    gz_off_t size = 0, start = 0;
    if (magic == nullptr || std::memcmp(magic, kMagic.data(), kMagic.size()) != 0) return false;
    if (!r.u32(version) || version != kVersion) return false;
    if (!r.u64(size) || !r.u32(first_crc) || !r.u32(last_crc) || !r.u64(start) ||
        !r.u64(spacing) || !r.u32(count))
        return false;
    if (size != id.size || first_crc != id.first_crc || last_crc != id.last_crc ||
        start != data_start || spacing <= 0)
        return false;
    if (count > memory_limit / sizeof(access_point)) return false;
    try {
        points.reserve(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        access_point p;
        unsigned bits = 0;
        if (!r.u64(p.out) || !r.u64(p.in) || !r.u64(p.bytes_in) || !r.u64(p.member_start) ||
            !r.u32(p.crc) || !r.u8(bits) || !r.u32(p.window_size))
            return false;
        p.bits = static_cast<int>(bits);
        if (!plausible(p, points.empty() ? nullptr : &points.back(), id, data_start)) return false;
        if (p.window_size != 0) {
            const unsigned char* window = r.take(p.window_size);
            p.window.reset(new (std::nothrow) unsigned char[p.window_size]);
            if (window == nullptr || !p.window) return false;
            std::memcpy(p.window.get(), window, p.window_size);
        }
        points.push_back(std::move(p));
    }
    return r.left() == 0;
}

bool read_whole(const char* path, std::size_t limit, std::vector<unsigned char>& data) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path, "rb"), std::fclose);
    if (!f) return false;
    unsigned char buf[16384];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        if (data.size() + n > limit) return false;
        data.insert(data.end(), buf, buf + n);
    }
    return !std::ferror(f.get());
}

}  // namespace

int gzindex_save(gz_handle* s, const char* path) {
    if (s == nullptr || path == nullptr || s->direction != 'r' || !s->index) return -1;
    identity id;
    if (!identify(s->file, id)) return -1;
    try {
        writer w;
        w.bytes(reinterpret_cast<const unsigned char*>(kMagic.data()), kMagic.size());
        w.u32(kVersion);
        w.u64(id.size);
        w.u32(id.first_crc);
        w.u32(id.last_crc);
        w.u64(s->data_start);
        w.u64(s->index->spacing());
        const auto& points = s->index->points();
        w.u32(static_cast<std::uint32_t>(points.size()));
        for (const access_point& p : points) {
            w.u64(p.out);
            w.u64(p.in);
            w.u64(p.bytes_in);
            w.u64(p.member_start);
            w.u32(p.crc);
            w.u8(static_cast<unsigned>(p.bits));
            w.u32(p.window_size);
            w.bytes(p.window.get(), p.window_size);
        }
        w.u32(engine::crc32(0, w.data().data(), w.data().size()));
        std::FILE* f = std::fopen(path, "wb");
        if (f == nullptr) return -1;
        const bool written = std::fwrite(w.data().data(), 1, w.data().size(), f) == w.data().size();
        return (std::fclose(f) == 0 && written) ? 0 : -1;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int gzindex_load(gz_handle* s, const char* path) {
    if (s == nullptr || path == nullptr || s->direction != 'r') return -1;
    point_index* index = index_for_loading(s);
    identity id;
    if (index == nullptr || !identify(s->file, id)) return -1;
    std::vector<access_point> points;
    gz_off_t spacing = 0;
    try {
        std::vector<unsigned char> data;
        const std::size_t most = kFileHeader + 4 + 2 * kIndexMemoryLimit;
        if (!read_whole(path, most, data) || data.size() < kFileHeader + 4) return -1;
        const std::size_t body = data.size() - 4;
        reader tail(data.data() + body, 4);
        std::uint32_t stored_crc = 0;
        if (!tail.u32(stored_crc) || stored_crc != engine::crc32(0, data.data(), body)) return -1;
        reader r(data.data(), body);
        if (!parse(r, id, s->data_start, kIndexMemoryLimit, points, spacing)) return -1;
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!index->adopt(std::move(points), spacing)) return -1;
    if (s->decode_in_step) index->repositioned(s->bytes_out);
    return 0;
}

}  // namespace gzstream
