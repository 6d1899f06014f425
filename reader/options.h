// The command line of zpress-read: what to read and what to do with the index.
#pragma once

#include <string>

#include "zpress/gzio.h"

namespace zpress_read {

using gzstream::gz_off_t;

enum class task { read, build, verify, info };

struct options {
    std::string file;
    std::string index;      // the index file: FILE.zpi unless -I names one
    bool no_index = false;  // neither read nor write an index file
    task what = task::read;
    bool by_line = false;  // start at `line` instead of `byte`
    gz_off_t byte = 0;
    gz_off_t line = 1;
    gz_off_t max_bytes = -1;  // -1: no limit
    gz_off_t max_lines = -1;
};

inline constexpr const char* kProgram = "zpress-read";
inline constexpr int kUsageError = 2;

// Fills `opts` from the arguments.  -1 when the program should go on and
// read; otherwise the exit status (0 after --help or --version, kUsageError
// after a message on standard error).
int parse_options(int argc, char** argv, options& opts);

}  // namespace zpress_read
