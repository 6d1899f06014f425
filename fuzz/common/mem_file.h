// Descriptors that hold a fuzz input: an anonymous memory file (seekable) or
// a pipe whose writer has already gone (not seekable).
#pragma once

#include <cstddef>
#include <vector>

namespace fuzz {

// A memory file holding the bytes, positioned at its start; -1 on failure.
int memory_file(const unsigned char* data, std::size_t size);

// An empty memory file for a writer; -1 on failure.
int empty_memory_file();

// The read end of a pipe that holds the bytes and sees end of file after
// them; -1 when the pipe cannot hold them all.
int pipe_holding(const unsigned char* data, std::size_t size);

// Everything the file holds, read from its start without moving its offset.
std::vector<unsigned char> file_contents(int fd);

}  // namespace fuzz
