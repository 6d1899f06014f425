// Parsing of the mode strings taken by the openers ("rb", "wb6", "ab9h", ...).
#pragma once

namespace gzstream {

struct gz_mode {
    char direction = 0;      // 'r' or 'w'; 0 when the string names neither
    bool append = false;     // writing: 'a' (add a member), not 'w' (replace the file)
    bool exclusive = false;  // writing: 'x', never replace an existing file
    int level = -1;          // Z_DEFAULT_COMPRESSION
    int strategy = 0;        // Z_DEFAULT_STRATEGY
};

// 'r' reads, 'w' and 'a' write (the last of them wins); a digit sets the
// level, 'f' 'h' 'R' the strategy (last wins), 'x' makes a writer refuse an
// existing file.  Every other character ('b', '+', 'e', ...) is ignored: the
// file is opened only the way the decided direction needs, so that no mode
// string can make a reader truncate or overwrite its file.
gz_mode parse_mode(const char* mode);

// The mode handed to fopen for a path: "rbe", "wbe", "abe", with 'x' when
// asked.  'e' (close-on-exec) always: the handle's file is its own, and a
// program started meanwhile must not keep it open.
const char* fopen_mode(const gz_mode& m);
// The mode handed to fdopen for a caller's descriptor: "rb", "wb" or "ab".
// The descriptor's own flags are the caller's, so nothing else is asked.
const char* fdopen_mode(const gz_mode& m);

}  // namespace gzstream
