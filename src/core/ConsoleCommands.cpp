// The console commands that set cvars, run text or wait, as each engine implements them.

#include "ConsoleMachine.h"

#include <algorithm>

namespace tromel::console {

namespace {

enum class Cmd : std::uint8_t {
    None,
    Set,
    Seta,
    Sets,
    Setu,
    Toggle,
    Cycle,
    Reset,
    Unset,
    Print,
    Bind,
    Unbind,
    Unbindall,
    Vstr,
    Exec,
    Echo,
    Wait
};

Cmd commandOf(Dialect dialect, std::string_view word)
{
    struct Entry {
        std::string_view name;
        Cmd cmd;
        bool inEt; // ioq3 and ET: Legacy have them all
        bool inIoq3;
    };
    static constexpr Entry kCommands[] = {
        { "set", Cmd::Set, true, true },
        { "seta", Cmd::Seta, true, true },
        { "sets", Cmd::Sets, true, true },
        { "setu", Cmd::Setu, true, true },
        { "toggle", Cmd::Toggle, true, true },
        { "cycle", Cmd::Cycle, true, false },
        { "reset", Cmd::Reset, true, true },
        { "unset", Cmd::Unset, false, true },
        { "print", Cmd::Print, false, true },
        { "bind", Cmd::Bind, true, true },
        { "unbind", Cmd::Unbind, true, true },
        { "unbindall", Cmd::Unbindall, true, true },
        { "vstr", Cmd::Vstr, true, true },
        { "exec", Cmd::Exec, true, true },
        { "execq", Cmd::Exec, false, true },
        { "echo", Cmd::Echo, true, true },
        { "wait", Cmd::Wait, true, true },
    };
    for (const Entry& e : kCommands)
        if (equalsFolded(word, e.name))
            return (dialect == Dialect::Et && !e.inEt) || (dialect == Dialect::Ioq3 && !e.inIoq3) ? Cmd::None
                                                                                                  : e.cmd;
    return Cmd::None;
}

// Cvar_ValidateString: such a name is set as "BADNAME".
bool badName(std::string_view name)
{
    return name.find_first_of("\\\";") != std::string_view::npos;
}

} // namespace

std::string_view Machine::arg(std::size_t k) const
{
    return k < m_tokens.size() ? m_line.view(m_tokens[k].begin, m_tokens[k].end) : std::string_view();
}

TextRef Machine::argText(std::size_t k) const
{
    return m_line.text(m_tokens[k].begin, m_tokens[k].end, m_files.texts());
}

// Arguments [first, last) joined by single spaces, as Cmd_Args and its kin make them: a file's
// range when they stand so in it, which costs no copy.
TextRef Machine::joined(std::size_t first, std::size_t last, bool trailingSpace) const
{
    if (std::optional<TextRef> range = fileRange(first, last); range && !trailingSpace)
        return *range;
    DerivedBuilder out;
    for (std::size_t k = first; k < last; ++k) {
        const Token& t = m_tokens[k];
        if (k > first)
            out.made(" ", commandPlace());
        for (std::size_t i = t.begin; i < t.end; ++i)
            out.add(m_line.bytes[i], m_line.places[i], m_line.written[i]);
    }
    if (trailingSpace)
        out.made(" ", commandPlace());
    return out.finish(m_files.texts());
}

std::optional<TextRef> Machine::fileRange(std::size_t first, std::size_t last) const
{
    if (first >= last || m_tokens[first].begin == m_tokens[first].end)
        return std::nullopt;
    const Place start = m_line.places[m_tokens[first].begin];
    const std::string_view file = m_files.text(start.file);
    std::uint64_t next = start.offset;
    for (std::size_t k = first; k < last; ++k) {
        const Token& t = m_tokens[k];
        if (t.begin == t.end)
            return std::nullopt;
        if (k > first) {
            if (next >= file.size() || file[next] != ' ')
                return std::nullopt;
            ++next;
        }
        for (std::size_t i = t.begin; i < t.end; ++i, ++next)
            if (!m_line.written[i] || !(m_line.places[i] == Place { next, start.file }))
                return std::nullopt;
    }
    return TextRef(file, start.file, start.offset, next);
}

TextRef Machine::made(std::string_view bytes) const
{
    DerivedBuilder out;
    out.made(bytes, commandPlace());
    return out.finish(m_files.texts());
}

const RouteRef& Machine::commandRoute() const
{
    return m_line.routes[m_line.source[m_tokens.front().rawBegin]];
}

Place Machine::commandPlace() const
{
    return m_line.places[m_tokens.front().rawBegin];
}

RouteRef Machine::hop(HopKind kind) const
{
    const TextRef command = m_line.text(m_tokens.front().rawBegin, m_tokens.back().rawEnd, m_files.texts());
    return extendRoute(commandRoute(), kind, commandPlace(), command, &m_routes);
}

void Machine::command(Session& s)
{
    const std::string_view word = arg(0);
    switch (commandOf(m_dialect, word)) {
    case Cmd::Set:
        return setCommand(s, Setter::Set, false);
    case Cmd::Seta:
        return setCommand(s, Setter::Seta, m_dialect == Dialect::Et);
    case Cmd::Sets:
        return setCommand(s, Setter::Sets, m_dialect == Dialect::Et);
    case Cmd::Setu:
        return setCommand(s, Setter::Setu, m_dialect == Dialect::Et);
    case Cmd::Toggle:
        return toggle(s);
    case Cmd::Cycle:
        return cycle(s);
    case Cmd::Reset:
        return reset(s);
    case Cmd::Unset:
        return unset(s);
    case Cmd::Print:
        return;
    case Cmd::Bind:
        return bind(s);
    case Cmd::Unbind:
        return unbind(s, false);
    case Cmd::Unbindall:
        return unbind(s, true);
    case Cmd::Vstr:
        return vstr(s);
    case Cmd::Exec:
        return exec(s);
    case Cmd::Echo:
        return echo(s);
    case Cmd::Wait:
        return wait(s);
    case Cmd::None:
        return bare(s);
    }
}

void Machine::report(const Session& s, Setter setter, std::string_view name,
    std::span<const std::uint32_t> entries, std::optional<std::string_view> value)
{
    if (entries.empty())
        return;
    SetEvent e;
    e.setter = setter;
    e.name = name;
    e.entries = entries;
    e.value = value;
    e.command = m_line.view(m_tokens.front().rawBegin, m_tokens.back().rawEnd);
    e.place = commandPlace();
    const RouteChain chain(commandRoute().get());
    e.route = &chain;
    e.onKeyPress = s.keyPress;
    e.possible = s.possible;
    m_observer.set(e);
    if (s.mode == Mode::Load)
        m_loaded[entries.front()]
            = { entries, setter, value ? std::optional<std::string>(*value) : std::nullopt, e.place };
}

bool Machine::exists(std::string_view name) const
{
    return !m_watch.find(name).empty() || m_vars.value(name).has_value();
}

// ET engines keep a userinfo variable's value free of bytes 0x80 to 0xA0 and 0xFF.
TextRef Machine::cleaned(std::string_view name, const TextRef& value) const
{
    if (m_dialect == Dialect::Ioq3 || !m_userinfo.contains(name))
        return value;
    return withoutForeignBytes(value);
}

TextRef Machine::withoutForeignBytes(const TextRef& value) const
{
    const auto foreign = [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b == 0xFF || (b >= 0x80 && b <= 0xA0);
    };
    const std::string_view bytes = value.bytes();
    if (std::none_of(bytes.begin(), bytes.end(), foreign))
        return value;
    DerivedBuilder out;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!foreign(bytes[i]))
            out.add(value, i, i + 1);
    return out.finish(m_files.texts());
}

