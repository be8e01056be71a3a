// zrvimage-batch: the window's three operations for many files from the command line.

#include "batch/Runner.h"

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return batch::run(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
