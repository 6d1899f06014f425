#include "gz_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "buffer_view.h"
#include "bytes_builder.h"
#include "errors.h"
#include "header_fields.h"
#include "line_iterator.h"
#include "py_stream.h"
#include "stream_status.h"

namespace zpress_python {

using namespace gzstream;

namespace {

// A stream-layer call whose result and errno matter, made without the GIL so
// that other threads run meanwhile.
struct call_result {
    int status;
    int reason;  // errno as the call left it
};

template <class Call>
call_result without_gil(Call call) {
    py::gil_scoped_release nogil;
    errno = 0;
    const int status = call();
    return {status, errno};
}

// Decoded bytes kept for lines and small reads.
constexpr std::size_t kBufferSize = std::size_t{128} << 10;
// The stream layer takes at most INT_MAX bytes a call.
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;

unsigned call_size(std::size_t n) { return static_cast<unsigned>(std::min(n, kMostPerCall)); }

std::string display_of(const py::object& name) {
    if (py::isinstance<py::bytes>(name)) return py::cast<std::string>(name);
    return py::cast<std::string>(py::str(name));
}

}  // namespace

// Holds the object's mutex for one call.  Waiting happens without the GIL;
// a call from inside a call of the same object (a file object's read()
// that uses it) would wait for itself and is refused instead.
class gz_file::use {
  public:
    explicit use(gz_file& f) : f_(f) {
        if (f.owner_.load(std::memory_order_relaxed) == std::this_thread::get_id())
            raise(PyExc_RuntimeError,
                  "reentrant call of a zpress file inside one of its own calls");
        if (!f.mutex_.try_lock()) {
            py::gil_scoped_release nogil;
            f.mutex_.lock();
        }
        f.owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    ~use() {
        f_.owner_.store(std::thread::id(), std::memory_order_relaxed);
        f_.mutex_.unlock();
    }
    use(const use&) = delete;
    use& operator=(const use&) = delete;

  private:
    gz_file& f_;
};

gz_file::gz_file(gz_handle* h, bool writing, bool seekable, bool has_descriptor,
                 std::unique_ptr<py_stream> stream, py::object name)
    : h_(h),
      stream_(std::move(stream)),
      name_(std::move(name)),
      writing_(writing),
      seekable_(seekable),
      has_descriptor_(has_descriptor) {}

gz_file::~gz_file() {
    // Unreported, as a file object's finaliser: close() reports.
    if (h_ != nullptr) {
        PyThreadState* const state = PyEval_SaveThread();
        gzclose(h_);
        PyEval_RestoreThread(state);
    }
}

std::unique_ptr<gz_file> gz_file::over_file(std::FILE* f, char mode, int level,
                                            const py::object& header, bool seekable,
                                            bool has_descriptor, std::unique_ptr<py_stream> stream,
                                            const py::object& name) {
    if (level < 0 || level > 9) {
        (void)std::fclose(f);
        throw py::value_error("level must be 0 to 9");
    }
    std::optional<header_fields> fields;
    try {
        if (!header.is_none()) {
            const auto t = header.cast<py::tuple>();
            fields.emplace(t[0], t[1], t[2]);
        }
    } catch (...) {
        (void)std::fclose(f);
        throw;
    }
    const std::string display = display_of(name);
    std::string gz_mode = mode == 'r' ? "rb" : mode == 'a' ? "ab" : "wb";
    if (mode != 'r') gz_mode += static_cast<char>('0' + level);
    gz_handle* h;
    {
        py::gil_scoped_release nogil;
        errno = 0;
        h = fields ? gzopen_stdio_header(f, display.c_str(), gz_mode.c_str(), fields->get())
                   : gzopen_stdio(f, display.c_str(), gz_mode.c_str());
    }
    if (h == nullptr) {
        const int reason = errno;
        (void)std::fclose(f);
        if (stream) stream->raise_pending();
        raise_os_error(reason, name);
    }
    std::unique_ptr<gz_file> file(
        new gz_file(h, mode != 'r', seekable, has_descriptor, std::move(stream), name));
    if (mode == 'r') {
        // Input without a member header is either empty (no data, as the
        // standard library reads it) or not gzip at all.
        gz_header_fields none;
        if (gzheader(h, &none) == -1 && file->fill() != 0) file->plain_ = true;
    } else if (file->stream_) {
        file->stream_->raise_pending();
    }
    return file;
}

std::unique_ptr<gz_file> gz_file::open_path(const std::string& path, char mode, int level,
                                            const py::object& header, const py::object& name) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case 'r':
            flags |= O_RDONLY;
            break;
        case 'w':
            flags |= O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case 'a':
            flags |= O_WRONLY | O_CREAT | O_APPEND;
            break;
        case 'x':
            flags |= O_WRONLY | O_CREAT | O_EXCL;
            break;
        default:
            throw py::value_error("mode must be r, w, a or x");
    }
    int fd;
    {
        py::gil_scoped_release nogil;  // opening a FIFO waits for its other end
        fd = ::open(path.c_str(), flags, 0666);
    }
    if (fd < 0) raise_os_error(errno, name);
    const bool seekable = mode != 'r' || ::lseek(fd, 0, SEEK_CUR) >= 0;
    std::FILE* f = fdopen(fd, mode == 'r' ? "rb" : mode == 'a' ? "ab" : "wb");
    if (f == nullptr) {
        const int reason = errno;
        ::close(fd);
        raise_os_error(reason, name);
    }
    return over_file(f, mode, level, header, seekable, true, nullptr, name);
}

