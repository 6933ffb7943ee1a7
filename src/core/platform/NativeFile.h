#pragma once

// The small platform layer: the only place that calls the operating system's file and path
// functions. Everything above it is standard C++.

#include "FileStatus.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tromel::platform {

/// One open file, read-only. Regular files are opened without ever blocking: a path that names a
/// FIFO or a device, or is swapped for one while it is opened, is refused as not a regular file.
class NativeFile {
public:
    NativeFile() = default;
    ~NativeFile();
    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;

    /// Opens a regular file, or a link to one. The path is UTF-8 (bytes as they are on POSIX).
    FileStatus open(const std::string& path);
    /// Takes standard input, whatever it is; it is read once, in order.
    FileStatus openStandardInput();

    bool isOpen() const;
    /// True for a regular file: its size is known and readAt works.
    bool sized() const { return m_sized; }
    /// The size when opened; reading stops there, so a file that keeps growing cannot keep us.
    std::uint64_t size() const { return m_size; }

    /// Reads up to n bytes at the current position; got is 0 at the end.
    FileStatus read(char* buffer, std::size_t n, std::size_t& got);
    /// Reads up to n bytes at offset without moving the position; for regular files only. Safe to
    /// call from several threads at once.
    FileStatus readAt(std::uint64_t offset, char* buffer, std::size_t n, std::size_t& got) const;

private:
    void close();

#if defined(_WIN32)
    void* m_handle = nullptr;
    bool m_ownsHandle = false;
#else
    int m_fd = -1;
    bool m_ownsFd = false;
#endif
    bool m_sized = false;
    std::uint64_t m_size = 0;
    std::uint64_t m_position = 0;
};

/// What a path names, without opening it: None for a regular file or a link to one.
FileStatus statRegular(const std::string& path);

/// A path from UTF-8 bytes (on POSIX, from the bytes as they are), and back. Every path that the
/// program takes from a user or builds goes through these two.
std::filesystem::path pathFromUtf8(std::string_view path);
std::string pathToUtf8(const std::filesystem::path& path);

/// Closes standard output, as the last thing before exit, and answers the errno of a failure
/// that only shows then (0 when none). A descriptor that was never open is no failure.
int closeStandardOutput();

/// True when standard error is a terminal, where a progress line may be shown.
bool standardErrorIsTerminal();

/// The folder of the running executable, in UTF-8; argv0 serves only where the system cannot say.
std::string programDirectory(const std::string& argv0);

} // namespace tromel::platform
