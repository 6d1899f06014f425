#include "short_reads.h"

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

#include "choices.h"

extern "C" ssize_t __real_read(int fd, void* buf, std::size_t n);
extern "C" ssize_t __wrap_read(int fd, void* buf, std::size_t n);

namespace fuzz::short_reads {
namespace {

plan armed;
choices pick(0);
long call_count = 0;
bool fired = false;

}  // namespace

void arm(const plan& p) {
    armed = p;
    pick = choices(p.seed);
    call_count = 0;
    fired = false;
}

void disarm() { armed = plan{}; }

long calls() { return call_count; }

bool failed() { return fired; }

}  // namespace fuzz::short_reads

extern "C" ssize_t __wrap_read(int fd, void* buf, std::size_t n) {
    using namespace fuzz::short_reads;
    if (fd != armed.fd || armed.fd < 0) return __real_read(fd, buf, n);
    ++call_count;
    if (armed.fail_at > 0 && call_count == armed.fail_at) {
        fired = true;
        errno = EIO;
        return -1;
    }
    if (armed.interrupt && pick.one_in(4)) {
        errno = EINTR;
        return -1;
    }
    if (armed.max_piece > 0 && n > 0) {
        const std::size_t piece = 1 + pick.below(armed.max_piece);
        if (piece < n) n = piece;
    }
    return __real_read(fd, buf, n);
}
