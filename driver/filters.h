// Filter mode: standard input to standard output.
#pragma once

namespace driver {

// Compresses standard input into one gzip stream on standard output.
void compress_filter(const char* mode);

// Decompresses standard input, a gzip or a .Z stream told apart by its first
// two bytes, to standard output.
void decompress_filter();

}  // namespace driver
