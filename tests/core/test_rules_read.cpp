#include "Rules.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <optional>

using namespace tromel;
using tromel::testing::TempDir;

namespace {

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
    RulesResult result = parseRules(text);
    EXPECT_EQ(result.rules.rules().size(), 10u);
    expectWarnings(result, { "11:past the 1023 bytes" });

    // 758 + 263 bytes of entries leave no room for "\N\2": no rule reaches the clients.
    const std::string big(250, 'b');
    text = "sv_cvar " + big + " IN " + big + ' ' + big + "\nsv_cvar " + std::string(200, 'c') + " EQ "
        + std::string(56, '1');
    result = parseRules(text);
    EXPECT_TRUE(result.rules.rules().empty());
    expectWarnings(result, { "2:no room for their count" });
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
