#include "copy.h"

#include "raw_io.h"
#include "state.h"

namespace driver {

void gz_compress(std::FILE* in, gzstream::gz_handle* out, stream_name out_name) {
    static unsigned char buf[BLOCK_SIZE];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, in);
        if (std::ferror(in)) die_perror("fread");
        if (n == 0) break;
        if (gzstream::gzwrite(out, buf, static_cast<unsigned>(n)) != static_cast<int>(n))
            fail_stream(out, out_name);
    }
    std::fclose(in);
    if (gzstream::gzclose(out) != 0) error("failed gzclose");
}

void gz_uncompress(gzstream::gz_handle* in, std::FILE* out, stream_name in_name) {
    static unsigned char buf[INFLATE_BLOCK_SIZE];
    for (;;) {
        const int n = gzstream::gzread(in, buf, sizeof buf);
        if (n < 0) fail_stream(in, in_name);
        if (n == 0) break;
        if (std::fwrite(buf, 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n))
            error("failed fwrite");
    }
    if (std::fclose(out) != 0) error("failed fclose");
    if (gzstream::gzclose(in) != 0) error("failed gzclose");
}

void lzw_uncompress(lzw::lzw_handle* in, int out_fd) {
    static unsigned char buf[BLOCK_SIZE];
    int n;
    while ((n = lzw::zread(in, buf, sizeof buf)) > 0) {
        if (!write_fully(out_fd, buf, static_cast<std::size_t>(n))) error("can't write output\n");
    }
    if (n < 0) error("can't zread\n");
    if (lzw::z_close(in, nullptr) < 0) error("can't z_close");
}

}  // namespace driver
