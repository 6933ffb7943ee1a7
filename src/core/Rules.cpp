#include "Rules.h"

#include "Reader.h"
#include "RulesServer.h"
#include "RulesSource.h"
#include "RulesText.h"

#include <algorithm>
#include <array>
#include <span>

namespace tromel {

namespace {

using rules::equalsFolded;
using rules::ServerRule;
using rules::Warnings;

struct ModeWords {
    RuleMode mode;
    std::string_view shortWord;
    std::string_view longWord; // empty when the engine has one word
};

// Each engine's rule parser: ET: Legacy's CC_svcvar, RtCW Pro's Cvar_Restriction_Flags, and the
// four words of PunkBuster's pb_sv_cvar.
constexpr std::array kLegacyModes = {
    ModeWords { RuleMode::Equal, "EQ", "EQUAL" },
    ModeWords { RuleMode::Greater, "G", "GREATER" },
    ModeWords { RuleMode::GreaterEqual, "GE", "GREATEREQUAL" },
    ModeWords { RuleMode::Lower, "L", "LOWER" },
    ModeWords { RuleMode::LowerEqual, "LE", "LOWEREQUAL" },
    ModeWords { RuleMode::Inside, "IN", "INSIDE" },
    ModeWords { RuleMode::Outside, "OUT", "OUTSIDE" },
    ModeWords { RuleMode::Include, "INC", "INCLUDE" },
    ModeWords { RuleMode::Exclude, "EXC", "EXCLUDE" },
    ModeWords { RuleMode::WithBits, "WB", "WITHBITS" },
    ModeWords { RuleMode::WithoutBits, "WOB", "WITHOUTBITS" },
};
constexpr std::array kRtcwModes = {
    ModeWords { RuleMode::Equal, "EQ", {} },
    ModeWords { RuleMode::NotEqual, "!EQ", {} },
    ModeWords { RuleMode::Greater, "GRT", {} },
    ModeWords { RuleMode::GreaterEqual, "GQ", {} },
    ModeWords { RuleMode::Lower, "LO", {} },
    ModeWords { RuleMode::LowerEqual, "LQ", {} },
    ModeWords { RuleMode::Inside, "IN", {} },
    ModeWords { RuleMode::Outside, "OUT", {} },
    ModeWords { RuleMode::Include, "INCLUDE", {} },
    ModeWords { RuleMode::Exclude, "EXCLUDE", {} },
    ModeWords { RuleMode::WithBits, "WBIT", {} },
    ModeWords { RuleMode::WithoutBits, "!WBIT", {} },
};
constexpr std::array kPunkBusterModes = {
    ModeWords { RuleMode::Inside, "IN", {} },
    ModeWords { RuleMode::Outside, "OUT", {} },
    ModeWords { RuleMode::Include, "INCLUDE", {} },
    ModeWords { RuleMode::Exclude, "EXCLUDE", {} },
};

std::span<const ModeWords> modesOf(RuleEngine engine)
{
    switch (engine) {
    case RuleEngine::EtLegacy:
        return kLegacyModes;
    case RuleEngine::RtcwPro:
        return kRtcwModes;
    case RuleEngine::PunkBuster:
        break;
    }
    return kPunkBusterModes;
}

// ET: Legacy's buffers: 256 bytes for the name and values, 16 for the mode word.
std::string clipped(const std::vector<std::string>& args, std::size_t i, std::size_t size)
{
    return i < args.size() ? args[i].substr(0, size - 1) : std::string();
}

std::string joined(const std::vector<std::string>& args)
{
    std::string out;
    for (const std::string& arg : args)
        out += (out.empty() ? "" : " ") + arg;
    return out;
}

std::string inQuotes(std::string_view text)
{
    return '"' + std::string(text) + '"';
}

std::string onLine(const ServerRule& earlier)
{
    return "the rule on line " + std::to_string(earlier.rule.line);
}

// Reads the rule commands of one file into the server's table, as the chosen engine does.
class RulesReader {
public:
    RulesReader(RuleEngine engine, Warnings& warnings)
        : m_engine(engine)
        , m_warnings(warnings)
    {
    }

    void command(std::vector<std::string>& args, std::uint64_t line);
    std::vector<Rule> finish();

private:
    void legacyRule(std::vector<std::string>& args, std::uint64_t line);
    void rtcwRule(std::vector<std::string>& args, std::uint64_t line);
    void punkBusterRule(std::vector<std::string>& args, std::uint64_t line);
    std::string unknownMode(std::string_view word) const;
    ServerRule* find(std::string_view name);
    void store(ServerRule* earlier, Rule rule, bool active = true);
    void clear()
    {
        m_table.clear();
        m_index.clear();
    }

