#include "MFileOp.h"

#include "PosixFd.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <system_error>

#if defined(_WIN32)
#include <filesystem>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tromel {

std::string describe(const FileStatus& status)
{
    switch (status.error) {
    case FileError::None:
        return "ok";
    case FileError::Missing:
        if (status.errnum == 0 || status.errnum == ENOENT)
            return "no such file";
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

#if defined(_WIN32)

FileStatus statRegular(const std::string& path)
{
    std::error_code ec;
    const auto st = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(st))
        return { FileError::Missing, 0 };
    if (!std::filesystem::is_regular_file(st))
        return { FileError::NotRegular, 0 };
    return {};
}

// Reads up to limit bytes (0: all) in chunks; onStart learns how many bytes to expect.
template <typename Start, typename F>
FileStatus readChunks(
    const std::string& path, std::int64_t limit, std::size_t chunkSize, Start&& onStart, F&& onChunk)
{
    if (FileStatus s = statRegular(path); !s)
        return s;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return { FileError::Unreadable, 0 };
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    onStart(limit > 0 ? std::min<std::uint64_t>(size, static_cast<std::uint64_t>(limit)) : size);
    std::string buffer(chunkSize, '\0');
    std::uint64_t total = 0;
    for (;;) {
        std::size_t want = chunkSize;
        if (limit > 0)
            want = static_cast<std::size_t>(
                std::min<std::uint64_t>(want, static_cast<std::uint64_t>(limit) - total));
        if (want == 0)
            break;
        in.read(buffer.data(), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) {
            if (in.bad())
                return { FileError::Unreadable, 0 };
            break;
        }
        total += got;
        onChunk(std::string_view(buffer.data(), got));
    }
    return total == 0 ? FileStatus { FileError::Empty, 0 } : FileStatus {};
}

#else

FileStatus fromStat(const struct stat& st)
{
    return S_ISREG(st.st_mode) ? FileStatus {} : FileStatus { FileError::NotRegular, 0 };
}

FileStatus statRegular(const std::string& path)
{
    struct stat st { };
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return { FileError::Missing, path.empty() ? ENOENT : errno };
    return fromStat(st);
}

// Reads up to limit bytes (0: all) in chunks of chunkSize. The file is opened non-blocking and
// checked again after opening, so a path swapped for a FIFO after the first check cannot block.
// Reading stops at the size the file had when opened, or earlier at end of file: a file that
// another program keeps appending to cannot keep the reader going. onStart learns that size.
template <typename Start, typename F>
FileStatus readChunks(
    const std::string& path, std::int64_t limit, std::size_t chunkSize, Start&& onStart, F&& onChunk)
{
    if (FileStatus s = statRegular(path); !s)
        return s;
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return { errno == ENOENT ? FileError::Missing : FileError::Unreadable, errno };
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0)
        return { FileError::Unreadable, errno };
    if (FileStatus s = fromStat(st); !s)
        return s;
    if (st.st_size <= 0)
        return { FileError::Empty, 0 };
    if (limit <= 0 || limit > st.st_size)
        limit = st.st_size;
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    onStart(static_cast<std::uint64_t>(limit));
    // No bigger than what will be read: a small list must not pay for a large zeroed buffer.
    const auto bufferSize = std::min<std::uint64_t>(chunkSize, static_cast<std::uint64_t>(limit));
    std::string buffer(static_cast<std::size_t>(bufferSize), '\0');
    std::uint64_t total = 0;
    for (;;) {
        std::size_t want = buffer.size();
        if (limit > 0)
            want = static_cast<std::size_t>(
                std::min<std::uint64_t>(want, static_cast<std::uint64_t>(limit) - total));
        if (want == 0)
            break;
        const ssize_t got = ::read(fd.get(), buffer.data(), want);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return { FileError::Unreadable, errno };
        }
        if (got == 0)
            break;
        total += static_cast<std::uint64_t>(got);
        onChunk(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    return total == 0 ? FileStatus { FileError::Empty, 0 } : FileStatus {};
}

#endif

// Reads into a fresh container reserved to the file's size, and hands it over only on success.
template <typename Bytes> FileStatus readAll(const std::string& path, std::int64_t limit, Bytes& out)
{
    Bytes data;
    FileStatus s = readChunks(
        path, limit, std::size_t { 1 } << 20,
        [&](std::uint64_t size) { data.reserve(static_cast<std::size_t>(size)); },
        [&](std::string_view chunk) { data.insert(data.end(), chunk.begin(), chunk.end()); });
    if (s)
        out = std::move(data);
    return s;
}

} // namespace

FileStatus fileStatus(const std::string& path)
{
    return statRegular(path);
}

bool FileExists(const std::string& path)
{
    return static_cast<bool>(statRegular(path));
}

FileStatus LoadFile(const std::string& path, std::string& text, std::int64_t byteLimit)
{
    return readAll(path, byteLimit, text);
}

FileStatus LoadFile(const std::string& path, LineList& lines, std::int64_t byteLimit)
{
    std::string data;
    FileStatus s = readAll(path, byteLimit, data);
    if (!s)
        return s;
    lines = LineList(std::move(data));
    return lines.empty() ? FileStatus { FileError::NoLines, 0 } : FileStatus {};
}

FileStatus LoadFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::int64_t byteLimit)
{
    return readAll(path, byteLimit, bytes);
}

FileStatus streamFile(const std::string& path, ChunkSink& sink, std::size_t chunkSize)
{
    return readChunks(
        path, 0, chunkSize == 0 ? 1 : chunkSize, [](std::uint64_t) {},
        [&](std::string_view chunk) { sink.onChunk(chunk); });
}

} // namespace tromel
