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

// zlib.h defines several of the names below as macros (gzopen becomes
// gzopen64 under _FILE_OFFSET_BITS=64, gzgetc a function-like macro), which
// would silently redirect or break calls.  So this header refuses to follow
// zlib.h; the C++ interface zpress/zpress.hpp shares no name with zlib.h and
// may be used beside it in either order.  Do not include zlib.h after this
// header either.
#ifdef ZLIB_H
#error \
    "zpress/gzio.h cannot be used after zlib.h: include <zpress/zpress.hpp> instead (it works beside zlib.h)"
#endif

#include <cstdint>
#include <cstdio>

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

// Conventions.  Openers return a handle, or null with nothing left open;
// when the file itself could not be opened errno holds fopen's or fdopen's
// reason, while a null argument, a negative descriptor or a mode without
// 'r', 'w' or 'a' leave errno as it was.  Other calls return a negative value
// on failure: -1, or a status code (Z_STREAM_ERROR, -2, for a null handle,
// one of the wrong direction or a length above INT_MAX, which change
// nothing).  Errors stay
// set: a read stream keeps its error until gzclearerr or gzrewind, and every
// read returns -1 meanwhile; a write stream that failed to write stays failed
// until gzclose, because its output can no longer become a valid stream.
// gzclose returns the stream's negative status, so it returns 0 for a
// stream that met no error: a write stream whose data all reached the file,
// or a read stream that met no damage so far.  A read stream closed before
// its end closes with 0 also when damage lies further on (a cut-off file
// read only 4 KiB in): only a read that returned 0 proves the data whole.
// gzerror tells what went wrong.

// Opening.  The mode string holds 'r' (read) or 'w'/'a' (write, 'a' appends a
// member; the last of the three wins), an optional level digit 0-9,
// optionally 'f' (filtered), 'h' (Huffman only) or 'R' (run-length), and for
// a writer optionally 'x' (fail with EEXIST rather than replace a file).  Any
// other character ('b', '+', ...) is ignored: a path is opened only as the
// direction needs ("rb", "wb" or "ab"), so a reading mode never truncates or
// writes the file, and always close-on-exec.
// The _gotmagic forms are for a stream whose two magic bytes 1F 8B the caller
// has already consumed; the method and flags bytes of the header must follow
// (input that ends sooner reads as a data error).  A descriptor is owned by the handle once the
// open succeeds, and left open when it fails.  The stream's name, used in gzerror texts, is the
// path as given, or "<fd:N>"; a writer stores its base name, without a final ".gz", in the member
// header.  A writer whose header cannot be written still opens, already failed.  A reader opens
// whatever the input holds: a bad header makes the first gzread fail, and input that does not begin
// with 1F 8B is read back unchanged.
gz_handle* gzopen(const char* path, const char* mode);
gz_handle* gzopen_gotmagic(const char* path, const char* mode);
gz_handle* gzdopen(int fd, const char* mode);
gz_handle* gzdopen_gotmagic(int fd, const char* mode);
// As gzdopen, but the stream is called `name`: gzerror texts begin with it,
// and a writer stores its base name, without a final ".gz", in the member
// header, as gzopen does with its path.  For a caller that opens the file
// itself (relative to a directory, exclusively, with chosen permissions).
gz_handle* gzdopen_named(int fd, const char* name, const char* mode);
// As gzdopen_named, on a stdio stream the caller opened in the matching
// direction (fmemopen, fopencookie, ...).  The handle owns the stream once
// the open succeeds: gzclose closes it; a failed open leaves it open.  A
// stream without a descriptor of its own is read in small steps, as a pipe;
// seeks and an index work on it when it has a seek function (fmemopen, a
// fopencookie stream given one), but index files need a descriptor.
gz_handle* gzopen_stdio(std::FILE* file, const char* name, const char* mode);

// The header fields a gzip member may carry beyond the fixed ones.  Texts
// are stored without their terminating NUL and hold at most
// GZ_HEADER_TEXT_MAX bytes.
inline constexpr unsigned GZ_HEADER_TEXT_MAX = 65535;
struct gz_header_fields {
    const char* name = nullptr;     // FNAME, or null for none
    const char* comment = nullptr;  // FCOMMENT, or null for none
    std::uint32_t mtime = 0;        // MTIME, seconds since 1970 (UTC); 0 for none
};

