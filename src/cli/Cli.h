#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tromel::cli {

inline constexpr const char* kProgram = "tromel-check";

/// Runs tromel-check. args[0] is the program path, as in argv. Returns the exit status:
/// 0 nothing forbidden found, 1 something found, 2 usage error, unusable list or unreadable file.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// Directory of the running executable, where the default cvars.ini lives.
std::string programDirectory(const std::string& argv0);

} // namespace tromel::cli
