#pragma once

#include "Pipeline.h"
#include "Scanner.h"

namespace tromel {

struct CvarList;

/// The plain rule, file by file: the report of "Ligne: N - NAME" items and a total per file.
class PlainChecker final : public Checker {
public:
    /// list must outlive the checker.
    explicit PlainChecker(const CvarList& list);

    FileStatus check(const std::string& path, FileReport& report, unsigned threads) const override;

    void textReportBegin(std::string& out, std::string_view path, bool severalFiles) const override;
    void textReportEnd(std::string& out, std::uint64_t findings) const override;
    bool textReportsApart() const override { return true; }
    void textSummary(std::string& out, std::uint64_t total) const override;

private:
    const CvarList& m_list;
    Matcher m_matcher;
};

} // namespace tromel
