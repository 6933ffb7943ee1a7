#include "Audit.h"

#include "AuditConsole.h"
#include "Reader.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <new>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

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
    Exec
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

// Texts nested deeper than this in other texts (bind texts, vstr'd values) are not followed, so
// that every byte of a config is read a bounded number of times.
constexpr std::uint32_t kMaxDepth = 16;

// Bytes the console runs, and where each came from: a span of a file's text, or command arguments
// joined by single spaces, as set and bind store them. An argument holds no quote, so a joined
// text has none, and each argument in it is a copy of one run of file bytes.
class Text {
public:
    Text(std::uint32_t file, std::string_view fileText, Span span, std::uint32_t depth)
        : m_file(file)
        , m_depth(depth)
        , m_bytes(fileText.substr(span.begin, span.end - span.begin))
        , m_base(span.begin)
    {
    }

    // Arguments [first, last) of a command line of from, joined.
    Text(const Text& from, const std::vector<Token>& tokens, std::size_t first, std::size_t last,
        std::uint32_t depth)
        : m_file(from.m_file)
        , m_depth(depth)
        , m_joined(std::make_unique<Joined>())
    {
        std::string& bytes = m_joined->bytes;
        bytes.reserve(tokens[last - 1].end - tokens[first].begin);
        m_joined->pieces.reserve(last - first);
        // Tokens come in order, so the pieces of from that hold them are found by walking on.
        std::size_t piece = 0;
        for (std::size_t k = first; k < last; ++k) {
            const std::size_t at = tokens[k].begin;
            std::size_t fileAt = from.m_base + at;
            if (from.m_joined) {
                const std::vector<Piece>& pieces = from.m_joined->pieces;
                while (piece + 1 < pieces.size() && pieces[piece + 1].first <= at)
                    ++piece;
                fileAt = pieces[piece].second + (at - pieces[piece].first);
            }
            if (k > first)
                bytes += ' ';
            m_joined->pieces.emplace_back(bytes.size(), fileAt);
            bytes.append(from.bytes().substr(at, tokens[k].end - at));
        }
        m_bytes = bytes;
    }

    std::uint32_t file() const { return m_file; }
    std::uint32_t depth() const { return m_depth; }
    std::string_view bytes() const { return m_bytes; }
    bool isJoined() const { return m_joined != nullptr; }

    std::size_t fileOffset(std::size_t at) const
    {
        if (!m_joined)
            return m_base + at;
        const auto piece = pieceAfter(at) - 1;
        return piece->second + (at - piece->first);
    }

    // Where bytes s are in the file, when they are one run of its bytes.
    std::optional<Span> inFile(Span s) const
    {
        if (m_joined) {
            const auto next = pieceAfter(s.begin);
            if (next != m_joined->pieces.end() && s.end >= next->first)
                return std::nullopt;
        }
        const std::size_t begin = fileOffset(s.begin);
        return Span { begin, begin + (s.end - s.begin) };
    }

private:
    using Piece = std::pair<std::size_t, std::size_t>; // offset in bytes, offset in the file

    struct Joined {
        std::string bytes;
        std::vector<Piece> pieces;
    };

    std::vector<Piece>::const_iterator pieceAfter(std::size_t at) const
    {
        return std::upper_bound(m_joined->pieces.begin(), m_joined->pieces.end(), at,
            [](std::size_t v, const Piece& p) { return v < p.first; });
    }

    std::uint32_t m_file;
    std::uint32_t m_depth; // texts it is nested in, up to its file's
    std::string_view m_bytes;
    std::size_t m_base = 0;
    std::unique_ptr<Joined> m_joined; // stays put when the text moves, so m_bytes stays valid
};

// A command's text for reports: its place in its file's text, or a copy when it was joined from
// several arguments and so is written nowhere as such.
struct CommandText {
    Span inFile;
    std::optional<std::string> joined;
};

CommandText commandText(const Text& text, Span command)
{
    if (const std::optional<Span> span = text.inFile(command))
        return { *span, std::nullopt };
    return { {}, std::string(text.bytes().substr(command.begin, command.end - command.begin)) };
}

std::string toString(CommandText&& command, std::string_view fileText)
{
    if (command.joined)
        return std::move(*command.joined);
    return std::string(fileText.substr(command.inFile.begin, command.inFile.end - command.inFile.begin));
}

