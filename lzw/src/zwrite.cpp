// Encoding of .Z streams: string matching through the hash table, code
// packing, and the ratio check that resets the table when compression fades.
#include <algorithm>
#include <cerrno>
#include <climits>

#include "fd_io.h"
#include "lzw_handle.h"

namespace lzw {
namespace {

// Input bytes between two measurements of the compression ratio.
constexpr int check_gap = 10000;

// Empties the dictionary.  Only slots need clearing: the pair kept for a
// code is read only through a slot that holds the code.
void clear_table(lzw_handle* zs) {
    std::fill_n(zs->zs_table.code, encode_table_slots, std::uint16_t{0});
    std::fill_n(zs->zs_table.literal_child, 256 * 256, std::uint16_t{0});
}

// A pair of a prefix code and a byte as one number.
constexpr std::uint32_t pair_tag(std::uint32_t prefix, std::uint32_t byte) {
    return prefix | byte << 16;
}

// Home slot of a pair whose prefix is above the literals: the prefix XOR a
// hash of the byte.  The prefix goes in unmixed, so a long match, which
// walks through codes made one after the other, finds their slots side by
// side in memory, and the step from one byte to the next costs one XOR
// after the load of the code.  The byte is mixed across all the slot bits:
// text uses few byte values, which differ in their low bits, and shifted in
// plainly they would crowd a quarter of the table.
constexpr std::size_t home_slot(std::uint32_t prefix, std::uint32_t byte) {
    return std::size_t{prefix} ^ ((byte * 0x9E3779B1u) >> (32 - encode_table_bits));
}

// Step between probes after a collision: odd, so that the sequence reaches
// every slot of the power-of-two table, and a hash of the whole pair, so
// that pairs which share a home slot, or runs of neighbouring home slots
// filled by one long match, part ways at once instead of piling up.
constexpr std::size_t probe_step(std::uint32_t tag) {
    return ((tag * 0x9E3779B1u) >> (32 - encode_table_bits)) | 1u;
}

// The code of the pair (prefix, byte), prefix above the literals, or 0 when
// the dictionary lacks it; `slot` is then the empty slot where it belongs.
// The load of a slot gives the code at once, so a match runs on to the next
// byte while the check of the pair's tag is still under way.
[[gnu::always_inline]] inline std::uint32_t find_pair(const encode_table& t, std::uint32_t prefix,
                                                      std::uint32_t byte, std::size_t& slot) {
    constexpr std::size_t mask = encode_table_slots - 1;
    const std::uint32_t tag = pair_tag(prefix, byte);
    std::size_t i = home_slot(prefix, byte);
    std::uint32_t code = t.code[i];
    if (code != 0 && t.tag_of[code] != tag) [[unlikely]] {
        // At most a quarter of the slots are used: an empty one ends the
        // sequence soon.
        const std::size_t step = probe_step(tag);
        do {
            i = (i + step) & mask;
            code = t.code[i];
        } while (code != 0 && t.tag_of[code] != tag);
    }
    slot = i;
    return code;
}

// Code packing state, copied out of the handle for one call so that the
// compiler keeps it in registers, and stored back at the end.
struct code_sink {
    lzw_handle* zs;
    unsigned char* gs;      // first byte of the group being filled
    unsigned char* out;     // byte of that group where the next code starts
    unsigned used;          // bits of *out already taken, 0 to 7
    std::uint64_t pending;  // those bits
    int codes_left;         // codes the group still takes, 1 to 8
    int width;
    int widen_after;
    int next_code;
    bool reset;
    std::int64_t total_out;

    explicit code_sink(lzw_handle* h)
        : zs(h),
          gs(h->zs_group_start),
          out(gs + (h->zs_offset >> 3)),
          used(static_cast<unsigned>(h->zs_offset) & 7u),
          pending(*out & rmask[used]),
          codes_left(8 - h->zs_offset / h->zs_width),
          width(h->zs_width),
          widen_after(h->zs_widen_after),
          next_code(h->zs_next_code),
          reset(h->zs_reset_pending > 0),
          total_out(h->zs_total_out) {}

    void store() const {
        zs->zs_group_start = gs;
        zs->zs_offset = static_cast<int>(out - gs) * 8 + static_cast<int>(used);
        zs->zs_width = width;
        zs->zs_widen_after = widen_after;
        zs->zs_next_code = next_code;
        zs->zs_reset_pending = reset ? 1 : 0;
        zs->zs_total_out = total_out;
    }

