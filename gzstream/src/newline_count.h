// Counting newline bytes in decoded output: the line tallies of an index
// pass over every byte of the data, so this runs at memory speed.
#pragma once

#include <cstddef>

namespace gzstream {

// The number of bytes equal to '\n' among the `n` bytes at `data`.
std::size_t count_newlines(const unsigned char* data, std::size_t n);

}  // namespace gzstream
