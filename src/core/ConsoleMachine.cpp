#include "ConsoleMachine.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tromel::console {

namespace {

// Cvars whose values the engine or its game code runs later, as if a key were pressed.
std::vector<std::string_view> hooks(Dialect dialect)
{
    switch (dialect) {
    case Dialect::Ioq3:
        return { "cl_activeAction" };
    case Dialect::Et:
        return { "cl_activeAction", "com_watchdog_cmd" };
    case Dialect::EtLegacy:
        return { "cl_activeAction", "com_watchdog_cmd", "cg_autoCmd", "cg_onWeapzoomStart",
            "cg_onWeapzoomEnd" };
    }
    return {};
}

// What running a command costs beyond reading its bytes, in bytes' worth of work.
constexpr std::uint64_t kCommandWork = 8;

Place newlinePlace(const Segment& g)
{
    return g.text.empty() ? Place {} : g.text.placeOf(g.text.size() - 1);
}

} // namespace

RunEnd run(Files& files, const Watch& watch, Dialect dialect, Observer& observer, const Limits& limits)
{
    return Machine(files, watch, dialect, observer, limits).run();
}

Machine::Machine(Files& files, const Watch& watch, Dialect dialect, Observer& observer, const Limits& limits)
    : m_files(files)
    , m_watch(watch)
    , m_dialect(dialect)
    , m_observer(observer)
    , m_limits(limits)
    , m_vars(files.texts())
    , m_keys(static_cast<std::size_t>(keyCount(dialect)))
{
    m_line.routes.reserve(16);
}

RunEnd Machine::run()
{
    const std::string_view root = m_files.text(0);
    m_rootOversized = root.size() + 1 > m_limits.buffer;
    if (m_rootOversized)
        warn({},
            std::string("longer than the game's command buffer (") + std::to_string(m_limits.buffer)
                + " bytes), so the game runs none of it; read as if the buffer held it");
    Session load;
    load.buffer.push_back({ TextRef(root, 0, 0, root.size()), 0, 1, nullptr, true });
    load.size = load.rootLeft = root.size() + 1;
    execute(load);
    m_dead = load.stopped;
    if (!m_gaveUp && !m_cancelled) {
        snapshotBindings();
        std::vector<LoadedValue> values;
        for (const auto& [name, loaded] : m_loaded)
            values.push_back({ loaded.entries, loaded.setter,
                loaded.value ? std::optional<std::string_view>(*loaded.value) : std::nullopt, loaded.place });
        m_observer.loaded(values);
        // After an ET buffer stopped for good, nothing runs again, key presses included.
        if (!m_dead)
            pressPhase();
    }
    if (m_cancelled)
        return RunEnd::Cancelled;
    if (m_gaveUp) {
        nameScan();
        return m_cancelled ? RunEnd::Cancelled : RunEnd::GaveUp;
    }
    return RunEnd::Finished;
}

void Machine::execute(Session& s)
{
    while (!s.buffer.empty() && !s.stopped && !m_gaveUp && !m_cancelled) {
        takeLine(s);
        tokenize(m_dialect, m_line.view(), m_tokens);
        m_work += m_line.size + kCommandWork;
        if (!m_tokens.empty())
            command(s);
        if (s.mode == Mode::Load && !m_jobs.empty())
            drainJobs();
        checkBudget();
    }
}