void Machine::assign(Session& s, Setter setter, const TextRef& name, const TextRef& value)
{
    const TextRef stored = cleaned(name.bytes(), value);
    report(s, setter, name.bytes(), m_watch.find(name.bytes()), stored.bytes());
    if (s.mode == Mode::Closure) {
        addPossible(name.bytes(), stored);
        return;
    }
    m_vars.set(name, stored);
    // A reading that vstr's it at some unknown time may see this value too.
    if (const auto p = m_possible.find(name.bytes()); p != m_possible.end() && p->second.vstrFlags)
        schedule(stored, 2, p->second.vstrRoute, false, true);
}

// A set whose value this model cannot know (a toggle or reset of an engine default): reported,
// and what the variable then holds is some of the candidates, or unknown.
void Machine::setUnknown(Session& s, Setter setter, std::string_view name, std::vector<TextRef> candidates)
{
    report(s, setter, name, m_watch.find(name), std::nullopt);
    if (s.mode == Mode::Load)
        m_vars.remove(name);
    for (const TextRef& c : candidates)
        addPossible(name, c);
}

Possible& Machine::possibleOf(std::string_view name)
{
    auto it = m_possible.find(name);
    if (it == m_possible.end())
        it = m_possible.emplace(std::string(name), Possible {}).first;
    return it->second;
}

void Machine::addPossible(std::string_view name, const TextRef& value)
{
    const bool added = !m_possible.contains(name);
    Possible& p = possibleOf(name);
    SourceKey key = SourceKey::of(value, 0);
    const std::size_t cost = key.memory() + sizeof(TextRef) + (added ? name.size() : 0);
    if (!p.seen.insert(std::move(key)).second)
        return;
    m_heldBytes += cost;
    p.values.push_back(value);
    for (unsigned kind = 0; kind < 4; ++kind)
        if (p.vstrFlags & (1U << kind))
            schedule(value, 2, p.vstrRoute, (kind & 1) != 0, (kind & 2) != 0);
}

