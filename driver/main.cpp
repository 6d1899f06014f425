#include "cli.h"

int main(int argc, char** argv) {
    return driver::run(argc, argv, driver::filter_rights::dropped);
}
