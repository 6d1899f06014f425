// zpress gzip stream layer: read and write gzip streams (RFC 1952) through a
// handle, as if they were plain byte streams.  Compression is done by zlib's
// raw deflate engine; the gzip framing, CRC checking, pass-through of plain
// data, flushing, seeking and character I/O are this layer's own.
//
// The entry points share their names with zlib's own gzip file functions, so
// they live in namespace gzstream, and this header never includes zlib.h (which
// defines some of those names as macros).  Keep zlib.h out of any file that
// includes this header.
#pragma once

#include <cstdint>

namespace gzstream {

// One open gzip stream, reading or writing.  Opaque to callers.
struct gz_handle;

// Uncompressed positions and counts are 64-bit so that streams past 2 GiB and
// 4 GiB work.
using gz_off_t = std::int64_t;

// Status codes: zlib's return codes plus Z_ERRNO for a failed stdio read or
// write.  When zlib.h is already in scope its macros carry the same values.
#ifndef ZLIB_H
inline constexpr int Z_OK = 0;
inline constexpr int Z_STREAM_END = 1;
inline constexpr int Z_NEED_DICT = 2;
inline constexpr int Z_ERRNO = -1;
inline constexpr int Z_STREAM_ERROR = -2;
inline constexpr int Z_DATA_ERROR = -3;
inline constexpr int Z_MEM_ERROR = -4;
inline constexpr int Z_BUF_ERROR = -5;
inline constexpr int Z_VERSION_ERROR = -6;

// Flush modes for gzflush.
inline constexpr int Z_NO_FLUSH = 0;
inline constexpr int Z_PARTIAL_FLUSH = 1;
inline constexpr int Z_SYNC_FLUSH = 2;
inline constexpr int Z_FULL_FLUSH = 3;
inline constexpr int Z_FINISH = 4;

// Strategies for gzsetparams.
inline constexpr int Z_DEFAULT_STRATEGY = 0;
inline constexpr int Z_FILTERED = 1;
inline constexpr int Z_HUFFMAN_ONLY = 2;
inline constexpr int Z_RLE = 3;
#endif

// Opening.  The mode string holds 'r' (read) or 'w'/'a' (write, 'a' appends a
// member), an optional level digit 0-9, and optionally 'f' (filtered), 'h'
// (Huffman only) or 'R' (run-length); any other character is passed to fopen.
// The _gotmagic forms are for a stream whose two magic bytes 1F 8B the caller
// has already consumed.  All return null on failure; a descriptor is owned by
// the handle once the open succeeds.
gz_handle* gzopen(const char* path, const char* mode);
gz_handle* gzopen_gotmagic(const char* path, const char* mode);
gz_handle* gzdopen(int fd, const char* mode);
gz_handle* gzdopen_gotmagic(int fd, const char* mode);

// Finishes a write stream (trailer included), closes the file and releases the
// handle.  Returns 0, or the stream's negative status.
int gzclose(gz_handle* file);

// "NAME: message" for the stream's last status, stored in *errnum.  The text
// belongs to the handle until the next gzerror or gzclose.
const char* gzerror(gz_handle* file, int* errnum);

// Reading.  Returns the bytes delivered, 0 at the end of the data, -1 after a
// data or file error (reported on the call after the one that met it), -2 for
// a null or write handle.
int gzread(gz_handle* file, void* buf, unsigned len);

// Writing.  gzwrite returns the bytes accepted (len on success).
int gzwrite(gz_handle* file, const void* buf, unsigned len);
int gzputc(gz_handle* file, int c);
int gzputs(gz_handle* file, const char* s);
int gzprintf(gz_handle* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
int gzflush(gz_handle* file, int flush);
int gzsetparams(gz_handle* file, int level, int strategy);

// Positioning in the uncompressed data.  whence is 0 (from the start) or 1
// (from the current position); anything else is refused with -1.
gz_off_t gzseek(gz_handle* file, gz_off_t offset, int whence);
gz_off_t gztell(gz_handle* file);
int gzrewind(gz_handle* file);
int gzeof(gz_handle* file);
void gzclearerr(gz_handle* file);

// Character and line input.
int gzgetc(gz_handle* file);
int gzungetc(int c, gz_handle* file);
char* gzgets(gz_handle* file, char* buf, int size);

// The version text of the zlib headers this library was built against.
const char* engine_version();

}  // namespace gzstream
