#include <iostream>
#include <unistd.h>

#include "cli/cli.h"

int main(int argc, char** argv) {
    // Listings write a line per entry: the streams keep their own buffers instead of going through stdio's.
    std::ios::sync_with_stdio(false);
    halvard::cli::Streams streams{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1};
    return halvard::cli::run(argc, argv, streams);
}
