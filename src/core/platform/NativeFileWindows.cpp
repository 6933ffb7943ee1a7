#include "NativeFile.h"

#if defined(_WIN32)

#include <cerrno>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tromel::platform {

namespace {

std::wstring widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int n = ::WideCharToMultiByte(
        CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(
        CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The system's error as the errno that the messages are written for.
FileStatus fromLastError(FileError fallback)
{
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return { FileError::Missing, ENOENT };
    case ERROR_FILENAME_EXCED_RANGE:
        return { FileError::Missing, ENAMETOOLONG };
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return { FileError::Unreadable, EACCES };
    default:
        return { fallback, EIO };
    }
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
        m_handle = other.m_handle;
        m_ownsHandle = other.m_ownsHandle;
        m_sized = other.m_sized;
        m_size = other.m_size;
        m_position = other.m_position;
        other.m_handle = nullptr;
        other.m_ownsHandle = false;
    }
    return *this;
}

void NativeFile::close()
{
    if (m_ownsHandle && m_handle != nullptr)
        ::CloseHandle(m_handle);
    m_handle = nullptr;
    m_ownsHandle = false;
}

bool NativeFile::isOpen() const
{
    return m_handle != nullptr;
}

FileStatus NativeFile::open(const std::string& path)
{
    close();
    if (FileStatus s = statRegular(path); !s)
        return s;
    // Others may go on reading and writing it: a config held open by the game still opens.
    HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fromLastError(FileError::Unreadable);
    m_handle = h;
    m_ownsHandle = true;
    BY_HANDLE_FILE_INFORMATION info {};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        close();
        return { FileError::NotRegular, 0 };
    }
    m_sized = true;
    m_size = (std::uint64_t { info.nFileSizeHigh } << 32) | info.nFileSizeLow;
    m_position = 0;
    return {};
}

FileStatus NativeFile::openStandardInput()
{
    close();
    m_handle = ::GetStdHandle(STD_INPUT_HANDLE);
    m_ownsHandle = false;
    m_sized = false;
    m_size = 0;
    m_position = 0;
    if (m_handle == INVALID_HANDLE_VALUE || m_handle == nullptr) {
        m_handle = nullptr;
        return { FileError::Unreadable, EBADF };
    }
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
        FileStatus s = readAt(m_position, buffer, n, got);
        m_position += got;
        return s;
    }
    DWORD done = 0;
    const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    if (!::ReadFile(m_handle, buffer, want, &done, nullptr)) {
        if (::GetLastError() == ERROR_BROKEN_PIPE)
            return {}; // the writer closed the pipe: the end of the input
        return fromLastError(FileError::Unreadable);
    }
    got = done;
    return {};
}

FileStatus NativeFile::readAt(std::uint64_t offset, char* buffer, std::size_t n, std::size_t& got) const
{
    got = 0;
    if (offset >= m_size)
        return {};
    if (n > m_size - offset)
        n = static_cast<std::size_t>(m_size - offset);
    OVERLAPPED at {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    if (!::ReadFile(m_handle, buffer, want, &done, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF)
            return {};
        return fromLastError(FileError::Unreadable);
    }
    got = done;
    return {};
}

FileStatus statRegular(const std::string& path)
{
    if (path.empty())
        return { FileError::Missing, ENOENT };
    WIN32_FILE_ATTRIBUTE_DATA data {};
    if (!::GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data))
        return fromLastError(FileError::Missing);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return { FileError::NotRegular, 0 };
    return {};
}

std::filesystem::path pathFromUtf8(std::string_view path)
{
    return std::filesystem::path(widen(path));
}

std::string pathToUtf8(const std::filesystem::path& path)
{
    return narrow(path.native());
}

int closeStandardOutput()
{
    HANDLE h = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return 0;
    return ::FlushFileBuffers(h) || ::GetLastError() != ERROR_INVALID_HANDLE ? 0 : 0;
}

bool standardErrorIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string programDirectory(const std::string&)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return ".";
        if (n < buffer.size())
            return pathToUtf8(std::filesystem::path(std::wstring(buffer.data(), n)).parent_path());
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace tromel::platform

#endif
