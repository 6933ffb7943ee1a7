#include "Audit.h"

#include "AuditConsole.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <new>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace tromel {

using console::FoldedEqual;
using console::FoldedHash;
using console::Span;
using console::Token;

struct AuditList::Table {
    // Names that differ only in case share one entry, so that each command costs one lookup.
    std::unordered_map<std::string, std::vector<std::uint32_t>, FoldedHash, FoldedEqual> names;
};

AuditList::AuditList(const CvarList& list)
    : m_table(std::make_unique<Table>())
{
    for (std::size_t k = 1; k < list.names.size(); ++k)
        if (!list.names[k].empty())
            m_table->names[list.names[k]].push_back(static_cast<std::uint32_t>(k));
}

AuditList::~AuditList() = default;

namespace {

enum class Form : std::uint8_t { Set, Seta, Sets, Setu, Bare, Toggle, Cycle, Reset, Unset, Bind, Vstr, Exec };

const char* formName(Form form)
{
    switch (form) {
    case Form::Set:
        return "set";
    case Form::Seta:
        return "seta";
    case Form::Sets:
        return "sets";
    case Form::Setu:
        return "setu";
    case Form::Bare:
        return "bare";
    case Form::Toggle:
        return "toggle";
    case Form::Cycle:
        return "cycle";
    case Form::Reset:
        return "reset";
    case Form::Unset:
        return "unset";
    case Form::Bind:
        return "bind";
    case Form::Vstr:
        return "vstr";
    case Form::Exec:
        return "exec";
    }
    return "";
}

enum class Verb : std::uint8_t {
    Other,
    Set,
    Seta,
    Sets,
    Setu,
    Toggle,
    Cycle,
    Reset,
    Unset,
    Bind,
    Vstr,
    Exec,
    Execq
};

Verb verbOf(std::string_view word)
{
    static constexpr std::pair<std::string_view, Verb> kVerbs[] = {
        { "set", Verb::Set },
        { "seta", Verb::Seta },
        { "sets", Verb::Sets },
        { "setu", Verb::Setu },
        { "toggle", Verb::Toggle },
        { "cycle", Verb::Cycle },
        { "reset", Verb::Reset },
        { "unset", Verb::Unset },
        { "bind", Verb::Bind },
        { "vstr", Verb::Vstr },
        { "exec", Verb::Exec },
        { "execq", Verb::Execq },
    };
    for (const auto& [name, verb] : kVerbs)
        if (console::equalsFolded(word, name))
            return verb;
    return Verb::Other;
}

Form setterOf(Verb verb)
{
    switch (verb) {
    case Verb::Set:
        return Form::Set;
    case Verb::Seta:
        return Form::Seta;
    case Verb::Sets:
        return Form::Sets;
    case Verb::Setu:
        return Form::Setu;
    case Verb::Toggle:
        return Form::Toggle;
    case Verb::Cycle:
        return Form::Cycle;
    case Verb::Reset:
        return Form::Reset;
    case Verb::Unset:
        return Form::Unset;
    default:
        return Form::Bare;
    }
}

// A NUL ends the text for the console, as the file is handed over as a C string.
void cutAtNul(std::string& text)
{
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
}

// The whole file in one string reserved at its size, so that a big config costs its size once.
FileStatus readWhole(const std::string& path, std::string& text)
{
    struct Append final : ChunkSink {
        explicit Append(std::string& out)
            : m_out(out)
        {
        }
        void onChunk(std::string_view chunk) override { m_out.append(chunk); }
        std::string& m_out;
    };
    std::string data;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size < data.max_size()) {
        try {
            data.reserve(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            // Reading fails the same way if memory is short; until then, grow as needed.
        }
    }
    Append sink(data);
    const FileStatus status = streamFile(path, sink);
    if (status)
        text = std::move(data);
    return status;
}

std::string canonicalKey(const fs::path& path)
{
    std::error_code ec;
    fs::path p = fs::canonical(path, ec);
    if (ec)
        p = fs::absolute(path, ec).lexically_normal();
    return p.string();
}

constexpr std::uint32_t kRootFile = 0;

struct SourceFile {
    std::string path; // as shown in reports
    std::string text;
};

// The audited file and the files it execs, each read once however often it is exec'd.
class FileTable {
public:
    FileTable(const std::string& rootPath, std::string rootText)
        : m_base(fs::path(rootPath).parent_path())
    {
        add(rootPath, canonicalKey(rootPath), std::move(rootText));
    }

