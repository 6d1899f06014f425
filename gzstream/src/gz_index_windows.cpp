// The forms a point's window is kept in, and getting the window back from
// any of them.
//
// A window saved to a file keeps only the bytes the data after its point
// copies (keep_used_window_bytes), a few thousand of 32 KiB, the rest zero.
// Deflating that window whole makes the match search walk long hash chains
// through the zeros; its run form (the runs of non-zero bytes, then their
// bytes) says the same in little more than the kept bytes, and deflates as
// tightly in about an eighth of the time.
#include <bit>
#include <cstdint>
#include <cstring>

#include "engine.h"
#include "gz_index.h"

namespace gzstream {
namespace {

// Window offsets and sizes, at most kWindowSize, take at most three bytes.
constexpr unsigned kVarintMost = 3;

unsigned varint_size(unsigned v) { return v < (1u << 7) ? 1 : v < (1u << 14) ? 2 : 3; }

unsigned char* put_varint(unsigned char* out, unsigned v) {
    while (v >= 0x80) {
        *out++ = static_cast<unsigned char>(v | 0x80);
        v >>= 7;
    }
    *out++ = static_cast<unsigned char>(v);
    return out;
}

// Reads one varint of at most kVarintMost bytes, without a last byte of
// zero after the first (a longer spelling of a shorter one).
bool get_varint(const unsigned char*& p, const unsigned char* end, unsigned& v) {
    v = 0;
    for (unsigned i = 0; i < kVarintMost && p < end; ++i) {
        const unsigned byte = *p++;
        v |= (byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0) return i == 0 || byte != 0;
    }
    return false;
}

// Calls `run(gap, length)` for each run of non-zero bytes of `window`:
// `gap` zero bytes after the previous run (or the window's start), then
// `length` others.
// Both scans go eight bytes at a time: a window is mostly long gaps.
constexpr std::uint64_t kLowBits = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

std::uint64_t word_at(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The first byte at or after `at` that is (`zero` false) or is not zero.
unsigned next_byte(const unsigned char* window, unsigned at, unsigned size, bool zero) {
    if constexpr (std::endian::native == std::endian::little) {
        for (; at + 8 <= size; at += 8) {
            const std::uint64_t v = word_at(window + at);
            // The lowest flag of the zero test is exact; higher ones may not be.
            const std::uint64_t hits = zero ? (v - kLowBits) & ~v & kHighBits : v;
            if (hits != 0) return at + static_cast<unsigned>(std::countr_zero(hits)) / 8;
        }
    }
    while (at < size && (window[at] == 0) != zero) ++at;
    return at;
}

template <class F>
void for_each_run(const unsigned char* window, unsigned size, F run) {
    unsigned at = 0, end = 0;
    for (;;) {
        at = next_byte(window, at, size, false);
        if (at == size) return;
        const unsigned start = at;
        at = next_byte(window, at, size, true);
        run(start - end, at - start);
        end = at;
    }
}

}  // namespace

std::size_t runs_of_window(const unsigned char* window, unsigned window_size, unsigned char* out) {
    unsigned count = 0;
    std::size_t header = 0, kept = 0;
    for_each_run(window, window_size, [&](unsigned gap, unsigned length) {
        ++count;
        header += varint_size(gap) + varint_size(length);
        kept += length;
    });
    unsigned char* at = out;
    if (varint_size(count) + header + kept > run_form_limit(window_size)) {
        // Too many short runs: one run of the whole window.
        at = put_varint(put_varint(put_varint(at, 1), 0), window_size);
        std::memcpy(at, window, window_size);
        return static_cast<std::size_t>(at - out) + window_size;
    }
    at = put_varint(at, count);
    unsigned char* bytes = at + header;
    unsigned end = 0;
    for_each_run(window, window_size, [&](unsigned gap, unsigned length) {
        at = put_varint(put_varint(at, gap), length);
        std::memcpy(bytes, window + end + gap, length);
        bytes += length;
        end += gap + length;
    });
    return static_cast<std::size_t>(bytes - out);
}

bool window_of_runs(const unsigned char* form, std::size_t size, unsigned window_size,
                    unsigned char* window) {
    const unsigned char* const end = form + size;
    const unsigned char* p = form;
    unsigned count = 0;
    if (!get_varint(p, end, count) || count > window_size) return false;
    // The run list first, checked whole: where it ends the bytes begin,
    // and they must be exactly the runs' bytes.
    const unsigned char* const list = p;
    unsigned filled = 0, kept = 0;
    for (unsigned i = 0; i < count; ++i) {
        unsigned gap = 0, length = 0;
        if (!get_varint(p, end, gap) || !get_varint(p, end, length)) return false;
        // Runs are whole: each is at least one byte, apart from the next.
        if (length == 0 || (gap == 0 && i != 0)) return false;
        if (gap > window_size - filled || length > window_size - filled - gap) return false;
        filled += gap + length;
        kept += length;
    }
    const unsigned char* bytes = p;
    if (static_cast<std::size_t>(end - bytes) != kept) return false;
    std::memset(window, 0, window_size);
    p = list;
    unsigned at = 0;
    for (unsigned i = 0; i < count; ++i) {
        unsigned gap = 0, length = 0;
        (void)get_varint(p, end, gap);
        (void)get_varint(p, end, length);
        std::memcpy(window + at + gap, bytes, length);
        bytes += length;
        at += gap + length;
    }
    return true;
}

bool unpack_kept_window(engine::stream& z, const access_point& p, unsigned char* scratch,
                        unsigned char* window) {
    if (p.raw) {
        std::memcpy(window, p.packed, p.window_size);
        return true;
    }
    if (!p.runs)
        return engine::inflate_whole(z, p.packed, p.packed_size, window, kWindowSize) ==
               static_cast<long>(p.window_size);
    const long n =
        engine::inflate_whole(z, p.packed, p.packed_size, scratch, run_form_limit(p.window_size));
    return n >= 0 && window_of_runs(scratch, static_cast<std::size_t>(n), p.window_size, window);
}

}  // namespace gzstream
