// A held view of a bytes-like object's memory (bytes, bytearray, memoryview,
// array, mmap...): contiguous, pinned until released, so that it can be used
// while the GIL is released.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>

namespace zpress_python {

class buffer_view {
  public:
    // Raises TypeError for an object without the buffer interface, and
    // BufferError for a non-contiguous or (when writable) read-only one.
    buffer_view(pybind11::handle object, bool writable) {
        if (PyObject_GetBuffer(object.ptr(), &view_, writable ? PyBUF_WRITABLE : PyBUF_SIMPLE) != 0)
            throw pybind11::error_already_set();
    }
    ~buffer_view() { PyBuffer_Release(&view_); }
    buffer_view(const buffer_view&) = delete;
    buffer_view& operator=(const buffer_view&) = delete;

    char* data() const { return static_cast<char*>(view_.buf); }
    std::size_t size() const { return static_cast<std::size_t>(view_.len); }

  private:
    Py_buffer view_{};
};

}  // namespace zpress_python
