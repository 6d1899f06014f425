// The .Z stream handle shared by the reader (zread.cpp) and the writer
// (zwrite.cpp), with the constants of the format.  Internal to the codec.
#pragma once

#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zpress/zopen.h"

namespace lzw {

// The two bytes every .Z stream starts with.
inline constexpr std::array<unsigned char, 2> z_magic = {0x1F, 0x9D};

// Flags byte: the largest code width lives in the low bits, block mode in the top bit.
inline constexpr int width_mask = 0x1F;
inline constexpr int block_mode = 0x80;

inline constexpr int max_width = 16;
inline constexpr int first_width = 9;
inline constexpr int clear_code = 256;
inline constexpr int first_free_code = 257;  // in block mode; 256 otherwise

inline constexpr int io_buf_size = 8192;
// The hot loops load and store whole words (32 bits reading, 64 writing);
// these spare bytes after the buffer keep a word that starts near its end
// inside the buffer array.
inline constexpr int io_buf_slack = 8;

// Codes are at most 16 bits.
inline constexpr std::size_t code_count = 65536;

// The reader's tables, per code.
struct decode_tables {
    unsigned char suffix[code_count];  // last byte of each code's string
    // Length of each code's string, so that a string can be copied or
    // unwound straight to its place.
    std::uint16_t length[code_count];
};

enum : int {
    PHASE_FRESH = 0,        // nothing read or written yet
    PHASE_MAGIC_TAKEN = 1,  // reader: the caller consumed the magic bytes
    PHASE_CODES = 2,        // header done, codes flowing
    PHASE_DONE = 3,         // reader: no further code
    PHASE_FAILED = 4,       // a read, write or format failure: only z_close is sound now
};

// rmask[i]: the low i bits of a byte.
inline constexpr std::array<unsigned char, 9> rmask = {0x00, 0x01, 0x03, 0x07, 0x0F,
                                                       0x1F, 0x3F, 0x7F, 0xFF};

// The reader's window of recent output.  Each code remembers where its string
// last appeared there, so a string is copied in one go instead of being
// unwound through the prefix chain, whose loads miss the cache and whose
// length the processor cannot predict.  Strings are decoded into the window
// and leave it for the caller's buffer; when it fills up, its recent end
// slides to the front.
inline constexpr std::size_t window_size = std::size_t{256} * 1024;
// Output kept when the window slides, so that recently used codes still find
// their strings.
inline constexpr std::size_t window_keep = std::size_t{64} * 1024;
// Strings are copied in 16-byte moves that may run this far past their end.
inline constexpr std::size_t window_slack = 16;
// After a slide the window holds window_keep bytes, and the next string must
// fit after them.  The reader takes only codes that are defined or being
// defined, so no string is longer than the number of codes.
static_assert(window_keep + code_count <= window_size);
// A code whose string is not in the window.
inline constexpr std::uint32_t no_position = 0xFFFFFFFFu;

struct decode_window {
    unsigned char bytes[window_size + window_slack];
    std::uint32_t position[code_count];  // where each code's string last appeared
};

// The writer's dictionary: which code extends a string by a byte.  Pairs of
// a literal and a byte are looked up directly.  The others live in a hash
// table of codes with four times as many slots as there can be entries, so
// that most lookups end at the first slot even when the dictionary is full;
// a slot holds only the code, 16 bits, and the pair of each code is kept
// beside it, so the table stays small enough for the processor's caches.
inline constexpr int encode_table_bits = 18;
inline constexpr std::size_t encode_table_slots = std::size_t{1} << encode_table_bits;
static_assert(encode_table_slots >= 4 * code_count);
struct encode_table {
    std::uint16_t code[encode_table_slots];  // 0 when empty (no entry is code 0)
    std::uint32_t tag_of[code_count];        // per code: its prefix and byte (see zwrite.cpp)
    // Per literal and byte (literal << 8 | byte): the code of the pair, 0
    // when there is none.
    std::uint16_t literal_child[256 * 256];
};

// What the reader carries between zread calls beyond the common fields.
struct reader_record {
    std::uint32_t zs_window_end;        // end of the output decoded into the window
    std::uint32_t zs_window_delivered;  // end of the output handed to the caller
    std::uint32_t zs_prev_position;     // where the string decoded last starts
    unsigned char* zs_data_end;         // after the last byte held in zs_io_buf
    int zs_lead_char;                   // first byte of the string decoded last
    int zs_prev_code;
    int zs_group_bits;  // bit positions in the group where a whole code can still start
};

// What the writer carries between zwrite calls beyond the common fields.
struct writer_record {
    int zs_prefix;  // code of the longest string matched so far, not yet emitted
};

// One open stream.  Allocated zeroed in one piece by z_open so that nothing is
// allocated while coding.
struct lzw_handle {
    int zs_fd;
    lzw_io zs_io;    // with a function set: used instead of zs_fd
    char zs_access;  // 'r' or 'w'
    int zs_phase;
    int zs_error;  // PHASE_FAILED: errno of the failure, given again by every later call
    int zs_width;
    int zs_width_max;
    int zs_widen_after;                  // the width grows once the next free code is above this
    int zs_table_limit;                  // 2 to the power zs_width_max: no entry at or above it
    decode_tables zs_decode;             // reader
    std::uint16_t zs_codes[code_count];  // reader: prefix per code
    int zs_next_code;
    int zs_block_flag;     // 0x80 in block mode, else 0
    int zs_reset_pending;  // 1 from a clear code until the next code
    int zs_best_ratio;     // writer: best ratio since the last clear
    // 64-bit so that streams past 2 GiB keep exact counts.
    std::int64_t zs_next_check;  // writer: zs_total_in at which the ratio is measured next
    std::int64_t zs_total_in;
    std::int64_t zs_total_out;
    unsigned char zs_io_buf[io_buf_size + io_buf_slack];
    unsigned char* zs_group_start;
    int zs_offset;  // bit number of the next code within the current group
    union {
        reader_record zs_reader;
        writer_record zs_writer;
    };
    union {
        decode_window zs_window;  // reader
        encode_table zs_table;    // writer
    };
};

// Little-endian word access: the .Z bit order puts earlier codes in lower bits.
inline std::uint32_t load_le32(const unsigned char* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
               std::uint32_t{p[3]} << 24;
    }
}
inline void store_le64(unsigned char* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

// The code width at the start of a stream and after a clear code, and the
// largest next free code it serves.
inline void restart_width(int& width, int& widen_after) {
    width = first_width;
    widen_after = (1 << first_width) - 1;
}

// One bit wider, once the next free code has outgrown the width.  At the
// largest width the limit is the table's size, which the next free code
// never passes, so the width grows no further.
inline void widen(int& width, int& widen_after, int width_max, int table_limit) {
    ++width;
    widen_after = width == width_max ? table_limit : (1 << width) - 1;
}

// Writer's part of z_close: emits the pending code and the buffered bytes.
// Returns 0, or -1 with errno from write() (or from the write that failed
// earlier).
int finish_writer(lzw_handle* zs);

// Ends the stream with a failure: returns -1 with errno `error`, which every
// later call on the handle gives again, so that the first reason is the one
// reported.
inline int fail_stream(lzw_handle* zs, int error) {
    zs->zs_phase = PHASE_FAILED;
    zs->zs_error = error != 0 ? error : EIO;
    errno = zs->zs_error;
    return -1;
}

// -1 for a call on a stream that failed before, with that failure's errno.
inline int repeat_failure(const lzw_handle* zs) {
    errno = zs->zs_error != 0 ? zs->zs_error : EIO;
    return -1;
}

}  // namespace lzw
