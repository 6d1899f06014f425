#include "fd_io.h"

#include <unistd.h>

#include <cerrno>

#include "lzw_handle.h"

namespace lzw {

ssize_t read_some(const lzw_handle* zs, void* buf, std::size_t n) {
    if (zs->zs_io.read != nullptr)
        return zs->zs_io.read(zs->zs_io.context, static_cast<unsigned char*>(buf), n);
    ssize_t got;
    do {
        got = ::read(zs->zs_fd, buf, n);
    } while (got < 0 && errno == EINTR);
    return got;
}

ssize_t read_full(const lzw_handle* zs, void* buf, std::size_t n) {
    auto* bytes = static_cast<unsigned char*>(buf);
    std::size_t held = 0;
    while (held < n) {
        const ssize_t got = read_some(zs, bytes + held, n - held);
        if (got < 0) return -1;
        if (got == 0) break;
        held += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(held);
}

bool write_all(const lzw_handle* zs, const void* buf, std::size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(buf);
    if (zs->zs_io.write != nullptr) return zs->zs_io.write(zs->zs_io.context, bytes, n) == 0;
    while (n > 0) {
        const ssize_t put = ::write(zs->zs_fd, bytes, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) {
            // A regular descriptor never accepts nothing; treat it as a full device.
            errno = ENOSPC;
            return false;
        }
        bytes += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace lzw
