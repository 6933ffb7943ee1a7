#pragma once

#include "FileStatus.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tromel {

/// True when path names a regular file, or a link to one. Directories, FIFOs, sockets, devices
/// and dangling links are not files.
bool FileExists(const std::string& path);
FileStatus fileStatus(const std::string& path);

/// The non-empty lines of some bytes. A line is a maximal run of bytes other than CR (13) and
/// LF (10): CR, LF and any mix of them end a line, runs of breaks make no empty lines, and the
/// last line counts whether or not a break follows it. Every other byte, NUL and bytes above 127
/// included, is kept as it is. Indices count non-empty lines only, from 0.
class LineList {
public:
    LineList() = default;
    explicit LineList(std::string data);

    std::size_t size() const { return m_spans.size(); }
    bool empty() const { return m_spans.empty(); }
    std::string_view operator[](std::size_t i) const
    {
        return std::string_view(m_data).substr(m_spans[i].first, m_spans[i].second);
    }
    std::vector<std::string> toStrings() const;

private:
    std::string m_data;
    std::vector<std::pair<std::size_t, std::size_t>> m_spans; // offset, length into m_data
};

/// Calls onLine(std::string_view) for each line of data, by the LineList rule.
template <typename F> void forEachLine(std::string_view data, F&& onLine)
{
    std::size_t start = 0;
    const std::size_t n = data.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            if (i > start)
                onLine(data.substr(start, i - start));
            start = i + 1;
        }
    }
    if (n > start)
        onLine(data.substr(start));
}

/// Reads a whole file, or its first byteLimit bytes when byteLimit > 0. On any failure the
/// output keeps its previous content, except that a file of only line breaks clears a LineList.
FileStatus LoadFile(const std::string& path, std::string& text, std::int64_t byteLimit = 0);
FileStatus LoadFile(const std::string& path, LineList& lines, std::int64_t byteLimit = 0);
FileStatus LoadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::int64_t byteLimit = 0);

} // namespace tromel
