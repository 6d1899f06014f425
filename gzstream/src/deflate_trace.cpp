// A deflate decoder that keeps no output (RFC 1951): block headers and
// Huffman codes are read as any decoder reads them, but a literal only moves
// the output position on and a match only marks the window bytes it copies.
//
// It must never be more lenient than the engine: on data the engine
// rejects, the caller's fallback has to see the engine's own answer, so
// every check the engine makes before an error is made here too (or a
// stricter one), and the tracer gives up at the first doubt.
//
// Codes are looked up in tables indexed by the next bits of the stream
// (deflate sends codes first bit lowest): a primary table of kLitRoot or
// kDistRoot bits, and for the rare longer codes a sub-table per primary
// slot, sized to the codes that share the slot.
#include "deflate_trace.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gz_index.h"

namespace gzstream {
namespace {

using u32 = std::uint32_t;
using u64 = std::uint64_t;

constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kLitSymbols = 288;  // 286 and 287 only in fixed blocks, never valid
constexpr unsigned kDistSymbols = 32;  // 30 and 31 likewise
constexpr unsigned kCodeLengthSymbols = 19;
constexpr unsigned kMaxLitCodes = 286;  // the engine refuses more in a block header
constexpr unsigned kMaxDistCodes = 30;

constexpr unsigned kLitRoot = 10;
constexpr unsigned kDistRoot = 8;
constexpr unsigned kCodeLengthRoot = 7;  // the longest code-length code: one lookup
// Room for the primary table and its sub-tables; a code that would need
// more (none of a sane encoder's do) is left to the fallback.
constexpr unsigned kLitCapacity = 2048;
constexpr unsigned kDistCapacity = 1024;

// A table entry: bits 0-3 the code's length; bits 4-7 the extra bits that
// follow it (for a sub-table link, the sub-table's index bits); the kind
// flags; bits 16-31 the length or distance base, the code-length symbol, or
// the sub-table's offset.  Length and distance codes carry no flag.
constexpr u32 kLengthBits = 0x0F;
constexpr unsigned kExtraShift = 4;
constexpr u32 kLiteral = 0x100;
constexpr u32 kEndOfBlock = 0x200;
constexpr u32 kSubTable = 0x400;
constexpr u32 kInvalid = 0x800;
constexpr unsigned kValueShift = 16;

constexpr u32 valued(unsigned value, unsigned extra) {
    return static_cast<u32>(value) << kValueShift | static_cast<u32>(extra) << kExtraShift;
}

constexpr std::array<u32, kLitSymbols> lit_meanings() {
    std::array<u32, kLitSymbols> m{};
    for (unsigned s = 0; s < 256; ++s) m[s] = kLiteral;
    m[256] = kEndOfBlock;
    unsigned base = 3;
    for (unsigned s = 257; s < 285; ++s) {
        const unsigned extra = s < 265 ? 0 : (s - 261) / 4;
        m[s] = valued(base, extra);
        base += 1u << extra;
    }
    m[285] = valued(258, 0);
    m[286] = m[287] = kInvalid;
    return m;
}

constexpr std::array<u32, kDistSymbols> dist_meanings() {
    std::array<u32, kDistSymbols> m{};
    unsigned base = 1;
    for (unsigned s = 0; s < kMaxDistCodes; ++s) {
        const unsigned extra = s < 4 ? 0 : s / 2 - 1;
        m[s] = valued(base, extra);
        base += 1u << extra;
    }
    m[30] = m[31] = kInvalid;
    return m;
}

constexpr std::array<u32, kCodeLengthSymbols> code_length_meanings() {
    std::array<u32, kCodeLengthSymbols> m{};
    for (unsigned s = 0; s < kCodeLengthSymbols; ++s) m[s] = valued(s, 0);
    return m;
}

constexpr auto kLitMeanings = lit_meanings();
constexpr auto kDistMeanings = dist_meanings();
constexpr auto kCodeLengthMeanings = code_length_meanings();
static_assert(kLitMeanings[284] >> kValueShift == 227 && kDistMeanings[29] >> kValueShift == 24577);

constexpr std::array<unsigned char, 256> byte_reversals() {
    std::array<unsigned char, 256> r{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned v = 0;
        for (unsigned i = 0; i < 8; ++i) v |= ((b >> i) & 1u) << (7 - i);
        r[b] = static_cast<unsigned char>(v);
    }
    return r;
}
constexpr auto kReversed = byte_reversals();

// The `length` low bits of `code` in reverse order: a Huffman code as the
// stream sends it.
unsigned reversed(unsigned code, unsigned length) {
    const unsigned r16 = static_cast<unsigned>(kReversed[code & 0xFF]) << 8 | kReversed[code >> 8];
    return r16 >> (16 - length);
}

// Fills `table` for the canonical code of `lengths` (n symbols).  False for
// codes the engine refuses: over-subscribed ones, and incomplete ones except
// a single one-bit code or no code at all (whose unused bits are invalid),
// which it takes in length and distance codes.  The code-length code must be
// complete here (the engine refuses it incomplete, and an empty one would
// give an unusable block).  False too when the sub-tables would not fit.
bool build(const unsigned char* lengths, unsigned n, const u32* meanings, unsigned root, u32* table,
           unsigned capacity, bool code_lengths) {
    unsigned count[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lengths[s]];
    int left = 1;
    unsigned longest = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        left = 2 * left - static_cast<int>(count[len]);
        if (left < 0) return false;
        if (count[len] != 0) longest = len;
    }
    const unsigned size = 1u << root;
    if (left > 0) {
        if (code_lengths || longest > 1) return false;
        std::fill(table, table + size, kInvalid);
    }
    // The symbols in code order: by length, then by symbol.
    unsigned short sorted[kLitSymbols];
    unsigned offset[kMaxCodeLength + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) offset[len + 1] = offset[len] + count[len];
    for (unsigned s = 0; s < n; ++s)
        if (lengths[s] != 0) sorted[offset[lengths[s]]++] = static_cast<unsigned short>(s);

