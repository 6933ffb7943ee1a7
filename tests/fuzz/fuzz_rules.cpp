// Server rules: any bytes read as a rules file by each engine give rules that can be found by
// name and judged on any value, with lines inside the file and a bounded count of warnings.

#include "FuzzSupport.h"
#include "Rules.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace tromel;
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    RulesOptions options;
    options.engine = static_cast<RuleEngine>(bytes[0] % 3);
    options.map = bytes[0] & 0x80 ? "radar" : "";
    const RulesResult r = parseRules(text, options);
    fuzz::require(static_cast<bool>(r), "text in memory gave an error");

    const auto lines = static_cast<std::uint64_t>(
        std::count(text.begin(), text.end(), '\n') + std::count(text.begin(), text.end(), '\r') + 1);
    fuzz::require(r.warnings.size() <= 1001, "warnings are not bounded");
    for (const RulesWarning& w : r.warnings)
        fuzz::require(w.line <= lines && !w.message.empty(), "a warning outside the file");
    for (const Rule& rule : r.rules.rules()) {
        fuzz::require(rule.line >= 1 && rule.line <= lines, "a rule outside the file");
        fuzz::require(rule.engine == *options.engine, "a rule of another engine");
        fuzz::require(r.rules.find(rule.name) != nullptr, "a rule that find() misses");
        for (const std::string_view value :
            { std::string_view(rule.value1), std::string_view(rule.value2), text }) {
            const Verdict v = judgeRule(rule, value);
            const bool forcedOnlyByEtLegacy
                = v.outcome != Outcome::Forced || rule.engine == RuleEngine::EtLegacy;
            fuzz::require(forcedOnlyByEtLegacy, "a verdict of another engine");
        }
    }
    return 0;
}
