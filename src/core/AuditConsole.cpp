#include "AuditConsole.h"

#include <algorithm>
#include <cstdint>

namespace tromel::console {

namespace {

// Bytes that can end a command or change the state of the scan; the rest are skipped quickly.
struct SpecialBytes {
    bool table[256] = {};
    constexpr explicit SpecialBytes(std::string_view bytes)
    {
        for (char c : bytes)
            table[static_cast<unsigned char>(c)] = true;
    }
    constexpr bool operator[](char c) const { return table[static_cast<unsigned char>(c)]; }
};

constexpr SpecialBytes kOlderSpecial("\";\n\r");
constexpr SpecialBytes kNewerSpecial("\";\n\r/*");

} // namespace

CommandSplitter::CommandSplitter(std::string_view text, Dialect dialect)
    : m_text(text)
    , m_newer(dialect == Dialect::New)
{
}

bool CommandSplitter::next(Span& line)
{
    const std::size_t n = m_text.size();
    if (m_pos >= n)
        return false;
    const std::size_t start = m_pos;
    // Only the first kMaxCommandLine bytes matter: a longer command is cut there whatever follows,
    // so the scan never looks further and long stretches without a break stay linear.
    const std::size_t limit = std::min(n, start + kMaxCommandLine);
    bool quoted = false; // quote parity restarts with every command
    const SpecialBytes& special = m_newer ? kNewerSpecial : kOlderSpecial;
    std::size_t i = start;
    for (; i < limit; ++i) {
        const char c = m_text[i];
        if (!special[c])
            continue;
        if (c == '"')
            quoted = !quoted;
        if (!m_newer) {
            if ((!quoted && c == ';') || c == '\n' || c == '\r')
                break;
            continue;
        }
        if (!quoted) {
            if (i + 1 < n) {
                const char d = m_text[i + 1];
                if (!m_inStarComment && c == '/' && d == '/') {
                    m_inSlashComment = true;
                } else if (!m_inSlashComment && c == '/' && d == '*') {
                    m_inStarComment = true;
                } else if (m_inStarComment && c == '*' && d == '/') {
                    // The command ends inside the "*/": its '/' is dropped as the separator.
                    m_inStarComment = false;
                    ++i;
                    break;
                }
            }
            if (!m_inSlashComment && !m_inStarComment && c == ';')
                break;
        }
        if (!m_inStarComment && (c == '\n' || c == '\r')) {
            m_inSlashComment = false;
            break;
        }
    }
    if (i - start >= kMaxCommandLine) {
        // The rest runs as a new command read from scratch.
        line = { start, start + kMaxCommandLine };
        m_pos = start + kMaxCommandLine + 1;
        m_inSlashComment = false;
        m_inStarComment = false;
    } else {
        line = { start, i };
        m_pos = i + 1;
    }
    return true;
}

void tokenize(std::string_view text, Span line, Dialect dialect, std::vector<Token>& tokens)
{
    tokens.clear();
    const std::string_view s = text.substr(line.begin, line.end - line.begin);
    const std::size_t n = s.size();
    const auto at = [&](std::size_t k) { return k < n ? s[k] : '\0'; };
    // Newer engines keep "//" after ':' so that URLs survive.
    const bool newer = dialect == Dialect::New;
    const auto slashComment = [&](std::size_t k) {
        return at(k) == '/' && at(k + 1) == '/' && (!newer || k == 0 || s[k - 1] != ':');
    };
    const auto starComment = [&](std::size_t k) { return at(k) == '/' && at(k + 1) == '*'; };
    const auto token = [&](std::size_t b, std::size_t e, std::size_t rb, std::size_t re) {
        tokens.push_back({ line.begin + b, line.begin + e, line.begin + rb, line.begin + re });
    };

    std::size_t i = 0;
    for (;;) {
        for (;;) {
            while (i < n && isSeparator(s[i]))
                ++i;
            if (i >= n || slashComment(i))
                return;
            if (!starComment(i))
                break;
            while (i < n && !(s[i] == '*' && at(i + 1) == '/'))
                ++i;
            if (i >= n)
                return;
            i += 2;
        }
        if (s[i] == '"') {
            const std::size_t raw = i++;
            const std::size_t b = i;
            while (i < n && s[i] != '"')
                ++i;
            token(b, i, raw, i < n ? i + 1 : i);
            if (i >= n)
                return;
            ++i;
            continue;
        }
        const std::size_t b = i;
        while (i < n && !isSeparator(s[i]) && s[i] != '"' && !slashComment(i) && !starComment(i))
            ++i;
        token(b, i, b, i);
        if (i >= n)
            return;
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