    unsigned remaining[kMaxCodeLength + 1];
    std::copy(count, count + kMaxCodeLength + 1, remaining);
    unsigned code = 0;  // canonical, first bit highest
    unsigned k = 0;
    unsigned next_free = size;
    unsigned sub_prefix = size;  // none yet
    unsigned sub_base = 0;
    unsigned sub_bits = 0;
    for (unsigned len = 1; len <= longest; ++len, code <<= 1) {
        for (unsigned c = 0; c < count[len]; ++c, ++code, --remaining[len]) {
            const u32 e = meanings[sorted[k++]] | len;
            const unsigned r = reversed(code, len);
            if (len <= root) {
                for (unsigned i = r; i < size; i += 1u << len) table[i] = e;
                continue;
            }
            const unsigned prefix = r & (size - 1);
            if (prefix != sub_prefix) {
                // The codes of this prefix follow one another: the smallest
                // sub-table they fill.
                unsigned bits = len - root;
                int room = 1 << bits;
                for (unsigned l = len;; ++l, ++bits) {
                    room -= static_cast<int>(remaining[l]);
                    if (room <= 0 || l == longest) break;
                    room *= 2;
                }
                if (room > 0 || next_free + (1u << bits) > capacity) return false;
                sub_prefix = prefix;
                sub_base = next_free;
                sub_bits = bits;
                next_free += 1u << bits;
                table[prefix] = kSubTable | sub_bits << kExtraShift | sub_base << kValueShift;
            }
            for (unsigned i = r >> root; i < 1u << sub_bits; i += 1u << (len - root))
                table[sub_base + i] = e;
        }
    }
    return true;
}

struct code_tables {
    u32 lit[kLitCapacity];
    u32 dist[kDistCapacity];
};

code_tables make_fixed_tables() {
    code_tables t{};
    unsigned char lengths[kLitSymbols];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + kLitSymbols, 8);
    build(lengths, kLitSymbols, kLitMeanings.data(), kLitRoot, t.lit, kLitCapacity, false);
    std::fill(lengths, lengths + kDistSymbols, 5);
    build(lengths, kDistSymbols, kDistMeanings.data(), kDistRoot, t.dist, kDistCapacity, false);
    return t;
}