// Writers whose member header carries exactly `header`'s fields (XFL 0 and
// OS 3 as always), instead of the name taken from the path and no time: for
// reproducible archives, or to keep an original name and time.  Otherwise as
// gzopen and gzopen_stdio.  A reading mode, a null `header` and a text
// longer than GZ_HEADER_TEXT_MAX are refused (null, errno EINVAL).
gz_handle* gzopen_header(const char* path, const char* mode, const gz_header_fields* header);
gz_handle* gzopen_stdio_header(std::FILE* file, const char* name, const char* mode,
                               const gz_header_fields* header);

// Finishes a write stream (the final deflate data and the trailer), closes
// the file and releases the handle, in every case.  Returns 0, the stream's
// negative status, or Z_ERRNO when closing the file failed.  A read stream
// is not read on: damage it has not reached does not count (see above).
int gzclose(gz_handle* file);

// "NAME: message" for the stream's status, which is stored in *errnum: the
// empty text for 0, "file error" for Z_ERRNO, else the engine's message or
// the status code's text.  The text belongs to the handle until the next
// gzerror or gzclose.  A null handle gives "stream error" and -2.
const char* gzerror(gz_handle* file, int* errnum);

// The system's reason for the stream's failure: the errno of the first read,
// write, flush or close of its file that failed, or 0 when none did (the
// failure is then the data's or the engine's, see gzerror).  It is kept
// until the failure is cleared (gzclearerr, gzrewind).  A read failure inside
// a header or trailer counts too, although the status says data error there.
// When gzclose fails because a system call failed, it leaves this value (or
// that of the failing close) in errno.  0 for a null handle.
int gzerrno(gz_handle* file);

// The first member's header as a read stream found it at open: its fields
// are stored in *header, the texts (null when absent) belonging to the handle
// until gzclose.  0; Z_BUF_ERROR when a name or comment was longer than
// GZ_HEADER_TEXT_MAX bytes (that text is then null, the rest is given);
// Z_DATA_ERROR when the header was damaged (its CRC-16 included) or cut off; -1 when the input
// holds no member header (plain data, or nothing); Z_STREAM_ERROR for a null
// argument or a write stream.
int gzheader(gz_handle* file, gz_header_fields* header);

// Reading.  Returns the bytes delivered (up to len), 0 only
// at the real end of the data, -1 on an error: damaged data (a member cut
// anywhere, a trailer whose CRC-32 or length modulo 2^32 does not match its
// data, a header whose CRC-16 does not match it, which fails before any of
// its member's data is given), a failed read of the file, or an engine failure.  A
// call that meets an error after delivering bytes returns them and the next
// call returns -1; one that meets it first returns -1 at once.  Every byte
// that decodes from the input before damage or a cut is delivered before the
// error, however the reads (or gzgetc and gzgets) split it.  Concatenated
// members read as one stream.  After the last one only zero bytes (padding)
// may follow up to the end of the input; any other byte is a data error
// ("trailing garbage"), reported once the data of the members before it has
// been delivered.
int gzread(gz_handle* file, void* buf, unsigned len);

