// Independent gzip/deflate oracle built on zlib's core engine only.  This
// header deliberately does not include zlib.h, so test files that use the
// stream layer (whose header shares names with zlib's) can include it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zpress_test {

using Bytes = std::vector<unsigned char>;
using ByteView = std::span<const unsigned char>;

// Strategy codes as the engine numbers them (4, fixed Huffman codes only, is
// not offered by the stream layer but is handy for building members).
inline constexpr int kStrategyDefault = 0;
inline constexpr int kStrategyFiltered = 1;
inline constexpr int kStrategyHuffmanOnly = 2;
inline constexpr int kStrategyRle = 3;
inline constexpr int kStrategyFixed = 4;

struct GunzipResult {
    bool ok = false;
    Bytes data;
    int members = 0;
    std::string error;  // empty when ok
};

// Decodes one or more concatenated gzip members with inflate (window bits 31).
// Anything after the last member, or a damaged member, makes the result not ok.
GunzipResult gunzip(ByteView stream);

// Header fields for gzip_reference; absent fields are not written.
struct GzipFields {
    std::optional<std::string> name;
    std::optional<std::string> comment;
    std::optional<Bytes> extra;
    bool header_crc = false;
    bool text = false;
};

// A reference gzip member written by deflate itself (window bits 31).
Bytes gzip_reference(ByteView data, int level = 6, int strategy = kStrategyDefault,
                     const GzipFields* fields = nullptr);

// Raw deflate data (window bits -15) of the whole input, finished.
Bytes raw_deflate(ByteView data, int level = 6, int strategy = kStrategyDefault);

// Raw inflate of one deflate stream; nullopt when the data is damaged or cut.
std::optional<Bytes> raw_inflate(ByteView deflate_data);

std::uint32_t crc32_of(ByteView data);
// Continues a CRC-32 (start from crc32_of({})) over more data.
std::uint32_t crc32_update(std::uint32_t crc, ByteView data);

// BTYPE of the first block of raw deflate data: 0 stored, 1 fixed, 2 dynamic.
int first_block_type(ByteView deflate_data);

}  // namespace zpress_test
