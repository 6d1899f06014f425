// stdio streams over memory and iostreams (glibc's fopencookie).
#include "stdio_bridge.h"

#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace zpress::detail {
namespace {

// The callbacks run inside stdio: nothing may be thrown through them.

ssize_t read_memory(void* cookie, char* out, std::size_t size) {
    auto& source = *static_cast<memory_source*>(cookie);
    const std::size_t left = source.data.size() - source.at;
    const std::size_t n = size < left ? size : left;
    std::memcpy(out, source.data.data() + source.at, n);
    source.at += n;
    return static_cast<ssize_t>(n);
}

ssize_t append_to_string(void* cookie, const char* data, std::size_t size) {
    try {
        static_cast<std::string*>(cookie)->append(data, size);
        return static_cast<ssize_t>(size);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return 0;
    }
}

ssize_t read_istream(void* cookie, char* out, std::size_t size) {
    auto& in = *static_cast<std::istream*>(cookie);
    try {
        in.read(out, static_cast<std::streamsize>(size));
    } catch (...) {  // NOLINT(bugprone-empty-catch): the state below tells
    }
    // The end of the data sets failbit as well; only badbit is a failure.
    if (in.bad()) {
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(in.gcount());
}

ssize_t write_ostream(void* cookie, const char* data, std::size_t size) {
    auto& out = *static_cast<std::ostream*>(cookie);
    try {
        if (out.write(data, static_cast<std::streamsize>(size))) return static_cast<ssize_t>(size);
    } catch (...) {  // NOLINT(bugprone-empty-catch): reported below
    }
    errno = EIO;
    return 0;
}

int flush_ostream(void* cookie) {
    auto& out = *static_cast<std::ostream*>(cookie);
    try {
        if (out.flush()) return 0;
    } catch (...) {  // NOLINT(bugprone-empty-catch): reported below
    }
    errno = EIO;
    return -1;
}

std::FILE* open_unbuffered(void* cookie, const char* mode, cookie_io_functions_t io) {
    std::FILE* file = fopencookie(cookie, mode, io);
    // Unbuffered, so that each of the layer's blocks reaches the stream in
    // one call; a stream that stays buffered works as well, one copy slower.
    if (file != nullptr) (void)std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

}  // namespace

std::FILE* reader_over(memory_source& source) {
    return open_unbuffered(
        &source, "r", {.read = read_memory, .write = nullptr, .seek = nullptr, .close = nullptr});
}

std::FILE* writer_into(std::string& out) {
    return open_unbuffered(
        &out, "w", {.read = nullptr, .write = append_to_string, .seek = nullptr, .close = nullptr});
}

std::FILE* reader_over(std::istream& in) {
    return open_unbuffered(
        &in, "r", {.read = read_istream, .write = nullptr, .seek = nullptr, .close = nullptr});
}

std::FILE* writer_into(std::ostream& out) {
    return open_unbuffered(
        &out, "w",
        {.read = nullptr, .write = write_ostream, .seek = nullptr, .close = flush_ostream});
}

}  // namespace zpress::detail
