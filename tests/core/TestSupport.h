#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace tromel::testing {

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

    std::string write(const std::string& name, std::string_view bytes) const
    {
        const auto p = m_path / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }

    // Things that are not regular files, which readers must refuse without blocking.
    std::string fifo(const std::string& name) const
    {
        const auto p = (m_path / name).string();
        ::mkfifo(p.c_str(), 0644);
        return p;
    }
    std::string socket(const std::string& name) const
    {
        const auto p = (m_path / name).string();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        p.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        ::close(fd);
        return p;
    }
    std::string symlink(const std::string& target, const std::string& name) const
    {
        const auto p = (m_path / name).string();
        ::symlink(target.c_str(), p.c_str());
        return p;
    }

private:
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
