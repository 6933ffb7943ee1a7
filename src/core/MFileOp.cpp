#include "MFileOp.h"

#include "Reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <system_error>

namespace tromel {

std::string describe(const FileStatus& status)
{
    switch (status.error) {
    case FileError::None:
        return "ok";
    case FileError::Missing:
        if (status.errnum == 0 || status.errnum == ENOENT)
            return "no such file";
        if (status.errnum == ENAMETOOLONG) // the C libraries word it differently
            return "file name too long";
        { // a loop, a name too long, a folder that may not be searched: say which
            std::string why = std::generic_category().message(status.errnum);
            if (!why.empty())
                why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
            return why;
        }
    case FileError::NotRegular:
        return "not a regular file";
    case FileError::Empty:
        return "file is empty";
    case FileError::NoLines:
        return "file holds only line breaks";
    case FileError::OutOfMemory:
        return "out of memory";
    case FileError::Cancelled:
        return "cancelled";
    case FileError::Failed:
        return "could not be checked";
    case FileError::Unreadable:
        return status.errnum != 0 ? "cannot read: " + std::generic_category().message(status.errnum)
                                  : "cannot read";
    }
    return "unknown error";
}

LineList::LineList(std::string data)
    : m_data(std::move(data))
{
    const std::string_view all(m_data);
    forEachLine(all, [&](std::string_view line) {
        m_spans.emplace_back(static_cast<std::size_t>(line.data() - all.data()), line.size());
    });
}

std::vector<std::string> LineList::toStrings() const
{
    std::vector<std::string> out;
    out.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        out.emplace_back((*this)[i]);
    return out;
}

namespace {

// Reads into a fresh container, and hands it over only on success.
template <typename Bytes> FileStatus readAll(const std::string& path, std::int64_t limit, Bytes& out)
{
    std::string data;
    const FileStatus s = readWhole(path, data, limit);
    if (s)
        out.assign(data.begin(), data.end());
    return s;
}

} // namespace

FileStatus fileStatus(const std::string& path)
{
    return platform::statRegular(path);
}

bool FileExists(const std::string& path)
{
    return static_cast<bool>(platform::statRegular(path));
}

FileStatus LoadFile(const std::string& path, std::string& text, std::int64_t byteLimit)
{
    return readWhole(path, text, byteLimit);
}

FileStatus LoadFile(const std::string& path, LineList& lines, std::int64_t byteLimit)
{
    std::string data;
    const FileStatus s = readWhole(path, data, byteLimit);
    if (!s)
        return s;
    lines = LineList(std::move(data));
    return lines.empty() ? FileStatus { FileError::NoLines, 0 } : FileStatus {};
}

FileStatus LoadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::int64_t byteLimit)
{
    return readAll(path, byteLimit, bytes);
}

} // namespace tromel