// Text that may run later. With joinFrom set, text is a command line of a file and the value is
// its arguments from joinFrom on, joined only if it ever runs.
struct Value {
    Text text;
    std::uint32_t joinFrom = 0;
};

using RouteId = std::size_t;
constexpr RouteId kDirect = kNoStep;

// A hop: the exec, bind or vstr command that ran a text. Routes share their outer hops.
struct RouteNode {
    RouteId parent;
    Form form;
    std::uint32_t target; // exec: the file it runs
    Located at;
    CommandText command;
};

// Until a reading is over, a finding's line and column hold its file's id and byte offset, and
// via its route; findings then need no second copy to be sorted and placed.
void stash(AuditFinding& f, const Located& at)
{
    f.line = at.file;
    f.column = at.offset;
}

Located stashed(const AuditFinding& f)
{
    return { static_cast<std::uint32_t>(f.line), static_cast<std::size_t>(f.column) };
}

auto placeOf(const AuditFinding& f)
{
    return std::make_tuple(f.line, f.column, f.index);
}

bool byPlace(const AuditFinding& a, const AuditFinding& b)
{
    return placeOf(a) < placeOf(b);
}

struct Warned {
    Located at;
    std::string message;
    bool oncePerFile = false; // said once for the whole audit, wherever it first applies
};

struct Reading {
    std::vector<AuditFinding> findings;
    std::deque<RouteNode> routes; // a deque, so that growing it never holds two copies
    std::vector<Warned> warnings;
};

// A bind's text runs at once, nested in the command that binds it; its hop is stored only when
// something found or kept below needs it.
struct Frame {
    const Frame* outer;
    RouteId base;
    const Text& text; // holds the bind command
    Span command;
    mutable RouteId stored = kDirect;
};

struct Where {
    RouteId base = kDirect;
    const Frame* frame = nullptr;
};

// One reading of the audited file under one dialect. vstr is taken at its widest: a vstr'd
// variable may run every value that any command ever gives it, since binds and later vstrs run in
// any order. Every text is run once and nesting is bounded, so the work stays linear in the input.
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
        m_queue.push_back({ Value { fileText(kRootFile) }, kDirect });
        while (!m_queue.empty()) {
            Run next = std::move(m_queue.front());
            m_queue.pop_front();
            runText(ready(std::move(next.value)), Where { next.route, nullptr });
        }
        return { std::move(m_found), std::move(m_routes), std::move(m_warnings) };
    }