    const SourceFile& operator[](std::uint32_t id) const { return m_files[id]; }
    std::size_t size() const { return m_files.size(); }

    struct Opened {
        std::optional<std::uint32_t> file;
        std::string problem; // why the game would not run it
    };

    // The file that "exec name" runs, as the game looks it up.
    const Opened& open(const std::string& name)
    {
        const auto cached = m_opened.find(name);
        if (cached != m_opened.end())
            return cached->second;
        return m_opened.emplace(name, lookUp(name)).first->second;
    }

private:
    Opened lookUp(std::string relative)
    {
        if (relative.find("..") != std::string::npos || relative.find("::") != std::string::npos)
            return { std::nullopt, "the game refuses paths holding \"..\" or \"::\"" };
        const std::size_t lastSlash = relative.rfind('/');
        if (relative.find('.', lastSlash == std::string::npos ? 0 : lastSlash + 1) == std::string::npos)
            relative += ".cfg";
        std::replace(relative.begin(), relative.end(), '\\', '/');
        relative.erase(0, relative.find_first_not_of('/'));

        const std::optional<fs::path> found = findFolded(relative);
        if (!found)
            return { std::nullopt, (m_base / relative).string() + ": no such file" };
        const std::string path = found->string();
        std::string key = canonicalKey(*found);
        if (const auto known = m_byKey.find(key); known != m_byKey.end())
            return { known->second, {} };
        std::string text;
        const FileStatus status = readWhole(path, text);
        if (!status && status.error != FileError::Empty)
            return { std::nullopt, path + ": " + describe(status) };
        cutAtNul(text);
        return { add(path, std::move(key), std::move(text)), {} };
    }

    // The game finds files whatever their case: the exact name first, then a case-blind match.
    std::optional<fs::path> findFolded(std::string_view relative)
    {
        fs::path current = m_base;
        std::size_t pos = 0;
        while (pos <= relative.size()) {
            std::size_t slash = relative.find('/', pos);
            if (slash == std::string_view::npos)
                slash = relative.size();
            const std::string part(relative.substr(pos, slash - pos));
            pos = slash + 1;
            if (part.empty() || part == ".")
                continue;
            std::error_code ec;
            if (fs::exists(current / part, ec)) {
                current /= part;
                continue;
            }
            const Listing& names = listing(current);
            const auto it = names.find(part);
            if (it == names.end())
                return std::nullopt;
            current /= it->second;
        }
        return current;
    }

    using Listing = std::unordered_map<std::string, std::string, FoldedHash, FoldedEqual>;

    // A directory's names by folded name, the smallest name when several fold alike; read once,
    // as configs exec many missing files from the same place.
    const Listing& listing(const fs::path& dir)
    {
        const auto known = m_listings.find(dir.string());
        if (known != m_listings.end())
            return known->second;
        Listing names;
        std::error_code ec;
        fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string name = it->path().filename().string();
            const auto [slot, added] = names.try_emplace(name, name);
            if (!added && name < slot->second)
                slot->second = std::move(name);
        }
        return m_listings.emplace(dir.string(), std::move(names)).first->second;
    }

    std::uint32_t add(std::string path, std::string key, std::string text)
    {
        const auto id = static_cast<std::uint32_t>(m_files.size());
        m_files.push_back({ std::move(path), std::move(text) });
        m_byKey.emplace(std::move(key), id);
        return id;
    }

    fs::path m_base;
    std::deque<SourceFile> m_files; // stable: texts are viewed while more files are added
    std::unordered_map<std::string, std::uint32_t> m_byKey;
    std::unordered_map<std::string, Opened> m_opened;
    std::unordered_map<std::string, Listing> m_listings;
};

