#include "gz_mode.h"

namespace gzstream {

gz_mode parse_mode(const char* mode) {
    gz_mode m;
    int copied = 0;
    for (const char* p = mode;; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            m.level = c - '0';
            continue;
        }
        switch (c) {
            case 'f':
                m.strategy = 1;
                continue;  // Z_FILTERED
            case 'h':
                m.strategy = 2;
                continue;  // Z_HUFFMAN_ONLY
            case 'R':
                m.strategy = 3;
                continue;  // Z_RLE
            case 'r':
                m.direction = 'r';
                break;
            case 'w':
            case 'a':
                m.direction = 'w';
                break;
            default:
                break;
        }
        if (copied == MODE_COPY_SIZE - 1) {
            m.stdio_mode[copied] = '\0';
            break;
        }
        m.stdio_mode[copied++] = c;
        if (c == '\0') break;
    }
    return m;
}

}  // namespace gzstream
