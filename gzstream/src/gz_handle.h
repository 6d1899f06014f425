// The record behind a gz_handle, and the routines one unit of the stream layer
// offers the others: opening and closing (gz_open.cpp), the writer
// (gz_write.cpp), the reader (gz_read.cpp) and positioning (gz_seek.cpp).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "engine.h"
#include "gz_index.h"
#include "zpress/gzio.h"

namespace gzstream {

inline constexpr unsigned STREAM_BUFFER_SIZE = 16384;
// Compressed input read at a time from a regular file.
inline constexpr unsigned FILE_READ_SIZE = 131072;
// Decoded bytes kept ahead of gzgetc and gzgets.
inline constexpr unsigned READ_AHEAD_SIZE = 65536;

// Reading: bytes the engine decoded ahead of a gzgetc or gzgets caller, taken
// from memory until they run out.  The handle's bytes_out, status and
// input_ended stay what that caller has seen: what the engine met after these
// bytes (the end, an error) waits here until the last of them is taken.  The
// engine runs only once they are all taken, so the access points (gz_index.cpp),
// noted while it runs, still find its position in bytes_out.
struct read_ahead {
    std::unique_ptr<unsigned char[]> data;  // READ_AHEAD_SIZE bytes, made on first use
    const unsigned char* next = nullptr;
    const unsigned char* end = nullptr;
    int status = Z_OK;         // the engine's status behind the bytes
    bool ends_input = false;   // the engine saw the input end behind them
    unsigned char single = 0;  // the byte gzgetline_piece gives when it reads one at a time
    bool empty() const { return next == end; }
    std::size_t size() const { return static_cast<std::size_t>(end - next); }
};

// Reading: a text field of the first member's header.
struct header_text {
    std::string text;
    bool present = false;
    bool lost = false;  // longer than GZ_HEADER_TEXT_MAX (or no memory for it): not kept
};

// Reading: what the first member's header said.
struct first_header {
    std::uint32_t mtime = 0;
    header_text name;
    header_text comment;
    bool whole = false;  // read to its end and valid
};

struct gz_handle {
    engine::stream engine;  // deflate (writing) or inflate (reading) state and cursors
    std::FILE* file = nullptr;
    std::unique_ptr<unsigned char[]> read_buffer;   // compressed input; zero block when writing
    std::unique_ptr<unsigned char[]> write_buffer;  // compressed output; discard block when reading
    std::string error_text;                         // the text last built by gzerror
    std::string display_name;                       // the path, or "<fd:N>"
    gz_off_t data_start = 0;                        // file offset behind the first member header
    gz_off_t bytes_in = 0;   // reading: compressed bytes consumed; writing: uncompressed accepted
    gz_off_t bytes_out = 0;  // reading: uncompressed delivered; writing: compressed produced
    gz_off_t member_start = 0;  // reading: bytes_out where the current member's data began
    read_ahead ahead;           // reading: decoded, not yet delivered (bytes_out excludes them)
    first_header header;        // reading: the fields of the first member's header
    // Reading: access points for seeking, made on the first seek or rewind.
    std::unique_ptr<point_index, point_index_deleter> index;
    std::size_t index_budget = kIndexMemoryLimit;  // reading: the most its index may take
    int status = Z_OK;       // last status: a zlib code, or Z_ERRNO after a failed stdio call
    int saved_errno = 0;     // errno of the first failed stdio call, until the error is cleared
    int pushback_char = -1;  // byte handed back by gzungetc, -1 when none
    unsigned read_size = STREAM_BUFFER_SIZE;  // reading: the size of read_buffer
    std::uint32_t running_crc = 0;            // CRC-32 of the current member's uncompressed bytes
    unsigned trailer_have = 0;                // reading: bytes of `trailer` read so far
    unsigned char trailer[8] = {};            // reading: the member's trailer as far as it was read
    char direction = 0;                       // 'r' or 'w'
    bool input_ended = false;                 // reading: a read of the file delivered nothing
    bool regular_file = false;     // reading: the input is a regular file, whose reads never wait
    bool pass_through = false;     // reading: the input was not gzip data at open: copied verbatim
    bool pushback_at_end = false;  // the handed-back byte came after the end of the data
    bool has_member = false;       // reading: the input began with a member header
    bool in_member = false;        // reading: inside a member whose trailer is still to come
    bool index_refused =
        false;  // reading: loaded places were dropped as not the data's (gzindex_refused)
    bool index_disabled = false;  // reading: never make an index (the input cannot seek)
    // Reading: the output so far is what a read from the start of the data
    // gives; false from an error or a failed rewind until a repositioning.
    bool decode_in_step = true;
};

// Reading: how far the engine has decoded: what the caller was given, plus a
// byte handed back to it and the bytes decoded ahead of it.
inline gz_off_t decoded_position(const gz_handle* s) {
    return s->bytes_out + (s->pushback_char != -1 ? 1 : 0) + static_cast<gz_off_t>(s->ahead.size());
}

// gz_open.cpp: releases everything the handle holds, the handle included.
int destroy(gz_handle* s);
// Keeps the reason of a failed stdio call (errno, or EIO when the call left
// none) unless an earlier failure's is kept already.
inline void note_errno(gz_handle* s, int error) {
    if (s->saved_errno == 0) s->saved_errno = error != 0 ? error : EIO;
}

// gz_write.cpp
// The member header: the default one (the stored name, no time) when
// `fields` is null, else exactly those fields.
void write_header(gz_handle* s, const gz_header_fields* fields);
int flush_output(gz_handle* s, int flush);
void finish_member(gz_handle* s);  // the final deflate data and the trailer
gz_off_t seek_write(gz_handle* s, gz_off_t target);

// gz_read.cpp
void check_header(gz_handle* s, int gotmagic);
// Skipping forward: a pending handed-back byte is passed over first; returns
// how many of `skip` bytes remain to be read.
gz_off_t skip_pushback(gz_handle* s, gz_off_t skip);
// Forgets everything read since the first member's data began (the file
// itself is repositioned by the caller).
void restart_reader(gz_handle* s);
// Plain data is repositioned in the file: drops what was buffered and any
// handed-back byte.
void forget_plain_input(gz_handle* s);
// For callers that scan the decoded bytes where they lie instead of copying
// them out (gz_lines.cpp), on a handle with no handed-back byte waiting:
// decodes ahead when nothing waits, and returns how many bytes wait at
// s->ahead.next, 0 at the end of the data, -1 on an error (set as gzread
// sets it) or when the buffer cannot be had (errno ENOMEM).  take_decoded
// delivers the first `n` of them, as a gzread of them would.
long peek_decoded(gz_handle* s);
void take_decoded(gz_handle* s, std::size_t n);

}  // namespace gzstream
