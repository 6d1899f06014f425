// Descriptors that hold bytes in memory: an anonymous memory file (seekable,
// writable) or a pipe whose writer has already gone (not seekable).  The
// stream layers own the descriptors they are given; callers that want the
// result back keep a dup() or read it with file_contents before closing.
#pragma once

#include "bytes.h"

namespace zpress_test {

// A memory file holding `data`, positioned at its start (an empty one for a
// writer when `data` is empty).  Throws std::system_error on failure.
int memfd_with(ByteView data);

// The read end of a pipe that holds the bytes and sees end of file after
// them; -1 when the pipe cannot hold them all.
int pipe_holding(ByteView data);

// Everything the file holds, read from its start without moving its offset.
Bytes file_contents(int fd);

// Everything left on a descriptor from its offset until end of file (pipes
// included).
Bytes read_all_fd(int fd);

}  // namespace zpress_test
