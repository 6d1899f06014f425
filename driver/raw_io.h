// Descriptor I/O below stdio, robust against interrupted calls and short
// transfers.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace driver {

// Reads until `len` bytes are held or the input ends; returns the count, or -1
// on an error.
ssize_t read_fully(int fd, unsigned char* buf, std::size_t len);

// Writes all `len` bytes; false on an error.
bool write_fully(int fd, const unsigned char* buf, std::size_t len);

}  // namespace driver
