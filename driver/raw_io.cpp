#include "raw_io.h"

#include <unistd.h>

#include <cerrno>

namespace driver {

ssize_t read_fully(int fd, unsigned char* buf, std::size_t len) {
    std::size_t have = 0;
    while (have < len) {
        const ssize_t n = ::read(fd, buf + have, len - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(have);
}

bool write_fully(int fd, const unsigned char* buf, std::size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(fd, buf, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        buf += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace driver
