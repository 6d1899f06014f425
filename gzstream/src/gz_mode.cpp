#include "gz_mode.h"

namespace gzstream {

gz_mode parse_mode(const char* mode) {
    gz_mode m;
    for (const char* p = mode; *p != '\0'; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            m.level = c - '0';
            continue;
        }
        switch (c) {
            case 'f':
                m.strategy = 1;  // Z_FILTERED
                break;
            case 'h':
                m.strategy = 2;  // Z_HUFFMAN_ONLY
                break;
            case 'R':
                m.strategy = 3;  // Z_RLE
                break;
            case 'r':
                m.direction = 'r';
                break;
            case 'w':
            case 'a':
                m.direction = 'w';
                m.append = c == 'a';
                break;
            case 'x':
                m.exclusive = true;
                break;
            default:
                break;
        }
    }
    if (m.direction != 'w') m.exclusive = m.append = false;
    return m;
}

const char* fopen_mode(const gz_mode& m) {
    if (m.direction == 'r') return "rbe";
    if (m.append) return m.exclusive ? "abxe" : "abe";
    return m.exclusive ? "wbxe" : "wbe";
}

const char* fdopen_mode(const gz_mode& m) {
    if (m.direction == 'r') return "rb";
    return m.append ? "ab" : "wb";
}

}  // namespace gzstream
