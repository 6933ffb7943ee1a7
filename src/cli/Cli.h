#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tromel::cli {

inline constexpr const char* kProgram = "tromel-check";

/// Runs tromel-check. args[0] is the program path, as in argv. Returns the exit status: 0 nothing
/// forbidden found, 1 something found, 2 a usage error, an unusable list, a file that could not be
/// read, or output that could not be written.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tromel::cli
