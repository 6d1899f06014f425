// Which bytes of a restart window the deflate data after an access point
// copy, found by following the data's Huffman codes without producing any
// output: only the output position and the matches' sources are tracked.
// Several times quicker than decoding the data, which is what makes saving
// sparse windows cheap.
#pragma once

#include "zpress/gzio.h"

namespace gzstream {

// Follows the deflate data that begin with a block header at the byte at
// offset `from` of the file `fd` (`file_size` bytes, read with pread) --
// with its high `bits` bits when `bits` is 1 to 7, as a restart in the middle
// of a byte primes the decoder -- for the first kWindowSize bytes of output
// or to the end of the last block, whichever comes first.  Sets used[i]
// (i < window_size) to 1 when a match copies byte i of the `window_size`
// bytes of output before `from`, to 0 otherwise.
//
// True only when the trace ended cleanly.  False (`used` then meaningless)
// for anything else: damaged or cut data, a match reaching before the
// window, a read error, or anything the tracer does not fully take in; the
// caller must then find the bytes by decoding, which is what decides what
// damaged data mean.
bool trace_window_use(int fd, gz_off_t file_size, gz_off_t from, int bits, unsigned window_size,
                      unsigned char* used);

}  // namespace gzstream
