// Helpers shared by the stream layer's tests: owning handles, whole-stream
// reads and opening a read handle on bytes held in memory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "mem_file.h"
#include "temp_io.h"
#include "zlib_oracle.h"
#include "zpress/gzio.h"

namespace zpress_test {

struct GzCloser {
    void operator()(gzstream::gz_handle* h) const { gzstream::gzclose(h); }
};
using GzPtr = std::unique_ptr<gzstream::gz_handle, GzCloser>;

// Closes the handle now and gives gzclose's status.
inline int close_handle(GzPtr& h) { return gzstream::gzclose(h.release()); }

// Closes a write handle and gives what the file at `path` decodes to, as
// read by zlib (not by our own reader); the stream must close and decode cleanly.
inline Bytes close_and_gunzip(GzPtr& h, const std::string& path) {
    EXPECT_EQ(close_handle(h), 0);
    const GunzipResult r = inflate_gzip_strict(read_file(path));
    EXPECT_TRUE(r.ok) << r.error;
    return r.data;
}

// A read handle on `data` through an in-memory descriptor (named "<fd:N>").
inline GzPtr open_bytes(ByteView data, const char* mode = "rb") {
    const int fd = memfd_with(data);
    gzstream::gz_handle* h = gzstream::gzdopen(fd, mode);
    if (h == nullptr) ::close(fd);
    return GzPtr(h);
}

struct ReadOutcome {
    Bytes data;
    int last = 0;  // the gzread result that ended the loop: 0 or negative
};

// gzread in `chunk`-byte calls until a call gives 0 or less.
inline ReadOutcome read_to_end(gzstream::gz_handle* h, std::size_t chunk) {
    ReadOutcome out;
    Bytes buf(chunk);
    for (;;) {
        const int n = gzstream::gzread(h, buf.data(), static_cast<unsigned>(chunk));
        if (n <= 0) {
            out.last = n;
            return out;
        }
        out.data.insert(out.data.end(), buf.begin(), buf.begin() + n);
    }
}

inline std::string error_of(gzstream::gz_handle* h, int* code = nullptr) {
    int ignored = 0;
    return gzstream::gzerror(h, code != nullptr ? code : &ignored);
}

}  // namespace zpress_test
