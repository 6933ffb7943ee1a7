// What commands do, in the plain model: written from the engines' rules, one command at a time.

#include "ReferenceConsole.h"

#include <cmath>
#include <limits>

namespace tromel::reference {

namespace {

using console::folded;

bool invalidName(const std::string& name)
{
    return name.find_first_of("\\\";") != std::string::npos;
}

Text withoutForeign(const Text& value)
{
    Text out;
    for (const Char& c : value) {
        const auto b = static_cast<unsigned char>(c.c);
        if (b != 0xFF && !(b >= 0x80 && b <= 0xA0))
            out.push_back(c);
    }
    return out;
}

} // namespace

void Console::runLine(Session& s, const Text& line)
{
    args = tokenize(line);
    if (args.empty())
        return;
    here = line[args[0].raw].place;
    const bool et = d == Dialect::Et;
    const bool ioq3 = d == Dialect::Ioq3;
    const std::size_t c = args.size();
    if (is(0, "set"))
        return setCommand(s, Setter::Set);
    if (is(0, "seta"))
        return setCommand(s, Setter::Seta);
    if (is(0, "sets"))
        return setCommand(s, Setter::Sets);
    if (is(0, "setu"))
        return setCommand(s, Setter::Setu);
    if (is(0, "toggle"))
        return toggle(s);
    if (is(0, "cycle") && !ioq3)
        return cycle(s);
    if (is(0, "reset")) {
        if (c != 2)
            return;
        const Text name = invalidName(word(1)) ? madeText("BADNAME") : args[1].text;
        const std::string n = bytesOf(name);
        if (!watch.find(n).empty())
            return unknownSet(s, Setter::Reset, n, {});
        if (const auto it = vars.find(folded(n)); it != vars.end())
            assign(s, Setter::Reset, name, it->second.reset);
        return;
    }
    if (is(0, "unset") && !et) {
        if (c != 2)
            return;
        if (!watch.find(word(1)).empty())
            return unknownSet(s, Setter::Unset, word(1), {});
        if (!s.closure)
            vars.erase(folded(word(1)));
        return;
    }
    if (is(0, "print") && !et)
        return;
    if (is(0, "bind"))
        return bind(s);
    if (is(0, "unbind") || is(0, "unbindall")) {
        if (s.closure)
            return;
        if (is(0, "unbindall")) {
            for (auto& [key, binding] : keys)
                if (!binding.empty())
                    binding.clear(), dirty.insert(key);
        } else if (c == 2) {
            if (const int key = console::keyNumber(d, word(1)); key >= 0)
                keys[key].clear(), dirty.insert(key);
        }
        return;
    }
    if (is(0, "vstr"))
        return vstr(s);
    if (is(0, "exec") || (is(0, "execq") && !et))
        return exec(s);
    if (is(0, "echo"))
        return echo(s);
    if (is(0, "wait")) {
        if (s.closure)
            return;
        int frames = c == 2 ? console::readInt(word(1)) : 1;
        if (!et && frames < 0)
            frames = 1;
        if (frames < 0)
            s.dead = true;
        if (frames > 0) {
            s.star = s.slash = false;
            snapshot();
        }
        return;
    }
    bare(s);
}

void Console::report(
    const Session& s, Setter setter, const std::string& name, std::optional<std::string> value)
{
    const auto entries = watch.find(name);
    if (!entries.empty())
        found.insert({ here.file, here.offset, std::vector<std::uint32_t>(entries.begin(), entries.end()),
            static_cast<int>(setter), std::move(value), s.keyPress, s.possible });
}

Text Console::cleanedValue(const std::string& name, const Text& value) const
{
    return d != Dialect::Ioq3 && userinfo.count(folded(name)) ? withoutForeign(value) : value;
}

void Console::assign(Session& s, Setter setter, const Text& nameText, Text value)
{
    const std::string name = bytesOf(nameText);
    value = cleanedValue(name, value);
    report(s, setter, name, bytesOf(value));
    if (s.closure)
        return addPossible(name, value);
    const auto it = vars.find(folded(name));
    vars[folded(name)] = { value, it == vars.end() ? value : it->second.reset };
    if (possible.count(folded(name)) && possible[folded(name)].vstrKinds != 0)
        schedule(value, 2, false, true);
}

void Console::unknownSet(
    Session& s, Setter setter, const std::string& name, const std::vector<Text>& candidates)
{
    report(s, setter, name, std::nullopt);
    if (!s.closure)
        vars.erase(folded(name));
    for (const Text& c : candidates)
        addPossible(name, c);
}

void Console::addPossible(const std::string& name, const Text& value)
{
    Possible& p = possible[folded(name)];
    if (!p.seen.insert(keyOf(value)).second)
        return;
    p.values.push_back(value);
    for (unsigned kind = 0; kind < 4; ++kind)
        if (p.vstrKinds & (1U << kind))
            schedule(value, 2, kind & 1, kind & 2);
}

void Console::setCommand(Session& s, Setter setter)
{
    std::size_t c = args.size();
    if (c < 3 || (d == Dialect::Et && setter != Setter::Set && c > 4))
        return;
    if (d != Dialect::Ioq3 && c >= 4 && word(c - 1) == "unsafe")
        --c;
    Text value;
    if (d == Dialect::Et) {
        // ET joins the values while its count, one short for each and an empty one's
        // neighbour's length, stays under 1022.
        std::size_t k = 2;
        std::size_t counted = 0;
        for (; k < c; ++k) {
            const std::size_t length = word(k).empty() ? word(k + 1).size() : word(k).size() - 1;
            if (counted + length >= 1022)
                break;
            counted += length;
        }
        value = joinArgs(2, k);
        if (k > 2 && k < c)
            value.push_back(made(' ', here));
    } else {
        value = joinArgs(2, c);
    }
    const Text name = invalidName(word(1)) ? madeText("BADNAME") : args[1].text;
    assign(s, setter, name, value);
    if (setter == Setter::Setu && d != Dialect::Ioq3 && !s.closure)
        userinfo.insert(folded(bytesOf(name)));
}

void Console::toggle(Session& s)
{
    const std::size_t c = args.size();
    if (c < 2 || c == 3 || (d == Dialect::Et && c != 2))
        return;
    const Text name = invalidName(word(1)) ? madeText("BADNAME") : args[1].text;
    const auto it = vars.find(folded(word(1)));
    const bool known = it != vars.end();
    const std::string now = known ? bytesOf(it->second.value) : "";
    if (!known && !watch.find(word(1)).empty()) {
        std::vector<Text> candidates;
        for (std::size_t k = 2; c > 2 && k < c; ++k)
            candidates.push_back(args[k].text);
        return unknownSet(s, Setter::Toggle, bytesOf(name), candidates);
    }
    if (c == 2) {
        const double v = console::readFloat(now);
        const bool zero = d == Dialect::Et ? console::truncated(v) == 0 : v == 0;
        return assign(s, Setter::Toggle, name, madeText(zero ? "1" : "0"));
    }
    std::size_t next = 2;
    for (std::size_t k = 2; k + 1 < c; ++k)
        if (word(k) == now) {
            next = k + 1;
            break;
        }
    assign(s, Setter::Toggle, name, args[next].text);
}

void Console::cycle(Session& s)
{
    const std::size_t c = args.size();
    if (c < 4 || c > 5)
        return;
    const Text name = invalidName(word(1)) ? madeText("BADNAME") : args[1].text;
    const auto it = vars.find(folded(word(1)));
    if (it == vars.end() && !watch.find(word(1)).empty())
        return unknownSet(s, Setter::Cycle, bytesOf(name), {});
    const int old = console::truncated(console::readFloat(it == vars.end() ? "" : bytesOf(it->second.value)));
    const int step = c == 5 ? console::readInt(word(4)) : 1;
    const int value = console::cycled(old, console::readInt(word(2)), console::readInt(word(3)), step);
    assign(s, Setter::Cycle, name, madeText(std::to_string(value)));
}

void Console::bind(Session& s)
{
    const std::size_t c = args.size();
    if (c < 3)
        return;
    const int key = console::keyNumber(d, word(1));
    if (key < 0)
        return;
    const Text binding = joinArgs(2, c);
    if (s.closure)
        return pressLater(key, binding, s.possible);
    keys[key] = binding;
    dirty.insert(key);
}

void Console::vstr(Session& s)
{
    if (args.size() != 2)
        return;
    const std::string name = word(1);
    if (s.closure)
        return closureVstr(name, s.keyPress, s.possible);
    const auto it = vars.find(folded(name));
    insertFront(s, it == vars.end() ? Text() : it->second.value, 2);
    if (const auto p = possible.find(folded(name)); p != possible.end())
        for (const Text& v : std::vector<Text>(p->second.values))
            schedule(v, 2, false, true);
}

void Console::exec(Session& s)
{
    if (args.size() != 2)
        return;
    const auto id = findFile(word(1));
    if (!id)
        return;
    if (s.closure)
        return schedule(fileText(*id), 1, s.keyPress, s.possible);
    insertFront(s, fileText(*id), 1);
}

void Console::echo(Session& s)
{
    const std::size_t c = args.size();
    if (d == Dialect::Ioq3)
        return;
    std::vector<std::vector<Text>> parts;
    bool values = false;
    for (std::size_t k = 1; k < c; ++k)
        values = values || is(k, "vstr");
    if (d == Dialect::Et) {
        for (std::size_t k = 1; k < c; ++k) {
            Text piece = args[k].text;
            piece.push_back(made(' ', here));
            parts.push_back({ piece });
        }
    } else if (!values) {
        parts.push_back({ joinArgs(1, c) });
    } else {
        for (std::size_t k = 1; k < c; ++k) {
            if (!is(k, "vstr")) {
                parts.push_back({ args[k].text });
                continue;
            }
            const auto it = vars.find(folded(word(k + 1)));
            std::vector<Text> choices { it == vars.end() ? Text() : it->second.value };
            if (const auto p = possible.find(folded(word(k + 1))); p != possible.end())
                choices.insert(choices.end(), p->second.values.begin(), p->second.values.end());
            parts.push_back(choices);
            ++k;
        }
    }
    std::size_t combinations = 1;
    for (const auto& part : parts)
        combinations = std::min<std::size_t>(combinations * part.size(), 17);
    if (combinations > 16) {
        gaveUp = true;
        return;
    }
    std::vector<std::size_t> pick(parts.size(), 0);
    for (std::size_t n = 0; n < combinations; ++n) {
        const bool exact = n == 0 && !s.closure;
        if (exact && d == Dialect::Et) {
            insertBack(s, madeText("cpm \""));
            for (const auto& part : parts)
                insertBack(s, part[0]);
            insertBack(s, madeText("\"\n"));
        } else {
            Text line = madeText("cpm \"");
            for (std::size_t k = 0; k < parts.size(); ++k)
                for (const Char& ch : parts[k][pick[k]])
                    if (d == Dialect::Et || line.size() < 5 + 1023)
                        line.push_back(ch);
            const Text end = madeText("\"\n");
            line.insert(line.end(), end.begin(), end.end());
            if (exact)
                insertBack(s, line);
            else
                schedule(line, 0, s.keyPress, s.possible || !s.closure);
        }
        for (std::size_t k = 0; k < pick.size(); ++k) {
            if (++pick[k] < parts[k].size())
                break;
            pick[k] = 0;
        }
    }
}

// No command of that name: a cvar's name sets it; an unknown name may be an engine cvar, whose
// value the closure then considers; ET mods' +vstr runs a vstr.
void Console::bare(Session& s)
{
    const std::size_t c = args.size();
    const std::string name = word(0);
    if (!watch.find(name).empty() || vars.count(folded(name))) {
        if (c >= 2)
            assign(s, Setter::Bare, args[0].text, d == Dialect::Et ? args[1].text : joinArgs(1, c));
        return;
    }
    if (d != Dialect::Ioq3 && (is(0, "+vstr") || is(0, "-vstr"))) {
        if (c != 5)
            return;
        const std::size_t target = name[0] == '+' ? 1 : 2;
        if (s.closure)
            return closureVstr(word(target), s.keyPress, s.possible);
        Text t = madeText("vstr ");
        t.insert(t.end(), args[target].text.begin(), args[target].text.end());
        t.push_back(made(';', here));
        insertBack(s, t);
        return;
    }
    if (c < 2)
        return;
    const Text value = d == Dialect::Et ? args[1].text : joinArgs(1, c);
    addPossible(name, value);
    if (d != Dialect::Ioq3)
        addPossible(name, withoutForeign(value));
}

// exec's file: the argument cut to 63 bytes, ".cfg" added when it has no extension; no "..",
// "::"; found in the config's folder whatever its case, and short enough for the buffer.
std::optional<std::uint32_t> Console::findFile(const std::string& arg)
{
    if (const auto known = foundByArg.find(arg); known != foundByArg.end())
        return known->second;
    return foundByArg[arg] = lookUp(arg);
}

std::optional<std::uint32_t> Console::lookUp(const std::string& arg)
{
    std::string name = arg.substr(0, 63);
    bool extension = false;
    if (d == Dialect::Et) {
        for (std::size_t i = name.size(); i > 1 && name[i - 1] != '/'; --i)
            extension = extension || name[i - 1] == '.';
    } else {
        const std::size_t dot = name.rfind('.');
        extension
            = dot != std::string::npos && (name.rfind('/') == std::string::npos || name.rfind('/') < dot);
    }
    if (!extension)
        name = (name + ".cfg").substr(0, 63);
    if (name.find("..") != std::string::npos || name.find("::") != std::string::npos)
        return std::nullopt;
    std::vector<std::string> parts;
    std::string part;
    for (const char c : name + "/") {
        if (c != '/' && c != '\\') {
            part += c;
            continue;
        }
        if (!part.empty() && part != ".")
            parts.push_back(part);
        part.clear();
    }
    if (parts.size() != 1)
        return std::nullopt;
    const std::string key = folded(parts[0]);
    std::string text;
    if (key == folder.root)
        text = texts[0];
    else if (const auto it = folder.files.find(key); it != folder.files.end())
        text = it->second.substr(0, it->second.find('\0'));
    else
        return std::nullopt;
    if (text.size() > capacity - 1)
        return std::nullopt;
    if (!idOf.count(key)) {
        idOf[key] = static_cast<std::uint32_t>(texts.size());
        texts.push_back(text);
    }
    return idOf[key];
}

} // namespace tromel::reference
