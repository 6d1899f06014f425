// zpress::gzfile: an owning wrapper of one gzip stream handle.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "errors.h"
#include "gzfile_access.h"
#include "zpress/gzio.h"
#include "zpress/zpress.hpp"

namespace zpress {
namespace {

// gzread and gzwrite count in int: larger requests go in pieces.
constexpr std::size_t kMaxCall = std::size_t{1} << 30;

unsigned piece(std::size_t left) {
    return static_cast<unsigned>(left < kMaxCall ? left : kMaxCall);
}

// Why an open failed: the system's reason, else the mode (or header) that
// was refused.
[[noreturn]] void open_failed(const std::string& name, const std::string& mode, int saved) {
    if (saved != 0 && saved != EINVAL) throw detail::system_failure(name, saved);
    throw error(detail::kStreamError, name + ": mode \"" + mode + "\" is not valid");
}

// The header fields a writer is asked for, checked against what a member
// header can carry.
gzstream::gz_header_fields fields_of(const std::string& name, const gzip_header& header) {
    const auto text = [&name](const std::string& t, const char* what) -> const char* {
        if (t.find('\0') != std::string::npos)
            throw error(detail::kStreamError, name + ": the header " + what + " holds a NUL byte");
        if (t.size() > gzstream::GZ_HEADER_TEXT_MAX)
            throw error(detail::kStreamError, name + ": the header " + what + " is longer than " +
                                                  std::to_string(gzstream::GZ_HEADER_TEXT_MAX) +
                                                  " bytes");
        return t.empty() ? nullptr : t.c_str();
    };
    if (header.mtime < 0 || header.mtime > std::int64_t{UINT32_MAX})
        throw error(
            detail::kStreamError,
            name + ": the header time " + std::to_string(header.mtime) + " is not 0 to 4294967295");
    return {.name = text(header.name, "name"),
            .comment = text(header.comment, "comment"),
            .mtime = static_cast<std::uint32_t>(header.mtime)};
}

// Whether a mode writes: its last direction letter (as the stream layer
// reads it) is 'w' or 'a'.
bool writes(std::string_view mode) {
    const std::size_t at = mode.find_last_of("rwa");
    return at != std::string_view::npos && mode[at] != 'r';
}

}  // namespace

gzfile::gzfile() noexcept = default;

gzfile::gzfile(gzstream::gz_handle* handle, std::string name) noexcept
    : handle_(handle), name_(std::move(name)) {}

gzfile::gzfile(const std::filesystem::path& path, std::string_view mode) : name_(path.string()) {
    const std::string mode_text(mode);
    errno = 0;
    handle_ = gzstream::gzopen(path.c_str(), mode_text.c_str());
    if (handle_ == nullptr) open_failed(name_, mode_text, errno);
}

gzfile::gzfile(const std::filesystem::path& path, std::string_view mode, const gzip_header& header)
    : name_(path.string()) {
    const std::string mode_text(mode);
    if (!writes(mode))
        throw error(detail::kStreamError, name_ + ": mode \"" + mode_text +
                                              "\" does not write: only a writer takes a header");
    const gzstream::gz_header_fields fields = fields_of(name_, header);
    errno = 0;
    handle_ = gzstream::gzopen_header(path.c_str(), mode_text.c_str(), &fields);
    if (handle_ == nullptr) open_failed(name_, mode_text, errno);
}

gzfile detail::gzfile_access::over(std::FILE* file, const std::string& name, const char* mode,
                                   const gzip_header* header) {
    if (file == nullptr) throw error(kFileError, with_errno(name, errno));
    gzstream::gz_header_fields fields{};
    try {
        if (header != nullptr) fields = fields_of(name, *header);
    } catch (const error&) {
        (void)std::fclose(file);
        throw;
    }
    errno = 0;
    gzstream::gz_handle* const handle =
        writes(mode) ? gzstream::gzopen_stdio_header(file, name.c_str(), mode, &fields)
                     : gzstream::gzopen_stdio(file, name.c_str(), mode);
    if (handle == nullptr) {
        const int saved = errno;
        (void)std::fclose(file);  // the open's reason is the one to report
        open_failed(name, mode, saved);
    }
    return gzfile(handle, name);
}

gzfile::gzfile(gzfile&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), name_(std::move(other.name_)) {}

gzfile& gzfile::operator=(gzfile&& other) noexcept {
    if (this != &other) {
        reset();
        handle_ = std::exchange(other.handle_, nullptr);
        name_ = std::move(other.name_);
    }
    return *this;
}

gzfile::~gzfile() { reset(); }

void gzfile::reset() noexcept {
    if (handle_ != nullptr) gzstream::gzclose(std::exchange(handle_, nullptr));
}

void gzfile::not_open() { throw error(detail::kStreamError, "zpress::gzfile: no file is open"); }

namespace {

// The stream's failure, or nothing when it has none: the system's reason
// when a system call failed, else the stream's own text.
std::optional<error> failure_of(gzstream::gz_handle* handle, const std::string& name) {
    int status = 0;
    const char* text = gzstream::gzerror(handle, &status);
    if (status >= 0) return std::nullopt;
    if (const int reason = gzstream::gzerrno(handle); reason != 0)
        return detail::system_failure(name, reason);
    // Damage met where the input had ended: in the data, a header or the
    // trailer, the stream was cut off, whatever the layer's own word for it.
    if (status == gzstream::Z_DATA_ERROR && gzstream::gzeof(handle) != 0)
        return error(status, name + ": cut off before its end");
    return error(status, text);
}

}  // namespace

// Throws the stream's own report when it holds one, else `what`.
void gzfile::fail(const char* what, int result) const {
    if (auto failure = failure_of(handle_, name_)) throw error(*failure);
    const int code = result < 0 ? result : detail::kStreamError;
    throw error(code, name_ + ": " + what);
}

// Reads into out[done, size) until it is full or the data ends.  An error
// met after some bytes were delivered is left for the next call, which meets
// it again: the stream layer keeps its errors.
std::size_t gzfile::read_direct(std::byte* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
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

std::size_t gzfile::read(std::span<std::byte> out) {
    check_open();
    return read_direct(out.data(), out.size());
}

// The lines come straight from the stream layer's read-ahead (the one
// gzgets uses), so a read, a seek or a call on handle() after getline() goes
// on right behind the line.
bool gzfile::getline(std::string& line) {
    check_open();
    line.clear();
    bool any = false;
    for (;;) {
        const char* piece = nullptr;
        const int n = gzstream::gzgetline_piece(handle_, &piece);
        if (n <= 0) {
            // An error met before the first byte of the line is thrown now,
            // one met after it on the next call.
            if (n < 0 && !any) fail("not open for reading", n);
            return any;
        }
        any = true;
        const auto size = static_cast<std::size_t>(n);
        if (piece[size - 1] == '\n') {
            line.append(piece, size - 1);
            return true;
        }
        line.append(piece, size);
    }
}

void gzfile::write(std::span<const std::byte> data) {
    check_open();
    std::size_t done = 0;
    while (done < data.size()) {
        const unsigned want = piece(data.size() - done);
        const int put = gzstream::gzwrite(handle_, data.data() + done, want);
        if (put < 0 || static_cast<unsigned>(put) != want)
            fail("not open for writing", put < 0 ? put : detail::kFileError);
        done += want;
    }
}

void gzfile::write(std::string_view text) {
    write(std::as_bytes(std::span(text.data(), text.size())));
}

void gzfile::flush() {
    check_open();
    const int result = gzstream::gzflush(handle_, gzstream::Z_SYNC_FLUSH);
    if (result != gzstream::Z_OK) fail("not open for writing", result);
}

std::int64_t gzfile::seek(std::int64_t offset, int whence) {
    check_open();
    const std::int64_t here = gzstream::gztell(handle_);
    std::int64_t target = offset;
    if (whence == SEEK_CUR && (here < 0 || __builtin_add_overflow(here, offset, &target)))
        fail("can't seek there", detail::kStreamError);
    if ((whence != SEEK_SET && whence != SEEK_CUR) || target < 0)
        fail("can't seek there", detail::kStreamError);
    const std::int64_t at = gzstream::gzseek(handle_, target, SEEK_SET);
    if (at >= 0) return at;
    // A reader that ran to the end of the data looking for the target goes
    // back where it was; one that met damage on the way, or cannot go back,
    // is where it is.
    int status = 0;
    gzstream::gzerror(handle_, &status);
    if (status >= 0 && here >= 0 && gzstream::gztell(handle_) != here)
        (void)gzstream::gzseek(handle_, here, SEEK_SET);
    fail("can't seek there", detail::kStreamError);
}

std::int64_t gzfile::tell() {
    check_open();
    const std::int64_t at = gzstream::gztell(handle_);
    if (at < 0) fail("can't tell the position", detail::kStreamError);
    return at;
}

std::int64_t gzfile::seek_line(std::int64_t line) {
    check_open();
    const std::int64_t at = gzstream::gzseek_line(handle_, line);
    if (at < 0) fail("can't seek to that line", detail::kStreamError);
    return at;
}

std::int64_t gzfile::lines() {
    check_open();
    return gzstream::gzindex_lines(handle_);
}

void gzfile::rewind() {
    check_open();
    if (gzstream::gzrewind(handle_) != 0) fail("can't rewind", detail::kStreamError);
}

bool gzfile::eof() {
    check_open();
    return gzstream::gzeof(handle_) != 0;
}

namespace {

// Why an index call refused the file or the index, from its errno.
std::string index_refusal(int reason, const std::string& file, const std::string& index) {
    switch (reason) {
        case EINVAL:
            return index + ": not an index of " + file + " as it is now, or damaged";
        case ENOMEM:
            return index + ": larger than the memory the index of " + file + " may take";
        default:
            return detail::with_errno(index, reason);
    }
}

}  // namespace

void gzfile::build_index() {
    check_open();
    errno = 0;
    if (gzstream::gzindex_build(handle_) == 0) return;
    const int reason = errno;
    if (auto failure = failure_of(handle_, name_)) throw error(*failure);
    if (reason == EINVAL)
        throw error(detail::kStreamError,
                    name_ + ": can't index: not gzip data in a file that can seek");
    throw error(detail::kFileError, detail::with_errno(name_ + ": can't index", reason));
}

void gzfile::save_index(const std::filesystem::path& index) const {
    check_open();
    errno = 0;
    if (gzstream::gzindex_save(handle_, index.c_str()) == 0) return;
    const int reason = errno;
    if (reason == EINVAL)
        throw error(detail::kStreamError,
                    index.string() + ": no index of " + name_ + " to save (nothing noted yet)");
    throw error(detail::kFileError, detail::with_errno(index.string(), reason));
}

void gzfile::load_index(const std::filesystem::path& index) {
    check_open();
    errno = 0;
    if (gzstream::gzindex_load(handle_, index.c_str()) == 0) return;
    const int reason = errno;
    throw error(reason == EINVAL ? detail::kDataError : detail::kFileError,
                index_refusal(reason, name_, index.string()));
}

void gzfile::verify_index() {
    check_open();
    errno = 0;
    if (gzstream::gzindex_verify(handle_) == 0) return;
    const int reason = errno;
    if (auto failure = failure_of(handle_, name_)) throw error(*failure);
    throw error(detail::kDataError, reason == EINVAL
                                        ? name_ + ": no index, or it does not agree with the data"
                                        : detail::with_errno(name_, reason));
}

gzip_header gzfile::header() const {
    check_open();
    gzstream::gz_header_fields fields;
    switch (gzstream::gzheader(handle_, &fields)) {
        case gzstream::Z_OK:
            break;
        case -1:
            return {};  // plain data
        case gzstream::Z_BUF_ERROR:
            throw error(gzstream::Z_BUF_ERROR,
                        name_ + ": the header's name or comment is too long to keep");
        case gzstream::Z_DATA_ERROR:
            fail("damaged header", gzstream::Z_DATA_ERROR);
        default:
            fail("not open for reading", detail::kStreamError);
    }
    return {.name = fields.name != nullptr ? fields.name : "",
            .comment = fields.comment != nullptr ? fields.comment : "",
            .mtime = fields.mtime};
}

void gzfile::close() {
    if (handle_ == nullptr) return;
    gzstream::gz_handle* const handle = std::exchange(handle_, nullptr);
    // The stream's own report is lost with the handle: keep it.  The first
    // failure is the one reported.
    std::optional<error> earlier = failure_of(handle, name_);
    errno = 0;
    const int result = gzstream::gzclose(handle);
    const int saved = errno;
    if (result == 0) return;
    if (earlier) throw error(*earlier);
    if (result == gzstream::Z_ERRNO && saved != 0) throw detail::system_failure(name_, saved);
    throw error(result, name_ + ": closing failed");
}

}  // namespace zpress
