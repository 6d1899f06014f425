// Writes a few lines into a gzip file with gzprintf, reads them back line by
// line with gzgets and prints them.  Exits with status 1 if anything read
// differs from what was written, or if any call fails.
//
//   gz_lines      (works on a temporary file of its own, removed at the end)
#include <unistd.h>
#include <zpress/gzio.h>

#include <cstdio>
#include <cstdlib>
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

// Writes the lines through the descriptor of a file just created; the handle
// owns the descriptor once it is open, and is called by the file's name.
bool write_lines(int fd, const char* path) {
    gzstream::gz_handle* out = gzstream::gzdopen_named(fd, path, "wb9");
    if (out == nullptr) {
        close(fd);
        return false;
    }
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

// Reads the lines back and prints them; false if any call fails.
bool read_lines(const char* path, std::vector<std::string>& lines) {
    gzstream::gz_handle* in = gzstream::gzopen(path, "rb");
    if (in == nullptr) return false;
    char buf[256];
    while (gzstream::gzgets(in, buf, sizeof buf) != nullptr) {
        lines.emplace_back(buf);
        std::fputs(buf, stdout);
    }
    int status = 0;
    gzstream::gzerror(in, &status);
    // gzclose reports a damaged end that the last gzgets met.
    return gzstream::gzclose(in) == 0 && status >= 0;
}

const char* check(const char* path) {
    std::vector<std::string> lines;
    if (!read_lines(path, lines)) return "reading failed";
    if (lines.size() != kLineCount) return "wrong number of lines";
    for (int i = 1; i <= kLineCount; ++i) {
        if (lines[static_cast<std::size_t>(i - 1)] != line_text(i)) return "line differs";
    }
    return nullptr;
}

}  // namespace

int main() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/gz_lines.XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        std::perror("gz_lines: mkstemp");
        return 1;
    }
    const char* failure = write_lines(fd, path.c_str()) ? check(path.c_str()) : "writing failed";
    std::remove(path.c_str());  // the file this program made, whatever happened
    if (failure != nullptr) {
        std::fprintf(stderr, "gz_lines: %s: %s\n", path.c_str(), failure);
        return 1;
    }
    std::printf("gz_lines: %d lines read back intact\n", kLineCount);
    return 0;
}
