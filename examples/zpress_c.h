/* A C interface to zpress's gzip stream layer, for programs written in C.
 *
 * zpress's own headers are C++ (their names live in namespaces, so that they
 * never collide with zlib's gz functions), so a C program reaches them
 * through a small C++ file such as zpress_c.cpp, compiled with g++ and
 * linked into the C program.  The names here carry a prefix of their own
 * (zpc_), so this header may sit beside zlib.h in any order. */
#ifndef ZPRESS_C_H
#define ZPRESS_C_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zpc_file zpc_file; /* one open gzip stream, opaque */

/* As gzstream::gzopen: null on failure, errno then tells why. */
zpc_file* zpc_open(const char* path, const char* mode);
/* As gzstream::gzread: bytes delivered, 0 at the end, -1 on an error. */
int zpc_read(zpc_file* file, void* buf, unsigned len);
/* As gzstream::gzwrite: len, or -1 once the stream failed. */
int zpc_write(zpc_file* file, const void* buf, unsigned len);
/* As gzstream::gzerror: "NAME: message" for the stream's status. */
const char* zpc_error(zpc_file* file);
/* As gzstream::gzclose: 0, or a negative status; the handle is gone. */
int zpc_close(zpc_file* file);

#ifdef __cplusplus
}
#endif

#endif
