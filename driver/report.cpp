#include "report.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "handler_record.h"

namespace driver {
namespace {

// Each report is "PROG: " then `before`, the file's name and `after`.
struct wording {
    const char* before;
    const char* after;
};

wording wording_of(about_file what) {
    switch (what) {
        case about_file::already_exists:
            return {"", " already exists\n"};
        case about_file::cant_gzopen:
            return {"can't gzopen ", "\n"};
        case about_file::cant_unlink:
            return {"can't unlink ", "\n"};
        case about_file::name_too_long:
            return {"", ": file name too long\n"};
        case about_file::not_a_file:
            return {"", " is a device or a socket, not a file\n"};
        case about_file::cant_sync:
            return {"can't fsync ", "\n"};
        case about_file::cant_replace:
            return {"can't replace ", "; input kept\n"};
        case about_file::output_lost:
            return {"", " was removed or replaced while it was written; input kept\n"};
        case about_file::input_changed:
            return {"", " changed after it was opened; input kept\n"};
    }
    return {"", "\n"};
}

// Collects a line and writes it with as few write() calls as its length
// allows; async-signal-safe.
class line_writer {
  public:
    void put(const char* text, std::size_t len) noexcept {
        while (len > 0) {
            if (used_ == sizeof line_) flush();
            const std::size_t n = len < sizeof line_ - used_ ? len : sizeof line_ - used_;
            std::memcpy(line_ + used_, text, n);
            used_ += n;
            text += n;
            len -= n;
        }
    }
    void flush() noexcept {
        const char* p = line_;
        while (used_ > 0) {
            const ssize_t n = ::write(STDERR_FILENO, p, used_);
            if (n <= 0) break;  // nowhere to report to
            p += n;
            used_ -= static_cast<std::size_t>(n);
        }
        used_ = 0;
    }

  private:
    char line_[512];
    std::size_t used_ = 0;
};

}  // namespace

outcome error(const char* message) {
    (void)std::fprintf(stderr, "%s: %s\n", handler_state.prog, message);
    return outcome::failed;
}

outcome system_error(const char* what) {
    std::perror(what);
    return outcome::failed;
}

void report(about_file what, const char* name) noexcept {
    const wording w = wording_of(what);
    line_writer out;
    for (const char* piece : {handler_state.prog, ": ", w.before, name, w.after})
        out.put(piece, std::strlen(piece));
    out.flush();
}

outcome fail(about_file what, const char* name) {
    report(what, name);
    return outcome::failed;
}

outcome fail_stream(gzstream::gz_handle* stream) {
    int ignored;
    (void)std::fprintf(stderr, "%s: %s\n", handler_state.prog, gzstream::gzerror(stream, &ignored));
    return outcome::failed;
}

}  // namespace driver