const code_tables& fixed_tables() {
    static const code_tables tables = make_fixed_tables();
    return tables;
}

constexpr std::size_t kReadStep = 16384;

// The compressed bytes as a stream of bits, first bit lowest, through a
// 64-bit buffer.  Past the end of the file it reads zero bits, counted in
// `phantom`: using one of them makes the trace fail.
struct bit_input {
    int fd;
    gz_off_t file_next;  // offset of the next byte to read from the file
    gz_off_t file_size;
    const unsigned char* next = buffer;
    const unsigned char* end = buffer;
    u64 bits = 0;  // `count` bits are valid; above them may lie the next bytes' bits
    unsigned count = 0;
    unsigned phantom = 0;
    bool failed = false;
    unsigned char buffer[kReadStep];

    bool overrun() const { return count < phantom || failed; }

    // Whole bytes while at least eight are buffered: the bits of a byte
    // only partly taken are already in place, so or-ing them again is
    // harmless.
    void fill_fast() {
        u64 word;
        std::memcpy(&word, next, sizeof word);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        bits |= word << count;
        next += (63 - count) >> 3;
        count |= 56;
    }

    // At least 56 bits, unless the input failed or was overrun.
    bool refill() {
        if (end - next >= 8) {
            fill_fast();
            return true;
        }
        return refill_slowly();
    }

    bool refill_slowly() {
        if (overrun()) return false;
        if (end - next < 8 && read_more() && end - next >= 8) {
            fill_fast();
            return true;
        }
        bits &= count == 0 ? 0 : ~u64{0} >> (64 - count);
        while (count <= 55 && next < end) {
            bits |= u64{*next++} << count;
            count += 8;
        }
        while (count <= 55) {
            phantom += 8;
            count += 8;
        }
        return true;
    }

    // Moves the unread bytes to the front and reads more after them; false
    // when nothing more comes.
    bool read_more() {
        const auto kept = static_cast<std::size_t>(end - next);
        std::memmove(buffer, next, kept);
        next = buffer;
        end = buffer + kept;
        const auto room = static_cast<gz_off_t>(kReadStep - kept);
        const auto want = static_cast<std::size_t>(std::min(room, file_size - file_next));
        if (want == 0) return false;
        ssize_t got;
        do {
            got = ::pread(fd, buffer + kept, want, file_next);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            failed = got < 0;
            file_size = file_next;  // a file shorter than said ends here
            return false;
        }
        file_next += got;
        end += got;
        return true;
    }

    void drop(unsigned n) {
        bits >>= n;
        count -= n;
    }

    // `n` bytes of a stored block, taken from a byte boundary.
    bool skip(unsigned n) {
        const unsigned buffered = std::min(n, count / 8);
        bits >>= 8 * buffered;
        count -= 8 * buffered;
        n -= buffered;
        if (overrun()) return false;
        if (n == 0) return true;
        bits = 0;  // the bits above `count` belong to the bytes skipped now
        while (n != 0) {
            if (next == end && !read_more()) return false;
            const auto step = std::min<std::size_t>(n, static_cast<std::size_t>(end - next));
            next += step;
            n -= static_cast<unsigned>(step);
        }
        return true;
    }
};

enum class outcome { block_ended, output_full, failed };

class tracer {
  public:
    tracer(int fd, gz_off_t file_size, gz_off_t from, unsigned window_size, unsigned char* used)
        : window_size_(window_size), used_(used) {
        in_.fd = fd;
        in_.file_next = from;
        in_.file_size = file_size;
    }

