// Independent gzip/deflate oracle built on zlib's core engine only.  This
// header deliberately does not include zlib.h, so test files that use the
// stream layer (whose header shares names with zlib's) can include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "bytes.h"

namespace zpress_test {

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

// Decodes one or more concatenated gzip members with inflate (window bits 31)
// and checks everything zlib checks, header CRC and ISIZE included.  Anything
// after the last member, or a damaged member, makes the result not ok.  For
// judging what the stream layer writes.
GunzipResult inflate_gzip_strict(ByteView stream);

enum class Verdict {
    ok,       // every member decodes and checks; only zero bytes follow the last
    error,    // damaged: a reader must report an error
    unknown,  // the cap was hit, or the engine failed in a way that tells nothing
};

struct TolerantResult {
    Bytes data;  // what decoded before the verdict, at most the cap
    Verdict outcome = Verdict::ok;
    std::size_t trailing = 0;  // bytes after the last member (zero bytes when ok)
};

// Decodes the members of a stream that begins with the gzip magic, the way
// the stream layer reads: after a member, bytes that do not begin with 1F 8B
// end the stream, and they must all be zero bytes (padding), else the stream
// is damaged (a wrong header CRC or ISIZE included); output past `cap`
// gives `unknown`.  `data` is every byte inflate gives before the verdict,
// also from a cut stream.  For judging what the stream layer reads.
TolerantResult inflate_gzip_tolerant(ByteView stream, std::size_t cap);

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
