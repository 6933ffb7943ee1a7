// The plain model's reading: the command buffer, the tokenizer, and what key presses run.

#include "ReferenceConsole.h"

namespace tromel::reference {

using console::folded;

void Console::run(const std::string& config)
{
    std::string text = config.substr(0, config.find('\0'));
    texts.push_back(text);
    idOf[folder.root] = 0;
    Session load;
    load.rootOversized = text.size() + 1 > capacity;
    for (std::size_t i = 0; i < text.size(); ++i)
        load.buffer.push_back({ { text[i], { i, 0 }, true }, true });
    load.buffer.push_back({ newlineAfter(fileText(0)), true });
    load.rootItems = load.buffer.size();
    execute(load);
    if (gaveUp)
        return;
    snapshot();
    if (load.dead)
        return;
    pressing = true;
    for (const auto& [key, binding, isPossible] : pending)
        press(key, binding, isPossible);
    for (const std::string& hook : hooks())
        closureVstr(hook, true, false);
    drain();
}

Text Console::takeLine(Session& s)
{
    const bool comments = d != Dialect::Et;
    bool odd = false;
    std::size_t i = 0;
    const std::size_t n = s.buffer.size();
    for (; i < n; ++i) {
        spend(1);
        const char c = s.buffer[i].ch.c;
        if (c == '"')
            odd = !odd;
        if (!comments) {
            if ((!odd && c == ';') || c == '\n' || c == '\r')
                break;
            continue;
        }
        if (!odd) {
            if (i + 1 < n) {
                const char next = s.buffer[i + 1].ch.c;
                if (!s.star && c == '/' && next == '/')
                    s.slash = true;
                else if (!s.slash && c == '/' && next == '*')
                    s.star = true;
                else if (s.star && c == '*' && next == '/') {
                    s.star = false;
                    ++i;
                    break;
                }
            }
            if (!s.slash && !s.star && c == ';')
                break;
        }
        if (!s.star && (c == '\n' || c == '\r')) {
            s.slash = false;
            break;
        }
    }
    if (i > 1022)
        i = 1023;
    Text line;
    for (std::size_t k = 0; k < i; ++k)
        line.push_back(s.buffer[k].ch);
    const std::size_t drop = i == n ? n : i + 1;
    for (std::size_t k = 0; k < drop; ++k)
        s.rootItems -= s.buffer[k].root ? 1 : 0;
    s.buffer.erase(s.buffer.begin(), s.buffer.begin() + static_cast<std::ptrdiff_t>(drop));
    return line;
}

std::vector<Console::Arg> Console::tokenize(const Text& line) const
{
    std::vector<Arg> out;
    const std::size_t n = line.size();
    const auto at = [&](std::size_t k) { return k < n ? line[k].c : '\0'; };
    const auto space = [&](std::size_t k) { return static_cast<signed char>(line[k].c) <= ' '; };
    const auto slashes = [&](std::size_t k) {
        return at(k) == '/' && at(k + 1) == '/' && (d == Dialect::Ioq3 || k == 0 || at(k - 1) != ':');
    };
    std::size_t i = 0;
    while (true) {
        while (true) {
            while (i < n && space(i))
                ++i;
            if (i >= n || slashes(i))
                return out;
            if (!(at(i) == '/' && at(i + 1) == '*'))
                break;
            std::size_t k = i;
            while (k < n && !(at(k) == '*' && at(k + 1) == '/'))
                ++k;
            if (k >= n)
                return out;
            i = k + 2;
        }
        Arg a { {}, i };
        if (at(i) == '"') {
            ++i;
            while (i < n && at(i) != '"')
                a.text.push_back(line[i++]);
            out.push_back(a);
            if (i >= n)
                return out;
            ++i;
            continue;
        }
        while (i < n) {
            if (d == Dialect::EtLegacy && static_cast<unsigned char>(at(i)) >= 0x80) {
                const std::size_t width = utf8Width(line, i);
                if (utf8Ends(line, i, width))
                    break;
                for (std::size_t k = 0; k < width; ++k)
                    a.text.push_back(line[i++]);
                continue;
            }
            if (space(i) || at(i) == '"' || slashes(i) || (at(i) == '/' && at(i + 1) == '*'))
                break;
            a.text.push_back(line[i++]);
        }
        out.push_back(a);
        if (i >= n)
            return out;
    }
}

// ET: Legacy: a lead byte claims its sequence's length in bytes, present ones only.
std::size_t Console::utf8Width(const Text& line, std::size_t i)
{
    const auto b = static_cast<unsigned char>(line[i].c);
    std::size_t want = 0;
    if (b >= 0xC2 && b <= 0xDF)
        want = 1;
    else if (b >= 0xE0 && b <= 0xEF)
        want = 2;
    else if (b >= 0xF0 && b <= 0xF4)
        want = 3;
    return 1 + std::min(want, line.size() - i - 1);
}

// ... and ends the argument when a well-formed sequence decodes to a space, a control
// character or a quote.
bool Console::utf8Ends(const Text& line, std::size_t i, std::size_t width)
{
    const auto byte
        = [&](std::size_t k) { return k < line.size() ? static_cast<unsigned char>(line[k].c) : 0; };
    const unsigned b = byte(i);
    std::size_t follow;
    if ((b & 0xE0) == 0xC0)
        follow = 1;
    else if (b == 0xED && i + 1 < line.size() && (byte(i + 1) & 0xA0) == 0xA0)
        return false;
    else if ((b & 0xF0) == 0xE0)
        follow = 2;
    else if ((b & 0xF8) == 0xF0)
        follow = 3;
    else
        return false;
    for (std::size_t k = 1; k <= follow; ++k)
        if (i + k >= line.size() || (byte(i + k) & 0xC0) != 0x80)
            return false;
    if (width == 1)
        return false; // decoded as the lead byte alone, above ' '
    unsigned value = b & (width == 2 ? 0x1F : width == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < width; ++k)
        value = value << 6 | (byte(i + k) & 0x3F);
    return value <= ' ' || value == '"';
}

// Arguments joined by spaces; a space that stands between them in the file is that byte.
Text Console::joinArgs(std::size_t first, std::size_t last) const
{
    Text t;
    for (std::size_t k = first; k < last; ++k) {
        if (k > first)
            t.push_back(made(' ', here));
        t.insert(t.end(), args[k].text.begin(), args[k].text.end());
    }
    bool oneStretch = !t.empty();
    for (std::size_t k = first; k < last && oneStretch; ++k)
        oneStretch = !args[k].text.empty();
    for (std::size_t i = 0; i < t.size() && oneStretch; ++i) {
        const Place p { t[0].place.offset + i, t[0].place.file };
        const bool fileByte = t[0].written && p.file < texts.size() && p.offset < texts[p.file].size();
        oneStretch = fileByte && texts[p.file][p.offset] == t[i].c
            && (t[i].c == ' ' || (t[i].written && t[i].place == p));
    }
    if (oneStretch)
        for (std::size_t i = 0; i < t.size(); ++i)
            t[i] = { t[i].c, { t[0].place.offset + i, t[0].place.file }, true };
    return t;
}

void Console::schedule(const Text& text, int newlines, bool keyPress, bool isPossible)
{
    const int tag = (keyPress ? 1 : 0) | (isPossible ? 2 : 0) | std::min(newlines, 3) << 2;
    if (!ran.insert({ keyOf(text), tag }).second)
        return;
    Text t = text;
    for (int k = 0; k < newlines; ++k)
        t.push_back(newlineAfter(text));
    jobs.push_back({ t, keyPress, isPossible });
}

void Console::drain()
{
    if (draining)
        return;
    draining = true;
    while (!jobs.empty() && !gaveUp) {
        Job job = jobs.front();
        jobs.pop_front();
        Session s;
        s.closure = true;
        s.keyPress = job.keyPress;
        s.possible = job.possible;
        for (const Char& c : job.text)
            s.buffer.push_back({ c, false });
        execute(s);
    }
    draining = false;
}

void Console::closureVstr(const std::string& name, bool keyPress, bool isPossible)
{
    Possible& p = possible[folded(name)];
    const unsigned bit = 1U << ((keyPress ? 1 : 0) | (isPossible ? 2 : 0));
    if (p.vstrKinds & bit)
        return;
    p.vstrKinds |= bit;
    if (const auto it = vars.find(folded(name)); it != vars.end())
        schedule(it->second.value, 2, keyPress, isPossible);
    for (const Text& v : std::vector<Text>(p.values))
        schedule(v, 2, keyPress, isPossible);
}

void Console::pressLater(int key, const Text& binding, bool isPossible)
{
    if (!pressedKeys.insert({ key, keyOf(binding), isPossible }).second)
        return;
    if (pressing)
        press(key, binding, isPossible);
    else
        pending.emplace_back(key, binding, isPossible);
}

void Console::press(int key, const Text& binding, bool isPossible)
{
    if (console::runsOnPress(d, key))
        schedule(pressText(binding, key, true), 0, true, isPossible);
    if (console::runsOnRelease(d, key))
        if (const Text up = pressText(binding, key, false); !up.empty())
            schedule(up, 0, true, isPossible);
}

// A key press adds the binding and a line break; a "+" button command gets " KEY TIME" and a
// release as "-"; ioquake3 does this for each piece between ';'.
Text Console::pressText(const Text& binding, int key, bool down) const
{
    const Place first = binding.empty() ? Place {} : binding[0].place;
    const std::string suffix = " " + std::to_string(key) + " 0\n";
    Text out;
    const auto button = [&](std::size_t begin, std::size_t end) {
        Text piece;
        piece.push_back(down ? binding[begin] : made('-', binding[begin].place));
        for (std::size_t i = begin + 1; i < end; ++i)
            piece.push_back(binding[i]);
        for (const char c : suffix)
            piece.push_back(made(c, first));
        piece.resize(std::min<std::size_t>(piece.size(), 1023));
        out.insert(out.end(), piece.begin(), piece.end());
    };
    if (d != Dialect::Ioq3) {
        if (!binding.empty() && binding[0].c == '+')
            button(0, binding.size());
        else if (down) {
            out = binding;
            out.push_back(made('\n', first));
        }
        return out;
    }
    const std::size_t n = std::min<std::size_t>(binding.size(), 1023);
    std::size_t p = 0;
    while (true) {
        while (p < n && (binding[p].c == ' ' || (binding[p].c >= '\t' && binding[p].c <= '\r')))
            ++p;
        std::size_t end = p;
        while (end < n && binding[end].c != ';')
            ++end;
        if (p < end && binding[p].c == '+')
            button(p, end);
        else if (down) {
            out.insert(out.end(), binding.begin() + static_cast<std::ptrdiff_t>(p),
                binding.begin() + static_cast<std::ptrdiff_t>(end));
            out.push_back(made('\n', first));
        }
        if (end >= n)
            return out;
        p = end + 1;
    }
}

void Console::snapshot()
{
    for (const int key : dirty)
        if (!keys[key].empty())
            pressLater(key, keys[key], false);
    dirty.clear();
}

std::vector<std::string> Console::hooks() const
{
    if (d == Dialect::Ioq3)
        return { "cl_activeAction" };
    if (d == Dialect::Et)
        return { "cl_activeAction", "com_watchdog_cmd" };
    return { "cl_activeAction", "com_watchdog_cmd", "cg_autoCmd", "cg_onWeapzoomStart", "cg_onWeapzoomEnd" };
}

} // namespace tromel::reference
