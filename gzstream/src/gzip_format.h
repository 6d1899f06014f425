// The gzip member format (RFC 1952) as this layer writes and reads it: the
// fixed header bytes, the flag bits, and the sizes of the fixed parts.
#pragma once

namespace gzstream::gzip {

inline constexpr unsigned char kMagic1 = 0x1F;
inline constexpr unsigned char kMagic2 = 0x8B;
inline constexpr unsigned char kMethodDeflate = 8;  // CM: the only method defined
inline constexpr unsigned char kOsUnix = 3;

// FLG bits.  The text bit (0x01) carries no meaning for a reader.
inline constexpr int kFlagHeaderCrc = 0x02;  // FHCRC: two bytes after the other fields
inline constexpr int kFlagExtra = 0x04;      // FEXTRA: two-byte length, then the field
inline constexpr int kFlagName = 0x08;       // FNAME: NUL-terminated
inline constexpr int kFlagComment = 0x10;    // FCOMMENT: NUL-terminated
inline constexpr int kFlagReserved = 0xE0;   // must be zero

// ID1 ID2 CM FLG, MTIME (4), XFL, OS.
inline constexpr unsigned kFixedHeaderSize = 10;

}  // namespace gzstream::gzip
