#include "filters.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "copy.h"
#include "raw_io.h"
#include "sandbox.h"
#include "streams.h"
#include "unique_fd.h"

namespace driver {
namespace {

// Above the standard descriptors: one that was closed at the start must stay
// closed, so that its filter fails as it would have.
unique_fd open_null_device() {
    unique_fd fd(open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!fd || fd.get() > STDERR_FILENO) return fd;
    return unique_fd(fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

}  // namespace

// The filters confine themselves before the first byte of input is read: the
// magic bytes and the gzip header are the input's too, and nothing after the
// null device's open needs a right that the sandbox takes away.

outcome compress_filter(const options& opts, copy_buffers& buffers) {
    // A stream given up after a failure must not be finished (streams.h): its
    // descriptor is pointed at the null device, opened while files still can
    // be.
    const unique_fd null_device = open_null_device();
    if (opts.confine) (void)confine_to_open_descriptors();
    gz_writer out(gzstream::gzdopen(STDOUT_FILENO, opts.mode), {STDOUT_FILENO, null_device.get()});
    if (!out) return error("can't gzdopen stdout");
    stdio_stream in(stdin);
    return gz_compress(in, out, buffers);
}

outcome decompress_filter(const options& opts, copy_buffers& buffers) {
    if (opts.confine) (void)confine_to_open_descriptors();
    // The magic bytes are read below stdio so that everything after them stays
    // in the descriptor for the reader that takes over.  A pipe may deliver
    // them one at a time.
    unsigned char magic[2];
    if (read_fully(STDIN_FILENO, magic, sizeof magic) != 2) return error("can't read header\n");
    if (magic[0] == 0x1F && magic[1] == 0x9D) {
        lzw_reader in(lzw::z_open(STDIN_FILENO, "r", 0, 0, 0, 1));
        if (!in) return error("can't z_open\n");
        return lzw_uncompress(in, STDOUT_FILENO, buffers);
    }
    if (magic[0] == 0x1F && magic[1] == 0x8B) {
        gz_reader in(gzstream::gzdopen_gotmagic(STDIN_FILENO, "rb"));
        if (!in) return error("can't gzdopen stdin");
        stdio_stream out(stdout);
        return gz_uncompress(in, out, buffers);
    }
    return error("not in gzip format");
}

}  // namespace driver