    bool run(int bits) {
        if (bits != 0) {
            if (!in_.refill()) return false;
            in_.drop(8 - static_cast<unsigned>(bits));
        }
        for (;;) {
            if (in_.count < 3 && !in_.refill()) return false;
            const bool last = (in_.bits & 1) != 0;
            const auto type = static_cast<unsigned>(in_.bits >> 1) & 3;
            in_.drop(3);
            outcome o = outcome::failed;
            if (type == 0) {
                o = stored();
            } else if (type == 1) {
                const code_tables& fixed = fixed_tables();
                o = codes(fixed.lit, fixed.dist);
            } else if (type == 2) {
                if (read_dynamic_header()) o = codes(dynamic_.lit, dynamic_.dist);
            }
            if (o == outcome::failed) return false;
            if (o == outcome::output_full || last) return !in_.overrun();
        }
    }

  private:
    outcome stored() {
        in_.drop(in_.count & 7);
        if (in_.count < 32 && !in_.refill()) return outcome::failed;
        const auto length = static_cast<unsigned>(in_.bits & 0xFFFF);
        const auto check = static_cast<unsigned>(in_.bits >> 16) & 0xFFFF;
        in_.drop(32);
        if (length != (check ^ 0xFFFF)) return outcome::failed;
        const unsigned take = std::min(length, kWindowSize - position_);
        if (!in_.skip(take)) return outcome::failed;
        position_ += take;
        return position_ == kWindowSize ? outcome::output_full : outcome::block_ended;
    }