std::unique_ptr<gz_file> gz_file::open_descriptor(int fd, std::int64_t position,
                                                  const py::object& name) {
    // A description of our own (its own offset); a plain duplicate where
    // /proc is not there.
    char proc[40];
    (void)std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    int own = ::open(proc, O_RDONLY | O_CLOEXEC);
    if (own < 0) own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) raise_os_error(errno, name);
    std::FILE* f = nullptr;
    if (::lseek(own, position, SEEK_SET) == position) f = fdopen(own, "rb");
    if (f == nullptr) {
        const int reason = errno;
        ::close(own);
        raise_os_error(reason, name);
    }
    return over_file(f, 'r', 6, py::none(), true, true, nullptr, name);
}

std::unique_ptr<gz_file> gz_file::open_object(const py::object& file, char mode, int level,
                                              const py::object& header, bool seekable,
                                              const py::object& name) {
    const bool reading = mode == 'r';
    auto stream = std::make_unique<py_stream>(file, reading ? 'r' : 'w', reading && seekable);
    std::FILE* f = stream->open();
    if (f == nullptr) raise_os_error(errno, name);
    return over_file(f, reading ? 'r' : 'w', level, header, reading ? seekable : true, false,
                     std::move(stream), name);
}

// --- failures and checks -------------------------------------------------

void gz_file::fail() { raise_stream_error(h_, name_, stream_.get()); }

void gz_file::check_reading() const {
    if (h_ == nullptr) throw py::value_error("I/O operation on closed file.");
    if (writing_) raise_unsupported("the file was opened for writing");
    if (plain_) raise_bad_gzip(display_of(name_) + ": not a gzip file");
}

void gz_file::check_writing() const {
    if (h_ == nullptr) throw py::value_error("I/O operation on closed file.");
    if (!writing_) raise_unsupported("the file was opened for reading");
}

void gz_file::check_random_access() const {
    check_reading();
    if (!seekable_) raise_unsupported("random access needs a file that can seek");
}

// --- reading -----------------------------------------------------------------

std::size_t gz_file::fill() {
    if (!buffer_) {
        buffer_.reset(new char[kBufferSize]);
        capacity_ = kBufferSize;
    }
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (end_ == capacity_ && begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, buffered());
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == capacity_) {  // one line fills the buffer
        std::unique_ptr<char[]> larger(new char[capacity_ * 2]);
        std::memcpy(larger.get(), buffer_.get(), end_);
        buffer_ = std::move(larger);
        capacity_ *= 2;
    }
    if (at_end_) return 0;
    int n;
    {
        py::gil_scoped_release nogil;
        n = gzread(h_, buffer_.get() + end_, call_size(capacity_ - end_));
    }
    if (n < 0) fail();
    if (n == 0) {
        at_end_ = true;
        size_ = gztell(h_);
        return 0;
    }
    end_ += static_cast<std::size_t>(n);
    return static_cast<std::size_t>(n);
}

