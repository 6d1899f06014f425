#include "gzip_builder.h"

namespace zpress_test {
namespace {

void put_le(Bytes& out, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        out.push_back(static_cast<unsigned char>(value & 0xFF));
        value >>= 8;
    }
}

void put_text(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

}  // namespace

Bytes gzip_header(const HeaderParts& parts) {
    Bytes out{0x1F, 0x8B, parts.method, parts.flags};
    put_le(out, parts.mtime, 4);
    out.push_back(parts.xfl);
    out.push_back(parts.os);
    if (parts.flags & kFlagExtra) {
        put_le(out, static_cast<std::uint32_t>(parts.extra.size()), 2);
        out.insert(out.end(), parts.extra.begin(), parts.extra.end());
    }
    if (parts.flags & kFlagName) put_text(out, parts.name);
    if (parts.flags & kFlagComment) put_text(out, parts.comment);
    if (parts.flags & kFlagHeaderCrc) put_le(out, crc32_of(out) & 0xFFFF, 2);
    return out;
}

Bytes gzip_trailer(std::uint32_t crc, std::uint32_t isize) {
    Bytes out;
    put_le(out, crc, 4);
    put_le(out, isize, 4);
    return out;
}

Bytes gzip_member(ByteView plain, const MemberParts& parts) {
    const Bytes header = gzip_header(parts.header);
    const Bytes body = raw_deflate(plain, parts.level, parts.strategy);
    const Bytes trailer =
        gzip_trailer(parts.crc.value_or(crc32_of(plain)),
                     parts.isize.value_or(static_cast<std::uint32_t>(plain.size())));
    return concat({header, body, trailer});
}

}  // namespace zpress_test
