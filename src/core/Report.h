#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tromel {

struct CvarList;
struct Finding;

/// The report as the window's list shows it: "Ligne: <j> - <name>" per finding, then " ", then
/// "Total: <count> cvars interdite". Items are made on demand so that huge reports stay cheap.
class Report {
public:
    Report(const CvarList& list, const std::vector<Finding>& findings);

    std::size_t size() const;
    std::string item(std::size_t i) const;
    std::vector<std::string> items() const;

private:
    const CvarList* m_list;
    const std::vector<Finding>* m_findings;
};

std::string findingItem(const CvarList& list, const Finding& finding);
std::string totalItem(std::uint64_t count);

} // namespace tromel
