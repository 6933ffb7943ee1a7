#pragma once

#include "Rules.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The rules as a server holds them after reading its file, and how they reach the clients.
namespace tromel::rules {

/// One cvar's rule in the server's table.
struct ServerRule {
    Rule rule;
    /// RtCW Pro keeps a rule with an unknown mode, which then checks nothing and is not sent.
    bool active = true;
};

/// Collects warnings, keeping the first kMax; the count of the rest becomes one last warning.
class Warnings {
public:
    static constexpr std::size_t kMax = 1000;

    void add(std::uint64_t line, std::string message);
    /// In line order.
    std::vector<RulesWarning> take();

private:
    std::vector<RulesWarning> m_list;
    std::size_t m_dropped = 0;
};

/// The engine's word for a mode, and the reverse (words compare without ASCII case).
std::string_view modeWord(RuleEngine engine, RuleMode mode);
std::optional<RuleMode> modeFromWord(RuleEngine engine, std::string_view word);

/// The rule as a command of its engine, for messages: "sv_cvar cg_fov IN 90 120".
std::string ruleText(const Rule& rule);

/// ET: Legacy: the rules as clients read them out of the server's rules string. table is in the
/// server's index order.
std::vector<Rule> legacyClientRules(const std::vector<ServerRule>& table, Warnings& warnings);

/// RtCW Pro: the rules as clients rebuild them from the list the server sends on connect. table
/// is in the order the server made the rules.
std::vector<Rule> rtcwClientRules(const std::vector<ServerRule>& table, Warnings& warnings);

} // namespace tromel::rules
