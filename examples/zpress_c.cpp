// The C++ side of zpress_c.h: each function forwards to the gzip stream
// layer.  Compile this file with a C++20 compiler and link it, with
// zpress::gzstream, into the C program.
#include "zpress_c.h"

#include <zpress/gzio.h>

namespace {

// A zpc_file* is a gz_handle* under another name; zpc_file is never defined.
gzstream::gz_handle* handle(zpc_file* file) { return reinterpret_cast<gzstream::gz_handle*>(file); }

}  // namespace

extern "C" {

zpc_file* zpc_open(const char* path, const char* mode) {
    return reinterpret_cast<zpc_file*>(gzstream::gzopen(path, mode));
}

int zpc_read(zpc_file* file, void* buf, unsigned len) {
    return gzstream::gzread(handle(file), buf, len);
}

int zpc_write(zpc_file* file, const void* buf, unsigned len) {
    return gzstream::gzwrite(handle(file), buf, len);
}

const char* zpc_error(zpc_file* file) {
    int status = 0;
    return gzstream::gzerror(handle(file), &status);
}

int zpc_close(zpc_file* file) { return gzstream::gzclose(handle(file)); }

}  // extern "C"
