/* A C program that decompresses a gzip file to standard output through the
 * C interface of zpress_c.h (zpress_c.cpp forwards to the gzip stream layer).
 *
 *   c_caller FILE.gz
 */
#include <stdio.h>

#include "zpress_c.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: c_caller FILE.gz\n", stderr);
        return 2;
    }
    zpc_file* in = zpc_open(argv[1], "rb");
    if (in == NULL) {
        perror(argv[1]);
        return 1;
    }
    char block[65536];
    int n;
    while ((n = zpc_read(in, block, sizeof block)) > 0) {
        if (fwrite(block, 1, (size_t)n, stdout) != (size_t)n) break;
    }
    int failed = n < 0 || fflush(stdout) != 0;
    if (failed) fprintf(stderr, "c_caller: %s\n", zpc_error(in));
    /* The close checks the trailer of a stream read to its end. */
    if (zpc_close(in) != 0 && !failed) {
        fprintf(stderr, "c_caller: %s: damaged or cut off\n", argv[1]);
        failed = 1;
    }
    return failed ? 1 : 0;
}
