#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tromel {

/// Why a file could not be used. Missing and NotRegular are both "not found" to callers that only
/// ask FileExists; they are kept apart so that messages can say which.
enum class FileError {
    None,
    Missing, // nothing there, a dangling link, or an unreachable path
    NotRegular, // a directory, FIFO, socket or device: never opened for reading
    Empty, // a regular file with no bytes
    Unreadable, // open or read failed (permissions, I/O error)
    NoLines, // only line breaks (the LineList form only)
};

struct FileStatus {
    FileError error = FileError::None;
    int errnum = 0; // errno of the failed call, when there was one

    explicit operator bool() const { return error == FileError::None; }
};

/// A plain-words cause, for messages ("no such file", "is a directory", ...).
std::string describe(const FileStatus& status);

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

/// Streams a regular file in chunks without holding it whole. onChunk(std::string_view) sees
/// every byte once, in order. Empty files answer FileError::Empty and call nothing.
class ChunkSink {
public:
    virtual ~ChunkSink() = default;
    virtual void onChunk(std::string_view chunk) = 0;
};
FileStatus streamFile(const std::string& path, ChunkSink& sink, std::size_t chunkSize = 1 << 20);

} // namespace tromel
