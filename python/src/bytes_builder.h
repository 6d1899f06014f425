// A bytes object filled in place: made and resized with the GIL held,
// written while it is released (nothing else can see it before finish()),
// so that a large result is never copied.  Growing a large block is a
// realloc, which moves no data for blocks the allocator maps.
#pragma once

#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>

namespace zpress_python {

class bytes_builder {
  public:
    explicit bytes_builder(Py_ssize_t capacity) : capacity_(std::max<Py_ssize_t>(capacity, 1)) {
        object_ = PyBytes_FromStringAndSize(nullptr, capacity_);
        if (object_ == nullptr) throw pybind11::error_already_set();
    }
    ~bytes_builder() { Py_XDECREF(object_); }
    bytes_builder(const bytes_builder&) = delete;
    bytes_builder& operator=(const bytes_builder&) = delete;

    char* end() { return PyBytes_AS_STRING(object_) + size_; }
    Py_ssize_t room() const { return capacity_ - size_; }
    Py_ssize_t size() const { return size_; }
    void added(Py_ssize_t n) { size_ += n; }

    // GIL held.  At least `more` bytes of room.
    void reserve(Py_ssize_t more) {
        if (room() >= more) return;
        const Py_ssize_t want = std::max(capacity_ * 2, size_ + more);
        if (_PyBytes_Resize(&object_, want) != 0) throw pybind11::error_already_set();
        capacity_ = want;
    }

    // GIL held.  The bytes written, and the builder is empty.
    pybind11::bytes finish() {
        if (size_ != capacity_ && _PyBytes_Resize(&object_, size_) != 0)
            throw pybind11::error_already_set();
        PyObject* done = object_;
        object_ = nullptr;
        return pybind11::reinterpret_steal<pybind11::bytes>(done);
    }

  private:
    PyObject* object_ = nullptr;
    Py_ssize_t capacity_;
    Py_ssize_t size_ = 0;
};

}  // namespace zpress_python
