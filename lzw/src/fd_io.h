// The codec's I/O: on a descriptor, surviving signals (the codec runs on
// pipes and terminals as well as files, where read() and write() can be
// interrupted), or through the caller's functions (z_open_io).
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace lzw {

struct lzw_handle;

// One read of the handle's input: read() repeated while it fails with EINTR.
ssize_t read_some(const lzw_handle* zs, void* buf, std::size_t n);

// Reads until n bytes are held or the data ends.  Returns the count held, or
// -1 with errno set when a read fails.
ssize_t read_full(const lzw_handle* zs, void* buf, std::size_t n);

// Writes all n bytes, carrying on after EINTR and after a partial write.
// Returns false with errno set when a write fails or accepts nothing.
bool write_all(const lzw_handle* zs, const void* buf, std::size_t n);

}  // namespace lzw
