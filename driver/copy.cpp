#include "copy.h"

#include "raw_io.h"

namespace driver {

outcome gz_compress(stdio_stream& in, gz_writer& out, copy_buffers& buffers) {
    unsigned char* const buf = buffers.block;
    for (;;) {
        const std::size_t n = std::fread(buf, 1, BLOCK_SIZE, in.get());
        if (std::ferror(in.get()) != 0) return system_error("fread");
        if (n == 0) break;
        if (gzstream::gzwrite(out.get(), buf, static_cast<unsigned>(n)) != static_cast<int>(n))
            return fail_stream(out.get());
    }
    in.reset();  // everything was read: how the close goes changes nothing
    if (gzstream::gzclose(out.release()) != 0) return error("failed gzclose");
    return outcome::done;
}

outcome gz_uncompress(gz_reader& in, stdio_stream& out, copy_buffers& buffers) {
    unsigned char* const buf = buffers.inflate_block;
    for (;;) {
        const int n = gzstream::gzread(in.get(), buf, INFLATE_BLOCK_SIZE);
        if (n < 0) return fail_stream(in.get());
        if (n == 0) break;
        if (std::fwrite(buf, 1, static_cast<std::size_t>(n), out.get()) !=
            static_cast<std::size_t>(n))
            return error("failed fwrite");
    }
    const bool keep_open = out.get_deleter().keep_open;
    std::FILE* const file = out.release();
    if ((keep_open ? std::fflush(file) : std::fclose(file)) != 0) return error("failed fclose");
    if (gzstream::gzclose(in.release()) != 0) return error("failed gzclose");
    return outcome::done;
}

outcome lzw_uncompress(lzw_reader& in, int out_fd, copy_buffers& buffers) {
    unsigned char* const buf = buffers.block;
    int n;
    while ((n = lzw::zread(in.get(), buf, BLOCK_SIZE)) > 0) {
        if (!write_fully(out_fd, buf, static_cast<std::size_t>(n)))
            return error("can't write output\n");
    }
    if (n < 0) return error("can't zread\n");
    if (lzw::z_close(in.release(), nullptr) < 0) return error("can't z_close");
    return outcome::done;
}

}  // namespace driver
