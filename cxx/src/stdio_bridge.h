// stdio streams over C++ objects, so that the gzip stream layer (which reads
// and writes through stdio) can work on memory and on iostreams.  Each
// returns an unbuffered stream (the layer moves whole blocks itself), or null
// with errno set.  The object must outlive the stream.  A failure of the
// object shows as a failed stdio call with errno EIO (ENOMEM when memory ran
// out).
#pragma once

#include <cstddef>
#include <cstdio>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

namespace zpress::detail {

// Bytes read from memory, front to back.
struct memory_source {
    std::string_view data;
    std::size_t at = 0;
};

std::FILE* reader_over(memory_source& source);
// Appends what is written to `out`.
std::FILE* writer_into(std::string& out);
// Reads `in` to its end.
std::FILE* reader_over(std::istream& in);
// Writes into `out`; closing the stdio stream flushes `out`.
std::FILE* writer_into(std::ostream& out);

}  // namespace zpress::detail
