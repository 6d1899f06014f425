// GNU-style options (grouped short options, "--", --help, --version) read
// with getopt_long.  Usage errors are reported on standard error, each
// followed by a pointer to --help, and end with status 2.
#include "options.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

namespace zpress_read {
namespace {

enum long_only { kNoIndex = 256, kBuild, kVerify, kInfo };

constexpr const char* kShort = "b:n:L:l:I:hV";
constexpr option kLong[] = {
    {"byte", required_argument, nullptr, 'b'},  {"bytes", required_argument, nullptr, 'n'},
    {"line", required_argument, nullptr, 'L'},  {"lines", required_argument, nullptr, 'l'},
    {"index", required_argument, nullptr, 'I'}, {"no-index", no_argument, nullptr, kNoIndex},
    {"build", no_argument, nullptr, kBuild},    {"verify", no_argument, nullptr, kVerify},
    {"info", no_argument, nullptr, kInfo},      {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},     {nullptr, 0, nullptr, 0}};

void print_help() {
    std::printf(
        "Usage: %s [OPTION]... FILE\n"
        "Write part of the uncompressed data of the gzip file FILE to standard output,\n"
        "using an index beside it (FILE.zpi) to get there quickly.\n"
        "\n"
        "  -b, --byte=OFFSET   start at uncompressed byte OFFSET (default 0)\n"
        "  -n, --bytes=COUNT   write at most COUNT bytes\n"
        "  -L, --line=N        start at line N (1 is the first)\n"
        "  -l, --lines=COUNT   write at most COUNT lines\n"
        "  -I, --index=PATH    the index file (default: FILE.zpi)\n"
        "      --no-index      neither read nor write an index file\n"
        "      --build         build the whole index and save it; write no data\n"
        "      --verify        check the index file against FILE\n"
        "      --info          print the sizes, lines, members and access points\n"
        "  -h, --help          display this help and exit\n"
        "  -V, --version       output version information and exit\n"
        "\n"
        "Exit status: 0 on success, 1 on failure, 2 for a usage error.\n",
        kProgram);
}

int usage_error(const char* what, const char* detail = nullptr) {
    if (what != nullptr) {
        if (detail != nullptr)
            (void)std::fprintf(stderr, "%s: %s '%s'\n", kProgram, what, detail);
        else
            (void)std::fprintf(stderr, "%s: %s\n", kProgram, what);
    }
    (void)std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
    return kUsageError;
}

// A decimal count or offset, digits only; false for anything else and for
// values past what a 64-bit offset holds.
bool parse_number(const char* text, gz_off_t& value) {
    if (*text == '\0') return false;
    gz_off_t v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, *p - '0', &v))
            return false;
    }
    value = v;
    return true;
}

}  // namespace

int parse_options(int argc, char** argv, options& opts) {
    bool by_byte = false, ranged = false;
    int tasks = 0;
    // getopt_long's own messages begin with argv[0]: make it the program's
    // name, as every other message begins.
    argv[0] = const_cast<char*>(kProgram);
    opterr = 1;
    int c;
    while ((c = getopt_long(argc, argv, kShort, kLong, nullptr)) != -1) {
        gz_off_t* number = nullptr;
        switch (c) {
            case 'b':
                number = &opts.byte;
                by_byte = true;
                break;
            case 'n':
                number = &opts.max_bytes;
                ranged = true;
                break;
            case 'L':
                number = &opts.line;
                opts.by_line = true;
                break;
            case 'l':
                number = &opts.max_lines;
                ranged = true;
                break;
            case 'I':
                opts.index = optarg;
                break;
            case kNoIndex:
                opts.no_index = true;
                break;
            case kBuild:
                opts.what = task::build;
                ++tasks;
                break;
            case kVerify:
                opts.what = task::verify;
                ++tasks;
                break;
            case kInfo:
                opts.what = task::info;
                ++tasks;
                break;
            case 'h':
                print_help();
                return 0;
            case 'V':
                std::printf("%s %s, based on zlib %s\n", kProgram, ZPRESS_VERSION,
                            gzstream::engine_version());
                return 0;
            default:
                return usage_error(nullptr);  // getopt_long said what
        }
        if (number != nullptr && !parse_number(optarg, *number))
            return usage_error("invalid number", optarg);
    }
    if (by_byte && opts.by_line) return usage_error("--byte and --line exclude each other");
    if (opts.by_line && opts.line < 1) return usage_error("lines are numbered from 1");
    if (tasks > 1) return usage_error("--build, --verify and --info exclude each other");
    if (tasks == 1 && (by_byte || opts.by_line || ranged))
        return usage_error("--build, --verify and --info read no range");
    if (opts.no_index && (opts.what == task::build || opts.what == task::verify))
        return usage_error("--build and --verify need an index file");
    if (optind == argc) return usage_error("missing FILE");
    if (argc - optind > 1) return usage_error("extra operand", argv[optind + 1]);
    opts.file = argv[optind];
    if (opts.index.empty()) opts.index = opts.file + ".zpi";
    return -1;
}

}  // namespace zpress_read
