// What a failed call of the stream layer means to a Python caller.
#pragma once

#include <pybind11/pybind11.h>

#include "zpress/gzio.h"

namespace zpress_python {

class py_stream;

// GIL held.  Raises for the failure the handle holds: first an exception
// that a Python file object raised under it (`stream` may be null), then
// OSError for a failed system call, EOFError for data that ends inside a
// member, BadGzipFile for other damage, MemoryError.
[[noreturn]] void raise_stream_error(gzstream::gz_handle* h, const pybind11::object& filename,
                                     py_stream* stream);

// Closes a handle when it goes, without reporting.
class handle_closer {
  public:
    explicit handle_closer(gzstream::gz_handle* h) : h_(h) {}
    ~handle_closer() { gzstream::gzclose(h_); }
    handle_closer(const handle_closer&) = delete;
    handle_closer& operator=(const handle_closer&) = delete;

  private:
    gzstream::gz_handle* h_;
};

}  // namespace zpress_python
