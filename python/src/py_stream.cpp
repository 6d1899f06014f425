#include "py_stream.h"

#include <cerrno>
#include <cstring>

namespace zpress_python {
namespace {

constexpr std::size_t kStreamBuffer = std::size_t{64} << 10;

}  // namespace

py_stream::py_stream(py::object file, char direction, bool seekable)
    : file_(std::move(file)), seekable_(seekable), direction_(direction) {
    if (direction == 'r') {
        if (py::hasattr(file_, "readinto")) readinto_ = file_.attr("readinto");
        read_ = file_.attr("read");
    } else {
        write_ = file_.attr("write");
    }
    if (seekable) seek_ = file_.attr("seek");
}

py_stream::~py_stream() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(trace_);
}

std::FILE* py_stream::open() {
    cookie_io_functions_t io{};
    if (direction_ == 'r')
        io.read = &py_stream::read;
    else
        io.write = &py_stream::write;
    if (seekable_) io.seek = &py_stream::seek;
    std::FILE* f = fopencookie(this, direction_ == 'r' ? "rb" : "wb", io);
    // glibc reads an unbuffered stream of this kind one byte per call; a
    // buffer of the layer's block size makes it one call per block.
    if (f != nullptr) (void)std::setvbuf(f, nullptr, _IOFBF, kStreamBuffer);
    return f;
}

void py_stream::keep_exception() {
    if (type_ == nullptr) {
        PyErr_Fetch(&type_, &value_, &trace_);
        if (type_ == nullptr) type_ = Py_NewRef(PyExc_OSError);
    } else {
        PyErr_Clear();  // the first failure is the one worth reporting
    }
    errno = EIO;
}

void py_stream::raise_pending() {
    if (type_ == nullptr) return;
    PyErr_Restore(type_, value_, trace_);
    type_ = value_ = trace_ = nullptr;
    throw py::error_already_set();
}

template <class Body>
auto py_stream::guarded(void* cookie, Body body) {
    auto* self = static_cast<py_stream*>(cookie);
    py::gil_scoped_acquire gil;
    using result = decltype(body(*self));
    if (self->pending()) {
        errno = EIO;
        return result{-1};
    }
    try {
        return body(*self);
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    }
    self->keep_exception();
    return result{-1};
}

ssize_t py_stream::read(void* cookie, char* out, std::size_t size) {
    return guarded(cookie, [&](py_stream& stream) -> ssize_t {
        if (stream.readinto_) {
            // A view of our own memory, released after the call so that an
            // object keeping it cannot reach the memory later.
            py::object view = py::reinterpret_steal<py::object>(
                PyMemoryView_FromMemory(out, static_cast<Py_ssize_t>(size), PyBUF_WRITE));
            if (!view) throw py::error_already_set();
            const py::object got = stream.readinto_(view);
            view.attr("release")();
            if (got.is_none())
                throw py::value_error("the file object's readinto() gave None (no data ready)");
            const auto n = got.cast<Py_ssize_t>();
            if (n < 0 || static_cast<std::size_t>(n) > size)
                throw py::value_error("the file object's readinto() gave a bad count");
            return n;
        }
        const py::object got = stream.read_(size);
        char* data = nullptr;
        Py_ssize_t n = 0;
        if (got.is_none() || PyBytes_AsStringAndSize(got.ptr(), &data, &n) != 0) {
            PyErr_Clear();
            throw py::type_error("the file object's read() must give bytes");
        }
        if (static_cast<std::size_t>(n) > size)
            throw py::value_error("the file object's read() gave more bytes than asked for");
        std::memcpy(out, data, static_cast<std::size_t>(n));
        return n;
    });
}

ssize_t py_stream::write(void* cookie, const char* data, std::size_t size) {
    return guarded(cookie, [&](py_stream& stream) -> ssize_t {
        std::size_t done = 0;
        while (done < size) {
            py::object view = py::reinterpret_steal<py::object>(PyMemoryView_FromMemory(
                const_cast<char*>(data + done), static_cast<Py_ssize_t>(size - done), PyBUF_READ));
            if (!view) throw py::error_already_set();
            const py::object put = stream.write_(view);
            view.attr("release")();
            // A buffered object returns the whole length; a raw one may take less.
            const Py_ssize_t n = put.is_none() ? 0 : put.cast<Py_ssize_t>();
            if (n <= 0 || static_cast<std::size_t>(n) > size - done)
                throw py::value_error("the file object's write() took no bytes");
            done += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(size);
    });
}

int py_stream::seek(void* cookie, off64_t* offset, int whence) {
    return guarded(cookie, [&](py_stream& stream) -> int {
        *offset = stream.seek_(*offset, whence).cast<off64_t>();
        return 0;
    });
}

}  // namespace zpress_python
