#include "Report.h"

#include "CvarList.h"
#include "Scanner.h"

#include <algorithm>
#include <limits>

namespace tromel {

namespace {

// Findings per block: blocks are the only allocations that grow with the report, so none of
// them is large enough to fail for want of one contiguous range, and offsets fit in 32 bits.
constexpr std::uint32_t kBlockFindings = std::uint32_t { 1 } << 20;

unsigned indexWidth(std::size_t names)
{
    if (names <= 0xFF + 1)
        return 1;
    if (names <= 0xFFFF + 1)
        return 2;
    return 4;
}

} // namespace

// Consecutive findings. A run is findings of one line; a line's findings may span two blocks.
struct Report::Block {
    std::uint64_t firstLine = 0;
    std::uint64_t firstFinding = 0;
    std::vector<std::uint32_t> runLines; // line - firstLine
    std::vector<std::uint32_t> runStarts; // the run's first finding, from the block's start
    std::vector<unsigned char> names; // little-endian name indices, m_width bytes each
    std::uint32_t count = 0;
};

Report::Report(const CvarList& list)
    : m_list(&list)
    , m_width(indexWidth(list.names.size()))
{
}

Report::Report(const CvarList& list, const std::vector<Finding>& findings)
    : Report(list)
{
    add(findings.data(), findings.size());
}

Report::~Report() = default;
Report::Report(Report&&) noexcept = default;
Report& Report::operator=(Report&&) noexcept = default;

Report::Block& Report::blockFor(const Finding& f)
{
    if (!m_blocks.empty()) {
        Block& last = m_blocks.back();
        if (last.count < kBlockFindings && f.line >= last.firstLine
            && f.line - last.firstLine <= std::numeric_limits<std::uint32_t>::max())
            return last;
        // Full: its runs won't grow again, so give back what their growth reserved.
        last.runLines.shrink_to_fit();
        last.runStarts.shrink_to_fit();
    }
    Block block;
    block.firstLine = f.line;
    block.firstFinding = m_count;
    m_blocks.push_back(std::move(block));
    return m_blocks.back();
}

void Report::add(const Finding* findings, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const Finding& f = findings[i];
        Block& b = blockFor(f);
        const auto line = static_cast<std::uint32_t>(f.line - b.firstLine);
        if (b.count == 0 || b.runLines.back() != line) {
            b.runLines.push_back(line);
            b.runStarts.push_back(b.count);
        }
        for (unsigned byte = 0; byte < m_width; ++byte)
            b.names.push_back(static_cast<unsigned char>(f.index >> (8 * byte)));
        ++b.count;
        ++m_count;
    }
}

Finding Report::finding(std::uint64_t i) const
{
    const auto block = std::upper_bound(m_blocks.begin(), m_blocks.end(), i,
                           [](std::uint64_t n, const Block& b) { return n < b.firstFinding; })
        - 1;
    const auto k = static_cast<std::uint32_t>(i - block->firstFinding);
    const auto run = std::upper_bound(block->runStarts.begin(), block->runStarts.end(), k) - 1;
    Finding f;
    f.line = block->firstLine + block->runLines[static_cast<std::size_t>(run - block->runStarts.begin())];
    const unsigned char* name = block->names.data() + std::size_t { k } * m_width;
    for (unsigned byte = 0; byte < m_width; ++byte)
        f.index |= std::uint32_t { name[byte] } << (8 * byte);
    return f;
}

std::string findingItem(const CvarList& list, const Finding& finding)
{
    return "Ligne: " + std::to_string(finding.line) + " - " + list.names[finding.index];
}

std::string totalItem(std::uint64_t count)
{
    return "Total: " + std::to_string(count) + " cvars interdite";
}

std::string Report::item(std::uint64_t i) const
{
    if (i < m_count)
        return findingItem(*m_list, finding(i));
    if (i == m_count)
        return " ";
    return totalItem(m_count);
}

std::vector<std::string> Report::items() const
{
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(size()));
    for (std::uint64_t i = 0; i < size(); ++i)
        out.push_back(item(i));
    return out;
}

} // namespace tromel
