// Parsing of the mode strings taken by the openers ("rb", "wb6", "ab9h", ...).
#pragma once

namespace gzstream {

inline constexpr int MODE_COPY_SIZE = 80;  // the stdio mode copy, terminator included

struct gz_mode {
    char direction = 0;  // 'r' or 'w'; 0 when the string names neither
    int level = -1;      // Z_DEFAULT_COMPRESSION
    int strategy = 0;    // Z_DEFAULT_STRATEGY
    char stdio_mode[MODE_COPY_SIZE] = {};
};

// 'r' reads, 'w' and 'a' write (the last of them wins); a digit sets the
// level, 'f' 'h' 'R' the strategy (last wins, none copied); every other
// character goes to the stdio mode.  An over-long copy is cut at 79
// characters so that it always stays terminated.
gz_mode parse_mode(const char* mode);

}  // namespace gzstream
