// Builds gzip members byte by byte from their parts, so that tests can make
// exactly the header, deflate data and trailer they need (odd flags, cut
// fields, wrong checksums).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "zlib_oracle.h"

namespace zpress_test {

inline constexpr unsigned char kFlagText = 0x01;
inline constexpr unsigned char kFlagHeaderCrc = 0x02;
inline constexpr unsigned char kFlagExtra = 0x04;
inline constexpr unsigned char kFlagName = 0x08;
inline constexpr unsigned char kFlagComment = 0x10;

// The parts of a member header.  The optional fields are written when their
// flag bit is set in `flags` (an absent value is written empty); other bits of
// `flags` go into FLG unchanged.
struct HeaderParts {
    unsigned char flags = kFlagName;
    unsigned char method = 8;
    std::uint32_t mtime = 0;
    unsigned char xfl = 0;
    unsigned char os = 3;
    Bytes extra;
    std::string name = "member";
    std::string comment;

    HeaderParts with_flags(unsigned char f) const { return with(&HeaderParts::flags, f); }
    HeaderParts with_method(unsigned char m) const { return with(&HeaderParts::method, m); }
    HeaderParts with_extra(Bytes e) const { return with(&HeaderParts::extra, std::move(e)); }
    HeaderParts with_name(std::string n) const { return with(&HeaderParts::name, std::move(n)); }
    HeaderParts with_comment(std::string c) const {
        return with(&HeaderParts::comment, std::move(c));
    }

  private:
    template <class T>
    HeaderParts with(T HeaderParts::*field, T value) const {
        HeaderParts copy = *this;
        copy.*field = std::move(value);
        return copy;
    }
};

// The header bytes; with kFlagHeaderCrc the two bytes are the low half of the
// CRC-32 of everything before them, as RFC 1952 defines.
Bytes gzip_header(const HeaderParts& parts = {});

// CRC-32 and ISIZE, little-endian.
Bytes gzip_trailer(std::uint32_t crc, std::uint32_t isize);

// A whole member of `plain`: header, raw deflate data at the given level and
// strategy, trailer.  The checksum and length can be overridden.
struct MemberParts {
    HeaderParts header;
    int level = 6;
    int strategy = kStrategyDefault;
    std::optional<std::uint32_t> crc;
    std::optional<std::uint32_t> isize;

    MemberParts with_header(HeaderParts h) const {
        MemberParts copy = *this;
        copy.header = std::move(h);
        return copy;
    }
    MemberParts with_level(int l) const {
        MemberParts copy = *this;
        copy.level = l;
        return copy;
    }
    MemberParts with_strategy(int s) const {
        MemberParts copy = *this;
        copy.strategy = s;
        return copy;
    }
    MemberParts with_crc(std::uint32_t c) const {
        MemberParts copy = *this;
        copy.crc = c;
        return copy;
    }
    MemberParts with_isize(std::uint32_t n) const {
        MemberParts copy = *this;
        copy.isize = n;
        return copy;
    }
};
Bytes gzip_member(ByteView plain, const MemberParts& parts = {});

}  // namespace zpress_test