struct Located {
    std::uint32_t file = 0;
    std::size_t offset = 0;

    friend bool operator==(const Located&, const Located&) = default;
};

bool byOffset(const Located& a, const Located& b)
{
    return std::tie(a.file, a.offset) < std::tie(b.file, b.offset);
}

// Until positions are resolved, a finding's and its hops' line and column hold the file's id and
// the byte offset; findings then need no second copy to be sorted and placed.
void stash(std::uint64_t& line, std::uint64_t& column, const Located& at)
{
    line = at.file;
    column = at.offset;
}

Located stashed(std::uint64_t line, std::uint64_t column)
{
    return { static_cast<std::uint32_t>(line), static_cast<std::size_t>(column) };
}

bool byPlace(const AuditFinding& a, const AuditFinding& b)
{
    return std::tie(a.line, a.column, a.index) < std::tie(b.line, b.column, b.index);
}

struct Warned {
    Located at;
    std::string message;
};

struct Reading {
    std::vector<AuditFinding> findings;
    std::vector<Warned> warnings;
};

// Bytes the console may run: a file's text, or a text made of command arguments.
struct Backing {
    std::uint32_t file = 0;
    std::string owned; // joined arguments; empty for a file's own text
    std::string_view text;
    std::vector<std::pair<std::size_t, std::size_t>> segments; // text offset -> file offset, ascending

    std::size_t fileOffset(std::size_t at) const
    {
        auto it = std::upper_bound(
            segments.begin(), segments.end(), at, [](std::size_t v, const auto& s) { return v < s.first; });
        --it;
        return it->second + (at - it->first);
    }
};

// Text that may be run later. joinFrom 0: backing[begin, end) as it stands. Otherwise the command
// line backing[begin, end) gives its arguments from joinFrom on, joined by single spaces, which is
// how set and bind store them; it is rebuilt only if it is ever run.
struct TextRef {
    std::uint32_t backing = 0;
    std::uint32_t joinFrom = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
};

using RouteId = std::int32_t;
constexpr RouteId kDirect = -1;

struct Step {
    Form form;
    std::uint32_t backing;
    Span command;
    std::uint32_t target = 0; // exec: the file it runs
};

struct RouteNode {
    RouteId parent;
    Step step;
};

// A bind's text runs at once, nested in the command that binds it; its hop is stored only when
// something found or kept below needs it.
struct Frame {
    const Frame* outer;
    RouteId base;
    Step step;
    mutable RouteId stored = kDirect;
    mutable bool isStored = false;
};

struct Where {
    RouteId base = kDirect;
    const Frame* frame = nullptr;
};

// One reading of the audited file under one dialect. vstr is taken at its widest: a vstr'd
// variable may run every value that any command ever gives it, since binds and later vstrs run in
// any order. Every text is run once, so the work stays linear in the input.
class DialectRun {
public:
    DialectRun(FileTable& files, const AuditList::Table& list, Dialect dialect)
        : m_files(files)
        , m_list(list)
        , m_dialect(dialect)
    {
    }

    // Findings already made by another reading (sorted by place) are only marked in seenAgain.
    void skipKnown(const std::vector<AuditFinding>& known, std::vector<bool>& seenAgain)
    {
        m_known = &known;
        m_seenAgain = &seenAgain;
        seenAgain.assign(known.size(), false);
    }

    Reading run()
    {
        m_ran.assign(m_files.size(), false);
        m_ran[kRootFile] = true;
        m_queue.push_back({ fileText(kRootFile), kDirect });
        while (!m_queue.empty()) {
            const Run next = m_queue.front();
            m_queue.pop_front();
            const auto [backing, begin, end] = materialize(next.text);
            runSpan(backing, begin, end, Where { next.route, nullptr });
        }
        return takeResult();
    }

private:
    struct VarState {
        bool vstrd = false;
        RouteId route = kDirect;
        std::vector<TextRef> pending;
    };

    struct Run {
        TextRef text;
        RouteId route;
    };