    // A clear code is on its way out: the group ends after it and the width
    // starts again.  The limit below every code sends output() to
    // next_group(), which sees the flag.
    void restart_after_next_code() {
        reset = true;
        widen_after = -1;
    }

    // Writes the bytes from the buffer's start up to `end`.  Returns false
    // with errno from write() on failure.
    bool write_buffer(const unsigned char* end) {
        const auto n = static_cast<std::size_t>(end - zs->zs_io_buf);
        if (!write_all(zs, zs->zs_io_buf, n)) return false;
        total_out += static_cast<std::int64_t>(n);
        return true;
    }

    // Ends the group early (wider codes follow, or a clear code was just
    // written) and sets the width of the next group.
    void close_group() {
        if (codes_left != 8) {
            // Readers skip the rest of the group; zeros keep the output a
            // function of the input alone.
            unsigned char* const cut = out + (used != 0 ? 1 : 0);
            std::fill(cut, gs + width, static_cast<unsigned char>(0));
            gs += width;
            out = gs;
            used = 0;
            pending = 0;
        }
        if (reset) {
            restart_width(width, widen_after);
            reset = false;
        } else {
            widen(width, widen_after, zs->zs_width_max, zs->zs_table_limit);
        }
    }

    // After a code that filled its group or changed the width: starts the
    // next group, writing the buffer out first when a whole group of the
    // new width would not fit.  Only whole groups leave the buffer.
    bool next_group() {
        if (codes_left == 0) {
            gs += width;  // eight codes of `width` bits fill `width` bytes
            codes_left = 8;
        }
        if (next_code > widen_after) close_group();
        codes_left = 8;  // out is at gs again
        if (gs + width > zs->zs_io_buf + io_buf_size) {
            if (!write_buffer(gs)) return false;
            gs = out = zs->zs_io_buf;
        }
        return true;
    }

    // Appends a code.  Returns false with errno from write() when the full
    // buffer could not be written.
    bool output(int code) {
        // One word store puts the code after the bits already in *out and
        // zeros after it, past the group's end only into bytes that later
        // codes, padding or the buffer's slack take.
        pending |= static_cast<std::uint64_t>(code) << used;
        store_le64(out, pending);
        used += static_cast<unsigned>(width);
        out += used >> 3;
        pending >>= used & ~7u;
        used &= 7u;
        if (--codes_left == 0 || next_code > widen_after) [[unlikely]]
            return next_group();
        return true;
    }

