#include "RulesChecker.h"

#include "ConsoleFiles.h"

#include <algorithm>

namespace tromel {

using namespace console;

namespace {

std::string inQuotes(std::string_view value)
{
    return '"' + oneLine(value) + '"';
}

// What a rule does to one value a config gives its cvar.
struct Breach {
    const Rule* rule = nullptr;
    std::string value;
    Verdict verdict;
    std::string path;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    bool onKeyPress = false;
    bool possible = false;
};

// FILE:LINE:COL: NAME "VALUE" [on key press] breaks "RULE" (RULES:LINE): VERDICT
class BreachRecord final : public Record {
public:
    BreachRecord(const Breach& breach, const std::string& rulesPath)
        : m_breach(breach)
        , m_rulesPath(rulesPath)
    {
    }

    void text(std::string& out) const override
    {
        const Breach& b = m_breach;
        out += position(b.path, b.line, b.column) + ": ";
        out += oneLine(b.rule->name) + ' ' + inQuotes(b.value);
        if (b.onKeyPress)
            out += " on key press";
        out += " breaks " + inQuotes(b.rule->command) + " (" + oneLine(m_rulesPath) + ':'
            + std::to_string(b.rule->line) + "): " + oneLine(describeVerdict(b.verdict));
        if (!b.verdict.settles)
            out += " [never settles]";
        if (b.possible)
            out += " [possible]";
    }

    void fields(FieldWriter& out) const override
    {
        const Breach& b = m_breach;
        writePosition(out, b.path, b.line, b.column);
        out.text("name", b.rule->name, Encoding::Latin1);
        out.text("value", b.value, Encoding::Latin1);
        out.boolean("onKeyPress", b.onKeyPress);
        out.boolean("possible", b.possible);
        out.beginObject("rule");
        out.text("command", b.rule->command, Encoding::Latin1);
        out.text("file", m_rulesPath, Encoding::Name);
        out.number("line", b.rule->line);
        out.end();
        out.text("verdict", verdictWord(b.verdict.outcome), Encoding::Latin1);
        if (b.verdict.outcome == Outcome::Forced) {
            out.text("forcedTo", b.verdict.value, Encoding::Latin1);
            out.boolean("settles", b.verdict.settles);
        }
    }

private:
    static const char* verdictWord(Outcome outcome)
    {
        return outcome == Outcome::Forced ? "forced" : outcome == Outcome::Refused ? "refused" : "kicked";
    }

    const Breach& m_breach;
    const std::string& m_rulesPath;
};

// FILE: NAME is not set: "RULE" (RULES:LINE)
class UnsetRecord final : public Record {
public:
    UnsetRecord(const std::string& path, const Rule& rule, const std::string& rulesPath)
        : m_path(path)
        , m_rule(rule)
        , m_rulesPath(rulesPath)
    {
    }
    void text(std::string& out) const override
    {
        out += oneLine(m_path) + ": " + oneLine(m_rule.name) + " is not set: " + inQuotes(m_rule.command)
            + " (" + oneLine(m_rulesPath) + ':' + std::to_string(m_rule.line) + ')';
    }
    void fields(FieldWriter& out) const override
    {
        out.text("file", m_path, Encoding::Name);
        out.text("name", m_rule.name, Encoding::Latin1);
        out.text("rule", m_rule.command, Encoding::Latin1);
        out.number("ruleLine", m_rule.line);
    }

private:
    const std::string& m_path;
    const Rule& m_rule;
    const std::string& m_rulesPath;
};

class ModelWarning final : public Record {
public:
    ModelWarning(Files& files, const Warning& warning)
        : m_path(files.path(warning.place.file))
        , m_message(warning.message)
    {
        std::tie(m_line, m_column) = files.lineColumn(warning.place);
    }
    void text(std::string& out) const override
    {
        out += position(m_path, m_line, m_column) + ": warning: " + oneLine(m_message);
    }
    void fields(FieldWriter& out) const override
    {
        writePosition(out, m_path, m_line, m_column);
        out.text("message", m_message, Encoding::Name);
    }

private:
    const std::string& m_path;
    const std::string& m_message;
    std::uint64_t m_line = 0;
    std::uint64_t m_column = 0;
};

// Watches a config's run: the values it leaves once loaded are judged then, in the order they
// stand in the files; each value a key press can set is judged as it comes.
class Judge final : public Observer {
public:
    Judge(const RuleSet& rules, const std::string& rulesPath, Files& files, FileReport& report)
        : m_rules(rules)
        , m_rulesPath(rulesPath)
        , m_files(files)
        , m_report(report)
        , m_set(rules.rules().size(), false)
    {
    }

