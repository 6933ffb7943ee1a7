// When a config costs more than the run's budget: every place a watched name is written, in the
// files read so far and those they exec, is a possible set. Sound without following the console:
// any set names its cvar somewhere, as a token or, inside a line longer than the console's cut
// (which can start a command at any byte), anywhere at all.

#include "ConsoleMachine.h"

#include <array>

namespace tromel::console {

namespace {

bool isWordByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}

} // namespace

void Machine::nameScan()
{
    std::vector<bool> scanned(m_files.count(), false);
    std::vector<std::uint32_t> queue;
    for (std::uint32_t f = 0; f < m_files.count(); ++f)
        queue.push_back(f);
    while (!queue.empty() && !m_cancelled) {
        const std::uint32_t file = queue.back();
        queue.pop_back();
        if (file < scanned.size() && scanned[file])
            continue;
        scanned.resize(std::max<std::size_t>(scanned.size(), file + 1), false);
        scanned[file] = true;
        scanFile(file, scanned, queue);
    }
}

void Machine::follow(
    std::string_view word, const std::vector<bool>& scanned, std::vector<std::uint32_t>& queue)
{
    std::string name(word.substr(0, 63));
    const std::size_t slash = name.rfind('/');
    if (name.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
        name += ".cfg";
    const Files::Found found = m_files.find(name.substr(0, 63), m_limits.buffer - 1);
    if (found.found() && (found.file >= scanned.size() || !scanned[found.file]))
        queue.push_back(found.file);
}

void Machine::scanFile(std::uint32_t file, std::vector<bool>& scanned, std::vector<std::uint32_t>& queue)
{
    const std::string_view text = m_files.text(file);
    const std::size_t n = text.size();
    std::array<bool, 256> first {}; // bytes a name can start with
    for (const std::string& name : m_watch.names())
        if (!name.empty()) {
            first[static_cast<unsigned char>(name[0])] = true;
            first[static_cast<unsigned char>(foldCase(name[0]))] = true;
            if (name[0] >= 'a' && name[0] <= 'z')
                first[static_cast<unsigned char>(name[0] - 'a' + 'A')] = true;
        }
    const auto found = [&](std::size_t at, std::size_t length) {
        const std::string_view name = text.substr(at, length);
        const std::span<const std::uint32_t> entries = m_watch.find(name);
        if (entries.empty())
            return;
        SetEvent e;
        e.setter = Setter::Written;
        e.name = name;
        e.entries = entries;
        e.command = name;
        e.place = { at, file };
        const RouteChain none(nullptr);
        e.route = &none;
        e.possible = true;
        m_observer.set(e);
    };
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        if (i < n && !isBreak(text[i]))
            continue;
        const bool longLine = i - lineStart > kMaxLine;
        for (std::size_t p = lineStart; p < i; ++p) {
            if ((p & 0xFFFF) == 0 && m_observer.cancelled()) {
                m_cancelled = true;
                return;
            }
            const bool starts
                = longLine || p == lineStart || !isWordByte(text[p - 1]) || !isWordByte(text[p]);
            if (!starts)
                continue;
            if (longLine) {
                for (const std::size_t length : m_watch.lengths())
                    if (p + length <= i)
                        found(p, length);
                continue;
            }
            std::size_t word = p;
            while (word < i && isWordByte(text[word]))
                ++word;
            if (word > p)
                found(p, word - p);
            for (const std::size_t length : m_watch.oddLengths())
                if (p + length <= i && length != word - p
                    && (p + length == i || !isWordByte(text[p + length])
                        || !isWordByte(text[p + length - 1])))
                    found(p, length);
        }
        // Files it execs: an "exec" or "execq" word, then a name.
        bool execWord = false;
        for (std::size_t p = lineStart; p < i;) {
            const auto separator = [&](std::size_t k) {
                return static_cast<signed char>(text[k]) <= ' ' || text[k] == ';' || text[k] == '"';
            };
            while (p < i && separator(p))
                ++p;
            std::size_t e = p;
            while (e < i && !separator(e))
                ++e;
            if (e == p)
                break;
            const std::string_view word = text.substr(p, e - p);
            if (execWord)
                follow(word, scanned, queue);
            execWord = equalsFolded(word, "exec") || equalsFolded(word, "execq");
            p = e;
        }
        lineStart = i + 1;
    }
}

} // namespace tromel::console
