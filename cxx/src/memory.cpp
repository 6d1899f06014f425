// Whole buffers in memory: gzip through the stream layer on stdio streams
// over memory, .Z through the codec on an anonymous memory file (the codec
// works on descriptors).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "errors.h"
#include "gzfile_access.h"
#include "lzw_handle.h"
#include "stdio_bridge.h"
#include "zpress/zopen.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

constexpr const char kName[] = "<memory>";

// Room for the output of a decoder: a first guess from the input's size
// (never a huge block up front), doubled whenever it fills.  Grows `out` and
// returns where the next bytes go.
char* room_in(std::string& out, std::size_t have, std::size_t input_size) {
    constexpr std::size_t kFirstLeast = std::size_t{64} << 10;
    constexpr std::size_t kFirstMost = std::size_t{64} << 20;
    if (have == out.size()) {
        const std::size_t first = std::clamp(input_size / 2 * 7, kFirstLeast, kFirstMost);
        out.resize(out.empty() ? first : out.size() * 2);
    }
    return out.data() + have;
}

// An anonymous memory file, closed when it goes unless released.
class memory_file {
  public:
    memory_file() : fd_(memfd_create("zpress", MFD_CLOEXEC)) {
        if (fd_ < 0) throw detail::system_failure(kName, errno);
    }
    ~memory_file() {
        if (fd_ >= 0) ::close(fd_);
    }
    memory_file(const memory_file&) = delete;
    memory_file& operator=(const memory_file&) = delete;

    int fd() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

    void fill(std::string_view data) const {
        for (std::size_t done = 0; done < data.size();) {
            const ssize_t put =
                ::write(fd_, data.data() + done, std::min(data.size() - done, detail::kLzwMaxCall));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) throw detail::system_failure(kName, put < 0 ? errno : ENOSPC);
            done += static_cast<std::size_t>(put);
        }
        if (::lseek(fd_, 0, SEEK_SET) != 0) throw detail::system_failure(kName, errno);
    }

    std::string contents() const {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) throw detail::system_failure(kName, errno);
        std::string out(static_cast<std::size_t>(st.st_size), '\0');
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t got =
                ::pread(fd_, out.data() + done, std::min(out.size() - done, detail::kLzwMaxCall),
                        static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) throw detail::system_failure(kName, got < 0 ? errno : EIO);
            done += static_cast<std::size_t>(got);
        }
        return out;
    }

  private:
    int fd_;
};

}  // namespace

std::string gzip_compress(std::string_view data, int level) {
    const std::string mode = detail::gzip_write_mode(kName, level);
    std::string out;
    gzfile gz = detail::gzfile_access::over(detail::writer_into(out), kName, mode.c_str());
    gz.write(data);
    gz.close();
    return out;
}

std::string gzip_decompress(std::string_view gz) {
    // The stream layer hands plain data through; here only gzip is wanted.
    if (gz.size() < 2 || gz[0] != '\x1f' || gz[1] != '\x8b')
        throw error(detail::kDataError, std::string(kName) + ": not gzip data");
    detail::memory_source source{.data = gz};
    gzfile in = detail::gzfile_access::over(detail::reader_over(source), kName, "rb");
    std::string out;
    std::size_t have = 0;
    for (;;) {
        char* const at = room_in(out, have, gz.size());
        const std::size_t got = in.read(std::as_writable_bytes(std::span(at, out.size() - have)));
        if (got == 0) break;
        have += got;
    }
    in.close();
    out.resize(have);
    return out;
}

std::string lzw_compress(std::string_view data, int bits) {
    if (bits < 9 || bits > 16) throw detail::bad_width(kName, bits);
    // The codec writes nothing at all for no data; the header alone is a
    // stream that any reader decodes to nothing.
    if (data.empty()) return {'\x1f', '\x9d', static_cast<char>(0x80 | bits)};
    memory_file file;
    const int fd = ::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) throw detail::system_failure(kName, errno);
    detail::lzw_handle z(kName, fd, "w", bits);
    z.write_all(data.data(), data.size());
    z.close();
    return file.contents();
}

std::string lzw_decompress(std::string_view z) {
    memory_file file;
    file.fill(z);
    detail::lzw_handle in(kName, file.release(), "r", 0);
    std::string out;
    std::size_t have = 0;
    for (;;) {
        char* const at = room_in(out, have, z.size());
        const int got =
            lzw::zread(in.get(), reinterpret_cast<unsigned char*>(at), detail::lzw_piece(out.size() - have));
        if (got < 0) throw detail::lzw_read_failure(kName, errno);
        if (got == 0) break;
        have += static_cast<std::size_t>(got);
    }
    in.close();
    out.resize(have);
    return out;
}

}  // namespace zpress