    TextRef fileText(std::uint32_t file)
    {
        const auto id = static_cast<std::uint32_t>(m_backings.size());
        Backing& b = m_backings.emplace_back();
        b.file = file;
        b.text = m_files[file].text;
        b.segments.emplace_back(0, 0);
        return { id, 0, 0, b.text.size() };
    }

    std::tuple<std::uint32_t, std::size_t, std::size_t> materialize(const TextRef& ref)
    {
        if (ref.joinFrom == 0)
            return { ref.backing, ref.begin, ref.end };
        const Backing& parent = m_backings[ref.backing];
        std::vector<Token> tokens;
        console::tokenize(parent.text, { ref.begin, ref.end }, m_dialect, tokens);
        const auto id = static_cast<std::uint32_t>(m_backings.size());
        Backing& joined = m_backings.emplace_back();
        joined.file = parent.file;
        for (std::size_t k = ref.joinFrom; k < tokens.size(); ++k) {
            if (k > ref.joinFrom)
                joined.owned += ' ';
            joined.segments.emplace_back(joined.owned.size(), parent.fileOffset(tokens[k].begin));
            joined.owned.append(parent.text.substr(tokens[k].begin, tokens[k].end - tokens[k].begin));
        }
        if (joined.segments.empty())
            joined.segments.emplace_back(0, parent.fileOffset(ref.begin));
        joined.text = joined.owned;
        return { id, 0, joined.text.size() };
    }

    void runSpan(std::uint32_t backing, std::size_t begin, std::size_t end, Where where)
    {
        const std::string_view text = m_backings[backing].text;
        console::CommandSplitter split(text.substr(begin, end - begin), m_dialect);
        std::vector<Token> tokens;
        Span line;
        while (split.next(line)) {
            line.begin += begin;
            line.end += begin;
            console::tokenize(text, line, m_dialect, tokens);
            if (!tokens.empty())
                runCommand(backing, line, tokens, where);
        }
    }

    void runCommand(std::uint32_t backing, Span line, const std::vector<Token>& t, Where where)
    {
        const std::string_view text = m_backings[backing].text;
        const auto arg = [&](std::size_t k) { return text.substr(t[k].begin, t[k].end - t[k].begin); };
        const std::size_t argc = t.size();
        const Span command { t.front().rawBegin, t.back().rawEnd };
        Verb verb = verbOf(arg(0));
        if (verb == Verb::Execq && m_dialect != Dialect::New)
            verb = Verb::Other;
        switch (verb) {
        case Verb::Set:
        case Verb::Seta:
        case Verb::Sets:
        case Verb::Setu:
            if (argc >= 3) {
                report(arg(1), setterOf(verb), backing, command, where);
                assign(arg(1), arguments(backing, line, t, 2));
            }
            break;
        case Verb::Toggle:
            if (argc >= 2) {
                report(arg(1), Form::Toggle, backing, command, where);
                for (std::size_t k = 2; k < argc; ++k)
                    assign(arg(1), arguments(backing, line, t, k, k + 1));
            }
            break;
        case Verb::Cycle:
            if (argc >= 4 && argc <= 5)
                report(arg(1), Form::Cycle, backing, command, where);
            break;
        case Verb::Reset:
        case Verb::Unset:
            if (argc == 2)
                report(arg(1), setterOf(verb), backing, command, where);
            break;
        case Verb::Bind:
            if (argc >= 3)
                runBind(arguments(backing, line, t, 2), Step { Form::Bind, backing, command }, where);
            break;
        case Verb::Vstr:
            if (argc == 2)
                vstr(arg(1), Step { Form::Vstr, backing, command }, where);
            break;
        case Verb::Exec:
        case Verb::Execq:
            if (argc == 2)
                exec(std::string(arg(1)), Step { Form::Exec, backing, command }, where);
            break;
        case Verb::Other:
            // A cvar's name alone prints it; with a value it sets it to the first argument.
            if (argc >= 2) {
                report(arg(0), Form::Bare, backing, command, where);
                assign(arg(0), arguments(backing, line, t, 1, 2));
            }
            break;
        }
    }

