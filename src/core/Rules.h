#pragma once

#include "FileStatus.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A game server's rules on its players' cvars, read from the server's own file, and what each
// engine does to a value that breaks one. The engines' rules look alike but differ in their words,
// their reading of numbers and what a breach costs:
//   ET: Legacy   sv_cvar NAME MODE V1 [V2]   the client's game code forces the value back;
//   RtCW Pro     sv_cvar NAME MODE V1 [V2]   the client refuses the value and the server drops
//                                            a player who keeps one;
//   PunkBuster   pb_sv_cvar NAME IN|OUT|INCLUDE|EXCLUDE V1 [V2]   the player is kicked.
//
// Use: loadRules() once, then for each value a config leaves in a cvar, find() its rule and
// judgeRule() it. Both are safe to call from several threads on a loaded RuleSet.
namespace tromel {

enum class RuleEngine { EtLegacy, RtcwPro, PunkBuster };

/// "etlegacy", "rtcwpro", "punkbuster".
std::string_view ruleEngineName(RuleEngine engine);
std::optional<RuleEngine> ruleEngineFromName(std::string_view name);

/// What a rule asks of a value. The words for them differ by engine; Rule::command keeps the
/// rule as written.
enum class RuleMode {
    Equal,
    NotEqual, // RtCW Pro only
    Greater,
    GreaterEqual,
    Lower,
    LowerEqual,
    Inside,
    Outside,
    Include,
    Exclude,
    WithBits,
    WithoutBits,
};

/// One rule as the players' clients hold it. The servers send their rules to clients in short
/// strings; where that changes a rule (a value cut at a space, a list cut at its length limit),
/// the rule here is what arrives, and a warning says so.
struct Rule {
    RuleEngine engine = RuleEngine::EtLegacy;
    std::string name; // the cvar, matched without ASCII case
    RuleMode mode = RuleMode::Equal;
    std::string value1;
    std::string value2; // empty when the rule has none
    std::string command; // as written, its arguments joined by spaces: "sv_cvar cg_fov IN 90 120"
    std::uint64_t line = 0; // 1-based, in the rules file
};

/// The rules that a server enforces, one per cvar, in file order.
class RuleSet {
public:
    RuleSet() = default;
    RuleSet(RuleEngine engine, std::vector<Rule> rules);

    RuleEngine engine() const { return m_engine; }
    const std::vector<Rule>& rules() const { return m_rules; }
    /// The rule on a cvar, matched without ASCII case; null when the cvar has none.
    const Rule* find(std::string_view cvar) const;

private:
    RuleEngine m_engine = RuleEngine::EtLegacy;
    std::vector<Rule> m_rules;
    std::unordered_map<std::string, std::size_t> m_byName; // folded name -> index
};

/// A rule the server refuses or reads otherwise than written, a command the chosen engine does
/// not run, or a limit of the engine that drops rules.
struct RulesWarning {
    std::uint64_t line = 0; // 1-based, in the rules file
    std::string message;
};

enum class RulesError {
    None,
    File, // the file could not be read: see RulesResult::file
    TooLarge, // larger than kMaxRulesFileBytes: no server file of rules is
};

// Real rule files hold a few kilobytes. The console's reading of a command longer than its
// 1023-byte line goes over the rest of the text again for each cut, so the bound also bounds time.
inline constexpr std::int64_t kMaxRulesFileBytes = std::int64_t { 256 } << 10;

struct RulesOptions {
    /// Whose rules; when unset, PunkBuster if the text has a pb_sv_cvar command, else ET: Legacy.
    std::optional<RuleEngine> engine;
    /// An ET: Legacy .config holds rules for single maps too: those of this map also count.
    /// When empty, only the init block and "map default" count.
    std::string map;
};

struct RulesResult {
    RulesError error = RulesError::None;
    FileStatus file; // why the file could not be read, when error is File
    RuleSet rules;
    bool engineGuessed = false;
    std::vector<RulesWarning> warnings; // in file order

    explicit operator bool() const { return error == RulesError::None; }
};

/// Reads a server's rules from a file: lines of a server config or of RtCW Pro's rules file, or
/// the `command "…"` entries of an ET: Legacy .config. sv_cvarempty and pb_sv_cvarempty clear the
/// rules read so far; a later rule on a cvar replaces the earlier. An empty file is an error of
/// kind File (FileError::Empty); a file without rules is not.
RulesResult loadRules(const std::string& path, const RulesOptions& options = {});

/// The same for text in memory.
RulesResult parseRules(std::string_view text, const RulesOptions& options = {});

enum class Outcome {
    Kept, // the rule holds, or the engine would leave the value as it is
    Forced, // ET: Legacy sets another value
    Refused, // RtCW Pro refuses the value
    Kicked, // PunkBuster kicks the player
};

struct Verdict {
    Outcome outcome = Outcome::Kept;
    /// Forced: the value the client ends up holding once its game code stops changing it.
    std::string value;
    /// Forced: false when the game code never stops changing it; value is then the first it sets.
    bool settles = true;

    bool broken() const { return outcome != Outcome::Kept; }
};

/// What the rule's engine does when a client holds value (a cvar's value, bytes as set).
Verdict judgeRule(const Rule& rule, std::string_view value);

/// The verdict in words: `forced to "V"`, `refused` or `kicked`; empty when kept.
std::string describeVerdict(const Verdict& verdict);

} // namespace tromel
