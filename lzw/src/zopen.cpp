// Opening and closing of .Z streams, shared by both directions.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "lzw_handle.h"

namespace lzw {

namespace {

// Both openers: `io` null for a descriptor.
lzw_handle* z_open_with(int fd, const lzw_io* io, const char* mode, int bits, int gotmagic) {
    if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w') || mode[1] != '\0' || bits < 0 ||
        bits > max_width) {
        errno = EINVAL;
        return nullptr;
    }
    // Zeroed in one piece: the tables start clean and nothing is allocated later.
    auto* zs = static_cast<lzw_handle*>(std::calloc(1, sizeof(lzw_handle)));
    if (zs == nullptr) return nullptr;

    zs->zs_fd = fd;
    if (io != nullptr) zs->zs_io = *io;
    zs->zs_access = mode[0];
    zs->zs_phase = gotmagic != 0 ? PHASE_MAGIC_TAKEN : PHASE_FRESH;
    zs->zs_width_max = bits != 0 ? bits : max_width;
    zs->zs_table_limit = 1 << zs->zs_width_max;
    zs->zs_block_flag = block_mode;
    zs->zs_next_check = 10000;
    zs->zs_group_start = zs->zs_io_buf;
    if (zs->zs_access == 'r') zs->zs_reader.zs_data_end = zs->zs_io_buf;
    return zs;
}

}  // namespace

lzw_handle* z_open(int fd, const char* mode, int /*unused3*/, int bits, int /*unused5*/,
                   int gotmagic) {
    return z_open_with(fd, nullptr, mode, bits, gotmagic);
}

lzw_handle* z_open_io(const lzw_io* io, const char* mode, int bits, int gotmagic) {
    if (io == nullptr || mode == nullptr ||
        (mode[0] == 'r' ? io->read == nullptr : io->write == nullptr)) {
        errno = EINVAL;
        return nullptr;
    }
    return z_open_with(-1, io, mode, bits, gotmagic);
}

int z_close(lzw_handle* zs, lzw_info* info) {
    if (zs == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const bool output_failed = zs->zs_access == 'w' && finish_writer(zs) != 0;
    if (!output_failed && info != nullptr) {
        info->reserved0 = 0;
        info->reserved1 = 0xFFFFFFFFu;
        info->reserved2 = 0;
        info->zs_total_in = zs->zs_total_in;
        info->zs_total_out = zs->zs_total_out;
    }
    const int fd = zs->zs_fd;
    const bool own_fd = zs->zs_io.read == nullptr && zs->zs_io.write == nullptr;
    std::free(zs);
    if (!own_fd) return output_failed ? -1 : 0;
    if (output_failed) {
        const int saved = errno;  // the write failure matters more than close()'s view
        ::close(fd);
        errno = saved;
        return -1;
    }
    // Not retried on EINTR: Linux has released the descriptor either way.
    return ::close(fd);
}

}  // namespace lzw
