// Must not compile: zlib.h's macros rename gz functions, so gzio.h refuses to
// follow it and says what to include instead.
#include <zlib.h>
#include <zpress/gzio.h>
