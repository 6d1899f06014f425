#include "zlib_oracle.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace zpress_test {
namespace {

constexpr int kGzipWindowBits = 31;  // 15 + 16: gzip wrapper
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;
constexpr std::size_t kChunk = 16384;

bool starts_member(ByteView rest) { return rest.size() >= 2 && rest[0] == 0x1F && rest[1] == 0x8B; }

Bytes run_deflate(ByteView data, int level, int window_bits, int strategy,
                  const GzipFields* fields) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, window_bits, kMemLevel, strategy) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    gz_header header{};
    // The engine wants writable pointers; keep copies alive until the end.
    std::string name, comment;
    Bytes extra;
    if (fields != nullptr) {
        header.text = fields->text ? 1 : 0;
        header.os = 3;
        if (fields->extra) {
            extra = *fields->extra;
            header.extra = extra.data();
            header.extra_len = static_cast<uInt>(extra.size());
        }
        if (fields->name) {
            name = *fields->name;
            header.name = reinterpret_cast<Bytef*>(name.data());
        }
        if (fields->comment) {
            comment = *fields->comment;
            header.comment = reinterpret_cast<Bytef*>(comment.data());
        }
        header.hcrc = fields->header_crc ? 1 : 0;
        if (deflateSetHeader(&z, &header) != Z_OK) throw std::runtime_error("deflateSetHeader");
    }
    Bytes out;
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    int rc;
    do {
        const std::size_t had = out.size();
        out.resize(had + kChunk);
        z.next_out = out.data() + had;
        z.avail_out = kChunk;
        rc = deflate(&z, Z_FINISH);
        out.resize(had + kChunk - z.avail_out);
    } while (rc == Z_OK || rc == Z_BUF_ERROR);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

}  // namespace

GunzipResult inflate_gzip_strict(ByteView stream) {
    GunzipResult result;
    z_stream z{};
    if (inflateInit2(&z, kGzipWindowBits) != Z_OK) {
        result.error = "inflateInit2 failed";
        return result;
    }
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    unsigned char chunk[kChunk];
    for (;;) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int rc = inflate(&z, Z_NO_FLUSH);
        result.data.insert(result.data.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (rc == Z_STREAM_END) {
            ++result.members;
            if (z.avail_in == 0) {
                result.ok = true;
                break;
            }
            inflateReset(&z);
            continue;
        }
        if (rc == Z_OK) continue;
        if (rc == Z_BUF_ERROR && z.avail_in == 0)
            result.error = "stream cut off";
        else
            result.error = z.msg != nullptr ? z.msg : zError(rc);
        break;
    }
    inflateEnd(&z);
    return result;
}

TolerantResult inflate_gzip_tolerant(ByteView stream, std::size_t cap) {
    TolerantResult r;
    std::size_t at = 0;
    unsigned char out[kChunk];
    do {
        z_stream z{};
        if (inflateInit2(&z, kGzipWindowBits) != Z_OK) {
            r.outcome = Verdict::unknown;
            return r;
        }
        z.next_in = const_cast<Bytef*>(stream.data() + at);
        z.avail_in = static_cast<uInt>(stream.size() - at);
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
                r.outcome = Verdict::unknown;
                return r;
            }
        } while (rc == Z_OK);
        if (rc != Z_STREAM_END) {
            r.outcome = rc == Z_DATA_ERROR || rc == Z_BUF_ERROR ? Verdict::error : Verdict::unknown;
            inflateEnd(&z);
            return r;
        }
        at = stream.size() - z.avail_in;
        inflateEnd(&z);
    } while (starts_member(stream.subspan(at)));
    r.trailing = stream.size() - at;
    const ByteView rest = stream.subspan(at);
    if (std::any_of(rest.begin(), rest.end(), [](unsigned char c) { return c != 0; }))
        r.outcome = Verdict::error;
    return r;
}

Bytes gzip_reference(ByteView data, int level, int strategy, const GzipFields* fields) {
    return run_deflate(data, level, kGzipWindowBits, strategy, fields);
}

Bytes raw_deflate(ByteView data, int level, int strategy) {
    return run_deflate(data, level, kRawWindowBits, strategy, nullptr);
}

std::optional<Bytes> raw_inflate(ByteView deflate_data) {
    z_stream z{};
    if (inflateInit2(&z, kRawWindowBits) != Z_OK) return std::nullopt;
    z.next_in = const_cast<Bytef*>(deflate_data.data());
    z.avail_in = static_cast<uInt>(deflate_data.size());
    Bytes out;
    unsigned char chunk[kChunk];
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (rc == Z_OK);
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return std::nullopt;
    return out;
}

std::uint32_t crc32_of(ByteView data) {
    return crc32_update(static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0)), data);
}

std::uint32_t crc32_update(std::uint32_t start, ByteView data) {
    uLong crc = start;
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t n = std::min<std::size_t>(data.size() - done, UINT_MAX);
        crc = crc32(crc, data.data() + done, static_cast<uInt>(n));
        done += n;
    }
    return static_cast<std::uint32_t>(crc);
}

int first_block_type(ByteView deflate_data) {
    if (deflate_data.empty()) return -1;
    return (deflate_data[0] >> 1) & 3;  // bit 0 is BFINAL, bits 1-2 BTYPE
}

}  // namespace zpress_test
