#include "Cli.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    return tromel::cli::run(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
