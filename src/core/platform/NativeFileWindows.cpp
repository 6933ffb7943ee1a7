#include "NativeFile.h"

#if defined(_WIN32)

#include "Encoding.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <io.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tromel::platform {

namespace {

// The longest path the system takes in the \\?\ form, and the longest name in a folder.
constexpr std::size_t kMaxPath = 32767;
constexpr std::size_t kMaxName = 255;

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

// A system error as the error kind and errno that the messages are written for. fallback is the
// kind for a path that cannot be used (Missing, when looking) or a file that cannot be read.
FileStatus fromError(DWORD code, FileError fallback)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_DEV_TYPE:
        return { FileError::Missing, ENOENT };
    case ERROR_FILENAME_EXCED_RANGE:
        return { FileError::Missing, ENAMETOOLONG };
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: // held open by a program that shares it with nobody
    case ERROR_LOCK_VIOLATION:
        return { fallback, EACCES };
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return { FileError::OutOfMemory, ENOMEM };
    default:
        return { fallback, EIO };
    }
}

bool startsWith(std::wstring_view s, std::wstring_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

// True when a full path names a device: nul, con.cfg or COM1 in any folder come back from
// GetFullPathNameW as \\.\NAME. Under \\.\ and \\?\ only files on a drive or a share are taken:
// the rest are devices (\\.\pipe\x, \\.\C: the volume itself, \\?\GLOBALROOT\...).
bool namesDevice(std::wstring_view full)
{
    if (!startsWith(full, LR"(\\.\)") && !startsWith(full, LR"(\\?\)"))
        return false;
    const std::wstring_view rest = full.substr(4);
    const bool onDrive = rest.size() > 3 && ((rest[0] | 0x20) >= L'a' && (rest[0] | 0x20) <= L'z')
        && rest[1] == L':' && rest[2] == L'\\';
    const bool onShare
        = rest.size() > 4 && ::CompareStringOrdinal(rest.data(), 4, L"UNC\\", 4, TRUE) == CSTR_EQUAL;
    return !onDrive && !onShare;
}

// The full path to hand the system, in the \\?\ form when it is long, so that long paths open
// without the system-wide opt-in. Device names (nul, con.cfg, COM1, \\.\pipe\x) are refused here,
// before anything is opened. Names are measured first, so that every system answers alike.
FileStatus resolve(const std::string& path, std::wstring& full)
{
    const std::wstring wide = pathFromUtf8(path).native();
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos)
        return { FileError::Missing, ENOENT };
    std::size_t name = 0;
    for (const wchar_t c : wide) {
        name = c == L'\\' || c == L'/' ? 0 : name + 1;
        if (name > kMaxName)
            return { FileError::Missing, ENAMETOOLONG };
    }
    const DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (need == 0)
        return fromError(::GetLastError(), FileError::Missing);
    full.assign(need, L'\0');
    const DWORD n = ::GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
    if (n == 0 || n >= need)
        return fromError(::GetLastError(), FileError::Missing);
    full.resize(n);
    if (namesDevice(full))
        return { FileError::NotRegular, 0 };
    if (full.size() + 8 > kMaxPath)
        return { FileError::Missing, ENAMETOOLONG };
    if (full.size() >= MAX_PATH) {
        if (startsWith(full, LR"(\\.\)"))
            full[2] = L'?';
        else if (!startsWith(full, LR"(\\?\)"))
            full = startsWith(full, LR"(\\)") ? LR"(\\?\UNC\)" + full.substr(2) : LR"(\\?\)" + full;
    }
    return {};
}

// What a resolved path names, without opening it.
FileStatus inspect(const std::wstring& full)
{
    WIN32_FILE_ATTRIBUTE_DATA data {};
    if (!::GetFileAttributesExW(full.c_str(), GetFileExInfoStandard, &data))
        return fromError(::GetLastError(), FileError::Missing);
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return { FileError::NotRegular, 0 };
    return {};
}

// The console's code page before the program set it to UTF-8.
UINT g_consoleCodePage = 0;

void restoreConsole()
{
    ::SetConsoleOutputCP(g_consoleCodePage);
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
    std::wstring full;
    if (FileStatus s = resolve(path, full); !s)
        return s;
    if (FileStatus s = inspect(full); !s)
        return s;
    // Others may go on reading and writing it: a config held open by the game still opens.
    HANDLE h
        = ::CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fromError(::GetLastError(), FileError::Unreadable);
    m_handle = h;
    m_ownsHandle = true;
    // Checked again once open, in case the path was swapped for something else in between.
    BY_HANDLE_FILE_INFORMATION info {};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
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
        return fromError(::GetLastError(), FileError::Unreadable);
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
        return fromError(::GetLastError(), FileError::Unreadable);
    }
    got = done;
    return {};
}

FileStatus statRegular(const std::string& path)
{
    std::wstring full;
    if (FileStatus s = resolve(path, full); !s)
        return s;
    return inspect(full);
}

std::filesystem::path pathFromUtf8(std::string_view path)
{
    return std::filesystem::path(widen(nameToUtf8(path)));
}

std::string pathToUtf8(const std::filesystem::path& path)
{
    return narrow(path.native());
}

void useByteStreams()
{
    for (std::FILE* stream : { stdout, stderr })
        if (const int fd = ::_fileno(stream); fd >= 0)
            ::_setmode(fd, _O_BINARY);
    DWORD mode = 0;
    if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)
        || ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode)) {
        g_consoleCodePage = ::GetConsoleOutputCP();
        if (g_consoleCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
            std::atexit(restoreConsole);
    }
}

int closeStandardOutput()
{
    // Writes reach the system as they are made, and it reports their failures then; what is left
    // is the C library's own buffer.
    return std::fflush(stdout) == 0 ? 0 : errno;
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
