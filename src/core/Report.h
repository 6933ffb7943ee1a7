#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tromel {

struct CvarList;
struct Finding;

/// The report as the window's list shows it: "Ligne: <j> - <name>" per finding, then " ", then
/// "Total: <count> cvars interdite". Items are made on demand, and findings are kept compactly: a
/// line number per run of one line's findings, and each name as a list index of 1, 2 or 4 bytes
/// by the list's size. Twenty million findings of a 62-name list take about 20 MB.
class Report {
public:
    /// list must outlive the report; findings index into it.
    explicit Report(const CvarList& list);
    /// A report of findings in hand, in report order.
    Report(const CvarList& list, const std::vector<Finding>& findings);
    ~Report();
    Report(Report&&) noexcept;
    Report& operator=(Report&&) noexcept;

    /// Appends findings in report order. May throw std::bad_alloc; the report is then only fit
    /// to be dropped.
    void add(const Finding* findings, std::size_t count);

    const CvarList& list() const { return *m_list; }
    std::uint64_t findings() const { return m_count; }
    Finding finding(std::uint64_t i) const;

    /// Items: one per finding, then " " and the total.
    std::uint64_t size() const { return m_count + 2; }
    std::string item(std::uint64_t i) const;
    std::vector<std::string> items() const;

private:
    struct Block;
    Block& blockFor(const Finding& f);

    const CvarList* m_list;
    unsigned m_width; // bytes per name index
    std::vector<Block> m_blocks;
    std::uint64_t m_count = 0;
};

std::string findingItem(const CvarList& list, const Finding& finding);
std::string totalItem(std::uint64_t count);

} // namespace tromel
