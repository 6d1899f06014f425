// The record behind a gz_handle, and the routines one unit of the stream layer
// offers the others: opening and closing (gz_open.cpp), the writer
// (gz_write.cpp), the reader (gz_read.cpp) and positioning (gz_seek.cpp).
#pragma once

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

struct gz_handle {
    engine::stream engine;  // deflate (writing) or inflate (reading) state and cursors
    int status = Z_OK;      // last status: a zlib code, or Z_ERRNO after a failed stdio call
    int input_ended = 0;    // reading: a read of the file delivered nothing
    std::FILE* file = nullptr;
    std::unique_ptr<unsigned char[]> read_buffer;   // compressed input; zero block when writing
    unsigned read_size = STREAM_BUFFER_SIZE;        // reading: the size of read_buffer
    std::unique_ptr<unsigned char[]> write_buffer;  // compressed output; discard block when reading
    std::uint32_t running_crc = 0;  // CRC-32 of the current member's uncompressed bytes
    std::string error_text;         // the text last built by gzerror
    std::string display_name;       // the path, or "<fd:N>"
    int pass_through = 0;           // the input was not gzip data at open: copied verbatim
    char direction = 0;             // 'r' or 'w'
    gz_off_t data_start = 0;        // file offset behind the first member header
    gz_off_t bytes_in = 0;    // reading: compressed bytes consumed; writing: uncompressed accepted
    gz_off_t bytes_out = 0;   // reading: uncompressed delivered; writing: compressed produced
    int pushback_char = -1;   // byte handed back by gzungetc, -1 when none
    int pushback_at_end = 0;  // that byte was handed back after the end of the data
    bool has_member = false;  // reading: the input began with a member header
    bool in_member = false;   // reading: inside a member whose trailer is still to come
    gz_off_t member_start = 0;  // reading: bytes_out where the current member's data began
    // Reading: access points for seeking, made on the first seek or rewind.
    std::unique_ptr<point_index, point_index_deleter> index;
    bool index_disabled = false;  // reading: never make one (the input cannot seek)
    std::size_t index_budget = kIndexMemoryLimit;  // reading: the most its index may take
    // Reading: the output so far is what a read from the start of the data
    // gives; false from an error or a failed rewind until a repositioning.
    bool decode_in_step = true;
};

// gz_open.cpp: releases everything the handle holds, the handle included.
int destroy(gz_handle* s);

// gz_write.cpp
void write_header(gz_handle* s);
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

}  // namespace gzstream
