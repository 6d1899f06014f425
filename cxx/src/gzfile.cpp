// zpress::gzfile: an owning wrapper of one gzip stream handle.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "errors.h"
#include "zpress/gzio.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

// gzread and gzwrite count in int: larger requests go in pieces.
constexpr std::size_t kMaxCall = std::size_t{1} << 30;
// What getline() reads ahead: large enough that the engine, not the
// per-call overhead, sets the pace.
constexpr std::size_t kLookahead = 64 * 1024;

unsigned piece(std::size_t left) { return static_cast<unsigned>(left < kMaxCall ? left : kMaxCall); }

}  // namespace

gzfile::gzfile() noexcept = default;

gzfile::gzfile(const std::filesystem::path& path, std::string_view mode) : name_(path.string()) {
    const std::string mode_text(mode);
    errno = 0;
    handle_ = gzstream::gzopen(path.c_str(), mode_text.c_str());
    if (handle_ == nullptr) {
        const int saved = errno;
        if (saved != 0) throw error(detail::kFileError, detail::with_errno("can't open " + name_, saved));
        throw error(detail::kStreamError,
                    "can't open " + name_ + ": mode \"" + mode_text + "\" is not valid");
    }
}

gzfile::gzfile(gzfile&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      name_(std::move(other.name_)),
      ahead_(std::move(other.ahead_)),
      ahead_begin_(std::exchange(other.ahead_begin_, 0)),
      ahead_end_(std::exchange(other.ahead_end_, 0)) {}

gzfile& gzfile::operator=(gzfile&& other) noexcept {
    if (this != &other) {
        reset();
        handle_ = std::exchange(other.handle_, nullptr);
        name_ = std::move(other.name_);
        ahead_ = std::move(other.ahead_);
        ahead_begin_ = std::exchange(other.ahead_begin_, 0);
        ahead_end_ = std::exchange(other.ahead_end_, 0);
    }
    return *this;
}

gzfile::~gzfile() { reset(); }

void gzfile::reset() noexcept {
    if (handle_ != nullptr) gzstream::gzclose(std::exchange(handle_, nullptr));
    drop_lookahead();
}

void gzfile::check_open() const {
    if (handle_ == nullptr) throw error(detail::kStreamError, "zpress::gzfile: no file is open");
}

// Throws the stream's own report when it holds one, else `what`.
void gzfile::fail(const char* what, int result) {
    const int saved = errno;
    int status = 0;
    const char* text = gzstream::gzerror(handle_, &status);
    if (status < 0) {
        const std::string message(text);
        throw error(status, status == gzstream::Z_ERRNO ? detail::with_errno(message, saved) : message);
    }
    const int code = result < 0 ? result : detail::kStreamError;
    throw error(code, name_ + ": " + what);
}

// Reads into out[done, size) until it is full or the data ends.  An error
// met after some bytes were delivered is left for the next call, which meets
// it again: the stream layer keeps its errors.
std::size_t gzfile::read_direct(std::byte* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        errno = 0;
        const int got = gzstream::gzread(handle_, out + done, piece(size - done));
        if (got > 0) {
            done += static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0) {
            // 0 is the end only when the stream says so: a call that met an
            // error before its first byte may also give 0.
            int status = 0;
            gzstream::gzerror(handle_, &status);
            if (status >= 0) break;
        }
        if (done > 0) break;
        fail("not open for reading", got);
    }
    return done;
}

bool gzfile::refill() {
    if (!ahead_) ahead_ = std::make_unique_for_overwrite<char[]>(kLookahead);
    ahead_begin_ = 0;
    ahead_end_ = read_direct(reinterpret_cast<std::byte*>(ahead_.get()), kLookahead);
    return ahead_end_ != 0;
}

std::size_t gzfile::read(std::span<std::byte> out) {
    check_open();
    const std::size_t buffered = ahead_end_ - ahead_begin_;
    if (buffered == 0) return read_direct(out.data(), out.size());
    // What getline() read ahead comes first; the rest of the data waits for
    // the next call, so that an error behind it cannot swallow these bytes.
    const std::size_t n = buffered < out.size() ? buffered : out.size();
    std::memcpy(out.data(), ahead_.get() + ahead_begin_, n);
    ahead_begin_ += n;
    return n;
}

bool gzfile::getline(std::string& line) {
    check_open();
    line.clear();
    bool any = false;
    for (;;) {
        if (ahead_begin_ == ahead_end_ && !refill()) return any;
        const char* begin = ahead_.get() + ahead_begin_;
        const std::size_t avail = ahead_end_ - ahead_begin_;
        const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', avail));
        const std::size_t take = newline != nullptr ? static_cast<std::size_t>(newline - begin) : avail;
        line.append(begin, take);
        any = true;
        if (newline != nullptr) {
            ahead_begin_ += take + 1;
            return true;
        }
        ahead_begin_ = ahead_end_;
    }
}

void gzfile::write(std::span<const std::byte> data) {
    check_open();
    std::size_t done = 0;
    while (done < data.size()) {
        const unsigned want = piece(data.size() - done);
        errno = 0;
        const int put = gzstream::gzwrite(handle_, data.data() + done, want);
        if (put < 0 || static_cast<unsigned>(put) != want)
            fail("not open for writing", put < 0 ? put : detail::kFileError);
        done += want;
    }
}

void gzfile::write(std::string_view text) { write(std::as_bytes(std::span(text.data(), text.size()))); }

void gzfile::flush() {
    check_open();
    errno = 0;
    const int result = gzstream::gzflush(handle_, gzstream::Z_SYNC_FLUSH);
    if (result != gzstream::Z_OK) fail("not open for writing", result);
}

std::int64_t gzfile::seek(std::int64_t offset, int whence) {
    check_open();
    if (whence == SEEK_CUR) offset -= static_cast<std::int64_t>(ahead_end_ - ahead_begin_);
    drop_lookahead();
    errno = 0;
    const std::int64_t at = gzstream::gzseek(handle_, offset, whence);
    if (at < 0) fail("can't seek there", detail::kStreamError);
    return at;
}

std::int64_t gzfile::tell() {
    check_open();
    const std::int64_t at = gzstream::gztell(handle_);
    if (at < 0) fail("can't tell the position", detail::kStreamError);
    return at - static_cast<std::int64_t>(ahead_end_ - ahead_begin_);
}

void gzfile::rewind() {
    check_open();
    drop_lookahead();
    errno = 0;
    if (gzstream::gzrewind(handle_) != 0) fail("can't rewind", detail::kStreamError);
}

bool gzfile::eof() {
    check_open();
    return ahead_begin_ == ahead_end_ && gzstream::gzeof(handle_) != 0;
}

void gzfile::close() {
    if (handle_ == nullptr) return;
    gzstream::gz_handle* const handle = std::exchange(handle_, nullptr);
    drop_lookahead();
    // The stream's own report is lost with the handle: keep it.
    int status = 0;
    std::string earlier(gzstream::gzerror(handle, &status));
    errno = 0;
    const int result = gzstream::gzclose(handle);
    const int saved = errno;
    if (result == 0) return;
    if (status >= 0) earlier = name_ + ": closing failed";
    throw error(result, result == gzstream::Z_ERRNO ? detail::with_errno(earlier, saved) : earlier);
}

}  // namespace zpress
