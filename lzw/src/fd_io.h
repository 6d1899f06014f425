// Descriptor I/O that survives signals: the codec runs on pipes and terminals
// as well as files, where read() and write() can be interrupted.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace lzw {

// read() repeated while it fails with EINTR.
ssize_t read_retrying(int fd, void* buf, std::size_t n);

// Reads until n bytes are held or the data ends.  Returns the count held, or
// -1 with errno from read() when a read fails.
ssize_t read_full(int fd, void* buf, std::size_t n);

// Writes all n bytes, carrying on after EINTR and after a partial write.
// Returns false with errno from write() when a write fails or accepts nothing.
bool write_all(int fd, const void* buf, std::size_t n);

}  // namespace lzw
