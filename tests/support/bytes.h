// The one byte-buffer type of the test code, and the few things every test
// does with byte strings.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

namespace zpress_test {

using Bytes = std::vector<unsigned char>;
using ByteView = std::span<const unsigned char>;

inline Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The concatenation of byte strings.
inline Bytes concat(std::initializer_list<ByteView> parts) {
    Bytes out;
    for (ByteView part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline bool is_prefix(ByteView part, ByteView whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Whether the shorter of the two is a prefix of the longer: two readers that
// stop at different points still agree on what both delivered.
inline bool agree_on_common_part(ByteView a, ByteView b) {
    const std::size_t n = std::min(a.size(), b.size());
    return std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
}

}  // namespace zpress_test
