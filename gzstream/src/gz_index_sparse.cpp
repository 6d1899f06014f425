// Which bytes of a point's window the data after it actually copies.
//
// A restart needs only the window bytes that matches in the next 32 KiB of
// output reach back to; in text that is about an eighth of them, and a
// window with the rest zeroed deflates to well under half the size.  The
// deflate tracer (deflate_trace.cpp) finds them by following the codes
// alone.  Where it gives up (damaged or cut data, a read error), the engine
// decides, as it does for every decode: the bit stream after the point
// decodes the same way whatever the dictionary holds, so decoding it three
// times, with dictionaries that spell each byte's position (its low byte,
// its high byte, its low byte changed), tells every output byte that came
// from the window and from which position.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "deflate_trace.h"
#include "engine.h"
#include "gz_index.h"

namespace gzstream {
namespace {

constexpr unsigned kPasses = 3;
constexpr unsigned char kFlip = 0x55;
constexpr std::size_t kReadStep = 16384;

unsigned char spelled(unsigned pass, unsigned position) {
    switch (pass) {
        case 0:
            return static_cast<unsigned char>(position & 0xFF);
        case 1:
            return static_cast<unsigned char>(position >> 8);
        default:
            return static_cast<unsigned char>((position & 0xFF) ^ kFlip);
    }
}

// The compressed bytes from the point's first bit on, read as the decoder
// asks for them, so that each pass sees the same input.
class input {
  public:
    input(int fd, gz_off_t from, gz_off_t file_size) : fd_(fd), next_(from), size_(file_size) {}
    // More bytes; false at the end of the file or on a read error.
    bool more() {
        if (next_ >= size_) return false;
        const std::size_t old = data_.size();
        data_.resize(old + kReadStep);
        ssize_t got;
        do {
            got = ::pread(fd_, data_.data() + old, kReadStep, next_);
        } while (got < 0 && errno == EINTR);
        data_.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
        if (got <= 0) {
            failed_ = got < 0;
            return false;
        }
        next_ += got;
        return true;
    }
    const std::vector<unsigned char>& data() const { return data_; }
    bool failed() const { return failed_; }

  private:
    int fd_;
    gz_off_t next_;
    gz_off_t size_;
    bool failed_ = false;
    std::vector<unsigned char> data_;
};

// One pass: the output decoded after the point, at most kWindowSize bytes,
// until the member's data ends or turns out damaged.
bool decode(engine::stream& z, input& in, const access_point& p, const unsigned char* dictionary,
            unsigned char* out, unsigned& produced) {
    engine::inflate_reset(z);
    std::size_t used = 0;  // input bytes handed to the engine
    produced = 0;
    if (p.bits != 0) {
        if (in.data().empty() && !in.more()) return !in.failed();
        engine::inflate_prime(z, p.bits, in.data()[0] >> (8 - p.bits));
        used = 1;
    }
    if (p.window_size != 0) engine::inflate_set_dictionary(z, dictionary, p.window_size);
    z.next_out = out;
    z.avail_out = kWindowSize;
    for (;;) {
        if (used == in.data().size() && !in.more()) break;
        z.next_in = in.data().data() + used;
        z.avail_in = static_cast<unsigned>(in.data().size() - used);
        const int rc = engine::inflate(z);
        used = in.data().size() - z.avail_in;
        if (rc != Z_OK || z.avail_out == 0) break;
    }
    produced = kWindowSize - z.avail_out;
    return !in.failed();
}

}  // namespace

int mark_used_window_bytes_by_engine(int fd, gz_off_t file_size, const access_point& p,
                                     unsigned char* used) {
    std::unique_ptr<unsigned char[]> dictionary(new (std::nothrow) unsigned char[kWindowSize]);
    std::unique_ptr<unsigned char[]> out(
        new (std::nothrow) unsigned char[std::size_t{kPasses} * kWindowSize]);
    engine::stream z;
    if (!dictionary || !out || engine::inflate_init(z) != Z_OK) {
        engine::inflate_end(z);
        errno = ENOMEM;
        return -1;
    }
    input in(fd, first_byte(p), file_size);
    unsigned produced = 0;
    bool ok = true;
    for (unsigned pass = 0; pass < kPasses && ok; ++pass) {
        for (unsigned i = 0; i < p.window_size; ++i) dictionary[i] = spelled(pass, i);
        ok = decode(z, in, p, dictionary.get(), out.get() + std::size_t{pass} * kWindowSize,
                    produced);
    }
    engine::inflate_end(z);
    if (!ok) return -1;
    std::fill(used, used + p.window_size, 0);
    const unsigned char* low = out.get();
    const unsigned char* high = out.get() + kWindowSize;
    const unsigned char* flipped = out.get() + std::size_t{2} * kWindowSize;
    for (unsigned j = 0; j < produced; ++j) {
        if (low[j] == flipped[j]) continue;  // a literal, or a copy of output after the point
        const unsigned position = low[j] | static_cast<unsigned>(high[j]) << 8;
        if (position < p.window_size) used[position] = 1;
    }
    return 0;
}

int mark_used_window_bytes(int fd, gz_off_t file_size, const access_point& p, unsigned char* used) {
    if (trace_window_use(fd, file_size, first_byte(p), p.bits, p.window_size, used)) return 0;
    return mark_used_window_bytes_by_engine(fd, file_size, p, used);
}

int keep_used_window_bytes(int fd, gz_off_t file_size, const access_point& p,
                           unsigned char* window) {
    if (p.window_size == 0) return 0;
    std::unique_ptr<unsigned char[]> used(new (std::nothrow) unsigned char[kWindowSize]);
    if (!used) {
        errno = ENOMEM;
        return -1;
    }
    if (mark_used_window_bytes(fd, file_size, p, used.get()) != 0) return -1;
    // `used` holds 1 or 0: a product the compiler does sixteen at a time.
    for (unsigned i = 0; i < p.window_size; ++i)
        window[i] = static_cast<unsigned char>(window[i] * used[i]);
    return 0;
}

int window_agrees(int fd, gz_off_t file_size, const access_point& p, const unsigned char* actual) {
    if (p.window_size == 0) return 1;
    std::unique_ptr<unsigned char[]> used(
        new (std::nothrow) unsigned char[std::size_t{2} * kWindowSize + kPackedWindowLimit]);
    engine::stream z;
    if (!used || engine::inflate_init(z) != Z_OK) {
        engine::inflate_end(z);
        errno = ENOMEM;
        return -1;
    }
    unsigned char* const kept = used.get() + kWindowSize;
    const bool whole = unpack_kept_window(z, p, kept + kWindowSize, kept);
    engine::inflate_end(z);
    if (!whole) return 0;
    if (mark_used_window_bytes(fd, file_size, p, used.get()) != 0) return -1;
    for (unsigned i = 0; i < p.window_size; ++i)
        if (used[i] != 0 && kept[i] != actual[i]) return 0;
    return 1;
}

}  // namespace gzstream
