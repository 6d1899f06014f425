// zpress C++ interface: owning gzip files, iostreams for gzip and .Z data,
// and whole buffers in memory.
//
//   zpress::gzfile         one gzip stream (read or write), move-only
//   zpress::gzip_header    the name, comment and time of a gzip member
//   zpress::igzstream      std::istream over a gzip (or plain) file, or over
//                          gzip data read from another std::istream
//   zpress::ogzstream      std::ostream writing one gzip member into a file
//                          or into another std::ostream
//   zpress::ilzwstream     std::istream over a .Z file
//   zpress::olzwstream     std::ostream writing a .Z file
//   zpress::gzip_compress, gzip_decompress, lzw_compress, lzw_decompress
//                          whole buffers in memory
//   zpress::error          what they throw: status code and message
//
// This header includes neither zlib.h nor zpress/gzio.h, and names nothing
// that zlib.h defines as a macro, so a file may include zlib.h before or after
// it (with or without _FILE_OFFSET_BITS=64) and use both libraries.  The
// stream layers' handles are only forward-declared here.
//
// Thread safety: objects are independent of each other; one object must not be
// used by two threads at once.  See doc/api.md for the full reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#if defined(__GNUC__)
#define ZPRESS_API __attribute__((visibility("default")))
#else
#define ZPRESS_API
#endif

namespace gzstream {
struct gz_handle;
}

namespace zpress {

namespace detail {
struct gzfile_access;
}

// A failure of a gzip or .Z stream.  what() is "NAME: reason", NAME being
// the file's path (or <istream>, <ostream>, <memory>).  code() is the stream
// layer's status: zlib's codes (-3 damaged data, -4 out of memory, ...), or
// -1 when a system call failed, in which case the reason is the system's
// ("No space left on device").
class ZPRESS_API error : public std::runtime_error {
  public:
    error(int code, const std::string& message);
    ~error() override;  // out of line: one home for the type's identity
    int code() const noexcept { return code_; }

  private:
    int code_;
};

// The fields of a gzip member header beyond the fixed ones.  An empty text
// is one the header does not carry.
struct gzip_header {
    std::string name;        // FNAME: the original file name
    std::string comment;     // FCOMMENT
    std::int64_t mtime = 0;  // MTIME: seconds since 1970 (UTC), 0 for none
};

// Owns one gzip stream handle: the file is closed by close() or, failing
// that, by the destructor, which never throws (so a trailer write that fails
// there goes unreported: call close() to know).
class ZPRESS_API gzfile {
  public:
    // Not open; every operation but close() throws.
    gzfile() noexcept;
    // mode as for gzopen: "r"/"rb" to read (gzip members or plain data),
    // "w"/"wb" to write, "a"/"ab" to append a member, with an optional level
    // digit 0-9 and strategy letter f, h or R.  Throws zpress::error.
    gzfile(const std::filesystem::path& path, std::string_view mode);
    // Writes a member whose header carries exactly `header` (for instance
    // for reproducible archives: no name, time 0) instead of the path's base
    // name and no time.  mode must write ("w" or "a", with the options above).
    // Throws zpress::error also for a text holding a NUL byte or longer than
    // 65535 bytes, or a time outside 0 to 2^32 - 1.
    gzfile(const std::filesystem::path& path, std::string_view mode, const gzip_header& header);

    gzfile(gzfile&& other) noexcept;
    // Closes the file held before, without reporting (as the destructor).
    gzfile& operator=(gzfile&& other) noexcept;
    gzfile(const gzfile&) = delete;
    gzfile& operator=(const gzfile&) = delete;
    ~gzfile();

    bool is_open() const noexcept { return handle_ != nullptr; }

    // Reading: the first member's header, as found when the file was opened
    // (empty for plain data).  Throws when the header was damaged, when its
    // name or comment was too long to keep (over 65535 bytes), and on a
    // writer.
    gzip_header header() const;

    // Delivers up to out.size() bytes and returns the count: fewer only at
    // the end of the data, and 0 only at the end.  Throws on damaged data or a failed read, after
    // returning the bytes that came before the damage.
    std::size_t read(std::span<std::byte> out);
    // One line without its newline; false at the end of the data (a last
    // line without a newline still gives true).  Lines may be of any length.
    // Taken from the stream layer's read-ahead (gzgets): reads, seeks and
    // calls on handle() go on right behind the line.
    bool getline(std::string& line);

    void write(std::span<const std::byte> data);
    void write(std::string_view text);
    // Makes everything written so far decodable by a reader (a deflate sync
    // flush); costs compression, so use it sparingly.
    void flush();

    // Positions count uncompressed bytes.  whence is SEEK_SET or SEEK_CUR.
    // Reading: any position within the data; backwards restarts from the
    // start, or, once the file has sought or rewound, from the nearest
    // restart point it noted.  A seek that fails (past the end, say) throws
    // and leaves the position where it was, where the file can go back.
    // Writing: forward only, filling with zero bytes.
    std::int64_t seek(std::int64_t offset, int whence);
    std::int64_t tell();
    void rewind();
    // True once a read has met the end of the data.
    bool eof();

