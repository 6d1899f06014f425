// Whole buffers in memory: gzip through the stream layer on stdio streams
// over memory, .Z through the codec on an anonymous memory file (the codec
// works on descriptors).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <utility>

#include "errors.h"
#include "gzfile_access.h"
#include "stdio_bridge.h"
#include "zpress/zopen.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

constexpr const char kName[] = "<memory>";

// zread and zwrite count in int.
constexpr std::size_t kMaxCall = std::size_t{1} << 30;

int piece(std::size_t left) {
    return static_cast<int>(std::min(left, kMaxCall));
}

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
                ::write(fd_, data.data() + done, std::min(data.size() - done, kMaxCall));
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
                ::pread(fd_, out.data() + done, std::min(out.size() - done, kMaxCall),
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

// A codec handle that z_close releases, reporting nothing, when it goes
// without close().
class lzw_stream {
  public:
    lzw_stream(int fd, const char* mode, int bits) : handle_(lzw::z_open(fd, mode, 0, bits, 0, 0)) {
        if (handle_ == nullptr) {
            const int saved = errno;
            ::close(fd);
            throw detail::system_failure(kName, saved);
        }
    }
    ~lzw_stream() {
        if (handle_ != nullptr) lzw::z_close(handle_, nullptr);
    }
    lzw_stream(const lzw_stream&) = delete;
    lzw_stream& operator=(const lzw_stream&) = delete;

    lzw::lzw_handle* get() const { return handle_; }
    // z_close fails for a failed write() or close(): never the data's fault.
    void close() {
        errno = 0;
        if (lzw::z_close(std::exchange(handle_, nullptr), nullptr) != 0)
            throw detail::system_failure(kName, errno);
    }

  private:
    lzw::lzw_handle* handle_;
};

}  // namespace

std::string gzip_compress(std::string_view data, int level) {
    if (level < 0 || level > 9)
        throw error(detail::kStreamError,
                    std::string(kName) + ": compression level " + std::to_string(level) + " is not 0 to 9");
    const char mode[] = {'w', 'b', static_cast<char>('0' + level), '\0'};
    std::string out;
    gzfile gz = detail::gzfile_access::over(detail::writer_into(out), kName, mode);
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
    lzw_stream z(fd, "w", bits);
    for (std::size_t done = 0; done < data.size();) {
        const int want = piece(data.size() - done);
        if (lzw::zwrite(z.get(), reinterpret_cast<const unsigned char*>(data.data() + done),
                        want) != want)
            throw detail::system_failure(kName, errno);
        done += static_cast<std::size_t>(want);
    }
    z.close();
    return file.contents();
}

std::string lzw_decompress(std::string_view z) {
    memory_file file;
    file.fill(z);
    lzw_stream in(file.release(), "r", 0);
    std::string out;
    std::size_t have = 0;
    for (;;) {
        char* const at = room_in(out, have, z.size());
        const int got =
            lzw::zread(in.get(), reinterpret_cast<unsigned char*>(at), piece(out.size() - have));
        if (got < 0) throw detail::lzw_read_failure(kName, errno);
        if (got == 0) break;
        have += static_cast<std::size_t>(got);
    }
    in.close();
    out.resize(have);
    return out;
}

}  // namespace zpress
