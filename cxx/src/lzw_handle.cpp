#include "lzw_handle.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "errors.h"

namespace zpress::detail {

lzw_handle::lzw_handle(std::string name, int fd, const char* mode, int bits)
    : name_(std::move(name)), handle_(lzw::z_open(fd, mode, 0, bits, 0, 0)) {
    if (handle_ == nullptr) {
        const int saved = errno;
        ::close(fd);
        throw system_failure(name_, saved);
    }
}

lzw_handle::lzw_handle(std::string name, const lzw::lzw_io& io, const char* mode, int bits)
    : name_(std::move(name)), handle_(lzw::z_open_io(&io, mode, bits, 0)) {
    if (handle_ == nullptr) throw system_failure(name_, errno);
}

lzw_handle::~lzw_handle() {
    if (handle_ != nullptr) lzw::z_close(handle_, nullptr);
}

void lzw_handle::write_all(const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const int want = lzw_piece(size - done);
        errno = 0;
        if (lzw::zwrite(handle_, reinterpret_cast<const unsigned char*>(data + done), want) != want)
            throw system_failure(name_, errno);
        done += static_cast<std::size_t>(want);
    }
}

void lzw_handle::close() {
    errno = 0;
    if (lzw::z_close(std::exchange(handle_, nullptr), nullptr) != 0)
        throw system_failure(name_, errno);
}

}  // namespace zpress::detail
