#include "Scanner.h"

#include "CvarList.h"
#include "ScanEngine.h"

#include <algorithm>

namespace tromel {

Matcher::Matcher(const CvarList& list)
    : m_tables(std::make_unique<Tables>(list))
{
}

Matcher::~Matcher() = default;

struct LineScanner::State {
    explicit State(const Matcher& matcher)
        : engine(matcher.tables(), found, 1 << 16)
    {
    }
    std::vector<Finding> found;
    ScanEngine engine;
};

LineScanner::LineScanner(const Matcher& matcher)
    : m_state(std::make_unique<State>(matcher))
{
}

LineScanner::~LineScanner() = default;

void LineScanner::feed(std::string_view bytes, std::vector<Finding>& out)
{
    m_state->engine.append(bytes);
    out.insert(out.end(), m_state->found.begin(), m_state->found.end());
    m_state->found.clear();
}

void LineScanner::finish(std::vector<Finding>& out)
{
    m_state->engine.finish();
    out.insert(out.end(), m_state->found.begin(), m_state->found.end());
    m_state->found.clear();
}

std::uint64_t LineScanner::lineCount() const
{
    return m_state->engine.lineCount();
}

std::vector<Finding> scanBuffer(std::string_view data, const Matcher& matcher)
{
    std::vector<Finding> out;
    LineScanner scanner(matcher);
    scanner.feed(data, out);
    scanner.finish(out);
    return out;
}

} // namespace tromel
