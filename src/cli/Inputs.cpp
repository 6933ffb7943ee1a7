#include "Inputs.h"

#include "Cli.h"
#include "Pipeline.h"
#include "platform/NativeFile.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <system_error>

namespace fs = std::filesystem;

namespace tromel::cli {

namespace {

bool hasCfgExtension(const fs::path& p)
{
    std::string ext = platform::pathToUtf8(p.extension());
    std::transform(ext.begin(), ext.end(), ext.begin(),
        [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return ext == ".cfg";
}

void tell(std::ostream& err, const fs::path& dir, const std::error_code& ec)
{
    err << kProgram << ": " << oneLine(platform::pathToUtf8(dir)) << ": " << ec.message() << '\n';
}

// Appends the *.cfg files below dir. Links to folders are not followed, so a link loop cannot trap
// the walk; a folder that cannot be read is named, never skipped in silence.
void walk(const fs::path& dir, std::vector<std::string>& found, bool& anyError, std::ostream& err)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        tell(err, dir, ec);
        anyError = true;
        return;
    }
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc) && !it->is_symlink(typeEc))
            walk(it->path(), found, anyError, err);
        else if (hasCfgExtension(it->path()) && it->is_regular_file(typeEc))
            found.push_back(platform::pathToUtf8(it->path()));
    }
    if (ec) {
        tell(err, dir, ec);
        anyError = true;
    }
}

} // namespace

Inputs expandInputs(const std::vector<std::string>& args, std::ostream& err)
{
    Inputs inputs;
    for (const std::string& arg : args) {
        std::error_code ec;
        const fs::path path = platform::pathFromUtf8(arg);
        if (arg == "-" || !fs::is_directory(path, ec)) {
            inputs.files.push_back(arg);
            continue;
        }
        inputs.anyDirectory = true;
        std::vector<std::string> found;
        walk(path, found, inputs.anyError, err);
        if (found.empty()) {
            err << kProgram << ": " << oneLine(arg) << ": no .cfg files found\n";
            inputs.anyError = true;
        }
        std::sort(found.begin(), found.end());
        inputs.files.insert(inputs.files.end(), found.begin(), found.end());
    }
    return inputs;
}

} // namespace tromel::cli
