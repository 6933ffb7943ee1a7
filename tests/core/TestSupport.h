#pragma once

#include "CvarList.h"
#include "PlainScan.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
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

// A list with a header and these names.
inline CvarList listOf(std::vector<std::string> names)
{
    CvarList list;
    list.hasHeader = true;
    list.names.insert(list.names.end(), names.begin(), names.end());
    return list;
}

// Collects what scanConfig hands over; with stopAfter set, wants no more after that many.
struct Collected final : FindingBatches {
    void take(const Finding* f, std::size_t n) override
    {
        findings.insert(findings.end(), f, f + n);
        taken += n;
    }
    bool cancelled() const override { return stopAfter != 0 && taken >= stopAfter; }
    std::vector<Finding> findings;
    std::atomic<std::size_t> taken { 0 }; // asked from any thread, unlike findings
    std::size_t stopAfter = 0;
};

// A whole file's scan: what scanConfig answers and every finding it handed over.
struct Scanned {
    FileStatus file;
    std::uint64_t lines = 0;
    std::vector<Finding> findings;

    explicit operator bool() const { return static_cast<bool>(file); }
};

inline Scanned scanFile(const std::string& path, const Matcher& matcher, const ScanPlan& plan = {})
{
    Collected got;
    const ScanSummary r = scanConfig(path, matcher, got, plan);
    return { r.file, r.lines, std::move(got.findings) };
}

// Names table cases after their `label` member.
struct ByLabel {
    template <typename P> std::string operator()(const ::testing::TestParamInfo<P>& info) const
    {
        return info.param.label;
    }
};

} // namespace tromel::testing
