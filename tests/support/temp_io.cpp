#include "temp_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace zpress_test {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void write_all(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // the reader went away
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zpress-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::path(const std::string& name) const { return (dir_ / name).string(); }

void write_file(const std::string& path, ByteView data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t size_on_disk(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail("stat " + path);
    return static_cast<std::size_t>(st.st_size);
}

PipeFeeder::PipeFeeder(Bytes data, std::size_t piece) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (::pipe(fds) != 0) fail("pipe");
    read_fd_ = fds[0];
    const int write_fd = fds[1];
    if (piece == 0) piece = 1;
    feeder_ = std::thread([write_fd, piece, data = std::move(data)] {
        for (std::size_t at = 0; at < data.size(); at += piece)
            write_all(write_fd, data.data() + at, std::min(piece, data.size() - at));
        ::close(write_fd);
    });
}

PipeFeeder::~PipeFeeder() {
    if (read_fd_ >= 0) ::close(read_fd_);  // unblocks a feeder nobody reads from
    join();
}

int PipeFeeder::take_read_fd() {
    const int fd = read_fd_;
    read_fd_ = -1;
    return fd;
}

void PipeFeeder::join() {
    if (feeder_.joinable()) feeder_.join();
}

}  // namespace zpress_test
