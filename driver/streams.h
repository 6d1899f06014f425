// Owners of the streams that the copy loops move data between.  A copy loop
// that completes closes its streams itself and checks the results; an owner
// that still holds a stream closes it when it goes, after a failure.
#pragma once

#include <cstdio>
#include <memory>

#include "zpress/gzio.h"
#include "zpress/zopen.h"

namespace driver {

// Standard output under "-c" is kept open for the next job.
struct stdio_closer {
    bool keep_open = false;
    void operator()(std::FILE* file) const noexcept {
        // Only the release on a path that failed already: the copy loops
        // close their streams themselves and check the result.
        if (!keep_open) (void)std::fclose(file);
    }
};
using stdio_stream = std::unique_ptr<std::FILE, stdio_closer>;

struct gz_reader_closer {
    void operator()(gzstream::gz_handle* stream) const noexcept { gzstream::gzclose(stream); }
};
using gz_reader = std::unique_ptr<gzstream::gz_handle, gz_reader_closer>;

// A gzip stream being written, on descriptor `fd`.  Closing a write stream
// finishes its member, and the trailer would make a member cut short by a
// failure look complete; so one that is given up is not finished: its
// descriptor is pointed at /dev/null before the close.  A confined filter
// can open nothing and hands over `null_device`, opened beforehand.
struct gz_writer_discarder {
    int fd = -1;
    int null_device = -1;
    void operator()(gzstream::gz_handle* stream) const noexcept;
};
using gz_writer = std::unique_ptr<gzstream::gz_handle, gz_writer_discarder>;

struct lzw_reader_closer {
    void operator()(lzw::lzw_handle* stream) const noexcept { lzw::z_close(stream, nullptr); }
};
using lzw_reader = std::unique_ptr<lzw::lzw_handle, lzw_reader_closer>;

}  // namespace driver
