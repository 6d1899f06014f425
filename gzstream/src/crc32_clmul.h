// CRC-32 (the gzip trailer's check) by carry-less multiplication.
//
// zlib's table-driven crc32 runs at about 2 GB/s, which is a fifth of the time
// of decompressing text: the CRC of every output byte is as costly as a good
// part of the inflating itself.  Folding 64 bytes at a time with PCLMULQDQ
// runs several times faster (about 10 GB/s), and folding 256 bytes at a time
// with the 512-bit VPCLMULQDQ where the processor has it about four times
// faster still, which takes the CRC from some 5 % of the time of
// decompressing text to about 1 %.  Processors without either use zlib's crc32.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gzstream::engine {

// True when this processor can run crc32_clmul.
bool clmul_available();

// The folding paths.  `best` is the widest this processor has; the others
// let the tests reach each path whatever the processor would choose.
enum class fold_width { best, lanes_128, lanes_512 };
bool fold_available(fold_width width);

// Extends the CRC-32 `crc` (as zlib's crc32 takes and returns it) over the
// first `len` bytes of `data`, which must be at least 64; returns the number
// of bytes it took, a multiple of 16.  The caller finishes the rest.  The
// 512-bit path takes inputs of 256 bytes or more; shorter ones fold 128 bits
// at a time.
std::size_t crc32_clmul(std::uint32_t& crc, const unsigned char* data, std::size_t len,
                        fold_width width = fold_width::best);

// engine::crc32 on the given path, the byte-wise tail included: for tests.
std::uint32_t crc32_on(fold_width width, std::uint32_t crc, const unsigned char* data,
                       std::size_t len);

}  // namespace gzstream::engine
