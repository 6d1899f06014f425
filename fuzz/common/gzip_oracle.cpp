#include "gzip_oracle.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace fuzz {
namespace {

constexpr int kGzipWindowBits = 31;  // 15-bit window, gzip wrapper only

bool starts_member(const unsigned char* p, std::size_t left) {
    return left >= 2 && p[0] == 0x1F && p[1] == 0x8B;
}

// zlib checks two fields that the layer under test skips by design.
bool only_zlib_checks(const z_stream& z) {
    return z.msg != nullptr && (std::strcmp(z.msg, "incorrect length check") == 0 ||
                                std::strcmp(z.msg, "header crc mismatch") == 0);
}

}  // namespace

gunzip_result gunzip_reference(const unsigned char* data, std::size_t size, std::size_t cap) {
    gunzip_result r;
    std::size_t at = 0;
    unsigned char out[16384];
    do {
        z_stream z{};
        if (inflateInit2(&z, kGzipWindowBits) != Z_OK) {
            r.outcome = verdict::unknown;
            return r;
        }
        z.next_in = const_cast<Bytef*>(data + at);
        z.avail_in = static_cast<uInt>(size - at);
        int rc;
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            rc = inflate(&z, Z_NO_FLUSH);
            const std::size_t produced = sizeof out - z.avail_out;
            const std::size_t room = cap - r.data.size();
            r.data.insert(r.data.end(), out, out + std::min(produced, room));
            if (produced > room) {
                inflateEnd(&z);
                r.outcome = verdict::unknown;
                return r;
            }
        } while (rc == Z_OK);
        if (rc != Z_STREAM_END) {
            r.outcome = rc == Z_DATA_ERROR && !only_zlib_checks(z) ? verdict::error
                        : rc == Z_BUF_ERROR                        ? verdict::error
                                                                   : verdict::unknown;
            inflateEnd(&z);
            return r;
        }
        at = size - z.avail_in;
        inflateEnd(&z);
    } while (starts_member(data + at, size - at));
    r.trailing = size - at;
    return r;
}

}  // namespace fuzz
