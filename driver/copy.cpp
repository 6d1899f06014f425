#include "copy.h"

#include "report.h"
#include "state.h"

namespace driver {

void gz_compress(std::FILE* in, gzstream::gz_handle* out) {
    static unsigned char buf[BLOCK_SIZE];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, in);
        if (std::ferror(in)) die_perror("fread");
        if (n == 0) break;
        if (gzstream::gzwrite(out, buf, static_cast<unsigned>(n)) != static_cast<int>(n)) {
            int ignored;
            error(gzstream::gzerror(out, &ignored));
        }
    }
    std::fclose(in);
    if (gzstream::gzclose(out) != 0) error("failed gzclose");
}

void gz_uncompress(gzstream::gz_handle* in, std::FILE* out) {
    static unsigned char buf[BLOCK_SIZE];
    for (;;) {
        const int n = gzstream::gzread(in, buf, sizeof buf);
        if (n < 0) {
            int ignored;
            error(gzstream::gzerror(in, &ignored));
        }
        if (n == 0) break;
        if (std::fwrite(buf, 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n))
            error("failed fwrite");
    }
    if (std::fclose(out) != 0) error("failed fclose");
    if (gzstream::gzclose(in) != 0) error("failed gzclose");
}

}  // namespace driver
