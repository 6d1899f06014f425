// A stdio stream over a Python file object, so that the gzip stream layer
// can read and write any object with read/readinto, write and seek (BytesIO,
// a socket's makefile(), a file inside a zip archive...).  The callbacks run
// inside the stream layer, which may run without the GIL: each takes it.
// An exception raised by the object cannot pass through stdio; the first one
// is kept, the call fails with EIO, and the caller raises the kept exception
// once the stream layer's call has returned.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdio>

namespace zpress_python {

namespace py = pybind11;

class py_stream {
  public:
    // direction 'r' or 'w'.  A seekable object gets a seek function, so that
    // the stream layer can go back and keep an index on it.
    py_stream(py::object file, char direction, bool seekable);
    ~py_stream();
    py_stream(const py_stream&) = delete;
    py_stream& operator=(const py_stream&) = delete;

    // A stdio stream that does not close the object; null with errno set.
    std::FILE* open();

    // GIL held.  Raises the exception a callback kept, if any.
    void raise_pending();
    bool pending() const { return type_ != nullptr; }

  private:
    static ssize_t read(void* cookie, char* out, std::size_t size);
    static ssize_t write(void* cookie, const char* data, std::size_t size);
    static int seek(void* cookie, off64_t* offset, int whence);
    void keep_exception();
    // Runs body(*this) for a stdio callback: with the GIL held, and with any
    // Python exception kept for raise_pending() and reported to stdio as a
    // failure (-1, errno EIO); after one failure every later call fails.
    template <class Body>
    static auto guarded(void* cookie, Body body);

    py::object file_;
    py::object readinto_;  // None when the object has only read()
    py::object read_;
    py::object write_;
    py::object seek_;
    bool seekable_;
    char direction_;
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* trace_ = nullptr;
};

}  // namespace zpress_python
