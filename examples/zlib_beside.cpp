// zlib.h and zpress/zpress.hpp in one file, in that order: zlib for a CRC of
// its own, zpress for the files.  Built with -D_FILE_OFFSET_BITS=64, under
// which zlib.h renames several of its gz functions with macros.
//
//   zlib_beside FILE...     reads each file line by line (gzip or plain) and
//                           prints "<CRC-32 of the data> <lines> <file>"
//   zlib_beside --write     writes known lines with ogzstream into a string
//                           stream, reads them back through igzstream and
//                           checks them, then prints the gzip data
//   zlib_beside --decode-z FILE.Z   prints the decoded data
//   zlib_beside --expect-damage FILE   succeeds only when reading FILE sets
//                                      badbit and, with exceptions enabled,
//                                      throws zpress::error
#include <zlib.h>
// clang-format off
#include <zpress/zpress.hpp>
// clang-format on

#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

int summarize(const char* path) {
    zpress::igzstream in(path);
    if (!in) {
        std::cerr << "zlib_beside: " << in.last_error() << '\n';
        return 1;
    }
    uLong crc = ::crc32(0L, Z_NULL, 0);
    long lines = 0;
    std::string line;
    while (std::getline(in, line)) {
        ++lines;
        if (!in.eof()) line += '\n';  // getline removed it
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(line.data()),
                      static_cast<uInt>(line.size()));
    }
    if (in.bad()) {
        std::cerr << "zlib_beside: " << in.last_error() << '\n';
        return 1;
    }
    std::cout << std::hex << crc << std::dec << ' ' << lines << ' ' << path << '\n';
    return 0;
}

int write_and_read_back() {
    std::stringstream gz;
    {
        zpress::ogzstream out(gz, 9);
        for (int i = 0; i < 1000; ++i) out << "line " << i << '\n';
        out.close();
        if (!out) return 1;
    }
    std::istringstream source(gz.str());
    zpress::igzstream in(source);
    std::string line;
    int i = 0;
    while (std::getline(in, line))
        if (line != "line " + std::to_string(i++)) return 1;
    if (in.bad() || i != 1000) return 1;
    std::cout << gz.str();
    return std::cout ? 0 : 1;
}

int decode_z(const char* path) {
    zpress::ilzwstream in(path);
    std::cout << std::string(std::istreambuf_iterator<char>(in), {});
    return in ? 0 : 1;
}

int expect_damage(const char* path) {
    {
        zpress::igzstream in(path);
        std::string line;
        while (std::getline(in, line)) {
        }
        if (!in.bad()) return 1;
    }
    zpress::igzstream in(path);
    in.exceptions(std::ios::badbit);
    try {
        std::string line;
        while (std::getline(in, line)) {
        }
    } catch (const zpress::error& e) {
        std::cout << "damage reported: " << e.what() << '\n';
        return 0;
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--write") == 0) return write_and_read_back();
    if (argc == 3 && std::strcmp(argv[1], "--decode-z") == 0) return decode_z(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--expect-damage") == 0) return expect_damage(argv[2]);
    int status = 0;
    for (int i = 1; i < argc; ++i) status |= summarize(argv[i]);
    return status;
}