    // Writes what the buffer holds, the last group cut to the bytes its codes
    // occupy.
    bool flush() {
        unsigned char* const end = out + (used != 0 ? 1 : 0);
        if (end > zs->zs_io_buf && !write_buffer(end)) return false;
        gs = out = zs->zs_io_buf;
        used = 0;
        pending = 0;
        codes_left = 8;
        return true;
    }
};

// Writes the header and takes the first byte as the pending string.
bool start_stream(lzw_handle* zs, unsigned char first) {
    zs->zs_phase = PHASE_FAILED;  // until the header is out
    zs->zs_table_limit = 1 << zs->zs_width_max;
    const unsigned char header[3] = {
        z_magic[0], z_magic[1], static_cast<unsigned char>(zs->zs_block_flag | zs->zs_width_max)};
    if (!write_all(zs, header, sizeof header)) return false;
    zs->zs_phase = PHASE_CODES;
    zs->zs_group_start = zs->zs_io_buf;
    zs->zs_offset = 0;
    zs->zs_reset_pending = 0;
    zs->zs_total_in = 1;
    zs->zs_total_out = sizeof header;
    zs->zs_best_ratio = 0;
    zs->zs_next_check = check_gap;
    zs->zs_next_code = first_free_code;
    restart_width(zs->zs_width, zs->zs_widen_after);
    zs->zs_writer.zs_prefix = first;
    clear_table(zs);
    return true;
}

// The ratio, input bytes per output byte scaled by 256, as 32-bit arithmetic
// gives it below 2^31 bytes; past that the same formula in 64 bits.
int ratio_of(std::int64_t total_in, std::int64_t total_out) {
    std::int64_t ratio;
    if (total_in > 0x7FFFFF) {
        const std::int64_t d = total_out >> 8;
        ratio = d == 0 ? INT_MAX : total_in / d;
    } else {
        ratio = total_in * 256 / total_out;
    }
    return static_cast<int>(std::min<std::int64_t>(ratio, INT_MAX));
}

// Measures the ratio once the table is full: a ratio that stops improving
// means the old strings no longer fit the data, so the table starts afresh
// behind a clear code.  Returns false with errno from write() when output
// failed.  Inlined so that the sink stays in registers.
[[gnu::always_inline]] inline bool check_ratio(lzw_handle* zs, code_sink& sink,
                                               std::int64_t total_in, int& best_ratio,
                                               std::int64_t& next_check) {
    next_check = total_in + check_gap;
    const int ratio = ratio_of(total_in, sink.total_out);
    if (ratio > best_ratio) {
        best_ratio = ratio;
        return true;
    }
    best_ratio = 0;
    clear_table(zs);
    sink.next_code = first_free_code;
    sink.restart_after_next_code();
    return sink.output(clear_code);
}

// Compresses the bytes [p, end).  Returns false with errno from write() when
// output failed.
bool compress(lzw_handle* zs, const unsigned char* p, const unsigned char* const end) {
    writer_record& wr = zs->zs_writer;
    code_sink sink(zs);
    encode_table& table = zs->zs_table;
    const int limit = zs->zs_table_limit;
    const bool block = zs->zs_block_flag != 0;
    const unsigned char* const begin = p;
    const std::int64_t total_in_before = zs->zs_total_in;
    std::int64_t next_check = zs->zs_next_check;
    int best_ratio = zs->zs_best_ratio;
    auto ent = static_cast<std::uint32_t>(wr.zs_prefix);
    bool ok = true;

    // A miss on `c`: the matched string goes out, the pair becomes the next
    // code (its slot found by the lookup), and `c` starts the next string.
    const auto miss = [&](std::uint32_t c, std::size_t slot) __attribute__((always_inline)) {
        if (!sink.output(static_cast<int>(ent))) return false;
        const std::uint32_t matched = ent;
        ent = c;
        if (sink.next_code < limit) {
            const auto code = static_cast<std::uint32_t>(sink.next_code++);
            if (matched < 256) {
                table.literal_child[matched << 8 | c] = static_cast<std::uint16_t>(code);
            } else {
                table.tag_of[code] = pair_tag(matched, c);
                table.code[slot] = static_cast<std::uint16_t>(code);
            }
            return true;
        }
        if (!block) return true;
        const std::int64_t total_in = total_in_before + (p - begin);
        return total_in < next_check || check_ratio(zs, sink, total_in, best_ratio, next_check);
    };

    // Every miss leaves a literal as the string, so the loop goes round in
    // two steps: a literal and a byte (a direct lookup), then longer strings
    // through the hash table until the next miss.
    while (p < end) {
        std::uint32_t c = *p++;
        if (ent < 256) {
            const std::uint32_t child = table.literal_child[ent << 8 | c];
            if (child == 0) {
                if (!miss(c, 0)) {
                    ok = false;
                    break;
                }
                continue;
            }
            ent = child;
            if (p == end) break;
            c = *p++;
        }
        std::size_t slot;
        std::uint32_t code;
        while ((code = find_pair(table, ent, c, slot)) != 0) {
            ent = code;
            if (p == end) goto done;
            c = *p++;
        }
        if (!miss(c, slot)) {
            ok = false;
            break;
        }
    }
done:
    sink.store();
    zs->zs_total_in = total_in_before + (p - begin);
    zs->zs_next_check = next_check;
    zs->zs_best_ratio = best_ratio;
    wr.zs_prefix = static_cast<int>(ent);
    return ok;
}

}  // namespace

int zwrite(lzw_handle* zs, const unsigned char* buf, int count) {
    if (zs == nullptr || zs->zs_access != 'w' || count < 0 || (count > 0 && buf == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    if (count == 0) return 0;
    if (zs->zs_phase == PHASE_FAILED) return repeat_failure(zs);  // broken by a failed write
    if (zs->zs_phase != PHASE_FRESH && zs->zs_phase != PHASE_CODES) {
        // Opened with gotmagic: a writer has no magic to skip.
        errno = EINVAL;
        return -1;
    }
    const unsigned char* p = buf;
    if (zs->zs_phase == PHASE_FRESH && !start_stream(zs, *p++)) return fail_stream(zs, errno);
    if (!compress(zs, p, buf + count)) return fail_stream(zs, errno);
    return count;
}

int finish_writer(lzw_handle* zs) {
    switch (zs->zs_phase) {
        case PHASE_CODES: {
            code_sink sink(zs);
            const bool ok = sink.output(zs->zs_writer.zs_prefix) && sink.flush();
            sink.store();
            return ok ? 0 : -1;
        }
        case PHASE_FAILED:
            // The stream is already broken; adding to it would hide that.
            return repeat_failure(zs);
        default:
            return 0;  // nothing accepted: the output stays empty
    }
}

}  // namespace lzw