    // Arguments from..to of a command line; one argument is a plain view of its bytes.
    static TextRef arguments(
        std::uint32_t backing, Span line, const std::vector<Token>& t, std::size_t from, std::size_t to = 0)
    {
        if (to == 0)
            to = t.size();
        if (to - from == 1)
            return { backing, 0, t[from].begin, t[from].end };
        return { backing, static_cast<std::uint32_t>(from), line.begin, line.end };
    }

    // Text with no separator and no ';' is a single word: run, it is one command without
    // arguments, which sets nothing.
    bool mayRunCommands(const TextRef& ref) const
    {
        if (ref.joinFrom != 0)
            return true;
        const std::string_view s = m_backings[ref.backing].text.substr(ref.begin, ref.end - ref.begin);
        return std::any_of(s.begin(), s.end(), [](char c) { return c == ';' || console::isSeparator(c); });
    }

    void report(std::string_view name, Form setter, std::uint32_t backing, Span command, Where where)
    {
        const auto it = m_list.names.find(name);
        if (it == m_list.names.end())
            return;
        // Every command is run once per reading, so nothing here is found twice.
        const Backing& b = m_backings[backing];
        const Located at { b.file, b.fileOffset(command.begin) };
        std::optional<AuditFinding> found;
        for (const std::uint32_t index : it->second) {
            if (isKnown(at, index))
                continue;
            if (!found)
                found = makeFinding(at, setter, backing, command, where);
            found->index = index;
            m_found.push_back(*found);
        }
    }

    bool isKnown(const Located& at, std::uint32_t index)
    {
        if (m_known == nullptr)
            return false;
        AuditFinding key;
        stash(key.line, key.column, at);
        key.index = index;
        const auto it = std::lower_bound(m_known->begin(), m_known->end(), key, byPlace);
        if (it == m_known->end() || byPlace(key, *it))
            return false;
        (*m_seenAgain)[static_cast<std::size_t>(it - m_known->begin())] = true;
        return true;
    }

    AuditFinding makeFinding(const Located& at, Form setter, std::uint32_t backing, Span command, Where where)
    {
        AuditFinding f;
        stash(f.line, f.column, at);
        f.setter = formName(setter);
        f.command = commandText(backing, command);
        for (RouteId r = store(where); r != kDirect; r = m_routes[static_cast<std::size_t>(r)].parent) {
            const Step& step = m_routes[static_cast<std::size_t>(r)].step;
            const Backing& hop = m_backings[step.backing];
            AuditStep& out = f.via.emplace_back();
            out.form = formName(step.form);
            out.command = commandText(step.backing, step.command);
            stash(out.line, out.column, { hop.file, hop.fileOffset(step.command.begin) });
        }
        std::reverse(f.via.begin(), f.via.end());
        f.form = f.via.empty() ? f.setter : f.via.front().form;
        return f;
    }

    void assign(std::string_view name, const TextRef& value)
    {
        if (!mayRunCommands(value))
            return;
        VarState& var = varState(name);
        if (var.vstrd)
            m_queue.push_back({ value, var.route });
        else
            var.pending.push_back(value);
    }

    void vstr(std::string_view name, const Step& step, Where where)
    {
        VarState& var = varState(name);
        if (var.vstrd)
            return;
        var.vstrd = true;
        var.route = addNode(store(where), step);
        for (const TextRef& value : var.pending)
            m_queue.push_back({ value, var.route });
        std::vector<TextRef>().swap(var.pending);
    }

    void runBind(const TextRef& text, const Step& step, Where where)
    {
        if (!mayRunCommands(text))
            return;
        const Frame frame { where.frame, where.base, step };
        const auto [backing, begin, end] = materialize(text);
        runSpan(backing, begin, end, Where { where.base, &frame });
    }