private:
    struct VarState {
        bool vstrd = false;
        bool tooDeep = false; // a value was too deeply nested to keep
        RouteId route = kDirect;
        std::vector<Value> pending;
    };

    struct Run {
        Value value;
        RouteId route;
    };

    Text fileText(std::uint32_t file) const
    {
        const std::string& text = m_files[file].text;
        return Text(file, text, { 0, text.size() }, 0);
    }

    static Text ready(Value value)
    {
        if (value.joinFrom == 0)
            return std::move(value.text);
        std::vector<Token> tokens;
        console::tokenize(value.text.bytes(), { 0, value.text.bytes().size() }, tokens);
        return Text(value.text, tokens, value.joinFrom, tokens.size(), value.text.depth());
    }

    void runText(const Text& text, Where where)
    {
        console::CommandSplitter split(text.bytes(), m_dialect);
        std::vector<Token> tokens;
        Span line;
        while (split.next(line)) {
            console::tokenize(text.bytes(), line, tokens);
            if (!tokens.empty())
                runCommand(text, line, tokens, where);
        }
    }

    void runCommand(const Text& text, Span line, const std::vector<Token>& t, Where where)
    {
        const auto arg
            = [&](std::size_t k) { return text.bytes().substr(t[k].begin, t[k].end - t[k].begin); };
        const std::size_t argc = t.size();
        const Span command { t.front().rawBegin, t.back().rawEnd };
        const Verb verb = verbOf(arg(0));
        switch (verb) {
        case Verb::Set:
        case Verb::Seta:
        case Verb::Sets:
        case Verb::Setu:
            if (argc >= 3) {
                report(arg(1), setterOf(verb), text, command, where);
                assign(arg(1), value(text, line, t, 2, argc));
            }
            break;
        case Verb::Toggle:
            if (argc >= 2) {
                report(arg(1), Form::Toggle, text, command, where);
                for (std::size_t k = 2; k < argc; ++k)
                    assign(arg(1), value(text, line, t, k, k + 1));
            }
            break;
        case Verb::Cycle:
            if (argc >= 4 && argc <= 5)
                report(arg(1), Form::Cycle, text, command, where);
            break;
        case Verb::Reset:
        case Verb::Unset:
            if (argc == 2)
                report(arg(1), setterOf(verb), text, command, where);
            break;
        case Verb::Bind:
            if (argc >= 3)
                runBind(nested(text, t, 2, argc), text, command, where);
            break;
        case Verb::Vstr:
            if (argc == 2)
                vstr(arg(1), text, command, where);
            break;
        case Verb::Exec:
            if (argc == 2)
                exec(std::string(arg(1)), text, command, where);
            break;
        case Verb::Other:
            // A cvar's name alone prints it; with a value it sets it to the first argument.
            if (argc >= 2) {
                report(arg(0), Form::Bare, text, command, where);
                assign(arg(0), value(text, line, t, 1, 2));
            }
            break;
        }
    }

    // Arguments [first, last) of a command line, as text nested in it.
    Text nested(const Text& text, const std::vector<Token>& t, std::size_t first, std::size_t last) const
    {
        const std::uint32_t depth = text.depth() + 1;
        if (last - first > 1)
            return Text(text, t, first, last, depth);
        const Span span = text.inFile({ t[first].begin, t[first].end }).value();
        return Text(text.file(), m_files[text.file()].text, span, depth);
    }

    // The same, to run later; several arguments run to the line's end.
    Value value(
        const Text& text, Span line, const std::vector<Token>& t, std::size_t first, std::size_t last) const
    {
        if (last - first == 1 || text.isJoined())
            return { nested(text, t, first, last) };
        const Span span = text.inFile(line).value();
        return { Text(text.file(), m_files[text.file()].text, span, text.depth() + 1),
            static_cast<std::uint32_t>(first) };
    }

    // One argument without separators, ';' or comments is, run, one command without arguments,
    // which sets nothing.
    static bool mayRunCommands(const Text& text, bool severalArguments = false)
    {
        if (severalArguments || text.isJoined())
            return true;
        const std::string_view s = text.bytes();
        return std::any_of(
            s.begin(), s.end(), [](char c) { return c == ';' || c == '/' || console::isSeparator(c); });
    }

    void report(std::string_view name, Form setter, const Text& text, Span command, Where where)
    {
        const auto it = m_list.names.find(name);
        if (it == m_list.names.end())
            return;
        // Every command is run once per reading, so nothing here is found twice.
        const Located at = located(text, command);
        std::optional<AuditFinding> found;
        for (const std::uint32_t index : it->second) {
            if (isKnown(at, index))
                continue;
            if (!found) {
                found.emplace();
                stash(*found, at);
                found->setter = formName(setter);
                found->command = text.bytes().substr(command.begin, command.end - command.begin);
                found->via = store(where);
            }
            found->index = index;
            m_found.push_back(*found);
        }
    }

    bool isKnown(const Located& at, std::uint32_t index)
    {
        if (m_known == nullptr)
            return false;
        const auto key = std::make_tuple(std::uint64_t { at.file }, std::uint64_t { at.offset }, index);
        const auto it = std::lower_bound(m_known->begin(), m_known->end(), key,
            [](const AuditFinding& f, const auto& k) { return placeOf(f) < k; });
        if (it == m_known->end() || placeOf(*it) != key)
            return false;
        (*m_seenAgain)[static_cast<std::size_t>(it - m_known->begin())] = true;
        return true;
    }

    void assign(std::string_view name, Value value)
    {
        if (!mayRunCommands(value.text, value.joinFrom != 0))
            return;
        VarState& var = varState(name);
        if (value.text.depth() > kMaxDepth) {
            if (var.vstrd)
                tooDeep(Form::Vstr, m_routes[var.route].at);
            var.tooDeep = true;
            return;
        }
        if (var.vstrd)
            m_queue.push_back({ std::move(value), var.route });
        else
            var.pending.push_back(std::move(value));
    }

    void vstr(std::string_view name, const Text& text, Span command, Where where)
    {
        VarState& var = varState(name);
        if (var.vstrd)
            return;
        var.vstrd = true;
        var.route = addNode(store(where), Form::Vstr, text, command);
        if (var.tooDeep)
            tooDeep(Form::Vstr, m_routes[var.route].at);
        for (Value& value : var.pending)
            m_queue.push_back({ std::move(value), var.route });
        std::vector<Value>().swap(var.pending);
    }

    void runBind(const Text& bound, const Text& text, Span command, Where where)
    {
        if (!mayRunCommands(bound))
            return;
        if (bound.depth() > kMaxDepth) {
            tooDeep(Form::Bind, located(text, command));
            return;
        }
        const Frame frame { where.frame, where.base, text, command };
        runText(bound, Where { where.base, &frame });
    }

    void exec(const std::string& name, const Text& text, Span command, Where where)
    {
        const FileTable::Opened& opened = m_files.open(name);
        if (!opened.file) {
            // Once per name: configs often exec the same missing file from many binds.
            if (m_warnedNames.insert(name).second)
                warn(located(text, command), "exec \"" + name + "\": " + opened.problem + ", not followed");
            return;
        }
        const std::uint32_t target = *opened.file;
        if (m_ran.size() < m_files.size())
            m_ran.resize(m_files.size(), false);
        if (m_ran[target]) {
            if (loopsAtOnce(target, where))
                warn(located(text, command),
                    "exec \"" + name + "\": " + m_files[target].path
                        + " is already running (an exec cycle), not followed again");
            return;
        }
        m_ran[target] = true;
        const RouteId route = addNode(store(where), Form::Exec, text, command, target);
        m_queue.push_back({ Value { fileText(target) }, route });
    }

    // True when the file is being run by an exec chain that no key press interrupts, so that the
    // game itself would loop.
    bool loopsAtOnce(std::uint32_t file, Where where) const
    {
        if (where.frame != nullptr)
            return false;
        for (RouteId r = where.base; r != kDirect; r = m_routes[r].parent) {
            const RouteNode& node = m_routes[r];
            if (node.form == Form::Bind)
                return false;
            if (node.form == Form::Exec && node.target == file)
                return true;
        }
        return file == kRootFile;
    }

    static Located located(const Text& text, Span command)
    {
        return { text.file(), text.fileOffset(command.begin) };
    }

    void warn(const Located& at, std::string message) { m_warnings.push_back({ at, std::move(message) }); }

    void tooDeep(Form form, const Located& at)
    {
        bool& warned = form == Form::Bind ? m_warnedDeepBind : m_warnedDeepVstr;
        if (!warned)
            m_warnings.push_back(
                { at, std::string(formName(form)) + " nested too deep, not followed", true });
        warned = true;
    }

    VarState& varState(std::string_view name)
    {
        auto it = m_vars.find(name);
        if (it == m_vars.end())
            it = m_vars.emplace(std::string(name), VarState {}).first;
        return it->second;
    }

    RouteId addNode(RouteId parent, Form form, const Text& text, Span command, std::uint32_t target = 0)
    {
        m_routes.push_back({ parent, form, target, located(text, command), commandText(text, command) });
        return m_routes.size() - 1;
    }

    RouteId store(Where where)
    {
        if (where.frame == nullptr)
            return where.base;
        const Frame& f = *where.frame;
        if (f.stored == kDirect)
            f.stored = addNode(store(Where { f.base, f.outer }), Form::Bind, f.text, f.command);
        return f.stored;
    }

    FileTable& m_files;
    const AuditList::Table& m_list;
    Dialect m_dialect;
    std::deque<Run> m_queue;
    std::deque<RouteNode> m_routes;
    std::unordered_map<std::string, VarState, FoldedHash, FoldedEqual> m_vars;
    std::vector<bool> m_ran; // by file
    std::vector<AuditFinding> m_found;
    const std::vector<AuditFinding>* m_known = nullptr;
    std::vector<bool>* m_seenAgain = nullptr;
    std::vector<Warned> m_warnings;
    std::unordered_set<std::string> m_warnedNames;
    bool m_warnedDeepBind = false;
    bool m_warnedDeepVstr = false;
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
    const std::size_t shift = newer.routes.size();
    const auto shifted = [&](RouteId r) { return r == kDirect ? kDirect : r + shift; };
    for (RouteNode& node : older.routes) {
        node.parent = shifted(node.parent);
        newer.routes.push_back(std::move(node));
    }
    for (AuditFinding& f : older.findings) {
        f.oldDialectOnly = true;
        f.via = shifted(f.via);
        newer.findings.push_back(std::move(f));
    }
    const auto warningKey = [](const Warned& w) {
        return w.oncePerFile
            ? w.message
            : std::to_string(w.at.file) + ':' + std::to_string(w.at.offset) + ':' + w.message;
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

// The hops that lead to some finding; the others are not reported.
std::vector<bool> hopsOnRoutes(const Reading& reading)
{
    std::vector<bool> onRoute(reading.routes.size(), false);
    for (const AuditFinding& f : reading.findings)
        for (RouteId r = f.via; r != kDirect && !onRoute[r]; r = reading.routes[r].parent)
            onRoute[r] = true;
    return onRoute;
}

struct Steps {
    std::vector<std::size_t> byRoute; // the step of each hop kept
    std::vector<std::string_view> outermost; // by step: the form of the first hop of its route
};

// The hops kept become steps in the order they were made, which puts each after the one that ran
// it; their texts are made only now.
Steps writeSteps(Reading& reading, const std::vector<bool>& onRoute, const FileTable& files,
    const Positions& positions, std::vector<AuditStep>& out)
{
    Steps steps;
    steps.byRoute.assign(reading.routes.size(), kNoStep);
    out.reserve(static_cast<std::size_t>(std::count(onRoute.begin(), onRoute.end(), true)));
    for (std::size_t r = 0; r < reading.routes.size(); ++r) {
        if (!onRoute[r])
            continue;
        RouteNode& node = reading.routes[r];
        const std::size_t outer = node.parent == kDirect ? kNoStep : steps.byRoute[node.parent];
        steps.byRoute[r] = out.size();
        steps.outermost.push_back(outer == kNoStep ? formName(node.form) : steps.outermost[outer]);
        AuditStep& step = out.emplace_back();
        step.form = formName(node.form);
        step.path = node.at.file;
        std::tie(step.line, step.column) = positions.at(node.at);
        step.command = toString(std::move(node.command), files[node.at.file].text);
        step.outer = outer;
    }
    return steps;
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

    const std::vector<bool> onRoute = hopsOnRoutes(reading);
    Positions positions;
    for (std::size_t r = 0; r < reading.routes.size(); ++r)
        if (onRoute[r])
            positions.want(reading.routes[r].at);
    for (const AuditFinding& f : reading.findings)
        positions.want(stashed(f));
    for (const Warned& w : reading.warnings)
        positions.want(w.at);
    positions.resolve(files);

    const Steps steps = writeSteps(reading, onRoute, files, positions, result.steps);
    for (AuditFinding& f : reading.findings) {
        const Located at = stashed(f);
        f.path = at.file;
        std::tie(f.line, f.column) = positions.at(at);
        f.via = f.via == kDirect ? kNoStep : steps.byRoute[f.via];
        f.form = f.via == kNoStep ? f.setter : steps.outermost[f.via];
    }
    result.findings = std::move(reading.findings);
    for (const Warned& w : reading.warnings) {
        AuditWarning& out = result.warnings.emplace_back();
        out.path = w.at.file;
        std::tie(out.line, out.column) = positions.at(w.at);
        out.message = w.message;
    }
    for (std::uint32_t file = 0; file < files.size(); ++file)
        result.paths.push_back(files[file].path);
    return result;
}

} // namespace

std::vector<const AuditStep*> AuditResult::route(const AuditFinding& f) const
{
    std::vector<const AuditStep*> hops;
    for (std::size_t s = f.via; s != kNoStep; s = steps[s].outer)
        hops.push_back(&steps[s]);
    std::reverse(hops.begin(), hops.end());
    return hops;
}

AuditResult auditConfig(const std::string& path, const AuditList& list, Dialect dialect)
{
    std::string text;
    const FileStatus status = readWhole(path, text, 0, true);
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