// Cbuf_Execute's cut: the command line ends at a line break, or at ';' outside quotes; in ioq3
// and ET: Legacy "//" and "/* */" comments hide ';' (and line breaks, for "/*"), a quote inside a
// comment still counts, and "*/" ends the command right there. The line keeps its first 1023 bytes;
// the byte after them is dropped. Past those bytes only the comment state the scan leaves matters,
// so ET stops looking there and the others skip plain bytes quickly.
void Machine::takeLine(Session& s)
{
    static constexpr auto kPlain = [] {
        std::array<bool, 256> plain {};
        plain.fill(true);
        for (const char c : std::string_view("\";\n\r/*"))
            plain[static_cast<unsigned char>(c)] = false;
        return plain;
    }();
    const bool comments = m_dialect != Dialect::Et;
    m_line.routes.clear();
    std::uint64_t i = 0;
    bool odd = false;
    Cut cut = Cut::No;
    for (std::size_t seg = 0; seg < s.buffer.size() && cut == Cut::No; ++seg) {
        const Segment& g = s.buffer[seg];
        const std::string_view text = g.text.bytes().substr(g.pos);
        if (i < kMaxLine)
            m_line.routes.push_back(g.route);
        for (std::size_t at = 0; at < g.left() && cut == Cut::No; ++at, ++i) {
            const char c = at < text.size() ? text[at] : '\n';
            if (i < kMaxLine) {
                keep(i, g, at);
            } else if (!comments) {
                break; // ET: the cut is all that matters now
            } else if (kPlain[static_cast<unsigned char>(c)]) {
                std::size_t run = at + 1;
                while (run < text.size() && kPlain[static_cast<unsigned char>(text[run])])
                    ++run;
                i += run - at - 1;
                at = run - 1;
                continue;
            }
            odd = odd != (c == '"');
            cut = comments ? cutWithComments(s, c, odd, seg, at) : cutWithout(c, odd);
        }
        if (!comments && i >= kMaxLine)
            break;
    }
    // The loop stepped past the byte that ends the command; "*/" ends it before the '/', which is
    // dropped with the line's terminator.
    if (cut == Cut::Here)
        --i;
    const std::uint64_t kept = std::min<std::uint64_t>(i, kMaxLine);
    m_line.size = static_cast<std::size_t>(kept);
    m_work += i + 1;
    consume(s, kept == s.size ? kept : kept + 1);
}

void Machine::keep(std::uint64_t i, const Segment& g, std::size_t at)
{
    const bool inText = g.pos + at < g.text.size();
    m_line.bytes[i] = inText ? g.text.bytes()[g.pos + at] : '\n';
    m_line.places[i] = inText ? g.text.placeOf(g.pos + at) : newlinePlace(g);
    m_line.written[i] = inText && g.text.writtenAt(g.pos + at);
    m_line.source[i] = static_cast<std::uint16_t>(m_line.routes.size() - 1);
}

Machine::Cut Machine::cutWithout(char c, bool odd)
{
    return (!odd && c == ';') || c == '\n' || c == '\r' ? Cut::Here : Cut::No;
}

Machine::Cut Machine::cutWithComments(Session& s, char c, bool odd, std::size_t seg, std::size_t at)
{
    if (!odd) {
        const std::optional<char> after = c == '/' || c == '*' ? byteAfter(s, seg, at) : std::nullopt;
        if (after && !s.star && c == '/' && *after == '/')
            s.slash = true;
        else if (after && !s.slash && c == '/' && *after == '*')
            s.star = true;
        else if (after && s.star && c == '*' && *after == '/') {
            s.star = false;
            return Cut::AfterNext;
        }
        if (!s.slash && !s.star && c == ';')
            return Cut::Here;
    }
    if (!s.star && (c == '\n' || c == '\r')) {
        s.slash = false;
        return Cut::Here;
    }
    return Cut::No;
}

// The byte after position `at` of segment `seg`, anywhere in the buffer.
std::optional<char> Machine::byteAfter(const Session& s, std::size_t seg, std::size_t at)
{
    for (std::size_t k = seg; k < s.buffer.size(); ++k) {
        const Segment& g = s.buffer[k];
        const std::size_t index = k == seg ? at + 1 : 0;
        if (index < g.left())
            return g.pos + index < g.text.size() ? g.text.bytes()[g.pos + index] : '\n';
    }
    return std::nullopt;
}

