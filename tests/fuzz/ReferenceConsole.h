#pragma once

// A deliberately plain model of the console, written from the rules rather than for speed, to
// compare the console model with: the command buffer is a literal queue of bytes (each with where
// it is written) that exec and vstr push text onto the front of and run line by line; variables,
// bindings and what the closure has read are plain maps. Key names and C number reading are the
// model's own (they are tables and libc, not rules).

#include "ConsoleSyntax.h"

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace tromel::reference {

using console::Dialect;
using console::Place;
using console::Setter;

struct Char {
    char c;
    Place place;
    bool written;
};
using Text = std::vector<Char>;

inline std::string bytesOf(const Text& t)
{
    std::string s;
    for (const Char& c : t)
        s += c.c;
    return s;
}

// What a text is, for reading each once: its bytes and where each is written.
using TextKey = std::vector<std::tuple<char, std::uint32_t, std::uint64_t, bool>>;
inline TextKey keyOf(const Text& t)
{
    TextKey k;
    for (const Char& c : t)
        k.emplace_back(
            c.c, c.place.file, c.written ? c.place.offset : c.place.offset | (1ULL << 63), c.written);
    return k;
}

// A set as compared: where, which entries, the setter, the value, when.
using Found = std::tuple<std::uint32_t, std::uint64_t, std::vector<std::uint32_t>, int,
    std::optional<std::string>, bool, bool>;

struct Folder {
    std::map<std::string, std::string> files; // by folded name: the folder beside the config
    std::string root; // the config's own name, folded
};

class Console {
public:
    Console(Dialect dialect, const console::Watch& names, const Folder& files, std::size_t bufferSize,
        std::uint64_t steps)
        : d(dialect)
        , watch(names)
        , folder(files)
        , capacity(bufferSize)
        , stepsLeft(steps)
    {
    }

    std::set<Found> found;
    bool gaveUp = false;

    void run(const std::string& config)
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

private:
    struct Item {
        Char ch;
        bool root;
    };
    struct Session {
        bool closure = false;
        bool keyPress = false;
        bool possible = false;
        std::deque<Item> buffer;
        bool rootOversized = false;
        std::size_t rootItems = 0;
        bool star = false;
        bool slash = false;
        bool dead = false;
    };
    struct Job {
        Text text;
        bool keyPress;
        bool possible;
    };
    struct Var {
        Text value;
        Text reset;
    };
    struct Possible {
        std::vector<Text> values;
        std::set<TextKey> seen;
        unsigned vstrKinds = 0;
    };

    static Char made(char c, Place p) { return { c, p, false }; }
    Text madeText(std::string_view s) const
    {
        Text t;
        for (const char c : s)
            t.push_back(made(c, here));
        return t;
    }
    Text fileText(std::uint32_t id)
    {
        if (fileTexts.size() <= id)
            fileTexts.resize(id + 1);
        if (fileTexts[id].size() != texts[id].size())
            for (std::size_t i = fileTexts[id].size(); i < texts[id].size(); ++i)
                fileTexts[id].push_back({ texts[id][i], { i, id }, true });
        return fileTexts[id];
    }
    static Char newlineAfter(const Text& t) { return made('\n', t.empty() ? Place {} : t.back().place); }

    bool spend(std::uint64_t n)
    {
        if (n >= stepsLeft)
            gaveUp = true;
        else
            stepsLeft -= n;
        return !gaveUp;
    }

    std::size_t used(const Session& s) const { return s.buffer.size() - (s.rootOversized ? s.rootItems : 0); }

    // Cbuf_InsertText and Cbuf_AddText.
    bool insertFront(Session& s, Text t, int newlines)
    {
        for (int k = 0; k < newlines; ++k)
            t.push_back(newlineAfter(t));
        if (t.size() + used(s) > capacity)
            return false;
        for (auto it = t.rbegin(); it != t.rend(); ++it)
            s.buffer.push_front({ *it, false });
        return true;
    }
    bool insertBack(Session& s, const Text& t)
    {
        if (used(s) + t.size() >= capacity)
            return false;
        for (const Char& c : t)
            s.buffer.push_back({ c, false });
        return true;
    }

    void execute(Session& s)
    {
        while (!s.buffer.empty() && !s.dead && !gaveUp) {
            Text line = takeLine(s);
            if (!spend(line.size() + 1))
                return;
            runLine(s, line);
            if (!s.closure)
                drain();
        }
    }

    Text takeLine(Session& s)
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

    // Cmd_TokenizeString, written plainly.
    struct Arg {
        Text text;
        std::size_t raw;
    };
    std::vector<Arg> tokenize(const Text& line) const
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
    static std::size_t utf8Width(const Text& line, std::size_t i)
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
    static bool utf8Ends(const Text& line, std::size_t i, std::size_t width)
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

    std::string word(std::size_t k) const { return k < args.size() ? bytesOf(args[k].text) : std::string(); }
    bool is(std::size_t k, std::string_view w) const { return console::equalsFolded(word(k), w); }
    // Arguments joined by spaces; a space that stands between them in the file is that byte.
    Text joinArgs(std::size_t first, std::size_t last) const
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

    // ReferenceConsole.cpp: what commands do.
    void runLine(Session& s, const Text& line);
    void report(const Session& s, Setter setter, const std::string& name, std::optional<std::string> value);
    void assign(Session& s, Setter setter, const Text& name, Text value);
    void unknownSet(Session& s, Setter setter, const std::string& name, const std::vector<Text>& candidates);
    void addPossible(const std::string& name, const Text& value);
    void schedule(const Text& text, int newlines, bool keyPress, bool possible);
    void closureVstr(const std::string& name, bool keyPress, bool possible);
    void press(int key, const Text& binding, bool possible);
    void pressLater(int key, const Text& binding, bool possible);
    Text pressText(const Text& binding, int key, bool down) const;
    void snapshot();
    void drain();
    std::vector<std::string> hooks() const;
    std::optional<std::uint32_t> findFile(const std::string& arg);
    std::optional<std::uint32_t> lookUp(const std::string& arg);
    Text cleanedValue(const std::string& name, const Text& value) const;
    void setCommand(Session& s, Setter setter);
    void toggle(Session& s);
    void cycle(Session& s);
    void bind(Session& s);
    void vstr(Session& s);
    void exec(Session& s);
    void echo(Session& s);
    void bare(Session& s);

    Dialect d;
    const console::Watch& watch;
    const Folder& folder;
    std::size_t capacity;
    std::uint64_t stepsLeft;

    std::vector<std::string> texts;
    std::vector<Text> fileTexts; // made once
    std::map<std::string, std::uint32_t> idOf;
    std::map<std::string, std::optional<std::uint32_t>> foundByArg;
    std::map<std::string, Var> vars;
    std::set<std::string> userinfo;
    std::map<std::string, Possible> possible;
    std::map<int, Text> keys;
    std::set<int> dirty;
    std::vector<std::tuple<int, Text, bool>> pending;
    std::set<std::tuple<int, TextKey, bool>> pressedKeys;
    bool pressing = false;
    std::deque<Job> jobs;
    std::set<std::pair<TextKey, int>> ran;
    bool draining = false;

    std::vector<Arg> args; // of the command being run
    Place here; // its place
};

} // namespace tromel::reference
