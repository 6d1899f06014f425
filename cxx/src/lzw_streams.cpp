// ilzwstream and olzwstream: the iostreams over the .Z codec.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <utility>

#include "buffers.h"
#include "errors.h"
#include "zpress/zopen.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

// zread and zwrite count in int.
constexpr std::size_t kMaxCall = std::size_t{1} << 30;

int piece(std::size_t left) { return static_cast<int>(left < kMaxCall ? left : kMaxCall); }

// Opens `path` and a codec handle on it; the handle owns the descriptor.
lzw::lzw_handle* open_handle(const std::string& name, int flags, const char* mode, int bits) {
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) throw detail::system_failure(name, errno);
    lzw::lzw_handle* handle = lzw::z_open(fd, mode, 0, bits, 0, 0);
    if (handle == nullptr) {
        const int saved = errno;
        ::close(fd);
        throw detail::system_failure(name, saved);
    }
    return handle;
}

// The reader's failures: z_close fails only in close().
void close_handle(lzw::lzw_handle*& handle, const std::string& name) {
    errno = 0;
    if (lzw::z_close(std::exchange(handle, nullptr), nullptr) != 0)
        throw detail::system_failure(name, errno);
}

class lzw_source final : public detail::source {
  public:
    explicit lzw_source(std::string name)
        : name_(std::move(name)), handle_(open_handle(name_, O_RDONLY, "r", 0)) {}
    ~lzw_source() override {
        if (handle_ != nullptr) lzw::z_close(handle_, nullptr);
    }
    lzw_source(const lzw_source&) = delete;
    lzw_source& operator=(const lzw_source&) = delete;

    std::size_t read(char* out, std::size_t size) override {
        std::size_t done = 0;
        while (done < size && handle_ != nullptr) {
            errno = 0;
            const int got =
                lzw::zread(handle_, reinterpret_cast<unsigned char*>(out + done), piece(size - done));
            if (got == 0) break;
            if (got < 0) {
                if (done > 0) break;  // the codec fails again on the next call
                throw detail::lzw_read_failure(name_, errno);
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
    void close() override {
        if (handle_ != nullptr) close_handle(handle_, name_);
    }

  private:
    std::string name_;
    lzw::lzw_handle* handle_;
};

class lzw_sink final : public detail::sink {
  public:
    lzw_sink(std::string name, int bits)
        : name_(std::move(name)),
          handle_(open_handle(name_, O_WRONLY | O_CREAT | O_TRUNC, "w", bits)) {}
    ~lzw_sink() override {
        if (handle_ != nullptr) lzw::z_close(handle_, nullptr);
    }
    lzw_sink(const lzw_sink&) = delete;
    lzw_sink& operator=(const lzw_sink&) = delete;

    void write(const char* data, std::size_t size) override {
        std::size_t done = 0;
        while (done < size) {
            const int want = piece(size - done);
            errno = 0;
            if (lzw::zwrite(handle_, reinterpret_cast<const unsigned char*>(data + done), want) != want)
                throw detail::system_failure(name_, errno);
            done += static_cast<std::size_t>(want);
        }
    }
    void close() override {
        if (handle_ != nullptr) close_handle(handle_, name_);
    }

  private:
    std::string name_;
    lzw::lzw_handle* handle_;
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
    if (bits < 9 || bits > 16) {
        buffer->record(detail::bad_width(path.string(), bits).what());
        return buffer;
    }
    try {
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