std::size_t gz_file::read_direct(char* out, std::size_t size) {
    std::size_t done = 0;
    int n = 1;
    {
        py::gil_scoped_release nogil;
        while (done < size && (n = gzread(h_, out + done, call_size(size - done))) > 0)
            done += static_cast<std::size_t>(n);
    }
    if (n < 0) fail();
    if (n == 0) {
        at_end_ = true;
        size_ = gztell(h_);
    }
    return done;
}

PyObject* gz_file::take(std::size_t n) {
    PyObject* out = PyBytes_FromStringAndSize(buffer_.get() + begin_, static_cast<Py_ssize_t>(n));
    if (out == nullptr) throw py::error_already_set();
    begin_ += n;
    if (begin_ == end_ && capacity_ > kBufferSize) {  // after a very long line
        buffer_.reset();
        capacity_ = 0;
        begin_ = end_ = 0;
    }
    return out;
}

py::bytes gz_file::read(Py_ssize_t size) {
    use u(*this);
    check_reading();
    const bool all = size < 0;
    const std::size_t want =
        all ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(size);
    std::size_t first = std::min(want, buffered() + (std::size_t{1} << 20));
    if (all && size_ >= 0) {
        const std::int64_t position = gztell(h_);
        if (position >= 0 && size_ >= position)
            first = buffered() + static_cast<std::size_t>(size_ - position) + 1;
    }
    bytes_builder out(static_cast<Py_ssize_t>(first));
    const std::size_t from_buffer = std::min(want, buffered());
    if (from_buffer > 0) {
        std::memcpy(out.end(), buffer_.get() + begin_, from_buffer);
        out.added(static_cast<Py_ssize_t>(from_buffer));
        begin_ += from_buffer;
    }
    while (static_cast<std::size_t>(out.size()) < want && !at_end_) {
        const std::size_t left = want - static_cast<std::size_t>(out.size());
        out.reserve(static_cast<Py_ssize_t>(std::min(left, std::size_t{1} << 20)));
        const std::size_t got =
            read_direct(out.end(), std::min(left, static_cast<std::size_t>(out.room())));
        out.added(static_cast<Py_ssize_t>(got));
        if (got == 0) break;
    }
    return out.finish();
}

py::bytes gz_file::read1(Py_ssize_t size) {
    use u(*this);
    check_reading();
    if (buffered() == 0) fill();
    const std::size_t n =
        size < 0 ? buffered() : std::min(buffered(), static_cast<std::size_t>(size));
    return py::reinterpret_steal<py::bytes>(take(n));
}

Py_ssize_t gz_file::readinto(const py::handle& buffer, bool one_call) {
    use u(*this);
    check_reading();
    const buffer_view out(buffer, true);
    std::size_t done = std::min(out.size(), buffered());
    std::memcpy(out.data(), buffer_.get() + begin_, done);
    begin_ += done;
    if (done < out.size()) {
        if (!one_call)
            done += read_direct(out.data() + done, out.size() - done);
        else if (done == 0 && fill() > 0) {
            done = std::min(out.size(), buffered());
            std::memcpy(out.data(), buffer_.get() + begin_, done);
            begin_ += done;
        }
    }
    return static_cast<Py_ssize_t>(done);
}

py::bytes gz_file::peek(Py_ssize_t /*size*/) {
    use u(*this);
    check_reading();
    if (buffered() == 0) fill();
    return {buffer_ ? buffer_.get() + begin_ : "", buffered()};
}

PyObject* gz_file::line(Py_ssize_t limit) {
    std::size_t scanned = 0;
    for (;;) {
        const std::size_t have = buffered();
        const std::size_t look = limit < 0 ? have : std::min(have, static_cast<std::size_t>(limit));
        const char* start = buffer_ ? buffer_.get() + begin_ : nullptr;
        if (look > scanned) {
            if (const void* nl = std::memchr(start + scanned, '\n', look - scanned))
                return take(static_cast<std::size_t>(static_cast<const char*>(nl) - start) + 1);
        }
        if (limit >= 0 && have >= static_cast<std::size_t>(limit)) return take(look);
        scanned = look;
        if (fill() == 0) return have > 0 ? take(have) : nullptr;
    }
}

PyObject* gz_file::next_line() {
    use u(*this);
    check_reading();
    return line(-1);
}

