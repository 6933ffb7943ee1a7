#include "Cli.h"
#include "platform/NativeFile.h"

#include <iostream>
#include <string>
#include <system_error>
#include <vector>

namespace {

int runMain(const std::vector<std::string>& args)
{
    std::ios::sync_with_stdio(false);
    tromel::platform::useByteStreams();
    int status = tromel::cli::run(args, std::cout, std::cerr);
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

} // namespace

#if defined(_WIN32)
// Windows hands over the arguments in UTF-16 here, whatever the code page; the program works in
// UTF-8 throughout.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(tromel::platform::pathToUtf8(argv[i]));
    return runMain(args);
}
#else
int main(int argc, char** argv)
{
    return runMain(std::vector<std::string>(argv, argv + argc));
}
#endif
