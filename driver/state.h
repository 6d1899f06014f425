// Process-wide state and the options of one run of the command-line driver.
#pragma once

namespace driver {

// The first argument, unchanged: it begins every diagnostic.
extern const char* prog;

// What the command line asked for, handed down to the roads and jobs.
struct options {
    bool decompress = false;  // "-d"
    bool to_stdout = false;   // "-c": results go to standard output, inputs are kept
    bool force = false;       // "-f": existing outputs are replaced
    char mode[4] = "wb6";     // mode of every compressing open; index 2 is the level
};

// Size of the copy loops' buffers.
inline constexpr unsigned BLOCK_SIZE = 16384;
// The gzip decompression loop's buffer: the reader inflates straight into it,
// so a large one lets each inflate call run long.  Chosen by measurement.
inline constexpr unsigned INFLATE_BLOCK_SIZE = 262144;

}  // namespace driver
