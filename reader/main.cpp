// zpress-read: writes part of the uncompressed data of a large .gz file,
// from a byte offset or a line number, using an index file beside it so
// that the start is found without decoding everything before it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "index_file.h"
#include "options.h"
#include "output.h"
#include "zpress/gzio.h"

namespace zpress_read {
namespace {

struct handle_closer {
    void operator()(gzstream::gz_handle* h) const { gzstream::gzclose(h); }
};
using handle = std::unique_ptr<gzstream::gz_handle, handle_closer>;

int fail(const std::string& what, const char* why) {
    (void)std::fprintf(stderr, "%s: %s: %s\n", kProgram, what.c_str(), why);
    return 1;
}

// The data could not be read on: damage, a cut, or a failed read.
int data_failure(gzstream::gz_handle* h, const options& opts) {
    const int reason = gzstream::gzerrno(h);
    if (reason != 0) return fail(opts.file, std::strerror(reason));
    int code = 0;
    const char* text = gzstream::gzerror(h, &code);
    (void)std::fprintf(stderr, "%s: %s\n", kProgram, text);
    return 1;
}

handle open_data(const options& opts, int& status) {
    const int fd = ::open(opts.file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        status = fail(opts.file, std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        status = fail(opts.file, std::strerror(EISDIR));
        return nullptr;
    }
    handle h(gzstream::gzdopen_named(fd, opts.file.c_str(), "rb"));
    if (!h) {
        status = fail(opts.file, std::strerror(errno != 0 ? errno : ENOMEM));
        ::close(fd);
        return nullptr;
    }
    gzstream::gz_header_fields header;
    if (gzstream::gzheader(h.get(), &header) == -1) {
        status = fail(opts.file, "not in gzip format");
        return nullptr;
    }
    return h;
}

int verify(gzstream::gz_handle* h, const options& opts) {
    if (gzstream::gzindex_load(h, opts.index.c_str()) != 0)
        return fail(opts.index, errno == EINVAL
                                    ? "index refused: not an index of this file as it is now"
                                    : std::strerror(errno));
    if (gzstream::gzindex_verify(h) == 0) return 0;
    if (gzstream::gztell(h) < 0) return data_failure(h, opts);
    return fail(opts.index, "index refused: it does not agree with the data");
}

int build(gzstream::gz_handle* h, index_file& index, const options& opts) {
    if (gzstream::gzindex_build(h) != 0) return data_failure(h, opts);
    return index.save(h, true) ? 0 : 1;
}

int info(gzstream::gz_handle* h, index_file& index, const options& opts) {
    // To the end from the last place, which fails there: the totals come
    // with it, unless the places were saved without line counts.
    gzstream::gzseek(h, INT64_MAX, 0);
    if (gzstream::gztell(h) < 0) return data_failure(h, opts);
    if ((gzstream::gzindex_lines(h) < 0 || gzstream::gzindex_members(h) < 0) &&
        gzstream::gzindex_build(h) != 0)
        return data_failure(h, opts);
    index.replace_if_refused(h);
    index.save(h, false);
    std::printf("uncompressed size: %lld\n", static_cast<long long>(gzstream::gztell(h)));
    std::printf("lines: %lld\n", static_cast<long long>(gzstream::gzindex_lines(h)));
    std::printf("members: %lld\n", static_cast<long long>(gzstream::gzindex_members(h)));
    std::printf("access points: %lld\n", static_cast<long long>(gzstream::gzindex_points(h)));
    std::printf("index file size: %lld\n", index.size());
    return std::fflush(stdout) == 0 ? 0 : fail("standard output", std::strerror(errno));
}

int read_range(gzstream::gz_handle* h, index_file& index, const options& opts) {
    const gz_off_t at = opts.by_line    ? gzstream::gzseek_line(h, opts.line)
                        : opts.byte > 0 ? gzstream::gzseek(h, opts.byte, 0)
                                        : 0;
    int status = 0;
    if (at < 0) {
        // Past the end writes nothing; damage on the way is a failure.
        if (gzstream::gztell(h) < 0) status = data_failure(h, opts);
    } else {
        switch (copy_range(h, opts.max_bytes, opts.max_lines)) {
            case copy_end::done:
            case copy_end::reader_gone:
                break;
            case copy_end::write_failed:
                status = 1;
                break;
            case copy_end::data_failed:
                status = data_failure(h, opts);
                break;
        }
    }
    if (status == 0) index.replace_if_refused(h);
    index.save(h, false);
    return status;
}

}  // namespace

int run(int argc, char** argv) {
    options opts;
    const int parsed = parse_options(argc, argv, opts);
    if (parsed >= 0) return parsed;
    // A reader that goes away early (| head) ends the output quietly.
    (void)std::signal(SIGPIPE, SIG_IGN);
    int status = 0;
    const handle h = open_data(opts, status);
    if (!h) return status;
    if (opts.what == task::verify) return verify(h.get(), opts);
    index_file index(opts);
    if (opts.what == task::build) return build(h.get(), index, opts);
    index.attach(h.get());
    if (opts.what == task::info) return info(h.get(), index, opts);
    return read_range(h.get(), index, opts);
}

}  // namespace zpress_read

int main(int argc, char** argv) { return zpress_read::run(argc, argv); }
