// A host program of the driver library: runs the driver on its arguments,
// then raises the signal named by the first one, which must meet the
// disposition the host had before the run.
#include <signal.h>

#include <cstdlib>

#include "cli.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int sig = std::atoi(argv[1]);
    argv[1] = argv[0];
    const int status = driver::run(argc - 1, argv + 1);
    raise(sig);
    return status == 0 ? 3 : 4;
}
