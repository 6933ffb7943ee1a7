// The console commands that run text (bind, vstr, exec, echo, +vstr), wait, and a cvar's own name.

#include "ConsoleMachine.h"

namespace tromel::console {

namespace {

constexpr std::size_t kMaxPath = 63; // MAX_QPATH, less its NUL
constexpr std::size_t kEchoChoices = 16;

// The name exec reads: the argument cut to a game path, with ".cfg" added when it has no
// extension (ET: a '.' after the last '/', the first byte aside), cut again.
std::string execName(Dialect dialect, std::string_view arg)
{
    std::string name(arg.substr(0, kMaxPath));
    bool extension = false;
    if (dialect == Dialect::Et) {
        for (std::size_t i = name.size(); i-- > 1 && name[i] != '/';)
            if (name[i] == '.') {
                extension = true;
                break;
            }
    } else {
        const std::size_t dot = name.rfind('.');
        const std::size_t slash = name.rfind('/');
        extension = dot != std::string::npos && (slash == std::string::npos || slash < dot);
    }
    if (!extension)
        name = (name + ".cfg").substr(0, kMaxPath);
    return name;
}

} // namespace

void Machine::bind(Session& s)
{
    const std::size_t c = m_tokens.size();
    if (c < 2)
        return;
    const int key = keyNumber(m_dialect, arg(1));
    if (key < 0) {
        warn(commandPlace(), std::string("bind: \"").append(arg(1)) + "\" names no key, so it binds nothing");
        return;
    }
    if (c == 2)
        return;
    Binding binding { joined(2, c), hop(HopKind::Bind), true };
    if (s.mode == Mode::Closure)
        pressBinding(key, binding, s.possible);
    else
        m_keys[static_cast<std::size_t>(key)] = std::move(binding);
}

void Machine::unbind(Session& s, bool all)
{
    if (s.mode == Mode::Closure)
        return;
    if (all) {
        for (Binding& b : m_keys)
            if (!b.text.empty())
                b = { TextRef(), nullptr, true };
        return;
    }
    if (m_tokens.size() != 2)
        return;
    if (const int key = keyNumber(m_dialect, arg(1)); key >= 0)
        m_keys[static_cast<std::size_t>(key)] = { TextRef(), nullptr, true };
}

// vstr: the variable's value and a line break go in front of the buffer. A closure reading runs
// every value the variable may hold instead; so does the load, as possible, for values an unknown
// engine cvar may hold.
void Machine::vstr(Session& s)
{
    if (m_tokens.size() != 2)
        return;
    const std::string_view name = arg(1);
    RouteRef route = hop(HopKind::Vstr);
    if (s.mode == Mode::Closure)
        return closureVstr(name, std::move(route), s.keyPress, s.possible);
    const TextRef value = m_vars.value(name).value_or(TextRef());
    if (!insert(s, value, 2, route))
        warn(commandPlace(),
            std::string("the game's command buffer is full: vstr ").append(name) + " runs nothing");
    if (const auto p = m_possible.find(name); p != m_possible.end())
        for (const TextRef& v : p->second.values)
            schedule(v, 2, route, false, true);
}

void Machine::exec(Session& s)
{
    if (m_tokens.size() != 2)
        return;
    const std::string name = execName(m_dialect, arg(1));
    const Files::Found found = m_files.find(name, m_limits.buffer - 1);
    if (!found.found()) {
        // Once per name: configs often exec the same missing file from many places.
        if (m_warnedFiles.size() < 4096 && m_warnedFiles.insert(name).second)
            warn(commandPlace(), "exec \"" + name + "\": " + m_files.problem(found, name) + ", not followed");
        return;
    }
    const std::string_view text = m_files.text(found.file);
    if (text.size() + 1 > m_limits.buffer) // the config itself, when it is that long
        return warn(commandPlace(),
            "exec \"" + name + "\": longer than the game's command buffer holds, so it runs none of it");
    const TextRef file(text, found.file, 0, text.size());
    RouteRef route = hop(HopKind::Exec);
    if (s.mode == Mode::Closure)
        return schedule(file, 1, std::move(route), s.keyPress, s.possible);
    if (!insert(s, file, 1, std::move(route)))
        warn(commandPlace(), "the game's command buffer is full: exec " + name + " runs nothing");
}

// echo prints in ioquake3; the ET engines add a "cpm" line to the end of the buffer: ET its
// arguments each followed by a space, ET: Legacy its arguments (or, when one is "vstr", the
// arguments and the named variables' values run together, 1023 bytes at most).
void Machine::echo(Session& s)
{
    const std::size_t c = m_tokens.size();
    if (m_dialect == Dialect::Ioq3)
        return;
    std::vector<std::vector<TextRef>> choices;
    if (m_dialect == Dialect::Et) {
        for (std::size_t k = 1; k < c; ++k) {
            DerivedBuilder piece;
            piece.add(argText(k));
            piece.made(" ", commandPlace());
            choices.push_back({ piece.finish(m_files.texts()) });
        }
        return echoText(s, std::move(choices));
    }
    bool withValues = false;
    for (std::size_t k = 1; k < c; ++k)
        withValues = withValues || equalsFolded(arg(k), "vstr");
    if (!withValues)
        return echoText(s, { { joined(1, c) } });
    for (std::size_t k = 1; k < c; ++k) {
        if (!equalsFolded(arg(k), "vstr")) {
            choices.push_back({ argText(k) });
            continue;
        }
        const std::string_view name = arg(k + 1);
        std::vector<TextRef> values { m_vars.value(name).value_or(TextRef()) };
        if (const auto p = m_possible.find(name); p != m_possible.end())
            values.insert(values.end(), p->second.values.begin(), p->second.values.end());
        choices.push_back(std::move(values));
        ++k;
    }
    echoText(s, std::move(choices));
}

// The "cpm" lines an echo can add: the first choice of each part is what the load knows; the
// others come from values variables may hold, and are read as possible.
void Machine::echoText(Session& s, std::vector<std::vector<TextRef>> choices)
{
    std::size_t combinations = 1;
    for (const auto& part : choices)
        combinations = std::min(combinations * part.size(), kEchoChoices + 1);
    if (combinations > kEchoChoices)
        return giveUp();
    const RouteRef route = hop(HopKind::Echo);
    std::vector<std::size_t> pick(choices.size(), 0);
    for (std::size_t n = 0; n < combinations; ++n) {
        const bool exact = n == 0 && s.mode == Mode::Load;
        if (exact && m_dialect == Dialect::Et) {
            // ET adds each piece on its own, and drops those that do not fit.
            append(s, made("cpm \""), route);
            for (const auto& part : choices)
                append(s, part.front(), route);
            append(s, made("\"\n"), route);
        } else {
            DerivedBuilder out;
            out.made("cpm \"", commandPlace());
            const std::size_t limit = m_dialect == Dialect::Et ? SIZE_MAX : 5 + kMaxLine;
            for (std::size_t k = 0; k < choices.size(); ++k) {
                const TextRef& part = choices[k][pick[k]];
                for (std::size_t i = 0; i < part.size() && out.size() < limit; ++i)
                    out.add(part, i, i + 1);
            }
            out.made("\"\n", commandPlace());
            const TextRef line = out.finish(m_files.texts());
            if (exact)
                append(s, line, route);
            else
                schedule(line, 0, route, s.keyPress, s.possible || s.mode == Mode::Load);
        }
        for (std::size_t k = 0; k < pick.size(); ++k) {
            if (++pick[k] < choices[k].size())
                break;
            pick[k] = 0;
        }
    }
}

void Machine::wait(Session& s)
{
    if (s.mode == Mode::Closure)
        return;
    int frames = m_tokens.size() == 2 ? readInt(arg(1)) : 1;
    if (m_dialect != Dialect::Et && frames < 0)
        frames = 1;
    if (frames < 0) {
        s.stopped = true; // ET counts down from below zero and never reaches it again
        return;
    }
    if (frames == 0)
        return;
    // The frame ends: Cbuf_Execute starts afresh next time, comment state included, and keys can be pressed.
    s.star = false;
    s.slash = false;
    snapshotBindings();
}

// A command that is no known command: a cvar's name sets it (ioquake3 and ET: Legacy to all the
// arguments, ET to the first); a name the model does not know may still be an engine cvar, so
// its value is a value it may hold. ET mods' "+vstr DOWN UP" runs a vstr from a key press.
void Machine::bare(Session& s)
{
    const std::size_t c = m_tokens.size();
    const std::string_view name = arg(0);
    if (exists(name)) {
        if (c >= 2)
            assign(s, Setter::Bare, argText(0), m_dialect == Dialect::Et ? argText(1) : joined(1, c));
        return;
    }
    if (m_dialect != Dialect::Ioq3 && (equalsFolded(name, "+vstr") || equalsFolded(name, "-vstr"))) {
        if (c != 5)
            return;
        const std::size_t target = name[0] == '+' ? 1 : 2;
        RouteRef route = hop(HopKind::Vstr);
        if (s.mode == Mode::Closure)
            return closureVstr(arg(target), std::move(route), s.keyPress, s.possible);
        DerivedBuilder text;
        text.made("vstr ", commandPlace());
        text.add(argText(target));
        text.made(";", commandPlace());
        append(s, text.finish(m_files.texts()), std::move(route));
        return;
    }
    if (c < 2)
        return;
    const TextRef value = m_dialect == Dialect::Et ? argText(1) : joined(1, c);
    addPossible(name, value);
    // ET engines clean a userinfo cvar's value; this one's flags are unknown.
    if (m_dialect != Dialect::Ioq3)
        addPossible(name, withoutForeignBytes(value));
}

} // namespace tromel::console