    void exec(const std::string& name, Step step, Where where)
    {
        const FileTable::Opened& opened = m_files.open(name);
        if (!opened.file) {
            // Once per name: configs often exec the same missing file from many binds.
            if (m_warnedNames.insert(name).second)
                warn(step, "exec \"" + name + "\": " + opened.problem + ", not followed");
            return;
        }
        step.target = *opened.file;
        if (m_ran.size() < m_files.size())
            m_ran.resize(m_files.size(), false);
        if (m_ran[step.target]) {
            if (loopsAtOnce(step.target, where))
                warn(step,
                    "exec \"" + name + "\": " + m_files[step.target].path
                        + " is already running (an exec cycle), not followed again");
            return;
        }
        m_ran[step.target] = true;
        m_queue.push_back({ fileText(step.target), addNode(store(where), step) });
    }

    // True when the file is being run by an exec chain that no key press interrupts, so that the
    // game itself would loop.
    bool loopsAtOnce(std::uint32_t file, Where where) const
    {
        if (where.frame != nullptr)
            return false;
        for (RouteId r = where.base; r != kDirect; r = m_routes[static_cast<std::size_t>(r)].parent) {
            const Step& s = m_routes[static_cast<std::size_t>(r)].step;
            if (s.form == Form::Bind)
                return false;
            if (s.form == Form::Exec && s.target == file)
                return true;
        }
        return file == kRootFile;
    }

    void warn(const Step& step, std::string message)
    {
        const Backing& b = m_backings[step.backing];
        m_warnings.push_back({ { b.file, b.fileOffset(step.command.begin) }, std::move(message) });
    }

    VarState& varState(std::string_view name)
    {
        auto it = m_vars.find(name);
        if (it == m_vars.end())
            it = m_vars.emplace(std::string(name), VarState {}).first;
        return it->second;
    }

    RouteId addNode(RouteId parent, const Step& step)
    {
        m_routes.push_back({ parent, step });
        return static_cast<RouteId>(m_routes.size() - 1);
    }

    RouteId store(Where where)
    {
        if (where.frame == nullptr)
            return where.base;
        const Frame& f = *where.frame;
        if (!f.isStored) {
            f.stored = addNode(store(Where { f.base, f.outer }), f.step);
            f.isStored = true;
        }
        return f.stored;
    }

    std::string commandText(std::uint32_t backing, Span command) const
    {
        return std::string(m_backings[backing].text.substr(command.begin, command.end - command.begin));
    }

    Reading takeResult() { return { std::move(m_found), std::move(m_warnings) }; }

    FileTable& m_files;
    const AuditList::Table& m_list;
    Dialect m_dialect;
    std::deque<Backing> m_backings; // stable: views into joined texts outlive later additions
    std::deque<Run> m_queue;
    std::vector<RouteNode> m_routes;
    std::unordered_map<std::string, VarState, FoldedHash, FoldedEqual> m_vars;
    std::vector<bool> m_ran; // by file
    std::vector<AuditFinding> m_found;
    const std::vector<AuditFinding>* m_known = nullptr;
    std::vector<bool>* m_seenAgain = nullptr;
    std::vector<Warned> m_warnings;
    std::unordered_set<std::string> m_warnedNames;
};

// Both readings: findings of the newer one, then what only the older one finds, marked.
Reading readBoth(FileTable& files, const AuditList::Table& list)
{
    Reading newer = DialectRun(files, list, Dialect::New).run();
    std::sort(newer.findings.begin(), newer.findings.end(), byPlace);
    std::vector<bool> seenAgain;
    DialectRun olderRun(files, list, Dialect::Old);
    olderRun.skipKnown(newer.findings, seenAgain);
    Reading older = olderRun.run();

    for (std::size_t i = 0; i < newer.findings.size(); ++i)
        newer.findings[i].newDialectOnly = !seenAgain[i];
    for (AuditFinding& f : older.findings) {
        f.oldDialectOnly = true;
        newer.findings.push_back(std::move(f));
    }
    const auto warningKey = [](const Warned& w) {
        return std::to_string(w.at.file) + ':' + std::to_string(w.at.offset) + ':' + w.message;
    };
    std::unordered_set<std::string> warned;
    for (const Warned& w : newer.warnings)
        warned.insert(warningKey(w));
    for (Warned& w : older.warnings)
        if (warned.insert(warningKey(w)).second)
            newer.warnings.push_back(std::move(w));
    return newer;
}