py::bytes gz_file::readline(Py_ssize_t limit) {
    use u(*this);
    check_reading();
    if (limit == 0) return py::bytes();
    PyObject* got = line(limit);
    return got != nullptr ? py::reinterpret_steal<py::bytes>(got) : py::bytes();
}

py::list gz_file::readlines(Py_ssize_t hint) {
    use u(*this);
    check_reading();
    py::list lines;
    Py_ssize_t total = 0;
    while (PyObject* got = line(-1)) {
        const auto item = py::reinterpret_steal<py::object>(got);
        total += PyBytes_GET_SIZE(got);
        lines.append(item);
        if (hint > 0 && total >= hint) break;
    }
    return lines;
}

py::tuple gz_file::header() {
    use u(*this);
    check_reading();
    gz_header_fields fields;
    const int r = gzheader(h_, &fields);
    if (r == Z_DATA_ERROR) raise_bad_gzip(display_of(name_) + ": damaged gzip header");
    const auto text = [](const char* t) -> py::object {
        return t != nullptr ? py::object(py::bytes(t)) : py::object(py::none());
    };
    if (r == -1) return py::make_tuple(py::none(), py::none(), 0);
    return py::make_tuple(text(fields.name), text(fields.comment), fields.mtime);
}

// --- positioning ---------------------------------------------------------

void gz_file::reseek(std::int64_t position) {
    drop_buffer();
    at_end_ = false;
    gz_off_t r;
    {
        py::gil_scoped_release nogil;
        r = gzseek(h_, position, 0);
    }
    if (r == position) return;
    int code = 0;
    gzerror(h_, &code);
    if (r < 0 && code < 0) fail();
    // Past the end: the stream stands at the end of the data.
    at_end_ = true;
    size_ = gztell(h_);
}

std::int64_t gz_file::seek(std::int64_t offset, int whence) {
    use u(*this);
    if (h_ == nullptr) throw py::value_error("I/O operation on closed file.");
    if (whence < 0 || whence > 2) throw py::value_error("whence must be 0, 1 or 2");
    if (writing_) {
        const gz_off_t position = gztell(h_);
        if (position < 0) fail();
        if (whence == 2) raise_unsupported("a file being written cannot seek from its end");
        gz_off_t target;
        if (whence == 0)
            target = offset;
        else if (__builtin_add_overflow(position, offset, &target))
            throw py::value_error("seek position out of range");
        if (target < position) raise(PyExc_OSError, "Negative seek in write mode");
        gz_off_t r;
        {
            py::gil_scoped_release nogil;
            r = gzseek(h_, target, 0);
        }
        if (r < 0) {
            failure_reported_ = true;
            fail();
        }
        return r;
    }
    check_reading();
    const gz_off_t stream_at = gztell(h_);
    if (stream_at < 0) fail();
    const gz_off_t position = stream_at - static_cast<gz_off_t>(buffered());
    gz_off_t base = whence == 0 ? 0 : position;
    if (whence == 2) {
        if (size_ < 0 && indexed_) {
            reseek(std::numeric_limits<gz_off_t>::max());
            reseek(position);
        }
        if (size_ < 0)
            raise_unsupported(
                "seeking from the end needs the size of the data: call build_index() first");
        base = size_;
    }
    gz_off_t target;
    if (__builtin_add_overflow(base, offset, &target))
        throw py::value_error("seek position out of range");
    if (target < 0) throw py::value_error("negative seek position " + std::to_string(target));
    // Within the buffer: no decoding at all.
    const gz_off_t buffer_start = gztell(h_) - static_cast<gz_off_t>(end_);
    if (target >= buffer_start && target <= buffer_start + static_cast<gz_off_t>(end_)) {
        begin_ = static_cast<std::size_t>(target - buffer_start);
        return target;
    }
    if (!seekable_ && target < position)
        raise_unsupported("cannot seek backwards: the file cannot be repositioned");
    reseek(target);
    const gz_off_t now = gztell(h_);
    if (now < 0) fail();
    return now;
}

std::int64_t gz_file::tell() {
    use u(*this);
    if (h_ == nullptr) throw py::value_error("I/O operation on closed file.");
    const gz_off_t position = gztell(h_);
    if (position < 0) fail();
    return position - static_cast<gz_off_t>(buffered());
}

// --- writing -----------------------------------------------------------------