    void set(const SetEvent& e) override
    {
        for (const std::uint32_t entry : e.entries)
            m_set[entry] = true;
        // What the load leaves is judged once it is over; a set it overrides breaks nothing.
        if ((e.onKeyPress || e.possible) && e.value)
            judge(e.entries, *e.value, e.place, e.onKeyPress, e.possible);
    }

    void loaded(std::span<const LoadedValue> values) override
    {
        std::vector<const LoadedValue*> byPlace;
        for (const LoadedValue& v : values)
            byPlace.push_back(&v);
        std::sort(byPlace.begin(), byPlace.end(), [](const LoadedValue* a, const LoadedValue* b) {
            return std::tie(a->place.file, a->place.offset) < std::tie(b->place.file, b->place.offset);
        });
        for (const LoadedValue* v : byPlace)
            if (v->value)
                judge(v->entries, *v->value, v->place, false, false);
    }

    void warning(const Warning& w) override
    {
        if (++m_warnings <= kWarningsShown)
            m_report.warning(ModelWarning(m_files, w));
    }
    bool cancelled() const override { return m_report.cancelled(); }

    bool everSet(std::size_t rule) const { return m_set[rule]; }
    std::size_t warningsLeftOut() const { return m_warnings - std::min(m_warnings, kWarningsShown); }

private:
    void judge(std::span<const std::uint32_t> entries, std::string_view value, Place place, bool onKeyPress,
        bool possible)
    {
        for (const std::uint32_t entry : entries) {
            Breach b;
            b.rule = &m_rules.rules()[entry];
            b.verdict = judgeRule(*b.rule, value);
            if (!b.verdict.broken())
                continue;
            b.value = value;
            b.path = m_files.path(place.file);
            std::tie(b.line, b.column) = m_files.lineColumn(place);
            b.onKeyPress = onKeyPress;
            b.possible = possible;
            m_report.finding(BreachRecord(b, m_rulesPath));
        }
    }

    const RuleSet& m_rules;
    const std::string& m_rulesPath;
    Files& m_files;
    FileReport& m_report;
    std::vector<bool> m_set; // by rule
    std::size_t m_warnings = 0;
};

std::vector<std::string> namesOf(const RuleSet& rules)
{
    std::vector<std::string> names;
    for (const Rule& r : rules.rules())
        names.push_back(r.name);
    return names;
}

} // namespace

RulesChecker::RulesChecker(const RuleSet& rules, std::string rulesPath, bool showUnset)
    : m_rules(rules)
    , m_rulesPath(std::move(rulesPath))
    , m_names(namesOf(rules))
    , m_watch(m_names)
    , m_showUnset(showUnset)
{
}

RulesChecker::~RulesChecker() = default;

console::Dialect RulesChecker::dialectOf(RuleEngine engine)
{
    // RtCW Pro's command buffer is ET 2.60's; PunkBuster runs on the engines of that age.
    return engine == RuleEngine::EtLegacy ? Dialect::EtLegacy : Dialect::Et;
}

FileStatus RulesChecker::check(const std::string& path, FileReport& report, unsigned) const
{
    Files files;
    if (const FileStatus status = files.open(path); !status)
        return status;
    Judge judge(m_rules, m_rulesPath, files, report);
    const RunEnd end = run(files, m_watch, dialectOf(m_rules.engine()), judge);
    if (end == RunEnd::Cancelled)
        return { FileError::Cancelled, 0 };
    if (const std::size_t more = judge.warningsLeftOut(); more > 0)
        report.warning(ModelWarning(files, { {}, warningsNotShown(more) }));
    // Past its budget the model knows where names are written, not the values they get: nothing
    // can be judged, and "nothing broken" would be a lie.
    if (end == RunEnd::GaveUp)
        return { FileError::Failed, 0 };
    if (m_showUnset)
        for (std::size_t k = 0; k < m_rules.rules().size(); ++k)
            if (!judge.everSet(k))
                report.note(UnsetRecord(path, m_rules.rules()[k], m_rulesPath));
    return {};
}

void RulesChecker::jsonHeader(FieldWriter& out) const
{
    out.beginObject("rules");
    out.text("path", m_rulesPath, Encoding::Name);
    out.text("engine", ruleEngineName(m_rules.engine()), Encoding::Latin1);
    out.number("count", m_rules.rules().size());
    out.end();
}

} // namespace tromel
