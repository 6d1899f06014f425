#include "mem_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace fuzz {
namespace {

bool write_all(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int empty_memory_file() {
    return memfd_create("zpress-fuzz", MFD_CLOEXEC);
}

int memory_file(const unsigned char* data, std::size_t size) {
    const int fd = empty_memory_file();
    if (fd < 0) return -1;
    if (!write_all(fd, data, size) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int pipe_holding(const unsigned char* data, std::size_t size) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    const int capacity = fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(size < 4096 ? 4096 : size));
    if (capacity < 0 || static_cast<std::size_t>(capacity) < size ||
        !write_all(ends[1], data, size)) {
        close(ends[0]);
        close(ends[1]);
        return -1;
    }
    close(ends[1]);
    return ends[0];
}

std::vector<unsigned char> file_contents(int fd) {
    std::vector<unsigned char> out;
    unsigned char buf[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
        at += n;
    }
    return out;
}

}  // namespace fuzz
