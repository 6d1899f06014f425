// Decodes a .Z file (the compress format) to standard output with
// zpress::ilzwstream.  Without an argument it first writes a small .Z file of
// its own with zpress::olzwstream, decodes that and removes it.
//
//   z_decode [FILE.Z]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <zpress/zpress.hpp>

namespace {

// Writes the sample into a new file of this program's own; its name, or an
// empty one when that failed.
std::string write_sample() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/z_decode.XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        std::perror("z_decode: mkstemp");
        return "";
    }
    close(fd);
    zpress::olzwstream out(path);
    for (int i = 1; i <= 5; ++i) out << "sample line " << i << " of 5\n";
    out.close();
    if (!out) {
        std::cerr << "z_decode: " << out.last_error() << '\n';
        std::remove(path.c_str());
        return "";
    }
    return path;
}

int decode(const std::string& path) {
    zpress::ilzwstream in(path);
    if (!in) {
        std::cerr << "z_decode: " << in.last_error() << '\n';
        return 1;
    }
    char block[64 * 1024];
    while (in.read(block, sizeof block) || in.gcount() > 0) std::cout.write(block, in.gcount());
    if (in.bad()) {  // data that is not .Z, damage, or a failed read
        std::cerr << "z_decode: " << in.last_error() << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return decode(argv[1]);
    const std::string sample = write_sample();
    if (sample.empty()) return 1;
    const int status = decode(sample);
    std::remove(sample.c_str());  // the file this program made
    return status;
}
