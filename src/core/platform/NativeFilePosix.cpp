#include "NativeFile.h"

#if !defined(_WIN32)

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tromel::platform {

namespace {

FileStatus fromMode(mode_t mode)
{
    return S_ISREG(mode) ? FileStatus {} : FileStatus { FileError::NotRegular, 0 };
}

} // namespace

NativeFile::~NativeFile()
{
    close();
}

NativeFile::NativeFile(NativeFile&& other) noexcept
{
    *this = std::move(other);
}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_ownsFd = other.m_ownsFd;
        m_sized = other.m_sized;
        m_size = other.m_size;
        m_position = other.m_position;
        other.m_fd = -1;
        other.m_ownsFd = false;
    }
    return *this;
}

void NativeFile::close()
{
    if (m_ownsFd && m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_ownsFd = false;
}

bool NativeFile::isOpen() const
{
    return m_fd >= 0;
}

FileStatus NativeFile::open(const std::string& path)
{
    close();
    // Checked before opening, so that a FIFO is never opened at all, and again once open, in case
    // the path was swapped in between; O_NONBLOCK keeps even that open from blocking.
    if (FileStatus s = statRegular(path); !s)
        return s;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return { errno == ENOENT ? FileError::Missing : FileError::Unreadable, errno };
    m_fd = fd;
    m_ownsFd = true;
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        close();
        return { FileError::Unreadable, e };
    }
    if (FileStatus s = fromMode(st.st_mode); !s) {
        close();
        return s;
    }
    m_sized = true;
    m_size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    m_position = 0;
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return {};
}

FileStatus NativeFile::openStandardInput()
{
    close();
    m_fd = STDIN_FILENO;
    m_ownsFd = false;
    m_sized = false;
    m_size = 0;
    m_position = 0;
    return {};
}

FileStatus NativeFile::read(char* buffer, std::size_t n, std::size_t& got)
{
    got = 0;
    if (m_sized) {
        if (m_position >= m_size)
            return {};
        if (n > m_size - m_position)
            n = static_cast<std::size_t>(m_size - m_position);
    }
    for (;;) {
        const ssize_t r = ::read(m_fd, buffer, n);
        if (r >= 0) {
            got = static_cast<std::size_t>(r);
            m_position += got;
            return {};
        }
        if (errno != EINTR)
            return { FileError::Unreadable, errno };
    }
}

FileStatus NativeFile::readAt(std::uint64_t offset, char* buffer, std::size_t n, std::size_t& got) const
{
    got = 0;
    if (offset >= m_size)
        return {};
    if (n > m_size - offset)
        n = static_cast<std::size_t>(m_size - offset);
    for (;;) {
        const ssize_t r = ::pread(m_fd, buffer, n, static_cast<off_t>(offset));
        if (r >= 0) {
            got = static_cast<std::size_t>(r);
            return {};
        }
        if (errno != EINTR)
            return { FileError::Unreadable, errno };
    }
}

FileStatus statRegular(const std::string& path)
{
    struct stat st { };
    if (path.empty())
        return { FileError::Missing, ENOENT };
    if (::stat(path.c_str(), &st) != 0)
        return { FileError::Missing, errno };
    return fromMode(st.st_mode);
}

std::filesystem::path pathFromUtf8(std::string_view path)
{
    return std::filesystem::path(std::string(path));
}

std::string pathToUtf8(const std::filesystem::path& path)
{
    return path.string();
}

int closeStandardOutput()
{
    if (::close(STDOUT_FILENO) == 0 || errno == EBADF)
        return 0;
    return errno;
}

bool standardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

std::string programDirectory(const std::string& argv0)
{
    std::error_code ec;
#if defined(__linux__)
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path().string();
#endif
    const std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(argv0), ec);
    return ec ? std::string(".") : p.parent_path().string();
}

} // namespace tromel::platform

#endif
