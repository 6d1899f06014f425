// The reader: member header parsing, inflating, the trailer check,
// concatenated members, pass-through of data that is not gzip, and the byte
// handed back by gzungetc, with the character and line input taking bytes
// decoded ahead in bulk.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "engine.h"
#include "gz_handle.h"
#include "gzip_format.h"

namespace gzstream {
namespace {

using namespace gzip;

constexpr int kNotAMember = -1;
// The most output one engine call gives before the CRC runs over it: well
// inside a core's second-level cache.
constexpr unsigned kCrcPiece = 128u << 10;

// Fills read_buffer from the file; returns the count read.  The reason of a
// failed read is kept for gzerrno.
unsigned refill(gz_handle* s, unsigned char* at, unsigned room) {
    errno = 0;
    const auto got = static_cast<unsigned>(std::fread(at, 1, room, s->file));
    if (got < room && std::ferror(s->file) != 0) note_errno(s, errno);
    return got;
}

// The next compressed byte for a header or trailer, or -1 at the end of input.
int next_byte(gz_handle* s) {
    if (s->input_ended) return -1;
    engine::stream& z = s->engine;
    if (z.avail_in == 0) {
        z.avail_in = refill(s, s->read_buffer.get(), s->read_size);
        if (z.avail_in == 0) {
            s->input_ended = true;
            if (std::ferror(s->file) != 0) s->status = Z_ERRNO;
            return -1;
        }
        z.next_in = s->read_buffer.get();
    }
    z.avail_in--;
    return *z.next_in++;
}

// A header or trailer the input ended inside is damaged; one a read failed
// inside stays a file error, which gzclearerr lets the reader try again.
void cut_short(gz_handle* s) {
    if (s->status != Z_ERRNO) s->status = Z_DATA_ERROR;
}

// A member header's bytes, taken from the input with next_byte, and the
// CRC-32 of those taken since the sum began: FHCRC holds the low half of the
// CRC-32 of every header byte before it.  The bytes are summed a window at a
// time, when the window is about to be refilled and when the sum is asked for.
class header_bytes {
  public:
    explicit header_bytes(gz_handle* s) : s_(s) {}

    // Starts the sum with the bytes already taken (the fixed ones before the
    // cursor, which the caller knows), then goes on from the cursor.
    void start_sum(const unsigned char* taken, std::size_t n) {
        summing_ = true;
        crc_ = engine::crc32(engine::crc32(0, nullptr, 0), taken, n);
        from_ = s_->engine.next_in;
    }

    int next() {
        if (!summing_ || s_->engine.avail_in != 0) return next_byte(s_);
        fold();  // the window is about to be refilled
        const int c = next_byte(s_);
        from_ = c != -1 ? s_->engine.next_in - 1 : s_->engine.next_in;
        return c;
    }

    std::uint32_t sum() {
        fold();
        return crc_;
    }

  private:
    void fold() {
        crc_ = engine::crc32(crc_, from_, static_cast<std::size_t>(s_->engine.next_in - from_));
        from_ = s_->engine.next_in;
    }