Py_ssize_t gz_file::write(const py::handle& data) {
    use u(*this);
    check_writing();
    const buffer_view in(data, false);
    bool ok = true;
    {
        py::gil_scoped_release nogil;
        for (std::size_t done = 0; ok && done < in.size();) {
            const unsigned n = call_size(in.size() - done);
            ok = gzwrite(h_, in.data() + done, n) == static_cast<int>(n);
            done += n;
        }
    }
    if (!ok) {
        failure_reported_ = true;
        fail();
    }
    return static_cast<Py_ssize_t>(in.size());
}

void gz_file::flush(int mode) {
    use u(*this);
    if (h_ == nullptr) throw py::value_error("I/O operation on closed file.");
    if (!writing_) return;
    if (mode < Z_NO_FLUSH || mode > Z_FULL_FLUSH)
        throw py::value_error(
            "flush mode must be Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH or Z_FULL_FLUSH");
    int r;
    {
        py::gil_scoped_release nogil;
        r = gzflush(h_, mode);
    }
    if (r < 0) {
        failure_reported_ = true;
        fail();
    }
}

void gz_file::close() {
    use u(*this);
    if (h_ == nullptr) return;
    gz_handle* h = std::exchange(h_, nullptr);
    buffer_.reset();
    capacity_ = begin_ = end_ = 0;
    const auto [r, reason] = without_gil([&] { return gzclose(h); });
    if (!writing_) return;  // a reader's failures were raised by its reads
    if (stream_) stream_->raise_pending();
    if (r == Z_OK || failure_reported_) return;
    if (r == Z_MEM_ERROR) throw std::bad_alloc();
    raise_os_error(reason, name_);
}

// --- random access -------------------------------------------------------

void gz_file::build_index() {
    use u(*this);
    check_random_access();
    int r;
    {
        py::gil_scoped_release nogil;
        r = gzindex_build(h_);
    }
    if (r < 0) {
        int code = 0;
        gzerror(h_, &code);
        if (code < 0 || (stream_ && stream_->pending())) fail();
        raise_unsupported("random access needs gzip data in a file that can seek");
    }
    indexed_ = true;
}

void gz_file::save_index(const std::string& path, const py::object& name) {
    use u(*this);
    check_random_access();
    if (!has_descriptor_)
        raise_unsupported(
            "index files need the gzip data in a file with a descriptor "
            "(a path, or a file object with fileno())");
    const auto [r, reason] = without_gil([&] { return gzindex_save(h_, path.c_str()); });
    if (r == 0) return;
    if (reason == EINVAL)
        throw py::value_error("nothing indexed yet: call build_index() (or seek) first");
    raise_os_error(reason, name);
}

void gz_file::load_checked(const std::string& path, const py::object& name) {
    const auto [r, reason] = without_gil([&] { return gzindex_load(h_, path.c_str()); });
    if (r == 0) {
        indexed_ = true;
        return;
    }
    if (reason == EINVAL)
        throw py::value_error(display_of(name) +
                              ": index refused: damaged, cut short, stale, made for another "
                              "file or by another version");
    if (reason == ENOMEM)
        throw py::value_error(display_of(name) +
                              ": the index needs more memory than index_budget() allows");
    raise_os_error(reason, name);
}

void gz_file::load_index(const std::string& path, const py::object& name) {
    use u(*this);
    check_random_access();
    if (!has_descriptor_)
        raise_unsupported("index files need the gzip data in a file with a descriptor");
    load_checked(path, name);
}

