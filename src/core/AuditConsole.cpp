#include "AuditConsole.h"

#include <algorithm>
#include <cstdint>

namespace tromel::console {

namespace {

// Bytes that end a command or open a quote or comment; the rest of plain text is skipped quickly.
struct PlainStops {
    bool table[256] = {};
    constexpr PlainStops()
    {
        for (const char c : std::string_view("\";\n\r/"))
            table[static_cast<unsigned char>(c)] = true;
    }
    constexpr bool operator[](char c) const { return table[static_cast<unsigned char>(c)]; }
};

constexpr PlainStops kPlainStops;

bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

} // namespace

CommandSplitter::CommandSplitter(std::string_view text, Dialect dialect)
    : m_text(text)
    , m_splitInLineComment(dialect == Dialect::Old)
{
}

bool CommandSplitter::next(Span& line)
{
    if (m_pos >= m_text.size())
        return false;
    const std::size_t start = m_pos;
    // A longer command is cut here whatever follows, so the scan never looks further and long
    // stretches without a break stay linear.
    const std::size_t limit = std::min(m_text.size(), start + kMaxCommandLine);
    const auto at = [&](std::size_t k) { return k < limit ? m_text[k] : '\0'; };
    enum class State { Plain, Quoted, LineComment, BlockComment } state = State::Plain;
    std::size_t i = start;
    for (; i < limit; ++i) {
        const char c = m_text[i];
        switch (state) {
        case State::Plain:
            if (!kPlainStops[c])
                continue;
            if (c == '"') {
                state = State::Quoted;
            } else if (c == '/' && at(i + 1) == '/') {
                state = State::LineComment;
                ++i;
            } else if (c == '/' && at(i + 1) == '*') {
                state = State::BlockComment;
                ++i;
            } else if (c != '/') {
                line = { start, i };
                m_pos = i + 1;
                return true;
            }
            continue;
        case State::Quoted:
            if (c == '"')
                state = State::Plain;
            else if (isLineBreak(c))
                break;
            continue;
        case State::LineComment:
            if (isLineBreak(c) || (c == ';' && m_splitInLineComment))
                break;
            continue;
        case State::BlockComment:
            // The command goes on after the comment, whatever lines it spans.
            if (c == '*' && at(i + 1) == '/') {
                state = State::Plain;
                ++i;
            }
            continue;
        }
        line = { start, i };
        m_pos = i + 1;
        return true;
    }
    // The end of the text, or the cut: the rest is read afresh as new commands.
    line = { start, i };
    m_pos = i;
    return true;
}

void tokenize(std::string_view text, Span line, std::vector<Token>& tokens)
{
    tokens.clear();
    const std::string_view s = text.substr(line.begin, line.end - line.begin);
    const std::size_t n = s.size();
    const auto at = [&](std::size_t k) { return k < n ? s[k] : '\0'; };
    const auto opensComment
        = [&](std::size_t k) { return s[k] == '/' && (at(k + 1) == '/' || at(k + 1) == '*'); };
    const auto token = [&](std::size_t b, std::size_t e, std::size_t rb, std::size_t re) {
        tokens.push_back({ line.begin + b, line.begin + e, line.begin + rb, line.begin + re });
    };

    std::size_t i = 0;
    for (;;) {
        while (i < n && isSeparator(s[i]))
            ++i;
        if (i >= n || (s[i] == '/' && at(i + 1) == '/'))
            return;
        if (s[i] == '/' && at(i + 1) == '*') {
            const std::size_t close = s.find("*/", i + 2);
            if (close == std::string_view::npos)
                return;
            i = close + 2;
            continue;
        }
        if (s[i] == '"') {
            const std::size_t raw = i++;
            const std::size_t close = std::min(s.find('"', i), n);
            token(i, close, raw, std::min(close + 1, n));
            i = close + 1;
            continue;
        }
        const std::size_t b = i;
        while (i < n && !isSeparator(s[i]) && s[i] != '"' && !opensComment(i))
            ++i;
        token(b, i, b, i);
    }
}

bool equalsFolded(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}

std::size_t FoldedHash::operator()(std::string_view s) const noexcept
{
    // FNV-1a over the folded bytes.
    std::uint64_t h = 14695981039346656037ULL;
    for (char c : s) {
        h ^= static_cast<unsigned char>(foldCase(c));
        h *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(h);
}

} // namespace tromel::console
