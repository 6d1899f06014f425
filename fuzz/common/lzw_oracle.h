// An independent .Z reader, used to judge what the codec delivers: the plain
// reference decoder of the codec's unit tests (lzw/tests/reference_lzw.cpp),
// written from the format description alone.  It takes only the codes a
// writer can make, so damaged data that the codec hands out as good output is
// a finding.
#pragma once

#include <cstddef>
#include <vector>

namespace fuzz {

struct lzw_verdict {
    bool refused = false;  // a bad header or a code no writer makes
    bool capped = false;   // decoding stopped at the cap; data is a prefix
    std::vector<unsigned char> data;  // what decodes before the refusal or cap
};

// Decodes the stream as the codec sees it on a descriptor holding these
// bytes: with `gotmagic` the first two bytes are taken for 1F 9D, and a
// header byte that the data does not deliver reads as 0.
lzw_verdict lzw_reference(const unsigned char* data, std::size_t size, bool gotmagic,
                          std::size_t cap);

// Whether a run of the codec agrees with the verdict: where the reference
// refuses, the codec fails with EINVAL after at most the bytes before the
// refusal; otherwise it ends normally with exactly the reference's bytes.
// `last` is the codec's last result (0 or -1) and `error` its errno;
// `capped` says the run stopped at a cap of its own before either end, so
// only its bytes can be compared.  The verdict's cap must be above the most
// such a run can deliver.
bool lzw_agrees(const lzw_verdict& v, const std::vector<unsigned char>& data, int last, int error,
                bool capped);

}  // namespace fuzz