void Machine::consume(Session& s, std::uint64_t n)
{
    s.size -= n;
    while (n > 0) {
        Segment& g = s.buffer.front();
        const std::size_t left = g.left();
        if (n >= left) {
            if (g.root)
                s.rootLeft -= left;
            n -= left;
            s.buffer.pop_front();
            continue;
        }
        if (g.root)
            s.rootLeft -= n;
        const std::size_t textLeft = g.text.size() - g.pos;
        if (n <= textLeft) {
            g.pos += static_cast<std::size_t>(n);
        } else {
            g.newlines -= static_cast<std::uint32_t>(n - textLeft);
            g.pos = g.text.size();
        }
        n = 0;
    }
}

std::uint64_t Machine::occupied(const Session& s) const
{
    return s.size - (m_rootOversized ? s.rootLeft : 0);
}

// Cbuf_InsertText: in front of what is left, when it fits.
bool Machine::insert(Session& s, const TextRef& text, std::uint32_t newlines, RouteRef route)
{
    const std::uint64_t length = text.size() + newlines;
    if (length + occupied(s) > m_limits.buffer)
        return false;
    s.buffer.push_front({ text, 0, newlines, std::move(route), false });
    s.size += length;
    return true;
}

// Cbuf_AddText: after everything, when it fits.
bool Machine::append(Session& s, const TextRef& text, RouteRef route)
{
    if (occupied(s) + text.size() >= m_limits.buffer)
        return false;
    if (!text.empty()) {
        s.buffer.push_back({ text, 0, 0, std::move(route), false });
        s.size += text.size();
    }
    return true;
}

void Machine::schedule(
    const TextRef& text, std::uint32_t newlines, RouteRef route, bool keyPress, bool possible)
{
    const auto tag = static_cast<std::uint8_t>(
        (keyPress ? 1 : 0) | (possible ? 2 : 0) | std::min<std::uint32_t>(newlines, 3) << 2);
    SourceKey key = SourceKey::of(text, tag);
    const std::size_t cost = key.memory() + sizeof(Job) + 64;
    if (!m_ran.insert(std::move(key)).second)
        return;
    m_heldBytes += cost;
    m_jobs.push_back({ text, newlines, std::move(route), keyPress, possible });
}

void Machine::drainJobs()
{
    if (m_inJobs)
        return;
    m_inJobs = true;
    while (!m_jobs.empty() && !m_gaveUp && !m_cancelled) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        const std::uint64_t length = job.text.size() + job.newlines;
        if (length == 0)
            continue;
        Session s;
        s.mode = Mode::Closure;
        s.keyPress = job.keyPress;
        s.possible = job.possible;
        s.buffer.push_back({ job.text, 0, job.newlines, std::move(job.route), false });
        s.size = length;
        execute(s);
    }
    m_inJobs = false;
}

// Bindings a key can be pressed with: those in place when a frame ends (at a wait, or once the
// config has loaded). What a press adds to the buffer runs after the config, so with the
// variables' final values.
void Machine::snapshotBindings()
{
    for (std::size_t k = 0; k < m_keys.size(); ++k) {
        Binding& b = m_keys[k];
        if (!b.dirty)
            continue;
        b.dirty = false;
        if (!b.text.empty())
            pressBinding(static_cast<int>(k), b, false);
    }
}

void Machine::pressPhase()
{
    m_pressing = true;
    for (const Pending& p : std::exchange(m_pending, {}))
        pressNow(p.key, p.binding, p.possible);
    for (const std::string_view name : hooks(m_dialect)) {
        const auto value = m_vars.value(name);
        const Place place = value && !value->empty() ? value->placeOf(0) : Place {};
        DerivedBuilder command;
        command.made(name, place);
        auto route = std::make_shared<RouteNode>(
            nullptr, HopKind::Hook, place, command.finish(m_files.texts()), &m_routes);
        closureVstr(name, std::move(route), true, false);
    }
    drainJobs();
}

} // namespace tromel::console

