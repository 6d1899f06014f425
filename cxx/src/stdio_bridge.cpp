// stdio streams over memory and iostreams (glibc's fopencookie).
#include "stdio_bridge.h"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "errors.h"
#include "zpress/zpress.hpp"

namespace zpress::detail {

// What the callbacks work on.  One of the four objects is set.
struct bridge::target {
    std::string_view data;  // memory to read
    std::size_t at = 0;
    std::string* text = nullptr;  // memory to append to
    std::istream* in = nullptr;
    std::ostream* out = nullptr;
    std::exception_ptr kept;  // the first exception the object threw
};

namespace {

// Runs the object's I/O inside a callback.  An exception it throws is kept
// for rethrow_kept and shows to stdio as a failure (errno EIO, the callback's
// `failed` value): the C frames of stdio and of the stream layer are left
// through their return values.  The forced unwinding of a cancelled thread
// is not an error of the object: it goes on, through stdio (glibc's stdio
// is built to let cancellation unwind it).  It is told apart as a foreign
// exception, of which the runtime gives no exception_ptr (binding it to a
// reference, as catch (abi::__forced_unwind&) does, binds a null one).
template <typename Io>
ssize_t guarded(bridge::target& t, ssize_t failed, Io io) {
    try {
        return io();
    } catch (...) {
        std::exception_ptr thrown = std::current_exception();
        if (!thrown) throw;
        if (!t.kept) t.kept = std::move(thrown);
        errno = EIO;
        return failed;
    }
}

// While it lives, `stream` has badbit in its exceptions mask, so that what its
// buffer throws reaches the bridge instead of being swallowed into badbit.
// The caller's mask comes back after, quietly.
class buffer_exceptions_through {
  public:
    explicit buffer_exceptions_through(std::ios& stream)
        : stream_(stream), mask_(stream.exceptions()) {
        // The stream is good here, so setting the mask throws nothing.
        if (added()) stream_.exceptions(mask_ | std::ios::badbit);
    }
    ~buffer_exceptions_through() {
        if (!added()) return;
        try {
            stream_.exceptions(mask_);
        } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): the caller's own mask
            // met its state: the mask is restored all the same, and what the
            // state means is reported by the callback.
        }
    }
    buffer_exceptions_through(const buffer_exceptions_through&) = delete;
    buffer_exceptions_through& operator=(const buffer_exceptions_through&) = delete;

    bool added() const { return (mask_ & std::ios::badbit) == 0; }

  private:
    std::ios& stream_;
    std::ios::iostate mask_;
};

// Runs `io` on `stream` with its buffer's exceptions let through (thrown on
// to guarded()).  False when the stream failed (badbit) without one.
template <typename Io>
bool run_with_buffer_exceptions(std::ios& stream, Io io) {
    const buffer_exceptions_through through(stream);
    try {
        io();
    } catch (const std::ios_base::failure&) {
        // Thrown by a mask rather than the buffer: ours, for a buffer that
        // reported a failure by its return value, or the caller's, at the end
        // of the data.  The caller's own badbit exception is theirs to keep.
        if (!through.added() && stream.bad()) throw;
    }
    return !stream.bad();
}

ssize_t read_memory(void* cookie, char* out, std::size_t size) {
    auto& t = *static_cast<bridge::target*>(cookie);
    const std::size_t n = std::min(size, t.data.size() - t.at);
    std::memcpy(out, t.data.data() + t.at, n);
    t.at += n;
    return static_cast<ssize_t>(n);
}

ssize_t append_to_string(void* cookie, const char* data, std::size_t size) {
    auto& t = *static_cast<bridge::target*>(cookie);
    return guarded(t, 0, [&] {
        t.text->append(data, size);
        return static_cast<ssize_t>(size);
    });
}

