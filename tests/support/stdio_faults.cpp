#include "stdio_faults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

extern "C" {
std::size_t __real_fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* f);
int __real_fflush(std::FILE* f);
std::size_t __real_fread(void* data, std::size_t size, std::size_t count, std::FILE* f);
std::size_t __wrap_fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* f);
int __wrap_fflush(std::FILE* f);
std::size_t __wrap_fread(void* data, std::size_t size, std::size_t count, std::FILE* f);
}

namespace zpress_test::stdio_faults {
namespace {

kind armed_kind = kind::writes;
int armed_fd = -1;
long fail_at_call = 0;
long call_count = 0;
bool has_fired = false;

}  // namespace

void arm(kind k, int fd, long fail_at) {
    armed_kind = k;
    armed_fd = fd;
    fail_at_call = fail_at;
    call_count = 0;
    has_fired = false;
}

void disarm() { armed_fd = -1; }

long calls() { return call_count; }

bool fired() { return has_fired; }

// Whether this call of kind k on f is the one to fail.
bool fails_now(kind k, std::FILE* f) {
    if (armed_fd < 0 || k != armed_kind || f == nullptr || fileno(f) != armed_fd) return false;
    return ++call_count == fail_at_call;
}

void mark_fired() { has_fired = true; }

}  // namespace zpress_test::stdio_faults

using zpress_test::stdio_faults::kind;

extern "C" std::size_t __wrap_fwrite(const void* data, std::size_t size, std::size_t count,
                                     std::FILE* f) {
    if (!zpress_test::stdio_faults::fails_now(kind::writes, f))
        return __real_fwrite(data, size, count, f);
    // The file takes the first half and then fails, as a non-blocking
    // descriptor or a full disk can.
    zpress_test::stdio_faults::mark_fired();
    const std::size_t taken = size == 0 ? 0 : __real_fwrite(data, size, count / 2, f);
    errno = ENOSPC;
    return taken;
}

extern "C" int __wrap_fflush(std::FILE* f) {
    if (!zpress_test::stdio_faults::fails_now(kind::writes, f)) return __real_fflush(f);
    zpress_test::stdio_faults::mark_fired();  // nothing is written: the bytes stay buffered
    errno = EIO;
    return EOF;
}

extern "C" std::size_t __wrap_fread(void* data, std::size_t size, std::size_t count, std::FILE* f) {
    if (!zpress_test::stdio_faults::fails_now(kind::reads, f))
        return __real_fread(data, size, count, f);
    // The read runs with the descriptor briefly pointing at a directory, so
    // that read() fails with EISDIR and stdio records a genuine error; then
    // the descriptor is what it was, with its offset untouched.
    const int fd = fileno(f);
    const int saved = dup(fd);
    const int dir = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (saved < 0 || dir < 0) return __real_fread(data, size, count, f);
    dup2(dir, fd);
    const bool had_error = std::ferror(f) != 0;
    const std::size_t n = __real_fread(data, size, count, f);
    dup2(saved, fd);
    close(saved);
    close(dir);
    if (!had_error && std::ferror(f)) zpress_test::stdio_faults::mark_fired();
    return n;
}
