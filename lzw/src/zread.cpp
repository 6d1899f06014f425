// Decoding of .Z streams: the header, code fetching and the string decoder.
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "fd_io.h"
#include "lzw_handle.h"

namespace lzw {
namespace {

// What fetching yields instead of a code, and why decoding stops early.
constexpr int no_code = -1;      // the data ended
constexpr int read_failed = -2;  // read() failed; errno says why
constexpr int bad_code = -3;     // a code no writer makes: the data is damaged

// Leaves the group at group_start, `skip` bytes long, moves the unread bytes
// after it to the start of the buffer, and reads until a whole group of
// `width` bytes is held or the data ends.  A pipe delivers in pieces; taking
// a piece for the whole group would put every later group boundary out of
// step.  Returns the bytes held from the new group start, or -1 with errno
// from read().
[[gnu::noinline]] std::ptrdiff_t refill(lzw_handle* zs, unsigned char* group_start, int skip,
                                        int width) {
    unsigned char* const buf = zs->zs_io_buf;
    const std::ptrdiff_t left = zs->zs_reader.zs_data_end - group_start - skip;
    std::size_t held = left > 0 ? static_cast<std::size_t>(left) : 0;
    if (held > 0) std::memmove(buf, group_start + skip, held);
    zs->zs_group_start = buf;
    zs->zs_reader.zs_data_end = buf + held;
    while (held < static_cast<std::size_t>(width)) {
        const ssize_t got = read_some(zs, buf + held, io_buf_size - held);
        if (got < 0) return -1;
        if (got == 0) break;
        held += static_cast<std::size_t>(got);
        zs->zs_total_in += got;
        zs->zs_reader.zs_data_end = buf + held;
    }
    return static_cast<std::ptrdiff_t>(held);
}

// Reads and checks the header, then readies the tables for the first code.
// Returns 0, or -1 with errno set.
int read_header(lzw_handle* zs) {
    const bool magic_taken = zs->zs_phase == PHASE_MAGIC_TAKEN;
    zs->zs_phase = PHASE_FAILED;  // until the header proves good
    // A header cut short, even right after a magic the caller took, is not
    // a .Z stream: an empty stream still carries its flags byte.
    unsigned char header[3] = {z_magic[0], z_magic[1], 0};
    const std::size_t wanted = magic_taken ? 1 : 3;
    const ssize_t got = read_full(zs, header + (3 - wanted), wanted);
    if (got < 0) return -1;
    if (static_cast<std::size_t>(got) < wanted || header[0] != z_magic[0] ||
        header[1] != z_magic[1]) {
        errno = EINVAL;
        return -1;
    }
    zs->zs_total_in += 3;
    const int flags = header[2];
    zs->zs_width_max = flags & width_mask;
    zs->zs_block_flag = flags & block_mode;
    if (zs->zs_width_max > max_width) {
        errno = EINVAL;
        return -1;
    }
    zs->zs_table_limit = 1 << zs->zs_width_max;

    zs->zs_phase = PHASE_CODES;
    zs->zs_group_start = zs->zs_io_buf;
    restart_width(zs->zs_width, zs->zs_widen_after);
    decode_tables& t = zs->zs_decode;
    for (int c = 0; c < 256; ++c) {
        zs->zs_codes[c] = 0;
        t.suffix[c] = static_cast<unsigned char>(c);
        t.length[c] = 1;
    }
    zs->zs_next_code = zs->zs_block_flag != 0 ? first_free_code : clear_code;
    return 0;
}

// Makes room at the window's end by moving its last window_keep bytes (and
// any not yet delivered) to the front.  Positions that fall off the front are
// forgotten.
[[gnu::noinline]] void slide_window(lzw_handle* zs, std::size_t& end, std::size_t& delivered,
                                    std::uint32_t& prev_position, int next_code) {
    std::size_t from = end > window_keep ? end - window_keep : 0;
    if (delivered < from) from = delivered;
    if (from == 0) return;
    unsigned char* const bytes = zs->zs_window.bytes;
    std::memmove(bytes, bytes + from, end - from);
    end -= from;
    delivered -= from;
    const auto shift = static_cast<std::uint32_t>(from);
    auto rebase = [shift](std::uint32_t p) {
        return p == no_position || p < shift ? no_position : p - shift;
    };
    prev_position = rebase(prev_position);
    // Only defined codes are looked up; the others get a position when defined.
    std::uint32_t* const position = zs->zs_window.position;
    for (int c = clear_code; c < next_code; ++c) position[c] = rebase(position[c]);
}

// Decodes until `count` bytes are ready or the stream ends, and hands them to
// out.  At the stream's start the first code is delivered as a literal byte.
//
// Only codes a writer can make are taken: a literal byte first and after
// each clear code, then codes already defined or the one being defined.
// Anything else means damaged data, which must not be handed on as output.
// Taking no other codes also keeps every entry's prefix a smaller code, so
// each code's string length is known when the code is defined and stays true
// until the next clear.
//
// Strings are decoded into the window (see lzw_handle.h).  A code's string is
// copied from where it last appeared: a new code's string is where the
// previous string was written, extended by the byte that follows it.  A
// string whose place has left the window is unwound through the prefix chain
// straight to its place.
int decode(lzw_handle* zs, unsigned char* out, int count, bool stream_start) {
    reader_record& rd = zs->zs_reader;
    decode_tables& t = zs->zs_decode;
    unsigned char* const suffix = t.suffix;
    std::uint16_t* const length = t.length;
    std::uint16_t* const prefix = zs->zs_codes;
    unsigned char* const win = zs->zs_window.bytes;
    std::uint32_t* const position = zs->zs_window.position;

    const auto want = static_cast<std::size_t>(count);
    std::size_t given = 0;  // bytes already in out
    std::size_t end = rd.zs_window_end;
    std::size_t delivered = rd.zs_window_delivered;
    std::uint32_t prev_pos = rd.zs_prev_position;

    // Hot state lives in locals for the loop and goes back to the handle on
    // every way out.
    unsigned char* gs = zs->zs_group_start;
    unsigned char* data_end = rd.zs_data_end;
    int offset = zs->zs_offset;
    int group_bits = rd.zs_group_bits;
    int width = zs->zs_width;
    int widen_after = zs->zs_widen_after;
    int next_code = zs->zs_next_code;
    bool reset = zs->zs_reset_pending > 0;
    int prev = rd.zs_prev_code;
    int lead = rd.zs_lead_char;
    const int width_max = zs->zs_width_max;
    const int limit = zs->zs_table_limit;
    const bool block = zs->zs_block_flag != 0;

    // One code from the current group, starting a new group when this one is
    // used up, closed by a clear code, or the width grows.
    auto fetch = [&]() __attribute__((always_inline)) {
        // (A clear code empties group_bits, so one test covers it too.)
        if (offset >= group_bits || next_code > widen_after) [[unlikely]] {
            // The current group is left whether or not all its codes were read.
            const int skip = width;
            if (next_code > widen_after) widen(width, widen_after, width_max, limit);
            if (reset) {
                restart_width(width, widen_after);
                reset = false;
            }
            std::ptrdiff_t held = data_end - gs - skip;
            if (held >= width) {
                gs += skip;
            } else {
                held = refill(zs, gs, skip, width);
                if (held < 0) return read_failed;
                gs = zs->zs_group_start;
                data_end = rd.zs_data_end;
            }
            offset = 0;
            const int bytes = held < width ? static_cast<int>(held) : width;
            group_bits = 8 * bytes - (width - 1);
            // A group too short for one code (a stream cut a byte into a
            // group) ends the stream: its high bits would come from stale
            // buffer bytes.
            if (group_bits <= 0) {
                group_bits = 0;
                return no_code;
            }
        }
        const std::uint32_t word = load_le32(gs + (offset >> 3));
        const auto code = static_cast<int>((word >> (offset & 7)) & ((1u << width) - 1));
        offset += width;
        return code;
    };

    // Room for a string of len bytes at the window's end.  What is ready
    // goes out first: the caller may ask for more than the window holds.
    auto reserve = [&](std::size_t len) __attribute__((always_inline)) {
        if (end + len > window_size) [[unlikely]] {
            std::memcpy(out + given, win + delivered, end - delivered);
            given += end - delivered;
            delivered = end;
            slide_window(zs, end, delivered, prev_pos, next_code);
        }
    };

    int status = 0;
    if (stream_start) {
        const int code = fetch();
        if (code < 0) {
            status = code;
        } else if (code > 255) {
            status = bad_code;  // the first code must be a literal byte
        } else {
            reserve(1);
            prev_pos = static_cast<std::uint32_t>(end);
            win[end++] = static_cast<unsigned char>(code);
            prev = lead = code;
        }
    }

    while (status == 0 && given + (end - delivered) < want) {
        int code = fetch();
        if (code < 0) {
            status = code;
            break;
        }
        if (code == clear_code && block) {
            next_code = clear_code;
            reset = true;
            group_bits = 0;
            code = fetch();
            if (code < 0) {
                status = code;
                break;
            }
            // The table starts afresh from a literal byte.  Its turn below
            // defines entry 256, which no code can name (256 reads as a
            // clear), and so brings next_code back in step with the writer's.
            if (code > 255) {
                status = bad_code;
                break;
            }
        }
        std::size_t cur;
        if (code < 256) {
            reserve(1);
            cur = end;
            lead = code;
            win[end++] = static_cast<unsigned char>(code);
        } else if (code < next_code || (code == next_code && code < limit)) {
            // A code not defined yet (self) stands for the previous string
            // plus its own first byte; it is the entry this code defines.
            const bool self = code == next_code;
            const int x = self ? prev : code;
            const std::size_t lx = length[x];
            const std::size_t len = lx + (self ? 1u : 0u);
            reserve(len);
            cur = end;
            unsigned char* const dst = win + end;
            const std::uint32_t from = self ? prev_pos : position[x];
            if (from != no_position) {
                // The source always ends at or before dst; only a near one
                // needs the byte-wise copy.
                const unsigned char* const src = win + from;
                if (dst - src >= 16) {
                    for (std::size_t i = 0; i < lx; i += 16) std::memcpy(dst + i, src + i, 16);
                } else {
                    for (std::size_t i = 0; i < lx; ++i) dst[i] = src[i];
                }
                lead = dst[0];
                if (self) dst[lx] = static_cast<unsigned char>(lead);
            } else {
                // Every prefix is a smaller code and every length exact, so
                // the chain reaches its literal at dst.
                unsigned char* q = dst + len;
                if (self) *--q = static_cast<unsigned char>(lead);
                int y = x;
                while (q > dst + 1) {
                    *--q = suffix[y];
                    y = prefix[y];
                }
                *dst = static_cast<unsigned char>(y);
                lead = y;
            }
            end += len;
            position[code] = static_cast<std::uint32_t>(cur);
        } else {
            // Above the next free code, or naming an entry that a full table
            // will never make.
            status = bad_code;
            break;
        }
        if (next_code < limit) {
            prefix[next_code] = static_cast<std::uint16_t>(prev);
            suffix[next_code] = static_cast<unsigned char>(lead);
            length[next_code] = static_cast<std::uint16_t>(length[prev] + 1);
            position[next_code] = prev_pos;
            ++next_code;
        }
        prev = code;
        prev_pos = static_cast<std::uint32_t>(cur);
    }

    // What is ready goes out; a string that did not fit waits in the window.
    const std::size_t ready = end - delivered;
    const std::size_t now = ready < want - given ? ready : want - given;
    std::memcpy(out + given, win + delivered, now);
    delivered += now;
    given += now;

    rd.zs_window_end = static_cast<std::uint32_t>(end);
    rd.zs_window_delivered = static_cast<std::uint32_t>(delivered);
    rd.zs_prev_position = prev_pos;
    zs->zs_group_start = gs;
    zs->zs_offset = offset;
    rd.zs_group_bits = group_bits;
    zs->zs_width = width;
    zs->zs_widen_after = widen_after;
    zs->zs_next_code = next_code;
    zs->zs_reset_pending = reset ? 1 : 0;
    rd.zs_prev_code = prev;
    rd.zs_lead_char = lead;

    switch (status) {
        case read_failed:
            return fail_stream(zs, errno);
        case bad_code:
            return fail_stream(zs, EINVAL);
        case no_code:
            zs->zs_phase = PHASE_DONE;
            break;
        default:
            break;
    }
    const auto delivered_now = static_cast<int>(given);
    zs->zs_total_out += delivered_now;
    return delivered_now;
}

}  // namespace

int zread(lzw_handle* zs, unsigned char* buf, int count) {
    if (zs == nullptr || zs->zs_access != 'r' || count < 0 || (count > 0 && buf == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    if (count == 0) return 0;
    switch (zs->zs_phase) {
        case PHASE_FRESH:
        case PHASE_MAGIC_TAKEN:
            if (read_header(zs) < 0) return fail_stream(zs, errno);
            return decode(zs, buf, count, true);
        case PHASE_CODES:
            return decode(zs, buf, count, false);
        case PHASE_DONE:
            return 0;
        default:
            return repeat_failure(zs);
    }
}

}  // namespace lzw