// Writing.  gzwrite returns len on success; a short count only when the deflate
// data was already finished by gzflush(Z_FINISH), which accepts nothing more
// (the stream stays valid); -1 once a write to the file has failed.  Output
// leaves in whole 16384-byte blocks; the rest waits for a flush or the close.
int gzwrite(gz_handle* file, const void* buf, unsigned len);
// The low byte of c, as 0..255, or -1.
int gzputc(gz_handle* file, int c);
// As gzwrite of the text without its terminator.
int gzputs(gz_handle* file, const char* text);
// As gzwrite of the formatted text, of any length: up to 4095 characters are
// formatted on the stack, longer text in one heap block of its size.  Empty
// text gives 0.  -1 when the stream has failed, and also when the text cannot
// be formatted or its block cannot be allocated, which fails the stream.
int gzprintf(gz_handle* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Pushes out everything compressed so far with the given mode (Z_NO_FLUSH
// to Z_FINISH) and fflushes the file.  Z_OK, or the failure status; a failing
// fflush is a file error.  Repeating a flush is harmless.  After Z_FINISH the
// member's data is complete and later writes take nothing; gzclose still
// writes the trailer.
int gzflush(gz_handle* file, int flush);
// Changes level and strategy for the data that follows.  Z_OK; Z_STREAM_ERROR
// for values the engine refuses, which leaves the stream as it was.
int gzsetparams(gz_handle* file, int level, int strategy);

// Positioning in the uncompressed data.  whence is 0 (from the start) or 1
// (from the current position); anything else, and any target outside
// 0..INT64_MAX, is refused with -1 without changing anything, as is a seek
// in a stream in error.  A read stream moves forward by reading, backward by
// rewinding and reading again; on a file that cannot be repositioned (a
// pipe) a backward seek fails and the stream reads on where it stood.  A
// seek past the end of the data fails and leaves the stream at its end.  A
// write stream only moves forward, by writing zero bytes.  Plain (not gzip)
// data in a file that can be repositioned is repositioned in the file
// directly, counting from where the data starts (the descriptor's offset at
// open), as gzrewind does; from a pipe it is read forward as gzip data is.
gz_off_t gzseek(gz_handle* file, gz_off_t offset, int whence);
// The position, without side effects; -1 for a stream in error, and while a
// byte handed back at the very start waits to be read again.
gz_off_t gztell(gz_handle* file);
// Read streams only: back to the start of the data, clearing the end state
// and any error.  0, or -1 (changing nothing) when the file cannot be
// repositioned.
int gzrewind(gz_handle* file);
// 1 when a read stream has reached the end of its data (or its input ended),
// else 0; always 0 for a write stream.
int gzeof(gz_handle* file);
// Read streams: clears an error so that reading is tried again where it
// stopped, and the end of plain input so that a file that grew is read on;
// the end of gzip data stays.  Write streams: nothing, a failure stays.
void gzclearerr(gz_handle* file);

// Character and line input.  gzgetc gives the next byte as 0..255, or -1 at
// the end and on errors alike (gzeof and gzerror tell them apart).
int gzgetc(gz_handle* file);
// Hands back one byte (the low byte of c) for the next read, also after the
// end of the data; the position goes back by one.  Only one byte can wait:
// a second gzungetc before it was read again gives -1, as do c = -1 and a
// write stream.  Returns c.
int gzungetc(int c, gz_handle* file);
// Reads up to size - 1 bytes, stopping after a newline, and stores a NUL
// behind them.  Returns buf, or null when nothing could be read (at the end
// or on an error) although there was room; a size of 1 gives the empty text
// without reading.  A longer line comes back in pieces.
char* gzgets(gz_handle* file, char* buf, int size);
// Line input without a copy, for a caller that keeps the lines itself (as
// zpress::gzfile::getline does): takes the next line from the bytes that
// gzgetc and gzgets decode ahead, or as much of it as they hold, and points
// *piece at it.  Returns its length, the newline included when it ends the
// piece (a line longer than what is decoded ahead comes in pieces, the last
// ending with its newline or at the end of the data); 0 at the end of the
// data; -1 on an error, after the bytes before it were given (gzerror
// tells); Z_STREAM_ERROR for a null argument or a write stream.  A handed-
// back byte, and plain data from a pipe, come one byte at a time.  The bytes
// stay valid until the next call on the handle.
int gzgetline_piece(gz_handle* file, const char** piece);

// Random access.  Once a read stream of gzip data in a repositionable file
// has sought or rewound, it notes places where inflating can restart: every
// 128 KiB of output at first, twice as far apart each time they fill the
// handle's memory budget (8 MiB unless gzindex_budget says otherwise), each
// with the 32 KiB of output before it (kept as it is while the budget
// allows, deflated once it fills).  A later seek restarts
// at the nearest one instead of at the start.  Every call gives exactly what
// it gives without them; only seeks get faster.  Sequential reading that
// never seeks notes nothing and costs nothing more.

// Reads the whole stream once from the start, noting every place, and goes
// back to where the stream stood (a byte handed back by gzungetc included).
// 0, also at once when that was done already; -1 with errno EINVAL for a
// null handle, a write stream, plain data, a pipe, a stream in error or a
// budget of 0; -1 when the data cannot be read to its end (damage, a read
// error), leaving the stream in error where reading stopped, as gzread would.
int gzindex_build(gz_handle* file);

// The most memory the read stream's places may take, in bytes: 0 (note none,
// and drop those noted) or at least 512 KiB.  Places already noted are
// thinned at once, to every other one, until they fit.  0, or -1 with errno
// EINVAL for a null handle, a write stream or a value out of range.
int gzindex_budget(gz_handle* file, std::int64_t bytes);

// Writes the places the read stream has noted so far (gzindex_build notes
// them all) to the file at path.  The index is written to a new file with a
// short name of its own in the same directory and renamed over path, so
// that path never names a partial index and any name the directory accepts
// can be used.  Each place's window is saved with only the bytes that the
// data after the place copies (the others zero), stored as the runs of
// those bytes, which in text takes well under half the space; finding them
// takes one pass over the deflate codes after each place, read with pread.
// With each place goes a CRC-32 of the compressed file before it, and with
// the index the compressed file's stamp when it last changed two seconds or
// more before the save (see gzindex_load).  0, or -1: errno EINVAL for a null argument, a write
// stream or a stream without places (one that has not sought, rewound or
// built yet, plain data, a pipe, or one whose places so far are none; an
// index that gzindex_build made over data too short for any place is
// saved, so that it loads) or with a place loaded from a file of an older
// format whose window does not inflate, else the system's reason for a
// failed write, which leaves nothing behind.
int gzindex_save(gz_handle* file, const char* path);

// Gives a read stream the places saved by gzindex_save from a stream on the
// same compressed file, replacing those it has noted, so that it seeks at
// once; the position and what reads return stay as they were.
//
// An index file is input from outside and is checked before anything in it
// is used: it must be a regular file (anything else is refused without
// waiting, a FIFO included), whole (its trailing CRC-32), of this format
// version or one of the two before (see below), made for this compressed
// file as it is now (its size, and the CRC-32 of its first and last 64 KiB; the
// compressed data at each place are compared when it is first used, see
// below), and consistent in itself (every value within what the compressed
// file can hold and produce, places in order in every respect).  A load
// fails with -1 and changes nothing: errno EINVAL for a null argument, a
// write stream, plain data, a pipe, and an index file refused by those
// checks (damaged, cut short, stale, for another file or another version,
// or holding values that cannot be); ENOMEM when it would take more than
// the handle's budget; the system's reason when a file cannot be read.
//
// An index file of version 3 differs from this one in how it stores the
// windows (each deflated whole) and lacks the compressed file's stamp (see
// below): it loads as one of this version does, its places checked by
// reading the bytes before them, and is saved in this one.  One of
// version 2 holds no CRC of
// the compressed bytes before each place and no line counts.  Its load
// costs one decode of the whole data from the start, on a descriptor of its
// own (the file opened again through /proc/self/fd), which checks every
// place as gzindex_verify does (position, CRC-32, window bytes) and counts
// the lines at each; only when all agree are its places taken, as trusted
// as ones this stream noted itself.  If one does not, or the data cannot be
// read to their end, the load fails with EINVAL and changes nothing.  Save
// it again to have it in the current format.
//
// The guarantee, for an index file that gzindex_save wrote (for this file
// or another, before or after a change of either, or damaged since): it
// never makes a call succeed that would fail without it, and never gives
// bytes other than the data's own.  Before a
// loaded place is first used to restart decoding, the 4 KiB of compressed
// data from the place on and all the compressed bytes of the file before
// it are read (pread and a CRC-32, no decoding; the bytes before once per
// file, as far as the furthest place used) and must be those the index was
// saved from; if not, the index is dropped (gzindex_refused then says so)
// and the seek reads from the start of the data.  So everything the place
// stands for (its window, its position, its member's CRC so far) comes
// from the data as they are, bit rot or an edit before it is found the way
// a read from the start would find it, and a read from the place through
// its member's trailer checks that member whole.  A load itself reads only
// the index file and the compressed file's first and last 64 KiB, so that
// it costs little beside the one seek a short-lived reader makes.  Reading
// the bytes before a place is spared when the compressed file is the very
// one the index was saved from and nothing has written to it since: the
// index records the file's device, inode and change time (which every
// write and every change of size sets to the current time, and no caller
// can set back) when that time lay at least two seconds before the save
// and did not move while the save read the file.  What no write made, a
// fault of the storage medium under an unchanged file, is then not looked
// for; gzindex_verify reads everything.
//
// Loaded places are checked again as they are used.  Whenever decoding
// reaches a later place, the decoder must stand exactly there (same bit
// position, output count, member, CRC-32 so far), and each member's trailer
// must agree with its length.  If not, a read that started at a loaded
// place fails with Z_DATA_ERROR (the bytes it gave since that place may be
// wrong) and the places are dropped; a read that started at the start of the
// data is right in any case and only drops them.  Before a seek first
// restarts at the last loaded place, it decodes from there to the end of
// that member and uses the place only if all agrees, so that no changed
// position carries a seek past the end of the data.  What these checks
// cannot catch is an index forged on purpose to agree with all of them, for
// instance with every position from some member on shifted alike: keep
// index files as trusted as the data itself, or check one with
// gzindex_verify.
int gzindex_load(gz_handle* file, const char* path);

// For a loaded index of uncertain origin: reads the whole stream once from
// the start, checks every loaded place against the data as above (a place
// at a member's start included) and its window byte for byte against the
// output before it (every byte the data after the place copies), notes any
// place missing and goes back to where the stream stood.  0 when every
// place agrees (also at once for places this handle noted itself or checked
// before); -1 with errno EINVAL, dropping them, when one does not or lies
// past the end of the data, or for a null handle, a write stream or a
// stream in error or without places; -1 as gzindex_build when the data
// cannot be read to its end.
int gzindex_verify(gz_handle* file);

// 1 when places that gzindex_load gave the read stream have since been
// dropped because the data disagreed with them (the compressed bytes at or
// before a place differ from those the index was saved from, or a decode
// found a place wrong): the index file is stale, damaged or another file's
// and is worth building anew.  0 otherwise (reset by each successful load);
// -1 with errno EINVAL for a null handle.
int gzindex_refused(gz_handle* file);

// Lines.  While a read stream notes places it also counts the newline
// bytes (0x0A) before each one and the members begun up to it, and saves
// both with them (an index file of the format before has none; its load
// counts them in the decode that checks it, see gzindex_load).

// Positions the read stream at the first byte of line `line`, numbered from
// 1: line 1 starts at offset 0, line k right after the (k-1)-th newline
// byte.  Returns that offset.  It restarts at the last place before the
// line and reads on from there (noting places as reads and seeks do), so a
// line far into a large stream costs about what a seek there costs once the
// places exist.  -1 with the position unchanged when line < 1, when the data
// holds fewer than line - 1 newline bytes, for a null handle, a write stream
// or a stream in error; -1 too when the data cannot be read as far as the
// line, which leaves the stream in error where reading stopped, as gzread
// would.
gz_off_t gzseek_line(gz_handle* file, gz_off_t line);

// The number of newline bytes in the whole data, once the stream's places
// cover it: after gzindex_build, or after a read or seek to the end of the
// data since the stream first sought or rewound (with a loaded index: from
// a place that carries a count).  Otherwise -1, as for a null handle, a
// write stream or a stream without places.
gz_off_t gzindex_lines(gz_handle* file);
// The number of gzip members in the data, known when gzindex_lines is, else
// -1 in the same cases.
gz_off_t gzindex_members(gz_handle* file);
// The number of places the read stream holds now; -1 for a null handle, a
// write stream or a stream that has none (one that has never sought, plain
// data, a pipe).
gz_off_t gzindex_points(gz_handle* file);

// The version text of the zlib headers this library was built against.
const char* engine_version();

}  // namespace gzstream
