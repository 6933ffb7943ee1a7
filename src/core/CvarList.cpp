#include "CvarList.h"

namespace tromel {

namespace {

// Fields at every single space: "a  b" has the fields "a", "" and "b".
std::vector<std::string_view> splitAtSpaces(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
}

ListResult failure(ListError error, std::string message)
{
    ListResult r;
    r.error = error;
    r.message = std::move(message);
    return r;
}

} // namespace

ListResult parseCvars(const LineList& lines)
{
    ListResult result;
    if (lines.empty())
        return result;

    const std::vector<std::string_view> fields = splitAtSpaces(lines[0]);
    if (fields.size() < 3)
        return failure(ListError::TooFewFields,
            "the header line of cvars.ini must have at least three space-separated fields, "
            "the third being VERSION.DATE");
    const std::string_view versionDate = fields[2];
    const std::size_t dot = versionDate.rfind('.');
    if (dot == std::string_view::npos)
        return failure(ListError::NoVersionDot,
            "the third field of the header line of cvars.ini must be VERSION.DATE, "
            "with a '.' between version and date");

    CvarList& list = result.list;
    list.hasHeader = true;
    list.version = std::string(versionDate.substr(0, dot));
    list.date = std::string(versionDate.substr(dot + 1));
    list.names.reserve(lines.size());
    for (std::size_t i = 1; i < lines.size(); ++i)
        list.names.emplace_back(lines[i]);
    return result;
}

ListResult LoadCvars(const std::string& path)
{
    LineList lines;
    const FileStatus s = LoadFile(path, lines);
    if (s || s.error == FileError::Empty || s.error == FileError::NoLines)
        return parseCvars(s ? lines : LineList());

    ListResult r;
    r.file = s;
    if (s.error == FileError::Missing || s.error == FileError::NotRegular) {
        r.error = ListError::NotFound;
        r.message = "cvars.ini not found.";
    } else {
        r.error = ListError::Unreadable;
        r.message = "cvars.ini: " + describe(s);
    }
    return r;
}

} // namespace tromel
