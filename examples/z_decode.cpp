// Decodes a .Z file (the compress format) to standard output with
// zpress::ilzwstream.  Without an argument it first writes a small .Z file
// with zpress::olzwstream and decodes that.
//
//   z_decode [FILE.Z]
#include <zpress/zpress.hpp>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "";
    if (path.empty()) {
        path = "z_decode_sample.Z";
        zpress::olzwstream out(path);
        for (int i = 1; i <= 5; ++i) out << "sample line " << i << " of 5\n";
        out.close();
        if (!out) {
            std::cerr << "z_decode: " << out.last_error() << '\n';
            return 1;
        }
    }
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
    if (argc <= 1) std::remove(path.c_str());
    return 0;
}
