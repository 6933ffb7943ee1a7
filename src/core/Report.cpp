#include "Report.h"

#include "CvarList.h"
#include "Scanner.h"

namespace tromel {

Report::Report(const CvarList& list, const std::vector<Finding>& findings)
    : m_list(&list)
    , m_findings(&findings)
{
}

std::string findingItem(const CvarList& list, const Finding& finding)
{
    return "Ligne: " + std::to_string(finding.line) + " - " + list.names[finding.index];
}

std::string totalItem(std::uint64_t count)
{
    return "Total: " + std::to_string(count) + " cvars interdite";
}

std::size_t Report::size() const
{
    return m_findings->size() + 2;
}

std::string Report::item(std::size_t i) const
{
    const std::size_t n = m_findings->size();
    if (i < n)
        return findingItem(*m_list, (*m_findings)[i]);
    if (i == n)
        return " ";
    return totalItem(n);
}

std::vector<std::string> Report::items() const
{
    std::vector<std::string> out;
    out.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        out.push_back(item(i));
    return out;
}

} // namespace tromel
