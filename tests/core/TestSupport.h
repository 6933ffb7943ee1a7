#pragma once

#include "platform/NativeFile.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace tromel::testing {

// Paths as the program takes and prints them: UTF-8, whatever the system's code page.
inline std::string utf8(const std::filesystem::path& p)
{
    return platform::pathToUtf8(p);
}

// A fresh directory under the system temp dir, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path()
            / ("tromel-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // The path of name, a UTF-8 path below the directory, with the system's separators as the
    // program prints the paths it builds.
    std::string path(const std::string& name) const { return utf8(native(name)); }

    std::string write(const std::string& name, std::string_view bytes) const
    {
        const auto p = native(name);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return utf8(p);
    }

#if !defined(_WIN32)
    // Things that are not regular files, which readers must refuse without blocking.
    std::string fifo(const std::string& name) const
    {
        const auto p = (m_path / name).string();
        ::mkfifo(p.c_str(), 0644);
        return p;
    }
    std::string symlink(const std::string& target, const std::string& name) const
    {
        const auto p = (m_path / name).string();
        ::symlink(target.c_str(), p.c_str());
        return p;
    }
#endif

private:
    std::filesystem::path native(const std::string& name) const
    {
        return (m_path / platform::pathFromUtf8(name)).make_preferred();
    }

    std::filesystem::path m_path;
};

// Names table cases after their `label` member.
struct ByLabel {
    template <typename P> std::string operator()(const ::testing::TestParamInfo<P>& info) const
    {
        return info.param.label;
    }
};

} // namespace tromel::testing