ssize_t read_istream(void* cookie, char* out, std::size_t size) {
    auto& t = *static_cast<bridge::target*>(cookie);
    std::istream& in = *t.in;
    return guarded(t, -1, [&]() -> ssize_t {
        if (in.bad()) {
            errno = EIO;
            return -1;
        }
        if (!in.good()) return 0;  // its end was met before
        // Takes what the source has at hand (all of it, up to the block, for
        // memory and files), waiting for one byte only when it has none: a
        // source that delivers slowly is read as far as it has come, as a
        // pipe would be.  The end of the data sets failbit as well; only
        // badbit is a failure.
        std::size_t got = 0;
        const bool read = run_with_buffer_exceptions(in, [&] {
            got = static_cast<std::size_t>(in.readsome(out, static_cast<std::streamsize>(size)));
            if (got == 0 && in.good()) {
                in.read(out, 1);
                got = static_cast<std::size_t>(in.gcount());
            }
            while (got != 0 && got < size) {
                const std::streamsize more =
                    in.readsome(out + got, static_cast<std::streamsize>(size - got));
                if (more <= 0) break;
                got += static_cast<std::size_t>(more);
            }
        });
        if (!read) {
            errno = EIO;
            return -1;
        }
        return static_cast<ssize_t>(got);
    });
}

ssize_t write_ostream(void* cookie, const char* data, std::size_t size) {
    auto& t = *static_cast<bridge::target*>(cookie);
    std::ostream& out = *t.out;
    return guarded(t, 0, [&]() -> ssize_t {
        if (out.good() &&
            run_with_buffer_exceptions(
                out, [&] { out.write(data, static_cast<std::streamsize>(size)); }) &&
            !out.fail())
            return static_cast<ssize_t>(size);
        errno = EIO;
        return 0;
    });
}

int flush_ostream(void* cookie) {
    auto& t = *static_cast<bridge::target*>(cookie);
    std::ostream& out = *t.out;
    return static_cast<int>(guarded(t, -1, [&]() -> ssize_t {
        if (out.good() && run_with_buffer_exceptions(out, [&] { out.flush(); }) && !out.fail())
            return 0;
        errno = EIO;
        return -1;
    }));
}

}  // namespace

bridge::bridge(std::unique_ptr<target> to, const char* mode)
    : target_(std::move(to)), block_(new (std::nothrow) char[kBridgeBlock]) {
    if (!block_) {
        errno = ENOMEM;
        return;
    }
    const bool reads = mode[0] == 'r';
    cookie_io_functions_t io{};
    if (target_->in != nullptr) io.read = read_istream;
    if (target_->out != nullptr) {
        io.write = write_ostream;
        io.close = flush_ostream;
    }
    if (target_->text != nullptr) io.write = append_to_string;
    if (reads && target_->in == nullptr) io.read = read_memory;
    file_ = fopencookie(target_.get(), mode, io);
    // Fully buffered in one large block: glibc reads a cookie stream that
    // has no buffer one byte per callback.
    if (file_ != nullptr) (void)std::setvbuf(file_, block_.get(), _IOFBF, kBridgeBlock);
}

bridge::~bridge() {
    if (file_ != nullptr) (void)std::fclose(file_);
}

std::FILE* bridge::take_file() noexcept { return std::exchange(file_, nullptr); }

void bridge::rethrow_kept(const std::string& name) {
    if (!target_->kept) return;
    // Kept, not taken: a later call that fails fails for the same reason.
    try {
        std::rethrow_exception(target_->kept);
    } catch (const std::bad_alloc&) {
        std::throw_with_nested(error(kMemError, name + ": out of memory"));
    } catch (const std::exception& e) {
        std::throw_with_nested(error(kFileError, name + ": " + e.what()));
    } catch (...) {
        std::throw_with_nested(error(kFileError, name + ": the stream threw an exception"));
    }
}

std::unique_ptr<bridge> bridge::reader_over(std::string_view data) {
    auto to = std::make_unique<target>();
    to->data = data;
    return std::unique_ptr<bridge>(new bridge(std::move(to), "r"));
}

std::unique_ptr<bridge> bridge::writer_into(std::string& out) {
    auto to = std::make_unique<target>();
    to->text = &out;
    return std::unique_ptr<bridge>(new bridge(std::move(to), "w"));
}

std::unique_ptr<bridge> bridge::reader_over(std::istream& in) {
    auto to = std::make_unique<target>();
    to->in = &in;
    return std::unique_ptr<bridge>(new bridge(std::move(to), "r"));
}

std::unique_ptr<bridge> bridge::writer_into(std::ostream& out) {
    auto to = std::make_unique<target>();
    to->out = &out;
    return std::unique_ptr<bridge>(new bridge(std::move(to), "w"));
}

}  // namespace zpress::detail
