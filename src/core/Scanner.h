#pragma once

#include "MFileOp.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tromel {

struct CvarList;

/// One reported pair: the index of a non-empty line of the config (from 0) and the index of a
/// name in CvarList::names (from 1).
struct Finding {
    std::uint64_t line = 0;
    std::uint32_t index = 0;

    friend bool operator==(const Finding&, const Finding&) = default;
};

/// The matching rule: line j and name k make a finding when the name is not empty, the line
/// holds " " + name + " " and the line holds "set" anywhere. Comparisons are exact, byte-wise and
/// case-sensitive. A pair is reported once however often the name occurs; findings come by line,
/// then by list index, and duplicate names in the list are reported at each of their indices.
class Matcher {
public:
    explicit Matcher(const CvarList& list);
    ~Matcher();
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    struct Tables;
    const Tables& tables() const { return *m_tables; }

private:
    std::unique_ptr<Tables> m_tables;
};

/// Incremental scan over a byte stream; feed chunks of any size, then finish().
class ScanStream final : public ChunkSink {
public:
    explicit ScanStream(const Matcher& matcher);
    ~ScanStream() override;
    ScanStream(const ScanStream&) = delete;
    ScanStream& operator=(const ScanStream&) = delete;

    void onChunk(std::string_view chunk) override;
    void finish();

    const std::vector<Finding>& findings() const { return m_findings; }
    std::vector<Finding> takeFindings() { return std::move(m_findings); }
    std::uint64_t lineCount() const { return m_lines; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::vector<Finding> m_findings;
    std::uint64_t m_lines = 0;
};

std::vector<Finding> scanBuffer(std::string_view data, const Matcher& matcher);

struct ScanResult {
    FileStatus file; // Empty also for a file of only line breaks
    std::vector<Finding> findings; // meaningful only when file is ok
    std::uint64_t lines = 0;

    explicit operator bool() const { return static_cast<bool>(file); }
};

/// Scans a config file without holding it whole in memory. A large file is cut at line breaks
/// into parts scanned on up to `threads` threads (0: one per core); the result is the same.
ScanResult CheckConfig(const std::string& path, const Matcher& matcher, unsigned threads = 0);

} // namespace tromel
