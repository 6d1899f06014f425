// An independent gzip reader built on zlib's own gzip decoding (inflate with
// window bits 31), used to judge what the stream layer delivers.  Kept apart
// from zpress/gzio.h: zlib.h defines some of that header's names as macros.
#pragma once

#include <cstddef>
#include <vector>

namespace fuzz {

enum class verdict {
    ok,       // every member decodes and checks; anything after the last is ignored
    error,    // damaged: a reader must report an error
    unknown,  // the two readers may disagree (header CRC, ISIZE) or the cap was hit
};

struct gunzip_result {
    std::vector<unsigned char> data;  // what decoded before the verdict, at most the cap
    verdict outcome = verdict::ok;
    std::size_t trailing = 0;  // bytes after the last member (ok only)
};

// Decodes the members of a stream that begins with the gzip magic.  After a
// member, bytes that do not begin with 1F 8B end the stream, as in the layer
// under test.  zlib also checks the header CRC and ISIZE, which the layer does
// not; those mismatches give `unknown`.
gunzip_result gunzip_reference(const unsigned char* data, std::size_t size, std::size_t cap);

}  // namespace fuzz