    // Random access (reading gzip data in a file that can seek).  Seeks
    // restart at places noted while decoding; these calls note them all at
    // once and keep them in an index file for later opens.
    //
    // Reads the whole file once and notes every place; the position stays.
    // Throws on damaged data (the file is then in error, as after a read),
    // and for plain data or a file that cannot seek.
    void build_index();
    // Writes the places noted so far to `index` (atomically: a new file is
    // renamed over it).  Throws when nothing was noted yet or the write fails.
    void save_index(const std::filesystem::path& index) const;
    // Takes the places from `index`, saved from this compressed file as it is
    // now.  An index file is checked whole before any of it is used; one
    // that is damaged, stale, of another file or inconsistent is refused
    // with a zpress::error that says so, and the file is left as it was.
    // Places are checked again as decoding reaches them (see doc/api.md).
    void load_index(const std::filesystem::path& index);
    // For an index of uncertain origin: reads the whole file once and checks
    // every loaded place against the data; throws (and drops the places)
    // when one does not agree.  The position stays.
    void verify_index();
    // Moves to the first byte of line `line` (numbered from 1: line k starts
    // right after the (k-1)-th newline byte) through the places, noting
    // them as seek() does, and returns its offset.  Throws when line < 1 or
    // the data has fewer lines, leaving the position where it was, and on
    // damaged data on the way (the file is then in error, as after a read).
    std::int64_t seek_line(std::int64_t line);
    // The number of newline bytes in the whole data once the places cover it
    // (after build_index(), or after reading or seeking to the end once the
    // file has sought or rewound), else -1.
    std::int64_t lines();

    // Finishes the stream (a writer's trailer) and closes the file.  Throws
    // zpress::error when this or any earlier operation failed; the handle is
    // released either way and a second call does nothing.
    void close();

    // The underlying handle for calls of zpress/gzio.h not offered here (in a
    // file that does not include zlib.h); null when not open.
    gzstream::gz_handle* handle() const noexcept { return handle_; }

  private:
    friend struct detail::gzfile_access;
    [[noreturn]] void fail(const char* what, int result) const;
    void check_open() const {
        if (handle_ == nullptr) not_open();
    }
    [[noreturn]] static void not_open();
    gzfile(gzstream::gz_handle* handle, std::string name) noexcept;
    std::size_t read_direct(std::byte* out, std::size_t size);
    void reset() noexcept;

    gzstream::gz_handle* handle_ = nullptr;
    std::string name_;
};

namespace detail {

class input_buffer;
class output_buffer;
class source;

// What igzstream and ilzwstream share: an istream that owns its buffer.
class ZPRESS_API input_stream : public std::istream {
  public:
    input_stream(input_stream&& other) noexcept;
    input_stream& operator=(input_stream&& other) noexcept;
    ~input_stream() override;

    bool is_open() const noexcept;
    // Closes the file; sets failbit when it was not open, badbit when the
    // stream reports a failure (throwing if the exceptions mask asks for it).
    void close();
    // The reason for the last failure (open, read or close), or empty.
    const std::string& last_error() const noexcept;

  protected:
    explicit input_stream(std::unique_ptr<input_buffer> buffer);
    // What the buffer reads; null when not open.
    source* from() const noexcept;

  private:
    std::unique_ptr<input_buffer> buffer_;
};

// What ogzstream and olzwstream share: an ostream that owns its buffer.
class ZPRESS_API output_stream : public std::ostream {
  public:
    output_stream(output_stream&& other) noexcept;
    output_stream& operator=(output_stream&& other) noexcept;
    // Closes a still-open file without reporting: call close() to know.
    ~output_stream() override;

    bool is_open() const noexcept;
    // Writes out what is buffered, finishes the data and closes the file;
    // badbit (or the exception, if the mask asks for it) when that or an
    // earlier write failed.
    void close();
    const std::string& last_error() const noexcept;

  protected:
    explicit output_stream(std::unique_ptr<output_buffer> buffer);

  private:
    std::unique_ptr<output_buffer> buffer_;
};

}  // namespace detail

// Reads a gzip file (one or more members) or a plain file as it is.  A file
// that cannot be opened sets failbit (last_error() says why).  Damaged data or
// a failed read sets badbit, never a quiet end of file; when the exceptions
// mask holds badbit, the zpress::error is thrown.
class ZPRESS_API igzstream : public detail::input_stream {
  public:
    explicit igzstream(const std::filesystem::path& path);
    // Reads the gzip data (every member) that `source` holds, or its plain
    // data as it is, as for a file.  `source` must outlive this stream and is
    // read on to its end (after the last member only zero bytes may follow).
    // Damage, a cut-off member and a failure of `source` (badbit there) set
    // badbit here.  tellg() works; seekg() fails, changing nothing, as the
    // source cannot go back.  `source` is read in blocks of 128 KiB (or up to
    // its end).  A source that has failed already (failbit or badbit, as a
    // std::ifstream whose file could not be opened) sets failbit here.  What
    // `source` or its buffer throws comes back as a zpress::error with that
    // exception nested (std::rethrow_if_nested gives it): thrown when the
    // exceptions mask holds badbit, else in last_error().
    explicit igzstream(std::istream& source);