// Line and column of offsets, counting LF, CR and CRLF each as one line break.
class Positions {
public:
    void want(const Located& at) { m_wanted.push_back(at); }

    void resolve(const FileTable& files)
    {
        std::sort(m_wanted.begin(), m_wanted.end(), byOffset);
        m_wanted.erase(std::unique(m_wanted.begin(), m_wanted.end()), m_wanted.end());
        m_lineColumn.resize(m_wanted.size());
        std::size_t k = 0;
        while (k < m_wanted.size()) {
            const std::uint32_t file = m_wanted[k].file;
            const std::string& text = files[file].text;
            std::uint64_t line = 1;
            std::size_t lineStart = 0;
            std::size_t i = 0;
            for (; k < m_wanted.size() && m_wanted[k].file == file; ++k) {
                const std::size_t target = std::min(m_wanted[k].offset, text.size());
                for (; i < target; ++i) {
                    const char c = text[i];
                    if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
                        ++line;
                        lineStart = i + 1;
                    }
                }
                m_lineColumn[k] = { line, static_cast<std::uint64_t>(target - lineStart) + 1 };
            }
        }
    }

    std::pair<std::uint64_t, std::uint64_t> at(const Located& where) const
    {
        const auto it = std::lower_bound(m_wanted.begin(), m_wanted.end(), where, byOffset);
        return m_lineColumn[static_cast<std::size_t>(it - m_wanted.begin())];
    }

private:
    std::vector<Located> m_wanted;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_lineColumn;
};

bool onlyLineBreaks(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
}

AuditResult audit(const std::string& path, std::string text, const AuditList& list, Dialect dialect)
{
    AuditResult result;
    if (!text.empty() && onlyLineBreaks(text)) {
        result.file = { FileError::NoLines, 0 };
        return result;
    }
    cutAtNul(text);
    FileTable files(path, std::move(text));
    Reading reading = dialect == Dialect::Both ? readBoth(files, list.table())
                                               : DialectRun(files, list.table(), dialect).run();
    std::sort(reading.findings.begin(), reading.findings.end(), byPlace);
    std::stable_sort(reading.warnings.begin(), reading.warnings.end(),
        [](const Warned& a, const Warned& b) { return byOffset(a.at, b.at); });

    Positions positions;
    for (const AuditFinding& f : reading.findings) {
        positions.want(stashed(f.line, f.column));
        for (const AuditStep& s : f.via)
            positions.want(stashed(s.line, s.column));
    }
    for (const Warned& w : reading.warnings)
        positions.want(w.at);
    positions.resolve(files);

    const auto place = [&](std::string& file, std::uint64_t& line, std::uint64_t& column) {
        const Located at = stashed(line, column);
        file = files[at.file].path;
        std::tie(line, column) = positions.at(at);
    };
    for (AuditFinding& f : reading.findings) {
        place(f.file, f.line, f.column);
        for (AuditStep& s : f.via)
            place(s.file, s.line, s.column);
    }
    result.findings = std::move(reading.findings);
    for (Warned& w : reading.warnings) {
        AuditWarning out;
        out.file = files[w.at.file].path;
        std::tie(out.line, out.column) = positions.at(w.at);
        out.message = std::move(w.message);
        result.warnings.push_back(std::move(out));
    }
    return result;
}

} // namespace

AuditResult auditConfig(const std::string& path, const AuditList& list, Dialect dialect)
{
    std::string text;
    const FileStatus status = readWhole(path, text);
    if (!status) {
        AuditResult result;
        result.file = status;
        return result;
    }
    return audit(path, std::move(text), list, dialect);
}

AuditResult auditConfig(const std::string& path, const CvarList& list, Dialect dialect)
{
    return auditConfig(path, AuditList(list), dialect);
}

AuditResult auditBuffer(
    std::string_view text, const std::string& path, const AuditList& list, Dialect dialect)
{
    if (text.empty()) {
        AuditResult result;
        result.file = { FileError::Empty, 0 };
        return result;
    }
    return audit(path, std::string(text), list, dialect);
}

} // namespace tromel
