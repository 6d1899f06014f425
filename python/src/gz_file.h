// zpress._zpress.GzFile: one gzip stream for Python, reading or writing,
// over a path, a descriptor or a Python file object.  The pure-Python
// zpress.GzipFile (an io.BufferedIOBase) wraps it.
//
// Reading keeps a buffer of decoded bytes for lines and small reads; reads
// of a known size go straight into the result, so that a seek followed by
// a read decodes no more than asked for.  The GIL is released whenever the
// engine works.  One object may be used from several threads: a mutex
// serialises them (taken without the GIL, so that a thread waiting for it
// never blocks the one inside).
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "zpress/gzio.h"

namespace zpress_python {

namespace py = pybind11;
class py_stream;

class gz_file {
  public:
    // mode is 'r', 'w', 'a' or 'x'; header is None or (name, comment, mtime)
    // for a writer; `name` is what errors name (OSError.filename).
    static std::unique_ptr<gz_file> open_path(const std::string& path, char mode, int level,
                                              const py::object& header, const py::object& name);
    // Reads a seekable file object's descriptor from `position` on, through
    // a description of its own, so that the object's own position and
    // buffer are left alone.
    static std::unique_ptr<gz_file> open_descriptor(int fd, std::int64_t position,
                                                    const py::object& name);
    // Any other file object, through its read/readinto, write and seek.
    static std::unique_ptr<gz_file> open_object(const py::object& file, char mode, int level,
                                                const py::object& header, bool seekable,
                                                const py::object& name);
    ~gz_file();
    gz_file(const gz_file&) = delete;
    gz_file& operator=(const gz_file&) = delete;

    // Reading.
    py::bytes read(Py_ssize_t size);
    py::bytes read1(Py_ssize_t size);
    Py_ssize_t readinto(const py::handle& buffer, bool one_call);
    py::bytes peek(Py_ssize_t size);
    py::bytes readline(Py_ssize_t limit);
    py::list readlines(Py_ssize_t hint);
    // The next line as a new reference, or null at the end (no error set);
    // throws as the others do.
    PyObject* next_line();
    // (name, comment, mtime) of the first member: texts as bytes or None.
    py::tuple header();

    // Positioning.
    std::int64_t seek(std::int64_t offset, int whence);
    std::int64_t tell();
    bool seekable() const { return seekable_; }

    // Writing.
    Py_ssize_t write(const py::handle& data);
    void flush(int mode);

    void close();
    bool closed() const { return h_ == nullptr; }
    bool writing() const { return writing_; }

    // Random access.
    void build_index();
    void save_index(const std::string& path, const py::object& name);
    void load_index(const std::string& path, const py::object& name);
    void import_index(const py::handle& data);
    void verify_index();
    void index_budget(std::int64_t bytes);
    std::int64_t seek_line(std::int64_t line);
    // None until the index covers the whole data.
    py::object lines();

  private:
    class use;
    gz_file(gzstream::gz_handle* h, bool writing, bool seekable, bool has_descriptor,
            std::unique_ptr<py_stream> stream, py::object name);
    static std::unique_ptr<gz_file> over_file(std::FILE* f, char mode, int level,
                                              const py::object& header, bool seekable,
                                              bool has_descriptor,
                                              std::unique_ptr<py_stream> stream,
                                              const py::object& name);
    void check_reading() const;
    void check_writing() const;
    void check_random_access() const;
    [[noreturn]] void fail();
    // Appends decoded bytes to the buffer (making room first); the count,
    // 0 at the end of the data.
    std::size_t fill();
    std::size_t buffered() const { return end_ - begin_; }
    void drop_buffer() { begin_ = end_ = 0; }
    // Reads straight into `out` until `size` bytes or the end.
    std::size_t read_direct(char* out, std::size_t size);
    PyObject* take(std::size_t n);
    PyObject* line(Py_ssize_t limit);
    void load_checked(const std::string& path, const py::object& name);
    void reseek(std::int64_t position);

    gzstream::gz_handle* h_;
    std::unique_ptr<py_stream> stream_;
    py::object name_;
    bool writing_;
    bool seekable_;
    bool has_descriptor_;
    bool plain_ = false;             // reading: the input is not gzip data
    bool indexed_ = false;           // reading: the whole data was indexed (or an index loaded)
    bool at_end_ = false;            // reading: a read met the end of the data
    bool failure_reported_ = false;  // writing: a failed write raised already
    std::int64_t size_ = -1;         // reading: the data's size, once known
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
};

void register_gz_file(py::module_& m);

}  // namespace zpress_python
