#include "Cli.h"
#include "platform/NativeFile.h"

#include <iostream>
#include <system_error>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    int status = tromel::cli::run(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
    // Some systems report a failed write only when the file is closed; a failure run() already
    // reported leaves std::cout failed.
    if (std::cout.flush() && std::cout.good()) {
        if (const int e = tromel::platform::closeStandardOutput(); e != 0) {
            std::cerr << tromel::cli::kProgram << ": write error: " << std::generic_category().message(e)
                      << '\n';
            status = 2;
        }
    }
    return status;
}