    RuleEngine m_engine;
    Warnings& m_warnings;
    std::vector<ServerRule> m_table; // in the order the server made the rules
    std::unordered_map<std::string, std::size_t> m_index; // folded name -> m_table
    std::size_t m_foreign = 0; // rule commands of the other family
    std::uint64_t m_foreignLine = 0;
    std::size_t m_entries = 0; // RtCW Pro: rules inside `command "…"` entries
    std::uint64_t m_entriesLine = 0;
};

void RulesReader::command(std::vector<std::string>& args, std::uint64_t line)
{
    const bool punkBuster = m_engine == RuleEngine::PunkBuster;
    const std::string_view rule = punkBuster ? "pb_sv_cvar" : "sv_cvar";
    const std::string_view empty = punkBuster ? "pb_sv_cvarempty" : "sv_cvarempty";
    if (equalsFolded(args[0], rule)) {
        if (m_engine == RuleEngine::EtLegacy)
            legacyRule(args, line);
        else if (m_engine == RuleEngine::RtcwPro)
            rtcwRule(args, line);
        else
            punkBusterRule(args, line);
    } else if (equalsFolded(args[0], empty)) {
        if (m_engine == RuleEngine::RtcwPro)
            m_warnings.add(line, "RtCW Pro has no sv_cvarempty in its rules file: ignored");
        else
            clear();
    } else if (rules::isRuleWord(args[0])) {
        m_foreignLine = m_foreign++ ? m_foreignLine : line;
    } else if (m_engine == RuleEngine::RtcwPro && equalsFolded(args[0], "command") && args.size() > 1) {
        const std::vector<std::string> inner = rules::tokenize(args[1], rules::Flavour::Rtcw);
        if (!inner.empty() && rules::isRuleWord(inner[0]))
            m_entriesLine = m_entries++ ? m_entriesLine : line;
    }
}

void RulesReader::legacyRule(std::vector<std::string>& args, std::uint64_t line)
{
    if (args.size() <= 3) {
        m_warnings.add(line, "needs a cvar, a mode and a value: ET: Legacy ignores it");
        return;
    }
    Rule rule { RuleEngine::EtLegacy, rules::folded(clipped(args, 1, 256)), RuleMode::Equal,
        clipped(args, 3, 256), args.size() == 5 ? clipped(args, 4, 256) : std::string(), joined(args), line };
    ServerRule* earlier = find(rule.name);
    if (!earlier && m_table.size() >= 128) {
        m_warnings.add(line, "more than 128 cvars have rules: ET: Legacy ignores this one");
        return;
    }
    const auto mode = rules::modeFromWord(m_engine, clipped(args, 2, 16));
    if (!mode) {
        m_warnings.add(line,
            unknownMode(args[2]) + ": ET: Legacy ignores it"
                + (earlier ? ", " + onLine(*earlier) + " stays" : ""));
        return;
    }
    rule.mode = *mode;
    const bool ranged = rule.mode == RuleMode::Inside || rule.mode == RuleMode::Outside;
    if (args.size() > 5)
        m_warnings.add(line, "more than two values: ET: Legacy then drops the second value too");
    else if (args.size() == 4 && ranged)
        m_warnings.add(line, "one value: ET: Legacy takes the missing bound as 0, which means no bound");
    else if (args.size() == 4 && (rule.mode == RuleMode::Include || rule.mode == RuleMode::Exclude))
        m_warnings.add(line, "no second value: ET: Legacy empties the cvar when the rule breaks");
    store(earlier, std::move(rule));
}

void RulesReader::rtcwRule(std::vector<std::string>& args, std::uint64_t line)
{
    if (args.size() < 2) {
        m_warnings.add(line, "sv_cvar without a cvar: ignored");
        return;
    }
    const std::string& name = args[1];
    if (name.find_first_of("\\\";/") != std::string::npos) {
        m_warnings.add(line, "RtCW Pro refuses the cvar name " + inQuotes(name) + ": ignored");
        return;
    }
    ServerRule* earlier = find(name);
    if (!earlier && m_table.size() >= 2048) {
        m_warnings.add(line, "more than 2048 cvars have rules: RtCW Pro stops with a fatal error");
        return;
    }
    Rule rule { RuleEngine::RtcwPro, name, RuleMode::Equal, clipped(args, 3, std::string::npos),
        clipped(args, 4, std::string::npos), joined(args), line };
    const std::string word = clipped(args, 2, std::string::npos);
    const auto mode = rules::modeFromWord(m_engine, word);
    if (!mode) {
        m_warnings.add(line,
            unknownMode(word) + ": RtCW Pro then checks nothing on " + name
                + (earlier ? ", dropping " + onLine(*earlier) : ""));
        store(earlier, std::move(rule), false);
        return;
    }
    rule.mode = *mode;
    const std::size_t needed = rule.mode == RuleMode::Inside || rule.mode == RuleMode::Outside ? 2 : 1;
    if (args.size() < 3 + needed)
        m_warnings.add(line, "too few values: RtCW Pro takes a missing value as \"\", which reads as 0");
    store(earlier, std::move(rule));
}

void RulesReader::punkBusterRule(std::vector<std::string>& args, std::uint64_t line)
{
    if (args.size() < 4) {
        m_warnings.add(line, "needs a cvar, a mode and a value: ignored");
        return;
    }
    // "[section] cvar": the cvar is the last word.
    std::string name = args[1];
    if (const std::size_t blank = name.find_last_of(" \t"); blank != std::string::npos)
        name.erase(0, blank + 1);
    ServerRule* earlier = find(name);
    const auto mode = rules::modeFromWord(m_engine, args[2]);
    if (!mode) {
        m_warnings.add(
            line, unknownMode(args[2]) + ": ignored" + (earlier ? ", " + onLine(*earlier) + " stays" : ""));
        return;
    }
    store(earlier,
        { RuleEngine::PunkBuster, name, *mode, args[3], clipped(args, 4, std::string::npos), joined(args),
            line });
}

std::string RulesReader::unknownMode(std::string_view word) const
{
    std::string message = "unknown mode " + inQuotes(word);
    // A file of the other sv_cvar engine read with the default: say whose word it is.
    for (const RuleEngine other : { RuleEngine::EtLegacy, RuleEngine::RtcwPro })
        if (other != m_engine && rules::modeFromWord(other, word))
            message += " (" + std::string(ruleEngineName(other)) + "'s word)";
    return message;
}

ServerRule* RulesReader::find(std::string_view name)
{
    const auto it = m_index.find(rules::folded(name));
    return it == m_index.end() ? nullptr : &m_table[it->second];
}

void RulesReader::store(ServerRule* earlier, Rule rule, bool active)
{
    if (earlier) {
        if (active)
            m_warnings.add(rule.line, "replaces " + onLine(*earlier));
        *earlier = { std::move(rule), active };
        return;
    }
    m_index.emplace(rules::folded(rule.name), m_table.size());
    m_table.push_back({ std::move(rule), active });
}

std::vector<Rule> RulesReader::finish()
{
    if (m_foreign > 0)
        m_warnings.add(m_foreignLine,
            std::to_string(m_foreign) + " rule command(s) of another engine, ignored: this file is read as "
                + std::string(ruleEngineName(m_engine)) + "'s");
    if (m_entries > 0)
        m_warnings.add(m_entriesLine,
            std::to_string(m_entries)
                + " rule(s) in `command \"…\"` entries, ignored: RtCW Pro reads bare sv_cvar lines");
    std::vector<Rule> rules;
    if (m_engine == RuleEngine::EtLegacy) {
        rules = rules::legacyClientRules(m_table, m_warnings);
    } else if (m_engine == RuleEngine::RtcwPro) {
        rules = rules::rtcwClientRules(m_table, m_warnings);
    } else {
        for (ServerRule& entry : m_table)
            rules.push_back(std::move(entry.rule));
    }
    std::stable_sort(
        rules.begin(), rules.end(), [](const Rule& a, const Rule& b) { return a.line < b.line; });
    return rules;
}

RuleEngine guessEngine(const std::vector<std::pair<std::vector<std::string>, std::uint64_t>>& commands)
{
    for (const auto& [args, line] : commands)
        if (equalsFolded(args[0], "pb_sv_cvar") || equalsFolded(args[0], "pb_sv_cvarempty"))
            return RuleEngine::PunkBuster;
    return RuleEngine::EtLegacy;
}

} // namespace

std::string_view ruleEngineName(RuleEngine engine)
{
    switch (engine) {
    case RuleEngine::EtLegacy:
        return "etlegacy";
    case RuleEngine::RtcwPro:
        return "rtcwpro";
    case RuleEngine::PunkBuster:
        break;
    }
    return "punkbuster";
}

std::optional<RuleEngine> ruleEngineFromName(std::string_view name)
{
    for (const RuleEngine engine : { RuleEngine::EtLegacy, RuleEngine::RtcwPro, RuleEngine::PunkBuster })
        if (name == ruleEngineName(engine))
            return engine;
    return std::nullopt;
}

RuleSet::RuleSet(RuleEngine engine, std::vector<Rule> rules)
    : m_engine(engine)
    , m_rules(std::move(rules))
{
    for (std::size_t i = 0; i < m_rules.size(); ++i)
        m_byName[rules::folded(m_rules[i].name)] = i;
}

const Rule* RuleSet::find(std::string_view cvar) const
{
    const auto it = m_byName.find(rules::folded(rules::cString(cvar)));
    return it == m_byName.end() ? nullptr : &m_rules[it->second];
}

RulesResult parseRules(std::string_view text, const RulesOptions& options)
{
    RulesResult result;
    Warnings warnings;
    result.engineGuessed = !options.engine;
    RuleEngine engine = options.engine.value_or(RuleEngine::EtLegacy);
    std::vector<std::pair<std::vector<std::string>, std::uint64_t>> commands;
    if (engine != RuleEngine::RtcwPro) {
        std::vector<rules::SourceNote> notes;
        rules::ConsoleText console;
        if (rules::isLegacyConfig(text))
            console = rules::readLegacyConfig(text, options.map, notes);
        else
            console.add(text, 1);
        console.run([&](std::vector<std::string>& args, std::uint64_t line) {
            if (rules::isRuleWord(args[0]))
                commands.emplace_back(std::move(args), line);
        });
        for (rules::SourceNote& note : notes)
            warnings.add(note.line, std::move(note.message));
        if (result.engineGuessed)
            engine = guessEngine(commands);
    }
    RulesReader reader(engine, warnings);
    if (engine == RuleEngine::RtcwPro)
        rules::readRtcwLines(
            text, [&](std::vector<std::string>& args, std::uint64_t line) { reader.command(args, line); });
    for (auto& [args, line] : commands)
        reader.command(args, line);
    result.rules = RuleSet(engine, reader.finish());
    result.warnings = warnings.take();
    return result;
}

RulesResult loadRules(const std::string& path, const RulesOptions& options)
{
    std::string text;
    if (const FileStatus status = readWhole(path, text, kMaxRulesFileBytes + 1); !status) {
        RulesResult result;
        result.error = RulesError::File;
        result.file = status;
        return result;
    }
    if (text.size() > static_cast<std::size_t>(kMaxRulesFileBytes)) {
        RulesResult result;
        result.error = RulesError::TooLarge;
        return result;
    }
    return parseRules(text, options);
}

namespace rules {

void Warnings::add(std::uint64_t line, std::string message)
{
    if (m_list.size() < kMax)
        m_list.push_back({ line, std::move(message) });
    else
        ++m_dropped;
}

std::vector<RulesWarning> Warnings::take()
{
    std::stable_sort(
        m_list.begin(), m_list.end(), [](const auto& a, const auto& b) { return a.line < b.line; });
    if (m_dropped > 0)
        m_list.push_back({ 0, std::to_string(m_dropped) + " more warning(s) not shown" });
    m_dropped = 0;
    return std::move(m_list);
}

std::string_view modeWord(RuleEngine engine, RuleMode mode)
{
    for (const ModeWords& words : modesOf(engine))
        if (words.mode == mode)
            return words.shortWord;
    return {};
}

std::optional<RuleMode> modeFromWord(RuleEngine engine, std::string_view word)
{
    for (const ModeWords& words : modesOf(engine))
        if (equalsFolded(word, words.shortWord)
            || (!words.longWord.empty() && equalsFolded(word, words.longWord)))
            return words.mode;
    return std::nullopt;
}

std::string ruleText(const Rule& rule)
{
    const auto value = [](const std::string& v) {
        return v.empty() || v.find_first_of(" \t") != std::string::npos ? inQuotes(v) : v;
    };
    std::string text = rule.engine == RuleEngine::PunkBuster ? "pb_sv_cvar " : "sv_cvar ";
    text += rule.name + ' ' + std::string(modeWord(rule.engine, rule.mode)) + ' ' + value(rule.value1);
    if (!rule.value2.empty())
        text += ' ' + value(rule.value2);
    return text;
}

} // namespace rules

} // namespace tromel
