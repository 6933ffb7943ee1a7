#pragma once

#include "Console.h"
#include "Pipeline.h"
#include "Rules.h"

#include <string>
#include <vector>

namespace tromel {

/// Rules mode: what a server's cvar rules will do to a config. Each config runs through the
/// console model of the rules' engine; the value each restricted cvar holds once the config has
/// loaded, and each value a key press can give it later, is judged on its rule.
class RulesChecker final : public Checker {
public:
    /// rules must outlive the checker. showUnset: also list the restricted cvars a config never
    /// sets, whose values come from elsewhere.
    RulesChecker(const RuleSet& rules, std::string rulesPath, bool showUnset);
    ~RulesChecker() override;

    FileStatus check(const std::string& path, FileReport& report, unsigned threads) const override;
    void jsonHeader(FieldWriter& out) const override;

    /// The console whose reading of configs the engine's clients share.
    static console::Dialect dialectOf(RuleEngine engine);

private:
    const RuleSet& m_rules;
    std::string m_rulesPath;
    std::vector<std::string> m_names; // by rule, for the watch
    console::Watch m_watch;
    bool m_showUnset;
};

} // namespace tromel
