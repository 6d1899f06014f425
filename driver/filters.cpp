#include "filters.h"

#include <unistd.h>

#include <cstdio>

#include "copy.h"
#include "raw_io.h"
#include "streams.h"

namespace driver {

outcome compress_filter(const char* mode, copy_buffers& buffers) {
    gz_writer out(gzstream::gzdopen(STDOUT_FILENO, mode), {STDOUT_FILENO});
    if (!out) return error("can't gzdopen stdout");
    stdio_stream in(stdin);
    return gz_compress(in, out, buffers);
}

outcome decompress_filter(copy_buffers& buffers) {
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
