// Writes a few lines into a gzip file with gzprintf, reads them back line by
// line with gzgets and prints them.  Exits with status 1 if anything read
// differs from what was written, or if any call fails.
//
//   gz_lines [FILE]    (default: gz_lines.gz in the current directory;
//                       the file is removed again on success)
#include <zpress/gzio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kLineCount = 5;

// The text line `i` should have, built without printf so that it checks
// gzprintf's formatting as well as the round trip.
std::string line_text(int i) {
    return "line " + std::to_string(i) + " of " + std::to_string(kLineCount) + ": " +
           std::string(static_cast<std::size_t>(i) * 7, 'z') + "\n";
}

int fail(const char* what, const char* path) {
    std::fprintf(stderr, "gz_lines: %s: %s\n", path, what);
    return 1;
}

bool write_lines(const char* path) {
    gzstream::gz_handle* out = gzstream::gzopen(path, "wb9");
    if (out == nullptr) return false;
    bool ok = true;
    for (int i = 1; i <= kLineCount; ++i) {
        const std::string padding(static_cast<std::size_t>(i) * 7, 'z');
        const int written =
            gzstream::gzprintf(out, "line %d of %d: %s\n", i, kLineCount, padding.c_str());
        if (written != static_cast<int>(line_text(i).size())) ok = false;
    }
    // gzclose writes the trailer (CRC-32 and length): its result matters.
    return gzstream::gzclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "gz_lines.gz";

    if (!write_lines(path)) return fail("writing failed", path);

    gzstream::gz_handle* in = gzstream::gzopen(path, "rb");
    if (in == nullptr) return fail("can't open for reading", path);

    std::vector<std::string> lines;
    char buf[256];
    while (gzstream::gzgets(in, buf, sizeof buf) != nullptr) {
        lines.emplace_back(buf);
        std::fputs(buf, stdout);
    }
    int status = 0;
    gzstream::gzerror(in, &status);
    // gzclose reports a damaged end that the last gzgets met.
    const bool closed = gzstream::gzclose(in) == 0;
    if (status < 0 || !closed) return fail("reading failed", path);

    if (lines.size() != kLineCount) return fail("wrong number of lines", path);
    for (int i = 1; i <= kLineCount; ++i) {
        if (lines[static_cast<std::size_t>(i - 1)] != line_text(i))
            return fail("line differs", path);
    }
    std::remove(path);
    std::printf("gz_lines: %d lines read back intact\n", kLineCount);
    return 0;
}
