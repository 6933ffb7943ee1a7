// What each engine does with a value that a rule covers, following its own code: ET: Legacy's
// CG_ProcessCvars, RtCW Pro's Cvar_RestValueIsValid, and PunkBuster's documented ranges.

#include "Rules.h"

#include "RulesText.h"

#include <optional>

namespace tromel {

namespace {

using rules::equalsFolded;
using rules::formatFixed;
using rules::formatWrapped;
using rules::parseInt;

// The client reads a cvar into a buffer of 256 bytes.
constexpr std::size_t kLegacyValueBytes = 255;
// Frames to let ET: Legacy's game code settle a value it keeps changing.
constexpr int kLegacyFrames = 64;

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

// A rule's and a value's numbers as CG_ProcessCvars reads them.
struct LegacyNumbers {
    float cvalF, val1F, val2F;
    std::int64_t cvalI, val1I, val2I;
    bool float1, float2; // a '.' anywhere makes a value a float; a forced float is written "%8.4f"
    bool bound1, bound2; // a bound of 0 is no bound

    LegacyNumbers(const Rule& rule, std::string_view current)
        : cvalF(rules::parseFloat(current))
        , val1F(rules::parseFloat(rule.value1))
        , val2F(rules::parseFloat(rule.value2))
        , cvalI(parseInt(current))
        , val1I(parseInt(rule.value1))
        , val2I(parseInt(rule.value2))
        , float1(contains(current, ".") || contains(rule.value1, "."))
        , float2(contains(current, ".") || contains(rule.value2, "."))
        , bound1(val1F != 0.f || val1I != 0)
        , bound2(val2F != 0.f || val2I != 0)
    {
    }
};

// INSIDE and OUTSIDE test both bounds in turn; when both set a value, the second stays.
std::optional<std::string> legacyRange(const Rule& rule, const LegacyNumbers& n)
{
    std::optional<std::string> set;
    if (rule.mode == RuleMode::Inside) {
        if (n.bound1 && n.cvalF < n.val1F)
            set = rule.value1;
        if (n.bound2 && n.cvalF > n.val2F)
            set = rule.value2;
        return set;
    }
    if (n.bound1 && n.cvalF >= n.val1F && (n.val2F == 0.f || n.cvalF < n.val2F))
        set = n.float1 ? formatFixed(n.val1F - 0.0001f) : formatWrapped(n.val1I - 1);
    if (n.bound2 && n.cvalF <= n.val2F && n.cvalF > n.val1F)
        set = n.float2 ? formatFixed(n.val2F + 0.0001f) : formatWrapped(n.val2I + 1);
    return set;
}

// The value that one frame of ET: Legacy's game code sets last for this rule, if any.
std::optional<std::string> legacyFrame(const Rule& rule, std::string_view current)
{
    const LegacyNumbers n(rule, current);
    switch (rule.mode) {
    case RuleMode::Equal:
        return equalsFolded(rule.value1, current) ? std::nullopt : std::optional(rule.value1);
    case RuleMode::Greater:
        if (n.cvalF <= n.val1F)
            return n.float1 ? formatFixed(n.val1F + 0.0001f) : formatWrapped(n.val1I + 1);
        break;
    case RuleMode::GreaterEqual:
        return n.cvalF < n.val1F ? std::optional(rule.value1) : std::nullopt;
    case RuleMode::Lower:
        if (n.cvalF >= n.val1F)
            return n.float1 ? formatFixed(n.val1F - 0.0001f) : formatWrapped(n.val1I - 1);
        break;
    case RuleMode::LowerEqual:
        if (n.cvalF > n.val1F)
            return n.float1 ? formatFixed(n.val1F) : formatWrapped(n.val1I);
        break;
    case RuleMode::Inside:
    case RuleMode::Outside:
        return legacyRange(rule, n);
    case RuleMode::Include:
    case RuleMode::Exclude:
        if (contains(current, rule.value1) == (rule.mode == RuleMode::Exclude))
            return rule.value2;
        break;
    case RuleMode::WithBits:
        if (!(n.cvalI & n.val1I))
            return formatWrapped(n.cvalI + n.val1I);
        break;
    case RuleMode::WithoutBits:
        if (n.cvalI & n.val1I)
            return formatWrapped(n.cvalI - n.val1I);
        break;
    case RuleMode::NotEqual:
        break;
    }
    return std::nullopt;
}

// The game code runs every frame, so a value it sets is judged again on the next one.
Verdict judgeLegacy(const Rule& rule, std::string_view value)
{
    const std::string original(rules::cString(value));
    std::string held = original;
    std::optional<std::string> first;
    for (int frame = 0; frame < kLegacyFrames; ++frame) {
        std::optional<std::string> set
            = legacyFrame(rule, std::string_view(held).substr(0, kLegacyValueBytes));
        if (!set || *set == held)
            return held == original ? Verdict {} : Verdict { Outcome::Forced, held, true };
        if (!first)
            first = *set;
        held = std::move(*set);
    }
    return { Outcome::Forced, *first, false };
}

bool rtcwAllows(const Rule& rule, std::string_view value)
{
    if (value.empty())
        return true;
    const auto toFloat = [](std::string_view text) { return static_cast<float>(rules::parseDouble(text)); };
    const float fVal1 = toFloat(rule.value1);
    const float fVal2 = toFloat(rule.value2);
    const bool numeric = rules::looksNumeric(value);
    const float fValue = numeric ? toFloat(value) : 0.f;
    // A value that is not a number passes "equal" when it differs from V1, as the code has it.
    switch (rule.mode) {
    case RuleMode::Equal:
        return numeric ? fVal1 == fValue : !equalsFolded(rule.value1, value);
    case RuleMode::NotEqual:
        return numeric ? fVal1 != fValue : equalsFolded(rule.value1, value);
    case RuleMode::Greater:
        return fValue > fVal1;
    case RuleMode::GreaterEqual:
        return fValue >= fVal1;
    case RuleMode::Lower:
        return fValue < fVal1;
    case RuleMode::LowerEqual:
        return fValue <= fVal1;
    case RuleMode::Inside:
        return fValue >= fVal1 && fValue <= fVal2;
    case RuleMode::Outside:
        return !(fValue >= fVal1 && fValue <= fVal2);
    case RuleMode::Include:
        return contains(value, rule.value1);
    case RuleMode::Exclude:
        return !contains(value, rule.value1);
    case RuleMode::WithBits:
        return !(parseInt(rule.value1) & parseInt(value));
    case RuleMode::WithoutBits:
        return (parseInt(rule.value1) & parseInt(value)) != 0;
    }
    return true;
}

// PunkBuster's own code is not public. Its manual gives pb_sv_cvar NAME IN|OUT|INCLUDE|EXCLUDE
// V1 [V2]: IN and OUT are numeric ranges, V2 defaulting to V1; INCLUDE and EXCLUDE look for V1
// in the value.
bool punkBusterAllows(const Rule& rule, std::string_view value)
{
    const double x = rules::parseDouble(value);
    const double low = rules::parseDouble(rule.value1);
    const double high = rule.value2.empty() ? low : rules::parseDouble(rule.value2);
    switch (rule.mode) {
    case RuleMode::Inside:
        return low <= x && x <= high;
    case RuleMode::Outside:
        return !(low <= x && x <= high);
    case RuleMode::Include:
        return contains(value, rule.value1);
    case RuleMode::Exclude:
        return !contains(value, rule.value1);
    default:
        return true;
    }
}

} // namespace

Verdict judgeRule(const Rule& rule, std::string_view value)
{
    value = rules::cString(value);
    switch (rule.engine) {
    case RuleEngine::EtLegacy:
        return judgeLegacy(rule, value);
    case RuleEngine::RtcwPro:
        return rtcwAllows(rule, value) ? Verdict {} : Verdict { Outcome::Refused, {}, true };
    case RuleEngine::PunkBuster:
        break;
    }
    return punkBusterAllows(rule, value) ? Verdict {} : Verdict { Outcome::Kicked, {}, true };
}

std::string describeVerdict(const Verdict& verdict)
{
    switch (verdict.outcome) {
    case Outcome::Forced:
        return "forced to \"" + verdict.value + '"';
    case Outcome::Refused:
        return "refused";
    case Outcome::Kicked:
        return "kicked";
    case Outcome::Kept:
        break;
    }
    return {};
}

} // namespace tromel
