// The reader: member header parsing, inflating, the trailer check,
// concatenated members, pass-through of data that is not gzip, and the byte
// handed back by gzungetc, with the character and line input built on gzread.
#include <cerrno>
#include <climits>
#include <cstring>

#include "engine.h"
#include "gz_handle.h"
#include "gzip_format.h"

namespace gzstream {
namespace {

using namespace gzip;

constexpr int kNotAMember = -1;

// Fills read_buffer from the file; returns the count read.
unsigned refill(gz_handle* s, unsigned char* at, unsigned room) {
    errno = 0;
    return static_cast<unsigned>(std::fread(at, 1, room, s->file));
}

// The next compressed byte for a header or trailer, or -1 at the end of input.
int next_byte(gz_handle* s) {
    if (s->input_ended) return -1;
    engine::stream& z = s->engine;
    if (z.avail_in == 0) {
        z.avail_in = refill(s, s->read_buffer.get(), s->read_size);
        if (z.avail_in == 0) {
            s->input_ended = 1;
            if (std::ferror(s->file)) s->status = Z_ERRNO;
            return -1;
        }
        z.next_in = s->read_buffer.get();
    }
    z.avail_in--;
    return *z.next_in++;
}

// Parses one member header.  Returns kNotAMember when a member header was
// consumed (`status` then says whether it was good), otherwise the number of
// bytes (0 or 1) when fewer than two were left, or 1 when they do not begin a
// member; in those cases nothing is consumed.
int parse_header(gz_handle* s, int gotmagic) {
    engine::stream& z = s->engine;
    unsigned char* buf = s->read_buffer.get();
    if (z.avail_in < 2) {
        unsigned have = z.avail_in;
        if (have == 1) buf[0] = *z.next_in;
        const unsigned got = refill(s, buf + have, s->read_size >> have);
        if (got == 0 && std::ferror(s->file)) s->status = Z_ERRNO;
        z.avail_in = have + got;
        z.next_in = buf;
        if (z.avail_in < 2) return static_cast<int>(z.avail_in);
    }
    if (!gotmagic) {
        if (z.next_in[0] != kMagic1 || z.next_in[1] != kMagic2) return 1;
        z.next_in += 2;
        z.avail_in -= 2;
    }
    const int method = next_byte(s);
    const int flags = next_byte(s);
    if (method != kMethodDeflate || flags < 0 || (flags & kFlagReserved) != 0) {
        s->status = Z_DATA_ERROR;
        return kNotAMember;
    }
    for (unsigned i = 0; i < kSkippedHeaderBytes; ++i) next_byte(s);  // MTIME, XFL, OS
    if (flags & kFlagExtra) {
        unsigned len = static_cast<unsigned>(next_byte(s));
        len += static_cast<unsigned>(next_byte(s)) << 8;
        while (len-- != 0 && next_byte(s) != -1) {
        }
    }
    if (flags & kFlagName) {
        int c;
        while ((c = next_byte(s)) != 0 && c != -1) {
        }
    }
    if (flags & kFlagComment) {
        int c;
        while ((c = next_byte(s)) != 0 && c != -1) {
        }
    }
    if (flags & kFlagHeaderCrc) {
        next_byte(s);
        next_byte(s);
    }
    s->status = s->input_ended ? Z_DATA_ERROR : Z_OK;
    return kNotAMember;
}

// Four little-endian trailer bytes; false when the input ended inside them.
bool read_le32(gz_handle* s, std::uint32_t& value) {
    value = 0;
    int c = 0;
    for (int i = 0; i < 4; ++i) {
        c = next_byte(s);
        value |= static_cast<std::uint32_t>(c & 0xFF) << (8 * i);
    }
    return c != -1;
}

// Verifies the trailer of the member just inflated and looks for another.
void end_member(gz_handle* s) {
    s->in_member = false;
    std::uint32_t crc, isize;
    if (!read_le32(s, crc) || crc != s->running_crc) {
        s->status = Z_DATA_ERROR;
        return;
    }
    // The length is informative only: streams past 4 GiB wrap it.
    if (!read_le32(s, isize) || (s->index && !s->index->member_ended(s, isize))) {
        s->status = Z_DATA_ERROR;
        return;
    }
    // Whatever follows the last member and does not begin another one is
    // ignored; it never turns the stream into a pass-through stream.
    if (parse_header(s, 0) == kNotAMember && s->status == Z_OK) {
        engine::inflate_reset(s->engine);
        s->running_crc = engine::crc32(0, nullptr, 0);
        s->in_member = true;
        s->member_start = s->bytes_out;
        if (s->index) s->index->member_started(s);
    }
}

// Copies plain input: first what is buffered, then straight from the file
// into the caller's buffer.
unsigned read_plain(gz_handle* s, unsigned char* out, unsigned space) {
    engine::stream& z = s->engine;
    unsigned n = z.avail_in < space ? z.avail_in : space;
    if (n > 0) {
        std::memcpy(out, z.next_in, n);
        z.next_in += n;
        z.avail_in -= n;
    }
    if (n < space) {
        n += static_cast<unsigned>(std::fread(out + n, 1, space - n, s->file));
        // A failed read is not the end of the data.
        if (std::ferror(s->file)) s->status = Z_ERRNO;
    }
    return n;
}

}  // namespace

void check_header(gz_handle* s, int gotmagic) {
    const int verdict = parse_header(s, gotmagic);
    if (verdict == kNotAMember) {
        s->has_member = true;
        s->in_member = s->status == Z_OK;
    } else {
        s->pass_through = verdict;
    }
}

int gzread(gz_handle* s, void* buf, unsigned len) {
    if (s == nullptr || s->direction != 'r' || len > INT_MAX) return Z_STREAM_ERROR;
    // An error stays until gzclearerr or gzrewind: a caller that stops at 0
    // must never take a damaged or unreadable stream for a complete one.
    if (s->status < 0) return -1;
    if (s->status == Z_STREAM_END) return 0;

    engine::stream& z = s->engine;
    auto* const dest = static_cast<unsigned char*>(buf);
    z.next_out = dest;
    z.avail_out = len;
    unsigned char* crc_mark = dest;

    if (len != 0 && s->pushback_char != -1) {
        *z.next_out++ = static_cast<unsigned char>(s->pushback_char);
        z.avail_out--;
        s->bytes_out++;
        s->pushback_char = -1;
        crc_mark = z.next_out;  // a handed-back byte was counted when first read
        if (s->pushback_at_end) {
            s->status = Z_STREAM_END;
            return 1;
        }
    }

    while (z.avail_out != 0) {
        if (s->pass_through) {
            // A handed-back byte was counted when it was first read.
            const unsigned got = read_plain(s, z.next_out, z.avail_out);
            s->bytes_in += got;
            s->bytes_out += got;
            const unsigned n = (len - z.avail_out) + got;
            if (n == 0) s->input_ended = 1;
            return n == 0 && s->status < 0 ? -1 : static_cast<int>(n);
        }
        if (z.avail_in == 0 && !s->input_ended) {
            z.avail_in = refill(s, s->read_buffer.get(), s->read_size);
            z.next_in = s->read_buffer.get();
            if (z.avail_in == 0) {
                s->input_ended = 1;
                if (std::ferror(s->file)) {
                    s->status = Z_ERRNO;
                    break;
                }
                if (std::feof(s->file)) {
                    // Input that ends inside a member is damaged, never a
                    // normal end: a cut-off file must not pass for a whole one.
                    if (s->in_member) {
                        s->status = Z_DATA_ERROR;
                        z.msg = "unexpected end of file";
                    } else {
                        s->status = Z_STREAM_END;
                    }
                    break;
                }
            }
        }
        s->bytes_in += z.avail_in;
        s->bytes_out += z.avail_out;
        unsigned char* const produced = z.next_out;
        // Once a handle seeks, it stops at block ends as access points come due.
        const bool to_block_end = s->index && s->index->wants_block_ends(s);
        s->status = to_block_end ? engine::inflate_blocks(z) : engine::inflate(z);
        s->bytes_in -= z.avail_in;
        s->bytes_out -= z.avail_out;
        if (s->index) s->index->after_inflate(s, produced, crc_mark);

        if (s->status == Z_STREAM_END) {
            s->running_crc = engine::crc32(s->running_crc, crc_mark,
                                           static_cast<std::size_t>(z.next_out - crc_mark));
            crc_mark = z.next_out;
            end_member(s);
        }
        if (s->status != Z_OK || s->input_ended) break;
    }
    s->running_crc =
        engine::crc32(s->running_crc, crc_mark, static_cast<std::size_t>(z.next_out - crc_mark));
    if (s->status < 0) index_read_failed(s);
    // Bytes delivered before an error are given now and the error on the next
    // call; a call that delivered nothing reports it at once.
    const unsigned delivered = len - z.avail_out;
    if (delivered == 0 && s->status < 0) return -1;
    return static_cast<int>(delivered);
}

int gzgetc(gz_handle* s) {
    unsigned char c;
    return gzread(s, &c, 1) == 1 ? c : -1;
}

int gzungetc(int c, gz_handle* s) {
    if (s == nullptr || s->direction != 'r' || c < 0 || s->pushback_char != -1) return -1;
    s->pushback_char = c;
    s->bytes_out--;
    s->pushback_at_end = s->status == Z_STREAM_END;
    if (s->pushback_at_end) s->status = Z_OK;
    s->input_ended = 0;
    return c;
}

char* gzgets(gz_handle* s, char* buf, int size) {
    if (buf == nullptr || size <= 0) return nullptr;
    int stored = 0;
    while (stored < size - 1) {
        if (gzread(s, buf + stored, 1) != 1) break;
        if (buf[stored++] == '\n') break;
    }
    buf[stored] = '\0';
    return stored == 0 && size > 1 ? nullptr : buf;
}

gz_off_t skip_pushback(gz_handle* s, gz_off_t skip) {
    if (skip <= 0 || s->pushback_char == -1) return skip;
    s->pushback_char = -1;
    s->bytes_out++;
    if (s->pushback_at_end) s->status = Z_STREAM_END;
    return skip - 1;
}

void restart_reader(gz_handle* s) {
    s->status = Z_OK;
    s->input_ended = 0;
    s->pushback_char = -1;
    s->pushback_at_end = 0;
    s->engine.next_in = s->read_buffer.get();
    s->engine.avail_in = 0;
    s->running_crc = engine::crc32(0, nullptr, 0);
    if (!s->pass_through) engine::inflate_reset(s->engine);
    // data_start lies behind the first member's header, inside its data.
    s->in_member = s->has_member;
    s->member_start = 0;
    s->bytes_in = s->bytes_out = 0;
}

void forget_plain_input(gz_handle* s) {
    s->pushback_char = -1;
    s->engine.next_in = s->read_buffer.get();
    s->engine.avail_in = 0;
}

}  // namespace gzstream
