#include "report.h"

#include <cstdio>
#include <cstdlib>

#include "state.h"

namespace driver {

void error(const char* message) {
    std::fprintf(stderr, "%s: %s\n", prog, message);
    std::exit(1);
}

void die_perror(const char* what) {
    std::perror(what);
    std::exit(1);
}

}  // namespace driver
