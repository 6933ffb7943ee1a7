#include "Reader.h"

#include <algorithm>
#include <new>

namespace tromel {

FileStatus FileReader::open(const std::string& path, bool allowStandardInput)
{
    if (allowStandardInput && isStandardInput(path))
        return m_file.openStandardInput();
    return m_file.open(path);
}

FileStatus FileReader::next(std::string_view& chunk, std::size_t max)
{
    chunk = {};
    max = std::max<std::size_t>(max, 1);
    if (m_file.sized())
        max = static_cast<std::size_t>(
            std::min<std::uint64_t>(max, std::max<std::uint64_t>(m_file.size(), 1)));
    if (m_capacity < max) {
        // A small file needs no more buffer than its size.
        m_buffer.reset(new (std::nothrow) char[max]);
        m_capacity = m_buffer ? max : 0;
        if (!m_buffer)
            return { FileError::OutOfMemory, 0 };
    }
    std::size_t got = 0;
    const FileStatus s = m_file.read(m_buffer.get(), max, got);
    if (s)
        chunk = std::string_view(m_buffer.get(), got);
    return s;
}

FileStatus readWhole(const std::string& path, std::string& out, std::int64_t limit, bool allowStandardInput)
{
    try {
        FileReader reader;
        if (FileStatus s = reader.open(path, allowStandardInput); !s)
            return s;
        std::string data;
        std::uint64_t want = reader.sized() ? reader.size() : UINT64_MAX;
        if (limit > 0)
            want = std::min<std::uint64_t>(want, static_cast<std::uint64_t>(limit));
        if (reader.sized())
            data.reserve(static_cast<std::size_t>(want));
        while (data.size() < want) {
            std::string_view chunk;
            const auto room
                = static_cast<std::size_t>(std::min<std::uint64_t>(want - data.size(), FileReader::kChunk));
            if (FileStatus s = reader.next(chunk, room); !s)
                return s;
            if (chunk.empty())
                break;
            data.append(chunk);
        }
        if (data.empty())
            return { FileError::Empty, 0 };
        out = std::move(data);
        return {};
    } catch (const std::bad_alloc&) {
        return { FileError::OutOfMemory, 0 };
    } catch (const std::length_error&) {
        return { FileError::OutOfMemory, 0 };
    }
}

} // namespace tromel
