// zpress LZW codec: reads and writes the classic .Z (compress) format on raw
// file descriptors.  The entry points live in namespace lzw so that they never
// clash with other libraries' symbols.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lzw {

// One open .Z stream, reading or writing.  Opaque to callers.
struct lzw_handle;

// Byte counts reported by z_close.  The three leading words are kept for
// binary compatibility with older callers and are always 0, all ones, 0.
struct lzw_info {
    std::uint32_t reserved0;
    std::uint32_t reserved1;
    std::uint32_t reserved2;
    std::int64_t zs_total_in;
    std::int64_t zs_total_out;
};

// Opens a stream on fd.  mode is exactly "r" or "w"; bits is the largest code
// width for a writer (0 means 16), checked to lie in 0..16.  gotmagic non-zero
// says the caller has already consumed the two magic bytes 1F 9D.  The third
// and fifth arguments are accepted for compatibility and ignored.  Returns
// null with errno set on failure.  No I/O happens here.
lzw_handle* z_open(int fd, const char* mode, int unused3, int bits, int unused5, int gotmagic);

// Compressed bytes through the caller's functions instead of a descriptor:
// for a .Z stream in memory, or wherever no descriptor is at hand.
struct lzw_io {
    void* context = nullptr;  // handed to both functions
    // Reading: up to n bytes into buf; returns the count, 0 only at the end
    // of the data, or -1 with errno set.
    long (*read)(void* context, unsigned char* buf, std::size_t n) = nullptr;
    // Writing: all n bytes; returns 0, or -1 with errno set.
    int (*write)(void* context, const unsigned char* buf, std::size_t n) = nullptr;
};

// As z_open, with `io` (copied into the handle) in place of a descriptor:
// mode "r" needs io->read, "w" io->write (else null, errno EINVAL).  The
// functions' failures are reported as read() and write() failures are, and
// z_close closes nothing.
lzw_handle* z_open_io(const lzw_io* io, const char* mode, int bits, int gotmagic);

// Decodes up to count bytes into buf.  Returns the count delivered (less than
// count only at the end of the stream), 0 at the end, or -1 with errno set:
// errno from read() when reading failed, EINVAL for data that is not .Z or is
// damaged: a bad header (one cut off before its flags byte included, also
// when the caller took the magic: a stream without codes still has its three
// header bytes), or a code that no writer makes (a first code, or a
// code right after a clear code, that is not a literal byte; a code above the
// next free code; or, once the table is full, a code naming the entry that
// will never be made).  A call that fails returns -1 rather than the bytes it
// had decoded, and every later call fails too, with the same errno: the
// first failure's reason is never replaced by a later one.
int zread(lzw_handle* zs, unsigned char* buf, int count);

// Compresses count bytes.  Returns count, or -1 when a write() failed, with
// errno from write(), or when the handle cannot write: opened for reading or
// with gotmagic (EINVAL), or broken by an earlier failed write (errno as that
// write left it).  The output does not depend on how the data is divided
// among calls.
int zwrite(lzw_handle* zs, const unsigned char* buf, int count);

// Finishes a writer's output, fills info when it is not null, closes the
// descriptor and frees the handle in every case.  Returns close()'s result
// (errno from close() when it fails), or -1 when the writer's output failed,
// now or in an earlier zwrite, with errno from that first failed write();
// info is then left alone.  A writer that never accepted a byte writes
// nothing.
int z_close(lzw_handle* zs, lzw_info* info);

}  // namespace lzw