void gz_file::import_index(const py::handle& data) {
    use u(*this);
    check_random_access();
    if (!has_descriptor_)
        raise_unsupported("index files need the gzip data in a file with a descriptor");
    const buffer_view in(data, false);
    // The stream layer loads index files by path: a memory file stands in.
    const int fd = memfd_create("zpress-index", MFD_CLOEXEC);
    if (fd < 0) raise_os_error(errno, py::none());
    std::size_t done = 0;
    while (done < in.size()) {
        const ssize_t n = ::write(fd, in.data() + done, in.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int reason = n < 0 ? errno : ENOSPC;
            ::close(fd);
            raise_os_error(reason, py::none());
        }
        done += static_cast<std::size_t>(n);
    }
    char path[40];
    (void)std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    try {
        load_checked(path, py::str("<index data>"));
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

void gz_file::verify_index() {
    use u(*this);
    check_random_access();
    int r;
    {
        py::gil_scoped_release nogil;
        r = gzindex_verify(h_);
    }
    if (r == 0) return;
    int code = 0;
    gzerror(h_, &code);
    if (code < 0 || (stream_ && stream_->pending())) fail();
    indexed_ = false;
    throw py::value_error(display_of(name_) +
                          ": index refused: it does not agree with the data (or there is none)");
}

void gz_file::index_budget(std::int64_t bytes) {
    use u(*this);
    check_reading();
    if (gzindex_budget(h_, bytes) != 0)
        throw py::value_error("the index budget must be 0 or at least 512 KiB");
}

std::int64_t gz_file::seek_line(std::int64_t line) {
    use u(*this);
    check_random_access();
    if (line < 1) throw py::value_error("lines are numbered from 1");
    const gz_off_t stream_at = gztell(h_);
    if (stream_at < 0) fail();
    const gz_off_t position = stream_at - static_cast<gz_off_t>(buffered());
    drop_buffer();
    at_end_ = false;
    gz_off_t r;
    {
        py::gil_scoped_release nogil;
        r = gzseek_line(h_, line);
    }
    if (r >= 0) return r;
    int code = 0;
    gzerror(h_, &code);
    if (code < 0 || (stream_ && stream_->pending())) fail();
    if (gztell(h_) != position) reseek(position);
    throw py::value_error("line " + std::to_string(line) + " is past the end of the data");
}

py::object gz_file::lines() {
    use u(*this);
    check_random_access();
    gz_off_t r;
    {
        py::gil_scoped_release nogil;
        r = gzindex_lines(h_);
    }
    if (r < 0) return py::none();
    return py::int_(r);
}

// --- the Python class ----------------------------------------------------

void register_gz_file(py::module_& m) {
    const py::object iterator_type = make_line_iterator_type(m);
    py::class_<gz_file>(m, "GzFile", "One gzip stream; see zpress.GzipFile.")
        .def_static("open_path", &gz_file::open_path, py::arg("path"), py::arg("mode"),
                    py::arg("level"), py::arg("header"), py::arg("name"))
        .def_static("open_descriptor", &gz_file::open_descriptor, py::arg("fd"),
                    py::arg("position"), py::arg("name"))
        .def_static("open_object", &gz_file::open_object, py::arg("file"), py::arg("mode"),
                    py::arg("level"), py::arg("header"), py::arg("seekable"), py::arg("name"))
        .def("read", &gz_file::read, py::arg("size") = -1)
        .def("read1", &gz_file::read1, py::arg("size") = -1)
        .def("readinto", &gz_file::readinto, py::arg("buffer"), py::arg("one_call") = false)
        .def("peek", &gz_file::peek, py::arg("size") = 0)
        .def("readline", &gz_file::readline, py::arg("limit") = -1)
        .def("readlines", &gz_file::readlines, py::arg("hint") = -1)
        // `owner` is the object that closes this one when it goes (the
        // GzipFile), which the iterator keeps alive.
        .def(
            "iter_lines",
            [iterator_type](const py::object& self, const py::object& owner) {
                return new_line_iterator(iterator_type, owner, self.cast<gz_file*>());
            },
            py::arg("owner"))
        .def("header", &gz_file::header)
        .def("seek", &gz_file::seek, py::arg("offset"), py::arg("whence") = 0)
        .def("tell", &gz_file::tell)
        .def("seekable", &gz_file::seekable)
        .def("write", &gz_file::write, py::arg("data"))
        .def("flush", &gz_file::flush, py::arg("mode") = Z_SYNC_FLUSH)
        .def("close", &gz_file::close)
        .def_property_readonly("closed", &gz_file::closed)
        .def_property_readonly("writing", &gz_file::writing)
        .def("build_index", &gz_file::build_index)
        .def("save_index", &gz_file::save_index, py::arg("path"), py::arg("name"))
        .def("load_index", &gz_file::load_index, py::arg("path"), py::arg("name"))
        .def("import_index", &gz_file::import_index, py::arg("data"))
        .def("verify_index", &gz_file::verify_index)
        .def("index_budget", &gz_file::index_budget, py::arg("bytes"))
        .def("seek_line", &gz_file::seek_line, py::arg("line"))
        .def("lines", &gz_file::lines);
}

}  // namespace zpress_python
