// List parsing: parseCvars on any bytes gives what a plain reading of the header and the lines
// gives, and a list that loads can be used at once, also to check its own file.

#include "FuzzSupport.h"

#include <cstdint>

namespace {

std::vector<std::string> fieldsAtSpaces(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ' ')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace tromel;
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const std::vector<std::string> lines = fuzz::plainLines(data);
    const ListResult r = parseCvars(LineList { std::string(data) });

    if (lines.empty()) {
        fuzz::require(r && !r.list.hasHeader && r.list.names == std::vector<std::string> { "" },
            "a list without lines is not an empty list");
        return 0;
    }
    const std::vector<std::string> fields = fieldsAtSpaces(lines[0]);
    if (fields.size() < 3) {
        fuzz::require(r.error == ListError::TooFewFields && !r.message.empty(), "short header not refused");
        return 0;
    }
    const std::size_t dot = fields[2].rfind('.');
    if (dot == std::string::npos) {
        fuzz::require(
            r.error == ListError::NoVersionDot && !r.message.empty(), "header without a dot not refused");
        return 0;
    }
    fuzz::require(static_cast<bool>(r) && r.list.hasHeader, "a good header refused");
    fuzz::require(r.list.version == fields[2].substr(0, dot) && r.list.date == fields[2].substr(dot + 1),
        "version or date misread");
    std::vector<std::string> names { "" };
    names.insert(names.end(), lines.begin() + 1, lines.end());
    fuzz::require(r.list.names == names && r.list.count() == lines.size() - 1, "names misread");

    // The config being the list file itself.
    fuzz::requireSameFindings(data, r.list, data.substr(0, 4));
    return 0;
}
