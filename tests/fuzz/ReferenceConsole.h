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

    void run(const std::string& config);

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

    // Cmd_TokenizeString, written plainly.
    struct Arg {
        Text text;
        std::size_t raw;
    };

    // ReferenceReading.cpp: the command buffer's cut, the tokenizer, joined arguments.
    Text takeLine(Session& s);
    std::vector<Arg> tokenize(const Text& line) const;
    static std::size_t utf8Width(const Text& line, std::size_t i);
    static bool utf8Ends(const Text& line, std::size_t i, std::size_t width);
    Text joinArgs(std::size_t first, std::size_t last) const;

    std::string word(std::size_t k) const { return k < args.size() ? bytesOf(args[k].text) : std::string(); }
    bool is(std::size_t k, std::string_view w) const { return console::equalsFolded(word(k), w); }

    // ReferenceConsole.cpp: what commands do; ReferenceReading.cpp: the closure and key presses.
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
