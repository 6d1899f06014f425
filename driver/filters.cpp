#include "filters.h"

#include <unistd.h>

#include <cstdio>

#include "copy.h"
#include "raw_io.h"
#include "report.h"
#include "zpress/gzio.h"
#include "zpress/zopen.h"

namespace driver {

void compress_filter(const char* mode) {
    gzstream::gz_handle* out = gzstream::gzdopen(STDOUT_FILENO, mode);
    if (out == nullptr) error("can't gzdopen stdout");
    gz_compress(stdin, out);
}

void decompress_filter() {
    // The magic bytes are read below stdio so that everything after them stays
    // in the descriptor for the reader that takes over.  A pipe may deliver
    // them one at a time.
    unsigned char magic[2];
    if (read_fully(STDIN_FILENO, magic, sizeof magic) != 2) error("can't read header\n");
    if (magic[0] == 0x1F && magic[1] == 0x9D) {
        lzw::lzw_handle* in = lzw::z_open(STDIN_FILENO, "r", 0, 0, 0, 1);
        if (in == nullptr) error("can't z_open\n");
        lzw_uncompress(in, STDOUT_FILENO);
    } else if (magic[0] == 0x1F && magic[1] == 0x8B) {
        gzstream::gz_handle* in = gzstream::gzdopen_gotmagic(STDIN_FILENO, "rb");
        if (in == nullptr) error("can't gzdopen stdin");
        gz_uncompress(in, stdout);
    } else {
        error("not in gzip format");
    }
}

}  // namespace driver
