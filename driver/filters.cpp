#include "filters.h"

#include <unistd.h>

#include <cstdio>

#include "copy.h"
#include "raw_io.h"
#include "report.h"
#include "state.h"
#include "zpress/gzio.h"
#include "zpress/zopen.h"

namespace driver {
namespace {

void lzw_road() {
    lzw::lzw_handle* in = lzw::z_open(STDIN_FILENO, "r", 0, 0, 0, 1);
    if (in == nullptr) error("can't z_open\n");
    static unsigned char buf[BLOCK_SIZE];
    int n;
    while ((n = lzw::zread(in, buf, sizeof buf)) > 0) {
        if (!write_fully(STDOUT_FILENO, buf, static_cast<std::size_t>(n)))
            error("can't write output\n");
    }
    if (n < 0) error("can't zread\n");
    if (lzw::z_close(in, nullptr) < 0) error("can't z_close");
}

void gzip_road() {
    gzstream::gz_handle* in = gzstream::gzdopen_gotmagic(STDIN_FILENO, "rb");
    if (in == nullptr) error("can't gzdopen stdin");
    gz_uncompress(in, stdout);
}

}  // namespace

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
        lzw_road();
    } else if (magic[0] == 0x1F && magic[1] == 0x8B) {
        gzip_road();
    } else {
        error("not in gzip format");
    }
}

}  // namespace driver
