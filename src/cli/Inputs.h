#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tromel::cli {

struct Inputs {
    std::vector<std::string> files;
    bool anyDirectory = false;
    bool anyError = false; // a folder that could not be read, or held no config
};

/// The files to check: each argument that names a folder is replaced by the *.cfg files below it
/// (any case), in sorted order; other arguments stay as they are. Problems are named on err.
Inputs expandInputs(const std::vector<std::string>& args, std::ostream& err);

} // namespace tromel::cli
