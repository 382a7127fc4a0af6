#include "cli/commands.h"

#include <iostream>

int main(int argc, char** argv) {
    return zrq406::cli::runCommandLine(argc, argv, std::cout, std::cerr);
}