    gz_handle* s_;
    bool summing_ = false;
    std::uint32_t crc_ = 0;
    const unsigned char* from_ = nullptr;
};

// Reads MTIME, XFL and OS; MTIME is kept for the first member.
void read_mtime(header_bytes& in, first_header* keep) {
    std::uint32_t mtime = 0;
    for (int i = 0; i < 4; ++i) mtime |= static_cast<std::uint32_t>(in.next() & 0xFF) << (8 * i);
    in.next();  // XFL
    in.next();  // OS
    if (keep != nullptr) keep->mtime = mtime;
}

// Reads a NUL-terminated header text to its end, keeping it when asked and
// not longer than GZ_HEADER_TEXT_MAX: a longer text is dropped whole, never
// kept cut short.
void read_text(header_bytes& in, header_text* keep) {
    const auto drop = [keep] {
        keep->lost = true;
        std::string().swap(keep->text);
    };
    int c;
    while ((c = in.next()) != 0 && c != -1) {
        if (keep == nullptr || keep->lost) continue;
        if (keep->text.size() == GZ_HEADER_TEXT_MAX) {
            drop();
            continue;
        }
        try {
            keep->text.push_back(static_cast<char>(c));
        } catch (const std::bad_alloc&) {
            drop();
        }
    }
    if (keep != nullptr) keep->present = true;
}

// Parses one member header.  Returns kNotAMember when a member header was
// consumed (`status` then says whether it was good), otherwise the number of
// bytes (0 or 1) when fewer than two were left, or 1 when they do not begin a
// member; in those cases nothing is consumed.  After a magic the caller took
// (gotmagic), the method and flags bytes must follow: without them the
// header is cut off, a data error.
int parse_header(gz_handle* s, int gotmagic) {
    engine::stream& z = s->engine;
    unsigned char* buf = s->read_buffer.get();
    if (z.avail_in < 2) {
        // A pipe may deliver the two bytes one at a time: a single byte is
        // not yet the end of the input.
        unsigned have = z.avail_in;
        if (have == 1) buf[0] = *z.next_in;
        z.next_in = buf;
        while (have < 2) {
            const unsigned got = refill(s, buf + have, s->read_size - have);
            if (got == 0) {
                if (std::ferror(s->file) != 0) s->status = Z_ERRNO;
                break;
            }
            have += got;
        }
        z.avail_in = have;
        if (have < 2) {
            if (gotmagic == 0) return static_cast<int>(have);
            if (s->status != Z_ERRNO) s->status = Z_DATA_ERROR;
            return kNotAMember;
        }
    }
    if (gotmagic == 0) {
        if (z.next_in[0] != kMagic1 || z.next_in[1] != kMagic2) return 1;
        z.next_in += 2;
        z.avail_in -= 2;
    }
    const int method = next_byte(s);
    const int flags = next_byte(s);
    if (flags < 0) {
        cut_short(s);
        return kNotAMember;
    }
    if (method != kMethodDeflate || (flags & kFlagReserved) != 0) {
        s->status = Z_DATA_ERROR;
        return kNotAMember;
    }
    header_bytes in(s);
    if ((flags & kFlagHeaderCrc) != 0) {
        const unsigned char fixed[] = {kMagic1, kMagic2, static_cast<unsigned char>(method),
                                       static_cast<unsigned char>(flags)};
        in.start_sum(fixed, sizeof fixed);
    }
    // The fields of the first member's header are kept for gzheader.
    first_header* const keep = s->has_member ? nullptr : &s->header;
    read_mtime(in, keep);
    if ((flags & kFlagExtra) != 0) {
        unsigned len = static_cast<unsigned>(in.next());
        len += static_cast<unsigned>(in.next()) << 8;
        while (len-- != 0 && in.next() != -1) {
        }
    }
    if ((flags & kFlagName) != 0) read_text(in, keep != nullptr ? &keep->name : nullptr);
    if ((flags & kFlagComment) != 0) read_text(in, keep != nullptr ? &keep->comment : nullptr);
    bool header_crc_matches = true;
    if ((flags & kFlagHeaderCrc) != 0) {
        const std::uint32_t want = in.sum() & 0xFFFF;
        const int low = in.next();
        const int high = in.next();
        header_crc_matches = static_cast<std::uint32_t>(low | high << 8) == want;
    }
    if (s->input_ended)
        cut_short(s);
    else
        // A header whose check fails may have any field wrong, the flags
        // included: none of what follows can be trusted to be its data.
        s->status = header_crc_matches ? Z_OK : Z_DATA_ERROR;
    return kNotAMember;
}

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// After the last member: zero bytes up to the end of the input are padding
// and end the stream normally.  Anything else (a later member whose magic was
// damaged, a stray byte, data appended by mistake) is a data error: it must
// not pass for a clean end, since it may be data that can no longer be read.
void skip_padding(gz_handle* s) {
    engine::stream& z = s->engine;
    for (;;) {
        const unsigned char* const end = z.next_in + z.avail_in;
        const unsigned char* const other =
            std::find_if(z.next_in, end, [](unsigned char c) { return c != 0; });
        z.avail_in -= static_cast<unsigned>(other - z.next_in);
        z.next_in = other;
        if (other != end) {
            s->status = Z_DATA_ERROR;
            z.msg = "trailing garbage";
            return;
        }
        const unsigned got = refill(s, s->read_buffer.get(), s->read_size);
        z.next_in = s->read_buffer.get();
        z.avail_in = got;
        if (got == 0) {
            s->input_ended = true;
            if (std::ferror(s->file) != 0) s->status = Z_ERRNO;
            return;
        }
    }
}

// Verifies the trailer of the member just inflated and looks for another.
void end_member(gz_handle* s) {
    // The trailer's bytes are kept as they come, so that a read that fails
    // inside it can be tried again (gzclearerr) without losing any; until it
    // is whole the member has not ended, and the end of input is damage.
    while (s->trailer_have < sizeof s->trailer) {
        const int c = next_byte(s);
        if (c < 0) {
            cut_short(s);
            return;
        }
        s->trailer[s->trailer_have++] = static_cast<unsigned char>(c);
    }
    s->trailer_have = 0;
    s->in_member = false;
    if (le32(s->trailer) != s->running_crc) {
        s->status = Z_DATA_ERROR;
        return;
    }
    // The length, modulo 2^32.  A read that started at a loaded access point
    // lets the index judge first, so that a wrong point is dropped.
    const std::uint32_t length = le32(s->trailer + 4);
    if ((s->index && !s->index->member_ended(s, length)) ||
        length != static_cast<std::uint32_t>(s->bytes_out - s->member_start)) {
        s->status = Z_DATA_ERROR;
        return;
    }
    const int verdict = parse_header(s, 0);
    if (verdict == kNotAMember) {
        if (s->status == Z_OK) {
            engine::inflate_reset(s->engine);
            s->running_crc = engine::crc32(0, nullptr, 0);
            s->in_member = true;
            s->member_start = s->bytes_out;
            if (s->index) s->index->member_started(s);
        }
        return;
    }
    // No further member.  What follows never turns the stream into a
    // pass-through stream; it must be zero padding (tape blocks) or nothing.
    if (verdict > 0 && s->status >= 0) skip_padding(s);
    if (s->status >= 0 && s->index) s->index->data_ended(s->bytes_out);
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
        n += refill(s, out + n, space - n);
        // A failed read is not the end of the data.
        if (std::ferror(s->file) != 0) s->status = Z_ERRNO;
    }
    return n;
}

// The last byte decoded ahead was taken: what the engine met behind it
// becomes the caller's, as a read that had delivered those bytes would leave it.
void ahead_taken(gz_handle* s) {
    read_ahead& a = s->ahead;
    if (a.status != Z_OK) s->status = a.status;
    if (a.ends_input) s->input_ended = true;
    a.status = Z_OK;
    a.ends_input = false;
}

void drop_ahead(gz_handle* s) {
    read_ahead& a = s->ahead;
    a.next = a.end = nullptr;
    a.status = Z_OK;
    a.ends_input = false;
}

unsigned take_ahead(gz_handle* s, unsigned char* to, std::size_t room) {
    read_ahead& a = s->ahead;
    const std::size_t n = a.size() < room ? a.size() : room;
    std::memcpy(to, a.next, n);
    a.next += n;
    s->bytes_out += static_cast<gz_off_t>(n);
    if (a.empty()) ahead_taken(s);
    return static_cast<unsigned>(n);
}

// gzread's work.  `for_ahead`: the call fills the read-ahead buffer, and
// stops rather than wait for the file once it has bytes to give.
int read_into(gz_handle* s, unsigned char* dest, unsigned len, bool for_ahead) {
    // An error stays until gzclearerr or gzrewind: a caller that stops at 0
    // must never take a damaged or unreadable stream for a complete one.
    if (s->status < 0) return -1;
    if (s->status == Z_STREAM_END) return 0;

    engine::stream& z = s->engine;
    z.next_out = dest;
    z.avail_out = len;

    if (len != 0 && s->pushback_char != -1) {
        *z.next_out++ = static_cast<unsigned char>(s->pushback_char);
        z.avail_out--;
        s->bytes_out++;
        s->pushback_char = -1;
        if (s->pushback_at_end) {
            s->status = Z_STREAM_END;
            return 1;
        }
    }
    if (z.avail_out != 0 && !s->ahead.empty()) {
        const unsigned n = take_ahead(s, z.next_out, z.avail_out);
        z.next_out += n;
        z.avail_out -= n;
        // A read that had decoded these bytes would have stopped behind them.
        if (!s->ahead.empty() || s->status != Z_OK || s->input_ended)
            return static_cast<int>(len - z.avail_out);
    }
    // The handed-back byte and the bytes decoded ahead were counted in the
    // CRC when they were first decoded.
    unsigned char* crc_mark = z.next_out;

    while (z.avail_out != 0) {
        if (s->pass_through) {
            const unsigned got = read_plain(s, z.next_out, z.avail_out);
            s->bytes_in += got;
            s->bytes_out += got;
            const unsigned n = (len - z.avail_out) + got;
            if (n == 0) s->input_ended = true;
            return n == 0 && s->status < 0 ? -1 : static_cast<int>(n);
        }
        if (z.avail_in == 0 && !s->input_ended) {
            // The caller of gzgetc or gzgets needs bytes now, not a full buffer.
            if (for_ahead && z.avail_out != len) break;
            z.avail_in = refill(s, s->read_buffer.get(), s->read_size);
            z.next_in = s->read_buffer.get();
            if (z.avail_in == 0) {
                s->input_ended = true;
                if (std::ferror(s->file) != 0) {
                    s->status = Z_ERRNO;
                    break;
                }
                if (!s->in_member) {
                    s->status = Z_STREAM_END;
                    break;
                }
            }
        }
        // The input ended inside a member.  The engine may still hold output
        // decoded from the bytes it has taken (the rest of a match, up to 258
        // bytes): it runs until it can give nothing more, and only then is
        // the cut reported.  It runs to no block end here, so that "nothing
        // more" is certain.
        const bool input_gone = s->input_ended && z.avail_in == 0;
        // Output goes out in pieces that stay in the cache until the CRC
        // has run over them.
        const unsigned held = z.avail_out > kCrcPiece ? z.avail_out - kCrcPiece : 0;
        z.avail_out -= held;
        s->bytes_in += z.avail_in;
        s->bytes_out += z.avail_out;
        unsigned char* const produced = z.next_out;
        // Once a handle seeks, it stops at block ends as access points come due.
        const bool to_block_end = !input_gone && s->index && s->index->wants_block_ends(s);
        s->status = to_block_end ? engine::inflate_blocks(z) : engine::inflate(z);
        s->bytes_in -= z.avail_in;
        s->bytes_out -= z.avail_out;
        const bool piece_full = z.avail_out == 0 && held != 0;
        z.avail_out += held;
        if (input_gone && !piece_full &&
            (s->status == Z_BUF_ERROR || (s->status == Z_OK && z.avail_out != 0))) {
            // Input that ends inside a member is damaged, never a normal end:
            // a cut-off file must not pass for a whole one.
            s->status = Z_DATA_ERROR;
            z.msg = "unexpected end of file";
        }
        if (s->index) s->index->after_inflate(s, produced, crc_mark);
        s->running_crc = engine::crc32(s->running_crc, crc_mark,
                                       static_cast<std::size_t>(z.next_out - crc_mark));
        crc_mark = z.next_out;
        if (s->status == Z_STREAM_END) end_member(s);
        if (s->status != Z_OK || (s->input_ended && !piece_full)) break;
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

// Whether gzgetc and gzgets may decode ahead, making the buffer on first use.
// Plain data from a pipe or terminal is read a byte at a time: a large read
// would wait for input that an interactive writer has not sent yet.
bool can_read_ahead(gz_handle* s) {
    if (s->direction != 'r' || (s->pass_through && !s->regular_file)) return false;
    if (!s->ahead.data) s->ahead.data.reset(new (std::nothrow) unsigned char[READ_AHEAD_SIZE]);
    return s->ahead.data != nullptr;
}

// Refills the empty read-ahead buffer.  The caller's view (position, status,
// end of input) stays as it was until the bytes are taken.
int fill_ahead(gz_handle* s) {
    read_ahead& a = s->ahead;
    const int status = s->status;
    const bool ended = s->input_ended;
    const int n = read_into(s, a.data.get(), READ_AHEAD_SIZE, true);
    if (n <= 0) return n;
    a.next = a.data.get();
    a.end = a.next + n;
    a.status = s->status;
    a.ends_input = s->input_ended && !ended;
    s->status = status;
    s->input_ended = ended;
    s->bytes_out -= n;
    return n;
}

// gzgetc when no decoded byte waits in memory, or a handed-back one does.
int getc_slow(gz_handle* s) {
    unsigned char c;
    if (s == nullptr || s->pushback_char != -1 || (s->ahead.empty() && !can_read_ahead(s)))
        return gzread(s, &c, 1) == 1 ? c : -1;
    if (s->ahead.empty() && fill_ahead(s) <= 0) return -1;
    take_ahead(s, &c, 1);
    return c;
}

}  // namespace

long peek_decoded(gz_handle* s) {
    if (s->ahead.empty()) {
        if (!can_read_ahead(s)) {
            errno = ENOMEM;
            return -1;
        }
        const int n = fill_ahead(s);
        if (n <= 0) return n;
    }
    return static_cast<long>(s->ahead.size());
}

void take_decoded(gz_handle* s, std::size_t n) {
    read_ahead& a = s->ahead;
    a.next += n;
    s->bytes_out += static_cast<gz_off_t>(n);
    if (a.empty()) ahead_taken(s);
}

void check_header(gz_handle* s, int gotmagic) {
    const int verdict = parse_header(s, gotmagic);
    if (verdict == kNotAMember) {
        s->has_member = true;
        s->in_member = s->status == Z_OK;
        s->header.whole = s->in_member;
    } else {
        s->pass_through = verdict != 0;
    }
}

int gzread(gz_handle* file, void* buf, unsigned len) {
    if (file == nullptr || file->direction != 'r' || len > INT_MAX) return Z_STREAM_ERROR;
    return read_into(file, static_cast<unsigned char*>(buf), len, false);
}

int gzgetc(gz_handle* file) {
    // The last byte decoded ahead goes the slow way: taking it hands over
    // what the engine met behind it.
    if (file == nullptr || file->pushback_char != -1 || file->ahead.size() < 2)
        return getc_slow(file);
    file->bytes_out++;
    return *file->ahead.next++;
}

int gzungetc(int c, gz_handle* file) {
    if (file == nullptr || file->direction != 'r' || c < 0 || file->pushback_char != -1) return -1;
    file->pushback_char = c;
    file->bytes_out--;
    file->pushback_at_end = file->status == Z_STREAM_END;
    if (file->pushback_at_end) file->status = Z_OK;
    file->input_ended = false;
    return c;
}

int gzgetline_piece(gz_handle* file, const char** piece) {
    if (file == nullptr || piece == nullptr || file->direction != 'r') return Z_STREAM_ERROR;
    read_ahead& a = file->ahead;
    if (file->pushback_char != -1 || (a.empty() && !can_read_ahead(file))) {
        *piece = reinterpret_cast<const char*>(&a.single);
        return gzread(file, &a.single, 1);
    }
    if (a.empty()) {
        const int n = fill_ahead(file);
        if (n <= 0) return n;
    }
    const auto* newline = static_cast<const unsigned char*>(std::memchr(a.next, '\n', a.size()));
    const std::size_t n =
        newline != nullptr ? static_cast<std::size_t>(newline - a.next + 1) : a.size();
    *piece = reinterpret_cast<const char*>(a.next);
    // Taken as take_ahead takes bytes, without the copy.
    a.next += n;
    file->bytes_out += static_cast<gz_off_t>(n);
    if (a.empty()) ahead_taken(file);
    return static_cast<int>(n);
}

char* gzgets(gz_handle* file, char* buf, int size) {
    if (buf == nullptr || size <= 0) return nullptr;
    std::size_t stored = 0;
    const auto room = static_cast<std::size_t>(size - 1);
    while (stored < room) {
        if (file == nullptr || file->pushback_char != -1 || file->ahead.empty()) {
            const int c = getc_slow(file);
            if (c < 0) break;
            buf[stored++] = static_cast<char>(c);
            if (c == '\n') break;
            continue;
        }
        // Up to the newline, as far as the buffer and the decoded bytes go.
        std::size_t n = std::min(room - stored, file->ahead.size());
        const void* newline = std::memchr(file->ahead.next, '\n', n);
        if (newline != nullptr)
            n = static_cast<std::size_t>(static_cast<const unsigned char*>(newline) -
                                         file->ahead.next + 1);
        stored += take_ahead(file, reinterpret_cast<unsigned char*>(buf) + stored, n);
        if (newline != nullptr) break;
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
    drop_ahead(s);
    // A read that failed before the move must not make the end of the file
    // look like another failure later.
    std::clearerr(s->file);
    s->status = Z_OK;
    s->saved_errno = 0;
    s->input_ended = false;
    s->pushback_char = -1;
    s->pushback_at_end = false;
    s->engine.next_in = s->read_buffer.get();
    s->engine.avail_in = 0;
    s->running_crc = engine::crc32(0, nullptr, 0);
    if (!s->pass_through) engine::inflate_reset(s->engine);
    // data_start lies behind the first member's header, inside its data.
    s->in_member = s->has_member;
    s->trailer_have = 0;
    s->member_start = 0;
    s->bytes_in = s->bytes_out = 0;
}

void forget_plain_input(gz_handle* s) {
    drop_ahead(s);
    s->pushback_char = -1;
    s->engine.next_in = s->read_buffer.get();
    s->engine.avail_in = 0;
}

}  // namespace gzstream
