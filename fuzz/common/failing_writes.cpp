#include "failing_writes.h"

#include <cerrno>
#include <cstdio>

extern "C" std::size_t __real_fwrite(const void* data, std::size_t size, std::size_t count,
                                     std::FILE* f);
extern "C" int __real_fflush(std::FILE* f);
extern "C" std::size_t __wrap_fwrite(const void* data, std::size_t size, std::size_t count,
                                     std::FILE* f);
extern "C" int __wrap_fflush(std::FILE* f);

namespace fuzz::failing_writes {
namespace {

int armed_fd = -1;
long fail_at_call = 0;
long call_count = 0;
bool has_fired = false;

// Whether this call on f is the one to fail.
bool fails_now(std::FILE* f) {
    if (armed_fd < 0 || f == nullptr || fileno(f) != armed_fd) return false;
    if (++call_count != fail_at_call) return false;
    has_fired = true;
    return true;
}

}  // namespace

void arm(int fd, long fail_at) {
    armed_fd = fd;
    fail_at_call = fail_at;
    call_count = 0;
    has_fired = false;
}

void disarm() {
    armed_fd = -1;
}

long calls() {
    return call_count;
}

bool fired() {
    return has_fired;
}

}  // namespace fuzz::failing_writes

extern "C" std::size_t __wrap_fwrite(const void* data, std::size_t size, std::size_t count,
                                     std::FILE* f) {
    if (!fuzz::failing_writes::fails_now(f)) return __real_fwrite(data, size, count, f);
    const std::size_t taken = size == 0 ? 0 : __real_fwrite(data, size, count / 2, f);
    errno = ENOSPC;
    return taken;
}

extern "C" int __wrap_fflush(std::FILE* f) {
    if (!fuzz::failing_writes::fails_now(f)) return __real_fflush(f);
    errno = EIO;
    return EOF;
}
