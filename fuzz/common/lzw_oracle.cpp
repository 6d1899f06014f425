#include "common/lzw_oracle.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "reference_lzw.h"

namespace fuzz {

lzw_verdict lzw_reference(const unsigned char* data, std::size_t size, bool gotmagic,
                          std::size_t cap) {
    lzw_ref::bytes z(data, data + size);
    if (gotmagic) {
        const std::size_t taken = std::min<std::size_t>(size, 2);
        z.erase(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(taken));
        z.insert(z.begin(), {0x1F, 0x9D});
    }
    if (z.size() < 3) z.resize(3, 0);
    lzw_ref::decode_result r = lzw_ref::decode(z, cap);
    lzw_verdict v;
    v.refused = !r.ok || r.rejected;
    v.capped = r.capped;
    v.data = std::move(r.data);
    return v;
}

bool lzw_agrees(const lzw_verdict& v, const std::vector<unsigned char>& data, int last, int error,
                bool capped) {
    const bool prefix = data.size() <= v.data.size() &&
                        std::equal(data.begin(), data.end(), v.data.begin());
    if (v.refused) return prefix && (capped || (last == -1 && error == EINVAL));
    if (capped) return prefix;
    return !v.capped && last == 0 && data == v.data;
}

}  // namespace fuzz
