#pragma once

#include "FileStatus.h"
#include "platform/NativeFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tromel {

/// The one way the program reads a file: configs, lists and exec'd files alike. Only regular
/// files open, without ever blocking; "-" is standard input where the caller allows it. Reading
/// stops at the size the file had when it was opened.
class FileReader {
public:
    static constexpr std::size_t kChunk = std::size_t { 1 } << 20;

    FileStatus open(const std::string& path, bool allowStandardInput = false);

    bool sized() const { return m_file.sized(); }
    std::uint64_t size() const { return m_file.size(); }

    /// The next piece of the file, at most max bytes, in a buffer of the reader's that the next
    /// call reuses; empty at the end.
    FileStatus next(std::string_view& chunk, std::size_t max = kChunk);
    /// Reads at an offset, for parts of one file read on several threads; sized files only.
    FileStatus readAt(std::uint64_t offset, char* buffer, std::size_t n, std::size_t& got) const
    {
        return m_file.readAt(offset, buffer, n, got);
    }

private:
    platform::NativeFile m_file;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
};

/// True for "-", the name of standard input.
inline bool isStandardInput(std::string_view path)
{
    return path == "-";
}

/// The whole file, or its first limit bytes when limit > 0, in one string reserved at its size.
/// out keeps its content on failure. An empty file answers Empty.
FileStatus readWhole(
    const std::string& path, std::string& out, std::int64_t limit = 0, bool allowStandardInput = false);

} // namespace tromel
