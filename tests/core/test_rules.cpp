#include "Rules.h"
#include "RulesText.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

using namespace tromel;
using tromel::testing::TempDir;

namespace {

// A verdict as one word: "kept", "refused", "kicked" or the forced value in brackets.
std::string verdictOf(
    RuleEngine engine, RuleMode mode, std::string v1, std::string v2, std::string_view value)
{
    const Rule rule { engine, "x", mode, std::move(v1), std::move(v2), {}, 1 };
    const Verdict verdict = judgeRule(rule, value);
    switch (verdict.outcome) {
    case Outcome::Kept:
        return "kept";
    case Outcome::Forced:
        return '[' + verdict.value + ']' + (verdict.settles ? "" : " unsettled");
    case Outcome::Refused:
        return "refused";
    case Outcome::Kicked:
        return "kicked";
    }
    return {};
}

struct JudgeCase {
    std::string label;
    RuleEngine engine;
    RuleMode mode;
    std::string v1;
    std::string v2;
    std::string value;
    std::string verdict;
};

class Judge : public ::testing::TestWithParam<JudgeCase> { };

TEST_P(Judge, FollowsTheEngine)
{
    const JudgeCase& c = GetParam();
    EXPECT_EQ(verdictOf(c.engine, c.mode, c.v1, c.v2, c.value), c.verdict);
}

constexpr auto E = RuleEngine::EtLegacy;
constexpr auto R = RuleEngine::RtcwPro;
constexpr auto P = RuleEngine::PunkBuster;
using M = RuleMode;

// ET: Legacy's client sets values back: equal, just inside and just outside each bound, floats
// written "%8.4f", bounds of 0 that mean none, text read as its number prefix.
INSTANTIATE_TEST_SUITE_P(EtLegacy, Judge,
    ::testing::Values(JudgeCase { "eqSame", E, M::Equal, "1", "", "1", "kept" },
        JudgeCase { "eqIgnoresCase", E, M::Equal, "GL_LINEAR", "", "gl_linear", "kept" },
        JudgeCase { "eqComparesText", E, M::Equal, "1", "", "1.0", "[1]" },
        JudgeCase { "eqEmpty", E, M::Equal, "0", "", "", "[0]" },
        JudgeCase { "gEqual", E, M::Greater, "5", "", "5", "[6]" },
        JudgeCase { "gJustAbove", E, M::Greater, "5", "", "5.001", "kept" },
        JudgeCase { "gFloatValue", E, M::Greater, "5", "", "5.0", "[  5.0001]" },
        JudgeCase { "gText", E, M::Greater, "5", "", "abc", "[6]" },
        JudgeCase { "gNumberPrefix", E, M::Greater, "5", "", "7abc", "kept" },
        JudgeCase { "gWraps", E, M::Greater, "2147483647", "", "0", "[-2147483648]" },
        JudgeCase { "geEqual", E, M::GreaterEqual, "60", "", "60", "kept" },
        JudgeCase { "geJustBelow", E, M::GreaterEqual, "60", "", "59.99", "[60]" },
        JudgeCase { "lEqual", E, M::Lower, "3", "", "3", "[2]" },
        JudgeCase { "lFloat", E, M::Lower, "3", "", "3.5", "[  2.9999]" },
        JudgeCase { "leEqual", E, M::LowerEqual, "3", "", "3", "kept" },
        JudgeCase { "leFloatAbove", E, M::LowerEqual, "3", "", "3.01", "[  3.0000]" },
        JudgeCase { "inLowEdge", E, M::Inside, "75", "130", "75", "kept" },
        JudgeCase { "inBelow", E, M::Inside, "75", "130", "74.9", "[75]" },
        JudgeCase { "inAbove", E, M::Inside, "75", "130", "131", "[130]" },
        JudgeCase { "inZeroIsNoBound", E, M::Inside, "0", "1", "-5", "kept" },
        JudgeCase { "inNoSecondValue", E, M::Inside, "100", "", "500", "kept" },
        JudgeCase { "inNegativeFloat", E, M::Inside, "-0.022", "0.022", "0.03", "[0.022]" },
        JudgeCase { "inReversedNeverSettles", E, M::Inside, "10", "5", "7", "[5] unsettled" },
        JudgeCase { "outBetween", E, M::Outside, "1", "23", "10", "[24]" },
        JudgeCase { "outLowEdge", E, M::Outside, "1", "23", "1", "[0]" },
        JudgeCase { "outHighEdge", E, M::Outside, "1", "23", "23", "[24]" },
        JudgeCase { "outJustAbove", E, M::Outside, "1", "23", "24", "kept" },
        JudgeCase { "outFloat", E, M::Outside, "-0.015", "0.015", "0.01", "[  0.0151]" },
        JudgeCase { "outNoSecondValue", E, M::Outside, "5", "", "7", "[4]" },
        JudgeCase { "incHas", E, M::Include, "NV", "GL_X", "GL_NV_A", "kept" },
        JudgeCase { "incCaseCounts", E, M::Include, "NV", "GL_X", "nv", "[GL_X]" },
        JudgeCase { "incNoSecondValue", E, M::Include, "NV", "", "x", "[]" },
        JudgeCase { "excHas", E, M::Exclude, "NV", "GL_X", "NV1", "[GL_X]" },
        JudgeCase { "wbSet", E, M::WithBits, "1", "", "3", "kept" },
        JudgeCase { "wbClear", E, M::WithBits, "1", "", "2.9", "[3]" },
        JudgeCase { "wbEmpty", E, M::WithBits, "1", "", "", "[1]" },
        JudgeCase { "wobClear", E, M::WithoutBits, "1", "", "2", "kept" },
        JudgeCase { "wobSettlesLater", E, M::WithoutBits, "3", "", "5", "[-4]" }),
    tromel::testing::ByLabel());

// RtCW Pro compares floats, reads text that is not a number as 0, takes "" as always allowed and
// has no "no bound"; its string "equal" and bit modes are inverted in its code.
INSTANTIATE_TEST_SUITE_P(RtcwPro, Judge,
    ::testing::Values(JudgeCase { "eqFloatEqual", R, M::Equal, "0", "", "0.0", "kept" },
        JudgeCase { "eqDiffers", R, M::Equal, "0", "", "1", "refused" },
        JudgeCase { "eqTextDiffers", R, M::Equal, "0", "", "abc", "kept" },
        JudgeCase { "eqTextSame", R, M::Equal, "GL_LINEAR", "", "gl_linear", "refused" },
        JudgeCase { "eqEmpty", R, M::Equal, "0", "", "", "kept" },
        JudgeCase { "notEqSame", R, M::NotEqual, "0", "", "0", "refused" },
        JudgeCase { "grtEqual", R, M::Greater, "5", "", "5", "refused" },
        JudgeCase { "grtAbove", R, M::Greater, "5", "", "5.5", "kept" },
        JudgeCase { "grtPrefixIsNoNumber", R, M::Greater, "5", "", "6abc", "refused" },
        JudgeCase { "gqEqual", R, M::GreaterEqual, "5", "", "5", "kept" },
        JudgeCase { "gqJustBelow", R, M::GreaterEqual, "5", "", "4.99", "refused" },
        JudgeCase { "loEqual", R, M::Lower, "5", "", "5", "refused" },
        JudgeCase { "lqMinusAlone", R, M::LowerEqual, "5", "", "-", "kept" },
        JudgeCase { "inEdges", R, M::Inside, "90", "120", "120", "kept" },
        JudgeCase { "inJustAbove", R, M::Inside, "90", "120", "120.1", "refused" },
        JudgeCase { "inZeroIsABound", R, M::Inside, "0", "1", "-1", "refused" },
        JudgeCase { "inNoSecondValue", R, M::Inside, "5", "", "5", "refused" },
        JudgeCase { "outEdge", R, M::Outside, "-0.015", "0.015", "-0.015", "refused" },
        JudgeCase { "outBeyond", R, M::Outside, "-0.015", "0.015", "0.02", "kept" },
        JudgeCase { "includeCaseCounts", R, M::Include, "GL_LINEAR", "", "gl_linear", "refused" },
        JudgeCase { "excludeHas", R, M::Exclude, "ab12", "", "xab12", "refused" },
        JudgeCase { "wbitSet", R, M::WithBits, "1", "", "1", "refused" },
        JudgeCase { "wbitClear", R, M::WithBits, "1", "", "2", "kept" },
        JudgeCase { "notWbitClear", R, M::WithoutBits, "1", "", "2", "refused" }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(PunkBuster, Judge,
    ::testing::Values(JudgeCase { "inEdge", P, M::Inside, "0", "3", "3", "kept" },
        JudgeCase { "inJustAbove", P, M::Inside, "0", "3", "3.1", "kicked" },
        JudgeCase { "inOneValue", P, M::Inside, "1", "", "1.5", "kicked" },
        JudgeCase { "inText", P, M::Inside, "0", "3", "abc", "kept" },
        JudgeCase { "outEdge", P, M::Outside, "1", "5", "1", "kicked" },
        JudgeCase { "outBeyond", P, M::Outside, "1", "5", "6", "kept" },
        JudgeCase { "includeMissing", P, M::Include, "x", "", "ab", "kicked" },
        JudgeCase { "excludeHas", P, M::Exclude, "x", "", "axb", "kicked" }),
    tromel::testing::ByLabel());

// Numbers as the C library reads them, whatever the process locale, on text made to break them.
TEST(RuleNumbers, ReadAsTheCLibrary)
{
    using namespace tromel::rules;
    EXPECT_EQ(parseFloat(" \t1.5e1x"), 15.f);
    EXPECT_EQ(parseFloat("0x10"), 16.f);
    EXPECT_EQ(parseFloat("0x"), 0.f);
    EXPECT_EQ(parseFloat("+-1"), 0.f);
    EXPECT_EQ(parseFloat(".5"), 0.5f);
    EXPECT_EQ(parseFloat("1e999"), std::numeric_limits<float>::infinity());
    EXPECT_EQ(parseFloat("-1e999"), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(parseFloat("0.000000000000000000000000000000000000000000000001e-999"), 0.f);
    EXPECT_TRUE(std::isnan(parseFloat("nan")));
    EXPECT_EQ(parseFloat(std::string("2\0"
                                     "5",
                  3)),
        2.f);
    EXPECT_EQ(parseInt("  -12abc"), -12);
    EXPECT_EQ(parseInt("99999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(parseInt("-99999999999"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parseInt("1.9"), 1);
    EXPECT_EQ(formatFixed(123456.5), "123456.5000");
    EXPECT_EQ(formatFixed(-std::numeric_limits<double>::infinity()), "    -inf");
}

// "LINE NAME MODE V1|V2", the mode in ET: Legacy's short words ("!EQ" for RtCW Pro's own).
std::vector<std::string> rulesOf(const RulesResult& result)
{
    static constexpr const char* kModes[]
        = { "EQ", "!EQ", "G", "GE", "L", "LE", "IN", "OUT", "INC", "EXC", "WB", "WOB" };
    std::vector<std::string> out;
    for (const Rule& r : result.rules.rules())
        out.push_back(std::to_string(r.line) + ' ' + r.name + ' ' + kModes[static_cast<int>(r.mode)] + ' '
            + r.value1 + '|' + r.value2);
    return out;
}

// Each expected warning is "LINE:part of its message", in order.
void expectWarnings(const RulesResult& result, const std::vector<std::string>& expected)
{
    ASSERT_EQ(result.warnings.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const RulesWarning& w = result.warnings[i];
        const std::string line = std::to_string(w.line) + ':';
        EXPECT_TRUE(expected[i].starts_with(line)
            && w.message.find(expected[i].substr(line.size())) != std::string::npos)
            << line << w.message << " is not " << expected[i];
    }
}

struct ReadCase {
    std::string label;
    std::optional<RuleEngine> engine;
    std::string text;
    std::vector<std::string> rules;
    std::vector<std::string> warnings;
    std::string map = {};
};

class Read : public ::testing::TestWithParam<ReadCase> { };

TEST_P(Read, AsTheServerDoes)
{
    const ReadCase& c = GetParam();
    RulesOptions options;
    options.engine = c.engine;
    options.map = c.map;
    const RulesResult result = parseRules(c.text, options);
    EXPECT_EQ(rulesOf(result), c.rules);
    expectWarnings(result, c.warnings);
}

const std::string kConfig = R"(configname "x"
init
{
	setl sv_fps "40"
	command "sv_cvarempty"
	command "sv_cvar a EQ 1; sv_cvar b EQ \"2\"" // a note
}
map default
{
	command "sv_cvar c EQ 1"
}
map radar
{
	command "sv_cvar c EQ 0"
}
)";

INSTANTIATE_TEST_SUITE_P(Rules, Read,
    ::testing::Values(
        ReadCase { "bareLines", {}, "// c\nsv_cvar cg_fov IN 90 120\n\nsv_cvar snaps EQ 40 // x\n",
            { "2 cg_fov IN 90|120", "4 snaps EQ 40|" }, {} },
        ReadCase { "quotesAndSemicolons", {}, "sv_cvar \"a\" EQ \"x;y\"; sv_cvar b WB 1\r\nsv_cvar c GE 2",
            { "1 b WB 1|", "2 c GE 2|" }, { "1:holding \\, ; or \"" } },
        ReadCase { "emptyClears", {}, "sv_cvar a EQ 1\nSV_CVAREMPTY\nsv_cvar b EQ 2", { "3 b EQ 2|" }, {} },
        ReadCase { "laterReplaces", {}, "sv_cvar cg_fov IN 90 120\nsv_cvar CG_FOV EQ 100",
            { "2 cg_fov EQ 100|" }, { "2:replaces the rule on line 1" } },
        ReadCase { "unknownModeKeepsEarlier", {}, "sv_cvar a EQ 1\nsv_cvar a GRT 2", { "1 a EQ 1|" },
            { "2:unknown mode \"GRT\" (rtcwpro's word): ET: Legacy ignores it, the rule on line 1 stays" } },
        ReadCase { "valueCounts", {}, "sv_cvar a EQ\nsv_cvar b IN 5\nsv_cvar c INC x\nsv_cvar d IN 1 2 3",
            { "2 b IN 5|", "3 c INC x|", "4 d IN 1|" },
            { "1:needs a cvar", "2:means no bound", "3:empties the cvar", "4:drops the second value" } },
        ReadCase { "configEntries", {}, kConfig, { "6 a EQ 1|", "6 b EQ 2|", "10 c EQ 1|" },
            { "14:runs on map radar only" } },
        ReadCase { "chosenMapBlock", {}, kConfig, { "6 a EQ 1|", "6 b EQ 2|", "14 c EQ 0|" },
            { "14:replaces the rule on line 10" }, "RADAR" },
        ReadCase { "clientsSplitAtSpaces", {}, "sv_cvar a EQ \"x y\"", { "1 a EQ x|y" },
            { "1:clients read it as sv_cvar a EQ x y" } },
        ReadCase {
            "emptyValueStopsClients", {}, "sv_cvar a EQ \"\"", {}, { "1:clients stop with an error" } },
        ReadCase { "punkBusterGuessed", {},
            "pb_sv_cvar r_picmip IN 0 3\npb_sv_cvar \"hud cg_fov\" OUT 1\nsv_cvar x EQ 1\npb_sv_cvar a NEAR "
            "1",
            { "1 r_picmip IN 0|3", "2 cg_fov OUT 1|" },
            { "3:1 rule command(s) of another engine", "4:unknown mode \"NEAR\": ignored" } },
        ReadCase { "rtcwUnknownModeDrops", RuleEngine::RtcwPro,
            "sv_cvar a EQ 1\nsv_cvar a GE 2\nsv_cvar b IN 5\nsv_cvarempty\ncommand \"sv_cvar c EQ 1\"",
            { "3 b IN 5|" },
            { "2:checks nothing on a, dropping the rule on line 1", "3:too few values", "4:no sv_cvarempty",
                "5:1 rule(s) in `command" } },
        // 758 + 263 bytes of entries leave ET: Legacy no room for "\N\2": no rule reaches the clients.
        ReadCase { "etLegacyNoRoomForTheCount", {},
            "sv_cvar " + std::string(250, 'b') + " IN " + std::string(250, 'b') + ' ' + std::string(250, 'b')
                + "\nsv_cvar " + std::string(200, 'c') + " EQ " + std::string(56, '1'),
            {}, { "2:no room for their count" } },
        ReadCase { "rtcwReadsLinesIn255Bytes", RuleEngine::RtcwPro,
            "sv_cvar a EQ 1; x" + std::string(280, ' ') + "sv_cvar b !EQ 2", { "1 a EQ 1;|x", "1 b !EQ 2|" },
            {} }),
    tromel::testing::ByLabel());

// ET: Legacy sends its rules in one info string of 1023 bytes: "\V<i>\<mode> <name> <v1>[ <v2>]"
// for each, then "\N\<count>".
TEST(ReadRules, EtLegacyStringLimit)
{
    std::string text;
    for (int i = 0; i < 11; ++i) // ten entries of 100 bytes fit, the eleventh does not
        text += "sv_cvar " + std::string(91, 'a') + char('a' + i) + " EQ 1\n";
    const RulesResult result = parseRules(text);
    EXPECT_EQ(result.rules.rules().size(), 10u);
    expectWarnings(result, { "11:past the 1023 bytes" });
}

// RtCW Pro's clients read the list, newest rule first, from a packet line of 1023 bytes.
TEST(ReadRules, RtcwPacketLimit)
{
    RulesOptions options;
    options.engine = RuleEngine::RtcwPro;
    std::string text;
    for (int i = 0; i < 20; ++i) // entries of 53 bytes; 1005 fit after "getRestrictedList "
        text += "sv_cvar " + std::string(44, 'n') + char('a' + i / 10) + char('a' + i % 10) + " IN 1 2\n";
    const RulesResult result = parseRules(text, options);
    ASSERT_EQ(result.rules.rules().size(), 19u);
    EXPECT_EQ(result.rules.rules()[0].value2, "");
    EXPECT_EQ(result.rules.rules()[1].value2, "2");
    expectWarnings(result, { "1:past the 1023 bytes", "2:clients read it as" });
}

TEST(ReadRules, FindIgnoresCase)
{
    const RulesResult result = parseRules("sv_cvar CG_Fov IN 90 120");
    ASSERT_NE(result.rules.find("cg_FOV"), nullptr);
    EXPECT_EQ(result.rules.find("cg_fov")->name, "cg_fov");
    EXPECT_EQ(result.rules.find("cg_fo"), nullptr);
}

TEST(LoadRules, FileErrors)
{
    TempDir dir;
    RulesResult result = loadRules(dir.write("empty.cfg", ""));
    EXPECT_EQ(result.error, RulesError::File);
    EXPECT_EQ(result.file.error, FileError::Empty);

    result = loadRules(dir.write("big.cfg", std::string(kMaxRulesFileBytes + 1, '\n')));
    EXPECT_EQ(result.error, RulesError::TooLarge);

    result = loadRules(dir.write("ok.cfg", "sv_cvar a EQ 1\n"), { RuleEngine::RtcwPro, {} });
    EXPECT_TRUE(result);
    EXPECT_FALSE(result.engineGuessed);
    EXPECT_EQ(result.rules.engine(), RuleEngine::RtcwPro);
}

} // namespace