    bool read_dynamic_header() {
        if (in_.count < 14 && !in_.refill()) return false;
        const auto lit_count = static_cast<unsigned>(in_.bits & 31) + 257;
        const auto dist_count = static_cast<unsigned>(in_.bits >> 5 & 31) + 1;
        const auto length_count = static_cast<unsigned>(in_.bits >> 10 & 15) + 4;
        in_.drop(14);
        if (lit_count > kMaxLitCodes || dist_count > kMaxDistCodes) return false;

        static constexpr unsigned char kOrder[kCodeLengthSymbols] = {
            16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        unsigned char lengths[kMaxLitCodes + kMaxDistCodes] = {};
        for (unsigned i = 0; i < length_count; ++i) {
            if (in_.count < 3 && !in_.refill()) return false;
            lengths[kOrder[i]] = static_cast<unsigned char>(in_.bits & 7);
            in_.drop(3);
        }
        u32 length_table[1u << kCodeLengthRoot];
        if (!build(lengths, kCodeLengthSymbols, kCodeLengthMeanings.data(), kCodeLengthRoot,
                   length_table, 1u << kCodeLengthRoot, true))
            return false;

        const unsigned total = lit_count + dist_count;
        for (unsigned i = 0; i < total;) {
            // Seven bits of code and seven extra bits at most.
            if (in_.count < 14 && !in_.refill()) return false;
            const u32 e = length_table[in_.bits & ((1u << kCodeLengthRoot) - 1)];
            in_.drop(e & kLengthBits);
            const unsigned symbol = e >> kValueShift;
            if (symbol < 16) {
                lengths[i++] = static_cast<unsigned char>(symbol);
                continue;
            }
            unsigned char value = 0;
            unsigned repeat;
            if (symbol == 16) {
                if (i == 0) return false;
                value = lengths[i - 1];
                repeat = 3 + static_cast<unsigned>(in_.bits & 3);
                in_.drop(2);
            } else if (symbol == 17) {
                repeat = 3 + static_cast<unsigned>(in_.bits & 7);
                in_.drop(3);
            } else {
                repeat = 11 + static_cast<unsigned>(in_.bits & 127);
                in_.drop(7);
            }
            if (repeat > total - i) return false;
            std::memset(lengths + i, value, repeat);
            i += repeat;
        }
        if (lengths[256] == 0) return false;  // a block that could never end
        return build(lengths, lit_count, kLitMeanings.data(), kLitRoot, dynamic_.lit, kLitCapacity,
                     false) &&
               build(lengths + lit_count, dist_count, kDistMeanings.data(), kDistRoot,
                     dynamic_.dist, kDistCapacity, false);
    }

    // The symbols of one Huffman-coded block.  The bit buffer lives in
    // locals here: marking the window through a byte pointer would
    // otherwise make the compiler reload it after every mark.
    outcome codes(const u32* lit, const u32* dist) {
        u64 bits = in_.bits;
        unsigned count = in_.count;
        const unsigned char* next = in_.next;
        unsigned position = position_;
        auto leave = [&](outcome o) {
            in_.bits = bits;
            in_.count = count;
            in_.next = next;
            position_ = position;
            return o;
        };
        for (;;) {
            // 56 bits or more hold a length code, its extra bits, a distance
            // code and its extra bits (48 at most).
            if (in_.end - next >= 8) {
                u64 word;
                std::memcpy(&word, next, sizeof word);
                if constexpr (std::endian::native == std::endian::big)
                    word = __builtin_bswap64(word);
                bits |= word << count;
                next += (63 - count) >> 3;
                count |= 56;
            } else {
                leave(outcome::failed);
                if (!in_.refill_slowly()) return outcome::failed;
                bits = in_.bits;
                count = in_.count;
                next = in_.next;
            }
            u32 e = lit[bits & ((1u << kLitRoot) - 1)];
            if ((e & kSubTable) != 0)
                e = lit[(e >> kValueShift) + (static_cast<unsigned>(bits >> kLitRoot) &
                                              ((1u << (e >> kExtraShift & 15)) - 1))];
            if ((e & kLiteral) != 0) {
                bits >>= e & kLengthBits;
                count -= e & kLengthBits;
                if (++position == kWindowSize) return leave(outcome::output_full);
                continue;
            }
            if ((e & (kEndOfBlock | kInvalid)) != 0) {
                bits >>= e & kLengthBits;
                count -= e & kLengthBits;
                return leave((e & kInvalid) != 0 ? outcome::failed : outcome::block_ended);
            }
            unsigned n = e & kLengthBits;
            unsigned extra = e >> kExtraShift & 15;
            const unsigned length =
                (e >> kValueShift) + (static_cast<unsigned>(bits >> n) & ((1u << extra) - 1));
            bits >>= n + extra;
            count -= n + extra;

            u32 d = dist[bits & ((1u << kDistRoot) - 1)];
            if ((d & kSubTable) != 0)
                d = dist[(d >> kValueShift) + (static_cast<unsigned>(bits >> kDistRoot) &
                                               ((1u << (d >> kExtraShift & 15)) - 1))];
            if ((d & kInvalid) != 0) return leave(outcome::failed);
            n = d & kLengthBits;
            extra = d >> kExtraShift & 15;
            const unsigned distance =
                (d >> kValueShift) + (static_cast<unsigned>(bits >> n) & ((1u << extra) - 1));
            bits >>= n + extra;
            count -= n + extra;

            const unsigned run = std::min(length, kWindowSize - position);
            if (distance > position) {
                const unsigned before = distance - position;  // how far before the point
                if (before > window_size_) return leave(outcome::failed);
                std::memset(used_ + (window_size_ - before), 1, std::min(run, before));
            }
            position += run;
            if (position == kWindowSize) return leave(outcome::output_full);
        }
    }

    bit_input in_;
    unsigned window_size_;
    unsigned char* used_;
    unsigned position_ = 0;  // output traced so far
    code_tables dynamic_;
};

}  // namespace

bool trace_window_use(int fd, gz_off_t file_size, gz_off_t from, int bits, unsigned window_size,
                      unsigned char* used) {
    if (bits < 0 || bits > 7 || window_size > kWindowSize || from < 0 || from > file_size)
        return false;
    std::fill(used, used + window_size, 0);
    tracer t(fd, file_size, from, window_size, used);
    return t.run(bits);
}

}  // namespace gzstream
