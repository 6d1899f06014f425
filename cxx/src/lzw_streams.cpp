// ilzwstream and olzwstream: the iostreams over the .Z codec.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "buffers.h"
#include "errors.h"
#include "lzw_handle.h"
#include "zpress/zopen.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

// A descriptor of `name`; throws the system's reason.
int open_file(const std::string& name, int flags) {
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) throw detail::system_failure(name, errno);
    return fd;
}

class lzw_source final : public detail::source {
  public:
    explicit lzw_source(const std::string& name)
        : source(name), z_(name, open_file(name, O_RDONLY), "r", 0) {}

    std::size_t read(char* out, std::size_t size) override {
        std::size_t done = 0;
        while (done < size && z_.is_open()) {
            errno = 0;
            const int got = lzw::zread(z_.get(), reinterpret_cast<unsigned char*>(out + done),
                                       detail::lzw_piece(size - done));
            if (got == 0) break;
            if (got < 0) {
                if (done > 0) break;  // the codec fails again on the next call
                throw detail::lzw_read_failure(z_.name(), errno);
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
    void close() override {
        if (z_.is_open()) z_.close();
    }

  private:
    detail::lzw_handle z_;
};

// A descriptor, closed when it goes unless closed before.
class owned_fd {
  public:
    explicit owned_fd(int fd) : fd_(fd) {}
    ~owned_fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    owned_fd(const owned_fd&) = delete;
    owned_fd& operator=(const owned_fd&) = delete;
    int* get() { return &fd_; }
    // close()'s result; the descriptor is gone either way.
    int close() { return ::close(std::exchange(fd_, -1)); }

  private:
    int fd_;
};

// All of `n` bytes to the descriptor at `context`; 0, or -1 with errno set.
int write_fd(void* context, const unsigned char* buf, std::size_t n) {
    const int fd = *static_cast<const int*>(context);
    while (n > 0) {
        const ssize_t put = ::write(fd, buf, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return -1;
        }
        buf += put;
        n -= static_cast<std::size_t>(put);
    }
    return 0;
}

// The codec writes through functions on a descriptor the sink keeps, so
// that a stream closed with no data can still be given its header.
class lzw_sink final : public detail::sink {
  public:
    lzw_sink(const std::string& name, int bits)
        : fd_(open_file(name, O_WRONLY | O_CREAT | O_TRUNC)),
          bits_(bits),
          z_(name, lzw::lzw_io{.context = fd_.get(), .read = nullptr, .write = write_fd}, "w",
             bits) {}

    void write(const char* data, std::size_t size) override {
        z_.write_all(data, size);
        any_ |= size != 0;
    }
    void close() override {
        if (!z_.is_open()) return;
        z_.close();
        // The codec writes nothing for no data; the header alone is a stream
        // that every reader decodes to nothing.
        if (!any_) {
            const unsigned char header[3] = {0x1f, 0x9d, static_cast<unsigned char>(0x80 | bits_)};
            if (write_fd(fd_.get(), header, sizeof header) != 0)
                throw detail::system_failure(z_.name(), errno);
        }
        if (fd_.close() != 0) throw detail::system_failure(z_.name(), errno);
    }

  private:
    owned_fd fd_;  // before z_, which writes it as it goes
    int bits_;
    bool any_ = false;
    detail::lzw_handle z_;
};

std::unique_ptr<detail::input_buffer> open_reader(const std::filesystem::path& path) {
    auto buffer = std::make_unique<detail::input_buffer>();
    try {
        buffer->attach(std::make_unique<lzw_source>(path.string()));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

std::unique_ptr<detail::output_buffer> open_writer(const std::filesystem::path& path, int bits) {
    auto buffer = std::make_unique<detail::output_buffer>();
    try {
        if (bits < 9 || bits > 16) throw detail::bad_width(path.string(), bits);
        buffer->attach(std::make_unique<lzw_sink>(path.string(), bits));
    } catch (const error& e) {
        buffer->record(e.what());
    }
    return buffer;
}

}  // namespace

ilzwstream::ilzwstream(const std::filesystem::path& path) : input_stream(open_reader(path)) {}

olzwstream::olzwstream(const std::filesystem::path& path, int bits)
    : output_stream(open_writer(path, bits)) {}

}  // namespace zpress
