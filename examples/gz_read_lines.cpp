// Reads a gzip file (or a plain one) line by line with zpress::igzstream and
// prints each line with its number.  Damaged data is reported, never taken for
// the end of the file.
//
//   gz_read_lines FILE.gz
#include <zpress/zpress.hpp>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: gz_read_lines FILE.gz\n";
        return 2;
    }
    zpress::igzstream in(argv[1]);
    if (!in) {
        std::cerr << "gz_read_lines: " << in.last_error() << '\n';
        return 1;
    }
    // With badbit in the mask, damage arrives as zpress::error.
    in.exceptions(std::ios::badbit);
    try {
        std::string line;
        for (long number = 1; std::getline(in, line); ++number)
            std::cout << number << ": " << line << '\n';
    } catch (const zpress::error& e) {
        std::cerr << "gz_read_lines: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
