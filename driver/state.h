// The options of one run of the command-line driver, and the sizes of its
// buffers.
#pragma once

#include <cstddef>

namespace driver {

// What the command line asked for, handed down to the roads and jobs.
struct options {
    bool decompress = false;  // "-d"
    bool to_stdout = false;   // "-c": results go to standard output, inputs are kept
    bool force = false;       // "-f": existing outputs are replaced
    char mode[4] = "wb6";     // mode of every compressing open; index 2 is the level
    bool confine = false;     // the filters give up their other rights (sandbox.h)
};

// Size of the copy loops' buffers.
inline constexpr unsigned BLOCK_SIZE = 16384;
// The gzip decompression loop's buffer: the reader inflates straight into it,
// so a large one lets each inflate call run long.  Chosen by measurement.
inline constexpr unsigned INFLATE_BLOCK_SIZE = 262144;

// The buffers of the copy loops, owned by the run and allocated once.
struct copy_buffers {
    unsigned char block[BLOCK_SIZE];
    unsigned char inflate_block[INFLATE_BLOCK_SIZE];
};

// A file job's names: up to 1023 characters and the terminating zero.
inline constexpr std::size_t NAME_BUFFER_SIZE = 1024;

}  // namespace driver
