#include "mem_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zpress_test {
namespace {

bool write_all(int fd, ByteView data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

int memfd_with(ByteView data) {
    const int fd = ::memfd_create("zpress-test", MFD_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "memfd_create");
    if (!write_all(fd, data) || ::lseek(fd, 0, SEEK_SET) != 0) {
        const int saved = errno;
        ::close(fd);
        throw std::system_error(saved, std::generic_category(), "filling a memory file");
    }
    return fd;
}

int pipe_holding(ByteView data) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    const int wanted = static_cast<int>(data.size() < 4096 ? 4096 : data.size());
    const int capacity = ::fcntl(ends[1], F_SETPIPE_SZ, wanted);
    if (capacity < 0 || static_cast<std::size_t>(capacity) < data.size() ||
        !write_all(ends[1], data)) {
        ::close(ends[0]);
        ::close(ends[1]);
        return -1;
    }
    ::close(ends[1]);
    return ends[0];
}

Bytes file_contents(int fd) {
    Bytes out;
    unsigned char buf[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
        at += n;
    }
    return out;
}

Bytes read_all_fd(int fd) {
    Bytes out;
    unsigned char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

}  // namespace zpress_test
