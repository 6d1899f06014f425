#include "index_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zpress_read {

void index_file::attach(gzstream::gz_handle* h) {
    if (opts_.no_index) {
        // A read makes one seek: places it cannot keep are not worth noting.
        // --info needs them for its counts.
        if (opts_.what == task::read)
            gzstream::gzindex_budget(h, 0);
        else
            gzstream::gzrewind(h);
        return;
    }
    if (gzstream::gzindex_load(h, opts_.index.c_str()) == 0) {
        loaded_points_ = gzstream::gzindex_points(h);
        // Only the load of an older file decodes the whole data (to check
        // it), which leaves the line total known: saved again, the next
        // run loads it without that decode.
        older_format_ = gzstream::gzindex_lines(h) >= 0;
        return;
    }
    const int reason = errno;
    // A handle notes places once it has rewound: from here on it does.
    gzstream::gzrewind(h);
    if (reason == ENOENT) return;
    rebuild(h, reason);
}

void index_file::rebuild(gzstream::gz_handle* h, int reason) {
    (void)std::fprintf(stderr, "%s: %s: %s; rebuilding it\n", kProgram, opts_.index.c_str(),
                       reason == EINVAL ? "index refused: not an index of this file as it is now"
                                        : std::strerror(reason));
    // Damaged data is reported by the read that meets it: start afresh.
    if (gzstream::gzindex_build(h) != 0) gzstream::gzrewind(h);
}

void index_file::replace_if_refused(gzstream::gz_handle* h) {
    if (opts_.no_index || gzstream::gzindex_refused(h) != 1) return;
    rebuild(h, EINVAL);
    loaded_points_ = 0;
}

bool index_file::save(gzstream::gz_handle* h, bool must) {
    if (opts_.no_index) return true;
    const gz_off_t points = gzstream::gzindex_points(h);
    if (!must && points <= loaded_points_ && !older_format_) return true;
    if (gzstream::gzindex_save(h, opts_.index.c_str()) == 0 || !must) return true;
    (void)std::fprintf(stderr, "%s: %s: %s\n", kProgram, opts_.index.c_str(), std::strerror(errno));
    return false;
}

long long index_file::size() const {
    struct stat st;
    if (opts_.no_index || ::stat(opts_.index.c_str(), &st) != 0) return 0;
    return static_cast<long long>(st.st_size);
}

}  // namespace zpress_read
