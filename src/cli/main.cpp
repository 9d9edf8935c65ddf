#include <iostream>
#include <unistd.h>

#include "cli/cli.h"

int main(int argc, char** argv) {
    halvard::cli::Streams streams{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1};
    return halvard::cli::run(argc, argv, streams);
}