    // The first member's header (empty for plain data).  Throws zpress::error
    // when not open, or when the header was damaged or a text too long.
    gzip_header header() const;
    // The gzfile under a stream opened on a path, for the index calls
    // (build_index, save_index, load_index, verify_index).  Reading or seeking
    // through it directly skips what this stream has buffered: use the calls
    // that keep the position (the index calls) or seekg() after them.  Throws
    // zpress::error when not open or opened on a std::istream.
    gzfile& file();
    // The stream base is a virtual base: moves are spelled out.
    igzstream(igzstream&& other) noexcept : input_stream(std::move(other)) {}
    igzstream& operator=(igzstream&& other) noexcept {
        input_stream::operator=(std::move(other));
        return *this;
    }
};

// Writes one gzip member; level 0 (stored) to 9 (smallest).  flush() hands the
// buffered bytes to the compressor; the data becomes complete at close().
class ZPRESS_API ogzstream : public detail::output_stream {
  public:
    explicit ogzstream(const std::filesystem::path& path, int level = 6);
    // The member header carries exactly `header` (see gzfile); a field it
    // cannot carry sets failbit, last_error() says why.
    ogzstream(const std::filesystem::path& path, int level, const gzip_header& header);
    // Writes one member (no name, time 0) into `sink`, which must outlive
    // this stream; close() finishes the member and flushes `sink`.  A
    // failure of `sink` (badbit or failbit there) sets badbit here; what
    // `sink` or its buffer throws comes back nested, as for igzstream.
    // `sink` is written in blocks of 128 KiB.
    explicit ogzstream(std::ostream& sink, int level = 6);
    // As above, the member header carrying exactly `header`.
    ogzstream(std::ostream& sink, int level, const gzip_header& header);
    // The stream base is a virtual base: moves are spelled out.
    ogzstream(ogzstream&& other) noexcept : output_stream(std::move(other)) {}
    ogzstream& operator=(ogzstream&& other) noexcept {
        output_stream::operator=(std::move(other));
        return *this;
    }
};

// Reads a .Z file (the compress format).
class ZPRESS_API ilzwstream : public detail::input_stream {
  public:
    explicit ilzwstream(const std::filesystem::path& path);
    // The stream base is a virtual base: moves are spelled out.
    ilzwstream(ilzwstream&& other) noexcept : input_stream(std::move(other)) {}
    ilzwstream& operator=(ilzwstream&& other) noexcept {
        input_stream::operator=(std::move(other));
        return *this;
    }
};

// Writes a .Z file with codes of at most `bits` bits (9 to 16).
class ZPRESS_API olzwstream : public detail::output_stream {
  public:
    explicit olzwstream(const std::filesystem::path& path, int bits = 16);
    // The stream base is a virtual base: moves are spelled out.
    olzwstream(olzwstream&& other) noexcept : output_stream(std::move(other)) {}
    olzwstream& operator=(olzwstream&& other) noexcept {
        output_stream::operator=(std::move(other));
        return *this;
    }
};

// Whole buffers in memory.  Each throws zpress::error (NAME <memory>) on
// failure, and never returns a partial result.

// One gzip member holding `data` (no name, time 0), at level 0 to 9.
ZPRESS_API std::string gzip_compress(std::string_view data, int level = 6);
// The same, its member header carrying exactly `header` (checked as by
// gzfile).
ZPRESS_API std::string gzip_compress(std::string_view data, int level, const gzip_header& header);
// The data of every member of `gz`.  Strict: throws for anything but whole,
// valid gzip members (with zero bytes at most after the last): damage, a
// cut-off member, empty or non-gzip input, other trailing bytes.  When
// `header` is set it receives the first member's header fields.  Data longer
// than `max_size` bytes is refused (code -5, Z_BUF_ERROR) as soon as it
// shows, so that a small input that expands hugely cannot take all memory;
// running out of memory is a zpress::error too (code -4).
ZPRESS_API std::string gzip_decompress(std::string_view gz, gzip_header* header = nullptr,
                                       std::size_t max_size = SIZE_MAX);
// A .Z stream of `data` with codes of at most `bits` bits (9 to 16).  Empty
// data gives the 3-byte header alone, which decodes to nothing.
ZPRESS_API std::string lzw_compress(std::string_view data, int bits = 16);
// The data of the .Z stream `z`.  Throws for data that is not .Z or that
// holds a code no writer makes.  The format has no checksum or length, so a
// stream cut short, or damaged otherwise, can decode to other data.
ZPRESS_API std::string lzw_decompress(std::string_view z);

}  // namespace zpress