// vstr in a closure reading: any value the variable holds, or will hold, may run.
void Machine::closureVstr(std::string_view name, RouteRef route, bool keyPress, bool possible)
{
    Possible& p = possibleOf(name);
    const auto bit = static_cast<std::uint8_t>(1U << ((keyPress ? 1 : 0) | (possible ? 2 : 0)));
    if (p.vstrFlags & bit)
        return;
    if (!p.vstrRoute)
        p.vstrRoute = route;
    p.vstrFlags |= bit;
    if (const auto value = m_vars.value(name))
        schedule(*value, 2, route, keyPress, possible);
    for (const TextRef& value : p.values)
        schedule(value, 2, route, keyPress, possible);
}

// set, seta, sets, setu: the value is the rest of the arguments. ET: Legacy and ET drop a last
// "unsafe"; ET's seta/sets/setu take one or two value arguments only, and its set stops joining
// them at a length it misjudges (it counts each argument one byte short, and an empty one as the
// next argument's length).
void Machine::setCommand(Session& s, Setter setter, bool strictCount)
{
    std::size_t c = m_tokens.size();
    if (c < 3 || (strictCount && c > 4))
        return;
    if (m_dialect != Dialect::Ioq3 && c >= 4 && arg(c - 1) == "unsafe")
        --c;
    TextRef value;
    if (m_dialect == Dialect::Et) {
        std::size_t k = 2;
        for (std::size_t counted = 0; k < c; ++k) {
            const std::size_t length = !arg(k).empty() ? arg(k).size() - 1 : arg(k + 1).size();
            if (counted + length >= 1022)
                break;
            counted += length;
        }
        value = joined(2, k, k > 2 && k < c);
    } else {
        value = joined(2, c);
    }
    const TextRef name = badName(arg(1)) ? made("BADNAME") : argText(1);
    assign(s, setter, name, value);
    if (setter == Setter::Setu && m_dialect != Dialect::Ioq3 && s.mode == Mode::Load)
        m_userinfo.emplace(name.bytes());
}

void Machine::toggle(Session& s)
{
    const std::size_t c = m_tokens.size();
    if (c < 2 || c == 3 || (m_dialect == Dialect::Et && c != 2))
        return;
    const TextRef name = badName(arg(1)) ? made("BADNAME") : argText(1);
    const std::optional<TextRef> current = m_vars.value(arg(1));
    const bool unknown = !current && !m_watch.find(arg(1)).empty();
    if (c == 2) {
        if (unknown)
            return setUnknown(s, Setter::Toggle, name.bytes(), {});
        const double v = readFloat(current ? current->bytes() : "");
        const bool zero = m_dialect == Dialect::Et ? truncated(v) == 0 : v == 0;
        return assign(s, Setter::Toggle, name, made(zero ? "1" : "0"));
    }
    // Toggling through values: the one after the current value, else the first.
    if (unknown) {
        std::vector<TextRef> candidates;
        for (std::size_t k = 2; k < c; ++k)
            candidates.push_back(argText(k));
        return setUnknown(s, Setter::Toggle, name.bytes(), std::move(candidates));
    }
    const std::string_view now = current ? current->bytes() : "";
    std::size_t next = 2;
    for (std::size_t k = 2; k + 1 < c; ++k)
        if (arg(k) == now) {
            next = k + 1;
            break;
        }
    assign(s, Setter::Toggle, name, argText(next));
}

void Machine::cycle(Session& s)
{
    const std::size_t c = m_tokens.size();
    if (c < 4 || c > 5)
        return;
    const TextRef name = badName(arg(1)) ? made("BADNAME") : argText(1);
    const std::optional<TextRef> current = m_vars.value(arg(1));
    if (!current && !m_watch.find(arg(1)).empty())
        return setUnknown(s, Setter::Cycle, name.bytes(), {});
    const int old = truncated(readFloat(current ? current->bytes() : ""));
    const int step = c == 5 ? readInt(arg(4)) : 1;
    assign(s, Setter::Cycle, name, made(std::to_string(cycled(old, readInt(arg(2)), readInt(arg(3)), step))));
}

void Machine::reset(Session& s)
{
    if (m_tokens.size() != 2)
        return;
    const TextRef name = badName(arg(1)) ? made("BADNAME") : argText(1);
    if (!m_watch.find(name.bytes()).empty())
        return setUnknown(s, Setter::Reset, name.bytes(), {});
    if (const auto value = m_vars.resetValue(name.bytes()))
        assign(s, Setter::Reset, name, *value);
}

void Machine::unset(Session& s)
{
    if (m_tokens.size() != 2)
        return;
    if (!m_watch.find(arg(1)).empty())
        return setUnknown(s, Setter::Unset, arg(1), {});
    if (s.mode == Mode::Load)
        m_vars.remove(arg(1));
}

} // namespace tromel::console