namespace tromel::console {

void Machine::pressBinding(int key, const Binding& binding, bool possible)
{
    SourceKey id = SourceKey::of(binding.text, static_cast<std::uint16_t>(key << 1 | (possible ? 1 : 0)));
    const std::size_t cost = id.memory() + sizeof(Pending);
    if (!m_pressed.insert(std::move(id)).second)
        return;
    m_heldBytes += cost;
    if (!m_pressing)
        m_pending.push_back({ key, binding, possible });
    else
        pressNow(key, binding, possible);
}

void Machine::pressNow(int key, const Binding& binding, bool possible)
{
    if (runsOnPress(m_dialect, key))
        schedule(pressText(binding.text, key, true), 0, binding.route, true, possible);
    if (runsOnRelease(m_dialect, key))
        if (const TextRef up = pressText(binding.text, key, false); !up.empty())
            schedule(up, 0, binding.route, true, possible);
}

// What a key press adds to the buffer. ET engines: the binding and a line break; a binding that
// starts with '+' gets " KEYNUM TIME" instead, and its release the same with '-'. ioquake3 cuts
// the binding at every ';' and does so for each piece.
TextRef Machine::pressText(const TextRef& binding, int key, bool down)
{
    const std::string_view b = binding.bytes();
    const Place at = binding.empty() ? Place {} : binding.placeOf(0);
    const std::string suffix
        = ' ' + std::to_string(key).append(" 0\n"); // the time of the press varies; any digits do
    DerivedBuilder out;
    // Com_sprintf into 1024 bytes: a button command keeps at most 1023.
    const auto button = [&](std::size_t begin, std::size_t end) {
        const std::size_t start = out.size();
        const auto room = [&] { return out.size() - start < kMaxLine; };
        if (down)
            out.add(binding, begin, begin + 1);
        else
            out.made("-", binding.placeOf(begin));
        for (std::size_t i = begin + 1; i < end && room(); ++i)
            out.add(binding, i, i + 1);
        for (std::size_t i = 0; i < suffix.size() && room(); ++i)
            out.made(suffix.substr(i, 1), at);
    };
    if (m_dialect != Dialect::Ioq3) {
        if (!b.empty() && b[0] == '+')
            button(0, b.size());
        else if (down) {
            out.add(binding);
            out.made("\n", at);
        }
        return out.finish(m_files.texts());
    }
    const std::size_t n = std::min(b.size(), kMaxLine);
    for (std::size_t p = 0;;) {
        while (p < n && (b[p] == ' ' || (b[p] >= '\t' && b[p] <= '\r')))
            ++p;
        const std::size_t end = std::min(b.find(';', p), n);
        if (p < end && b[p] == '+') {
            button(p, end);
        } else if (down) {
            out.add(binding, p, end);
            out.made("\n", at);
        }
        if (end >= n)
            break;
        p = end + 1;
    }
    return out.finish(m_files.texts());
}

void Machine::checkBudget()
{
    if (++m_sinceAsked >= 256) {
        m_sinceAsked = 0;
        if (m_observer.cancelled()) {
            m_cancelled = true;
            return;
        }
    }
    const std::uint64_t read = m_files.bytes();
    const std::uint64_t work = m_limits.work ? m_limits.work : 4 * read + (std::uint64_t { 1 } << 26);
    const std::uint64_t held = m_limits.memory ? m_limits.memory : read / 2 + (std::uint64_t { 48 } << 20);
    if (!m_gaveUp && (m_work > work || memory() > held))
        giveUp();
}

std::size_t Machine::memory() const
{
    return m_vars.memory() + m_heldBytes + static_cast<std::size_t>(std::max<std::int64_t>(m_routes, 0)) * 128
        + m_possible.size() * 160 + m_loaded.size() * 1100 + m_jobs.size() * sizeof(Job);
}

void Machine::giveUp()
{
    m_gaveUp = true;
    const Place place = m_line.size > 0 ? m_line.places[0] : Place {};
    warn(place,
        "audit stops following the console here: the config costs more than it allows; every place a listed "
        "name is written is reported instead, as possible");
}

void Machine::warn(Place place, std::string message)
{
    m_observer.warning({ place, std::move(message) });
}

} // namespace tromel::console
