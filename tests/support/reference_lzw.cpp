#include "reference_lzw.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <unordered_map>

namespace lzw_ref {

namespace {

constexpr int clear = 256;

// The width rule shared by both directions: the width grows once the next
// free code is above the last code the width can hold (at the largest width:
// never), and returns to 9 after a clear.
struct width_rule {
    int width_max;
    int width = 9;
    int widen_after = 511;

    bool must_change(int next_code, bool reset) const { return reset || next_code > widen_after; }
    void change(bool reset) {
        if (reset) {
            width = 9;
            widen_after = 511;
        } else {
            ++width;
            widen_after = width == width_max ? (1 << width_max) : (1 << width) - 1;
        }
    }
};

}  // namespace

void group_packer::put(int code, int width) {
    assert(group_.empty() || group_.front().second == width);
    group_.emplace_back(code, width);
    if (group_.size() == 8) close_group();
}

void group_packer::close_group() {
    if (group_.empty()) return;
    const Bytes g = pack_group(false);
    done_.insert(done_.end(), g.begin(), g.end());
    group_.clear();
}

Bytes group_packer::pack_group(bool cut) const {
    const int width = group_.front().second;
    int bits = 0;
    Bytes g(static_cast<std::size_t>(width), 0);
    for (const auto& [code, w] : group_) {
        for (int b = 0; b < w; ++b, ++bits) {
            auto& byte = g[static_cast<std::size_t>(bits / 8)];
            if ((code >> b) & 1) byte = static_cast<unsigned char>(byte | 1 << (bits % 8));
        }
    }
    if (cut) g.resize(static_cast<std::size_t>((bits + 7) / 8));
    return g;
}

Bytes group_packer::finish() const {
    Bytes all = done_;
    if (!group_.empty()) {
        const Bytes g = pack_group(true);
        all.insert(all.end(), g.begin(), g.end());
    }
    return all;
}

Bytes encode(const Bytes& in, int bits) {
    if (in.empty()) return {};
    const int width_max = bits == 0 ? 16 : bits;
    const int limit = 1 << width_max;
    std::unordered_map<int, int> table;  // prefix code * 256 + byte -> code
    table.reserve(1 << 17);
    group_packer packer;
    width_rule rule{width_max};
    int next_code = 257;
    bool reset = false;
    // The ratio check looks at the bytes written so far; the writer writes
    // its 8192-byte buffer out, in whole groups, when the next group would
    // not fit.
    std::size_t written = 0;
    long long total_in = 1;
    long long next_check = 10000;
    long long best_ratio = 0;

    auto emit = [&](int code) {
        packer.put(code, rule.width);
        if (rule.must_change(next_code, reset)) {
            packer.close_group();
            rule.change(reset);
            reset = false;
        }
        if (packer.complete_bytes() - written + static_cast<std::size_t>(rule.width) > 8192)
            written = packer.complete_bytes();
    };

    int prefix = in[0];
    for (std::size_t n = 1; n < in.size(); ++n) {
        const int c = in[n];
        ++total_in;
        const auto found = table.find(prefix * 256 + c);
        if (found != table.end()) {
            prefix = found->second;
            continue;
        }
        emit(prefix);
        if (next_code < limit) {
            table[prefix * 256 + c] = next_code++;
        } else if (total_in >= next_check) {
            next_check = total_in + 10000;
            const long long total_out = 3 + static_cast<long long>(written);
            long long ratio;
            if (total_in > 0x7FFFFF) {
                ratio = (total_out >> 8) == 0 ? INT_MAX : total_in / (total_out >> 8);
            } else {
                ratio = total_in * 256 / total_out;
            }
            if (ratio > best_ratio) {
                best_ratio = ratio;
            } else {
                best_ratio = 0;
                table.clear();
                next_code = 257;
                reset = true;
                emit(clear);
            }
        }
        prefix = c;
    }
    emit(prefix);

    Bytes out = {0x1F, 0x9D, static_cast<unsigned char>(0x80 | width_max)};
    const Bytes body = packer.finish();
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

decode_result decode(const Bytes& z, std::size_t max_output) {
    decode_result r;
    if (z.size() < 3 || z[0] != 0x1F || z[1] != 0x9D || (z[2] & 0x1F) > 16) return r;
    r.ok = true;
    const int width_max = z[2] & 0x1F;
    const bool block = (z[2] & 0x80) != 0;
    const int limit = 1 << width_max;
    width_rule rule{width_max};

    // Each entry is its prefix code plus one byte; codes below 256 are bytes.
    std::vector<int> prefix(65536, 0);
    Bytes suffix(65536, 0);
    int next_code = block ? 257 : 256;
    bool reset = false;
    std::size_t group_start = 3;
    int offset = 0;  // bits used in the current group
    // The next code, or -1 when no whole code is left in the data.
    auto next = [&]() -> int {
        const bool change = rule.must_change(next_code, reset);
        if (offset == 8 * rule.width || (change && offset > 0)) {
            group_start += static_cast<std::size_t>(rule.width);
            offset = 0;
        }
        if (change) {
            rule.change(reset);
            reset = false;
        }
        const std::size_t left = group_start < z.size() ? z.size() - group_start : 0;
        const std::size_t held = std::min(left, static_cast<std::size_t>(rule.width));
        if (offset + rule.width > static_cast<int>(8 * held)) return -1;
        int code = 0;
        for (int b = 0; b < rule.width; ++b) {
            const int bit = offset + b;
            if ((z[group_start + static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1)
                code |= 1 << b;
        }
        offset += rule.width;
        r.widest = std::max(r.widest, rule.width);
        ++r.codes;
        return code;
    };

    int code = next();
    if (code < 0) return r;
    if (code > 255) {  // the first code is a literal byte
        r.rejected = true;
        return r;
    }
    r.data.push_back(static_cast<unsigned char>(code));
    int prev_code = code;
    int lead = code;  // first byte of the string decoded last
    bool after_clear = false;
    Bytes reversed;
    while (r.data.size() < max_output && (code = next()) >= 0) {
        if (block && code == clear && !after_clear) {
            ++r.clears;
            next_code = 256;
            reset = true;
            after_clear = true;
            continue;
        }
        // After a clear only a literal byte; elsewhere a defined code, or the
        // one this code defines: the previous string plus its own first byte.
        const bool self = code == next_code && next_code < limit;
        if ((after_clear && code > 255) || (code >= next_code && !self)) {
            r.rejected = true;
            return r;
        }
        after_clear = false;
        const int read_code = code;
        reversed.clear();
        if (self) {
            reversed.push_back(static_cast<unsigned char>(lead));
            code = prev_code;
        }
        for (; code > 255; code = prefix[static_cast<std::size_t>(code)])
            reversed.push_back(suffix[static_cast<std::size_t>(code)]);
        reversed.push_back(static_cast<unsigned char>(code));
        lead = code;
        r.data.insert(r.data.end(), reversed.rbegin(), reversed.rend());
        if (next_code < limit) {
            prefix[static_cast<std::size_t>(next_code)] = prev_code;
            suffix[static_cast<std::size_t>(next_code)] = static_cast<unsigned char>(lead);
            ++next_code;
        }
        prev_code = read_code;
    }
    r.capped = r.data.size() >= max_output && code >= 0;
    return r;
}

decode_result decode_as_read(ByteView data, bool gotmagic, std::size_t max_output) {
    Bytes z(data.begin(), data.end());
    if (gotmagic) {
        z.erase(z.begin(),
                z.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(z.size(), 2)));
        z.insert(z.begin(), {0x1F, 0x9D});
    }
    return decode(z, max_output);
}

bool codec_agrees(const decode_result& ref, ByteView data, int last, int error, bool capped) {
    const bool prefix = zpress_test::is_prefix(data, ref.data);
    if (!ref.ok || ref.rejected) return prefix && (capped || (last == -1 && error == EINVAL));
    if (capped) return prefix;
    return !ref.capped && last == 0 &&
           std::equal(data.begin(), data.end(), ref.data.begin(), ref.data.end());
}

Bytes pack_codes(int flags, const std::vector<int>& codes) {
    const int width_max = flags & 0x1F;
    const bool block = (flags & 0x80) != 0;
    const int limit = 1 << width_max;
    width_rule rule{width_max};
    group_packer packer;
    int next_code = block ? 257 : 256;
    bool reset = false;
    bool after_clear = false;
    for (std::size_t n = 0; n < codes.size(); ++n) {
        const int code = codes[n];
        if (rule.must_change(next_code, reset)) {
            packer.close_group();
            rule.change(reset);
            reset = false;
        }
        packer.put(code, rule.width);
        if (n == 0) continue;  // the first code defines nothing
        if (block && code == clear && !after_clear) {
            next_code = 256;
            reset = true;
            after_clear = true;
        } else {
            after_clear = false;
            if (next_code < limit) ++next_code;
        }
    }
    Bytes out = {0x1F, 0x9D, static_cast<unsigned char>(flags)};
    const Bytes body = packer.finish();
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace lzw_ref
