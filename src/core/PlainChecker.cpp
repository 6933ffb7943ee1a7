#include "PlainChecker.h"

#include "CvarList.h"
#include "PlainScan.h"
#include "Report.h"

namespace tromel {

namespace {

class PlainFinding final : public Record {
public:
    PlainFinding(const CvarList& list, const Finding& finding)
        : m_list(list)
        , m_finding(finding)
    {
    }
    void text(std::string& out) const override { out += findingItem(m_list, m_finding); }
    void fields(FieldWriter& out) const override
    {
        out.number("line", m_finding.line);
        out.text("name", m_list.names[m_finding.index], Encoding::Latin1);
    }

private:
    const CvarList& m_list;
    const Finding& m_finding;
};

class ToReport final : public FindingBatches {
public:
    ToReport(const CvarList& list, FileReport& report)
        : m_list(list)
        , m_report(report)
    {
    }
    void take(const Finding* findings, std::size_t count) override
    {
        for (std::size_t i = 0; i < count; ++i)
            m_report.finding(PlainFinding(m_list, findings[i]));
    }
    bool cancelled() const override { return m_report.cancelled(); }

private:
    const CvarList& m_list;
    FileReport& m_report;
};

} // namespace

PlainChecker::PlainChecker(const CvarList& list)
    : m_list(list)
    , m_matcher(list)
{
}

FileStatus PlainChecker::check(const std::string& path, FileReport& report, unsigned threads) const
{
    ToReport out(m_list, report);
    return scanConfig(path, m_matcher, out, ScanPlan { threads, 0, 0 }).file;
}

void PlainChecker::textReportBegin(std::string& out, std::string_view path, bool severalFiles) const
{
    if (severalFiles)
        out += "==> " + oneLine(path) + " <==\n";
}

void PlainChecker::textReportEnd(std::string& out, std::uint64_t findings) const
{
    out += " \n" + totalItem(findings) + '\n';
}

void PlainChecker::textSummary(std::string&, std::uint64_t) const
{
}

} // namespace tromel
