#include "Audit.h"
#include "ConsoleFiles.h"
#include "CvarList.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace tromel;
using tromel::testing::TempDir;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

const CvarList& tableList()
{
    static const CvarList list = parseCvars(
        LineList("Forbidden cvars 1.06-12-2026\nr_picmip\ncg_fov\ncom_maxfps\ncg_drawEnvAwareness"))
                                     .list;
    return list;
}

// Findings as "FILE:LINE:COL NAME FORM", then the dialects when not all run it, "key" for a key
// press and "possible".
class Collect final : public AuditSink {
public:
    void finding(const AuditFinding& f) override
    {
        findings.push_back(f);
        std::string s = relative(f.path) + ':' + std::to_string(f.line) + ':' + std::to_string(f.column) + ' '
            + tableList().names[f.index] + ' ' + std::string(f.form);
        if (!f.dialects.isAll())
            s += " {" + console::dialectSetName(f.dialects) + '}';
        s += f.onKeyPress ? " key" : "";
        s += f.possible ? " possible" : "";
        summary.push_back(s);
    }
    void warning(const AuditWarning& w) override
    {
        warnings.push_back(relative(w.path) + ':' + std::to_string(w.line) + ' ' + w.message
            + (w.dialects.isAll() ? "" : " {" + console::dialectSetName(w.dialects) + '}'));
    }
    std::string relative(const std::string& path) const
    {
        return dir.empty() ? path : fs::path(path).lexically_relative(dir).generic_string();
    }

    std::vector<AuditFinding> findings;
    std::vector<std::string> summary;
    std::vector<std::string> warnings;
    fs::path dir; // paths are shown relative to it
};

Collect auditOf(const std::string& config, console::DialectSet dialects = console::DialectSet::all(),
    const console::Limits& limits = {})
{
    const console::Watch watch(tableList().names);
    Collect out;
    EXPECT_TRUE(auditText(config, "main.cfg", watch, dialects, out, limits));
    return out;
}

struct Case {
    std::string label;
    std::string config; // main.cfg
    std::vector<std::string> found;
    std::map<std::string, std::string> files = {}; // beside main.cfg
};

class Console : public ::testing::TestWithParam<Case> { };

TEST_P(Console, FindsWhatTheEnginesRun)
{
    const Case& c = GetParam();
#if defined(_WIN32)
    if (c.label == "execByVstrAndBind")
        GTEST_SKIP() << "the file system finds kits\\Medic.cfg as written: the report shows that spelling";
#endif
    TempDir dir;
    dir.write("s1.cfg", "r_picmip 5");
    dir.write("s2.cfg", "/*");
    for (const auto& [name, text] : c.files)
        dir.write(name, text);
    const console::Watch watch(tableList().names);
    Collect out;
    out.dir = dir.path();
    ASSERT_TRUE(audit(dir.write("main.cfg", c.config), watch, console::DialectSet::all(), out));
    EXPECT_EQ(out.summary, c.found);
}

// One row for each rule the engines' code shows, minimal examples first.
INSTANTIATE_TEST_SUITE_P(EngineRules, Console,
    ::testing::Values(Case { "byteOrderMarkIsSpace", "\xef\xbb\xbfseta r_picmip \"3\"\r\n",
                          { "main.cfg:1:4 r_picmip seta" } },
        Case {
            "utf8SpaceInsideAToken", "seta\xc2\xa0r_picmip 3", { "main.cfg:1:1 r_picmip seta {ioq3,et}" } },
        Case { "latin1SpaceInsideAToken", "seta\xa0r_picmip 3", { "main.cfg:1:1 r_picmip seta {ioq3,et}" } },
        Case { "starSlashOpensAndCloses", "/*/ r_picmip 5", { "main.cfg:1:5 r_picmip bare" } },
        Case { "cutDropsTheNextByte", "echo " + std::string(1018, 'a') + "Xr_picmip 5",
            { "main.cfg:1:1025 r_picmip bare" } },
        Case { "cutDropsAFirstLetter", "echo " + std::string(1017, 'a') + " r_picmip 5", {} },
        Case { "execq", "execq s1", { "s1.cfg:1:1 r_picmip exec {etlegacy,ioq3}" } },
        Case { "starCommentEndsTheCommand", "reset r_picmip /* x */ 3",
            { "main.cfg:1:1 r_picmip reset {etlegacy,ioq3}" } },
        Case { "execBeforeAStarComment", "exec s1/**/x", { "s1.cfg:1:1 r_picmip exec {etlegacy,ioq3}" } },
        Case { "etHidesNothingInStarComments", "/*\nr_picmip 5\n*/", { "main.cfg:2:1 r_picmip bare {et}" } },
        Case { "etSplitsInStarComments", "/* x ; r_picmip 5", { "main.cfg:1:8 r_picmip bare {et}" } },
        Case { "etCountsQuotesInComments", "//\";\";r_picmip 5", { "main.cfg:1:7 r_picmip bare {et}" } },
        Case {
            "colonSlashesAreText", "cycle r_picmip :// 5", { "main.cfg:1:1 r_picmip cycle {etlegacy,et}" } },
        Case { "buttonBindGetsKeyAndTime", "bind x \"+attack; r_picmip\"",
            { "main.cfg:1:18 r_picmip bind {etlegacy,et} key" } },
        Case { "buttonBindGivesExecTooManyArguments", "bind x \"+attack;exec s1\"",
            { "s1.cfg:1:1 r_picmip bind {ioq3} key" } },
        Case { "ioq3SplitsBindsAtEverySemicolon", "bind x \"echo // ; r_picmip 5\"",
            { "main.cfg:1:19 r_picmip bind {ioq3,et} key" } },
        Case { "unknownKeyBindsNothing", "bind notakey \"r_picmip 5\"", {} },
        Case { "commentOutlivesTheExecdFile", "exec s2\nr_picmip 5", { "main.cfg:2:1 r_picmip bare {et}" } },
        Case {
            "quoteInACommentHidesItsEnd", "/* \" */ \"\nr_picmip 5", { "main.cfg:2:1 r_picmip bare {et}" } },
        Case { "vstrRunsTheValueOfTheMoment", "vstr a\nset a \"r_picmip 5\"", {} },
        Case { "unknownNameMayBeAnEngineCvar", "a \"r_picmip 5\"\nvstr a",
            { "main.cfg:1:4 r_picmip vstr possible" } },
        Case { "etWaitBelowZeroStopsForGood", "wait -1\nr_picmip 5\nbind x \"cg_fov 1\"",
            { "main.cfg:2:1 r_picmip bare {etlegacy,ioq3}",
                "main.cfg:3:9 cg_fov bind {etlegacy,ioq3} key" } },
        Case { "etSetaTakesTwoValuesAtMost", "seta r_picmip 5 6 7\nset cg_fov 1 unsafe",
            { "main.cfg:1:1 r_picmip seta {etlegacy,ioq3}", "main.cfg:2:1 cg_fov set" } },
        Case { "etToggleTakesNoValues", "toggle r_picmip 0 5\ntoggle cg_fov",
            { "main.cfg:1:1 r_picmip toggle {etlegacy,ioq3}", "main.cfg:2:1 cg_fov toggle" } },
        Case { "commandsEachEngineHas", "unset r_picmip\ncycle cg_fov 0 5\nprint com_maxfps",
            { "main.cfg:1:1 r_picmip unset {etlegacy,ioq3}", "main.cfg:2:1 cg_fov cycle {etlegacy,et}" } },
        Case { "userinfoValuesLoseForeignBytes", "setu a x\nset a \"r_pic\xffmip 5\"\nvstr a",
            { "main.cfg:2:8 r_picmip vstr {etlegacy,et}" } },
        Case { "etlegacyEchoRunsALineBreak", "echo /* \" */ \"x\nr_picmip 5\"/*\"*/",
            { "main.cfg:2:1 r_picmip echo {etlegacy,et}" } },
        Case { "plusVstrRunsOnPress", "set z \"r_picmip 5\"\nbind x \"+vstr z y\"",
            { "main.cfg:1:8 r_picmip bind {etlegacy,et} key" } },
        Case { "hookCvarRunsLater", "set cl_activeAction \"r_picmip 5\"",
            { "main.cfg:1:22 r_picmip hook key" } },
        Case { "escapeNeverRunsItsBinding", "bind ESCAPE \"r_picmip 5\"\nbind 0x78 \"cg_fov 1\"",
            { "main.cfg:2:12 cg_fov bind key" } },
        Case { "bindingLiveAtAWaitStaysPressable",
            "bind x \"r_picmip 5\"\nwait 9\nunbind x\nbind y \"cg_fov 1\"\nunbind y",
            { "main.cfg:1:9 r_picmip bind key" } }),
    tromel::testing::ByLabel());

// Ways to set a cvar that the plain rule misses, and text that sets nothing.
INSTANTIATE_TEST_SUITE_P(Forms, Console,
    ::testing::Values(
        Case { "quotedMixedCaseTabs", "SeTa\t\"R_PICMIP\"\t5", { "main.cfg:1:1 r_picmip seta" } },
        Case { "afterSemicolonAndComment", "cg_x 90; r_picmip 5//x\n/* c */ seta cg_fov 1",
            { "main.cfg:1:10 r_picmip bare", "main.cfg:2:9 cg_fov seta" } },
        Case { "textThatSetsNothing",
            "// seta r_picmip 5\necho seta r_picmip 5\nsay \"r_picmip 5\"\nseta cl_note \"r_picmip\"\nseta "
            "r_picmip\nseta r_picmip2 5\nset a \"r_picmip 5\"\nbind x \"say r_picmip 5\"",
            {} },
        Case { "usageErrors", "set a \"r_picmip 5\"\ncycle r_picmip 0\nreset r_picmip 1\nvstr a b\nexec s1 x",
            {} },
        Case { "valuesAKeyToggles",
            "set fovch vstr fov1\nset fov1 \"set cg_fov 90;set fovch vstr fov2\"\nset fov2 \"set cg_fov "
            "110;set fovch vstr fov1\"\nbind MOUSE4 \"vstr fovch\"",
            { "main.cfg:2:11 cg_fov bind key", "main.cfg:3:11 cg_fov bind key" } },
        // Output follows the console: the first dialect's findings as it runs them, then what only
        // others run.
        Case { "inTheOrderTheConsoleRuns",
            "set a \"cg_fov 1\"\n/*\nseta com_maxfps 1\n*/\nseta r_picmip 5\nvstr a\n",
            { "main.cfg:5:1 r_picmip seta", "main.cfg:1:8 cg_fov vstr",
                "main.cfg:3:1 com_maxfps seta {et}" } },
        Case { "bindInBind", "bind x bind y r_picmip 5", { "main.cfg:1:15 r_picmip bind key" } },
        Case { "execByVstrAndBind", "set go \"exec kits\\Medic\"\nvstr go\nbind x \"exec /other\"",
            { "kits/medic.cfg:1:1 cg_fov vstr", "other.cfg:1:1 r_picmip bind key" },
            { { "kits/medic.cfg", "cg_fov 1" }, { "other.cfg", "r_picmip 5" } } },
        Case { "execDotFolder", "exec ./s1", { "s1.cfg:1:1 r_picmip exec" } },
        Case { "execLooksBesideTheConfigOnly", "exec sub/a\nexec ../s1", { "b.cfg:1:1 r_picmip exec" },
            { { "sub/a.cfg", "exec b" }, { "b.cfg", "r_picmip 1" } } },
        Case { "execCycleFillsTheBuffer", "exec other\nseta r_picmip 1",
            { "main.cfg:2:1 r_picmip exec", "other.cfg:2:1 cg_fov exec" },
            { { "other.cfg", "exec main\nseta cg_fov 90" } } },
        Case { "leadingNulIsNotAnEmptyFile", "\0\0seta r_picmip 1"s, {} },
        Case { "lineBreaksAndNul", "seta x 1\r\n\rseta r_picmip 5\n\0seta cg_fov 90"s,
            { "main.cfg:3:1 r_picmip seta" } },
        Case { "cutEndsAQuote", "set cl_pad \"" + std::string(1012, 'x') + "; r_picmip 5\"",
            { "main.cfg:1:1027 r_picmip bare" } },
        Case { "cutInAnUnclosedStarComment", "/*" + std::string(1022, ' ') + "r_picmip 5\ncg_fov 1\n",
            { "main.cfg:1:1025 r_picmip bare", "main.cfg:2:1 cg_fov bare {et}" } }),
    tromel::testing::ByLabel());

TEST(Audit, ReportsEachListIndexWhateverItsCase)
{
    const CvarList list
        = parseCvars(LineList("Forbidden cvars 1.a\nR_PicMip\ncg_fov\nr_picmip\nR_PicMip")).list;
    const console::Watch watch(list.names);
    Collect out;
    ASSERT_TRUE(auditText("seta R_PICMIP 1", "main.cfg", watch, console::DialectSet::all(), out));
    std::vector<std::uint32_t> indices;
    for (const AuditFinding& f : out.findings)
        indices.push_back(f.index);
    EXPECT_EQ(indices, (std::vector<std::uint32_t> { 1, 3, 4 }));
}

TEST(Audit, WarningsNameTheirDialects)
{
    TempDir dir;
    const console::Watch watch(tableList().names);
    Collect out;
    out.dir = dir.path();
    const std::string main
        = dir.write("main.cfg", "bind RIGHTALT x\nexec missing\nexec missing\nexec ../up\n");
    ASSERT_TRUE(audit(main, watch, console::DialectSet::all(), out));
    EXPECT_EQ(out.warnings,
        (std::vector<std::string> { "main.cfg:2 exec \"missing.cfg\": "
                + (dir.path() / "missing.cfg").string() + ": no such file, not followed",
            "main.cfg:4 exec \"../up.cfg\": the game refuses paths holding \"..\" or \"::\", not followed",
            "main.cfg:1 bind: \"RIGHTALT\" names no key, so it binds nothing {ioq3,et}" }));
}

// Past its budget a reading reports every place a listed name is written, as possible.
TEST(Audit, BudgetFallsBackToTheNames)
{
    const Collect out = auditOf("set a \"vstr a\"\nvstr a\nr_picmip 1;cg_foo 2\n// cg_fov 5",
        console::DialectSet::of(console::Dialect::Ioq3), console::Limits { 131072, 4096, 0 });
    EXPECT_EQ(out.summary,
        (std::vector<std::string> { "main.cfg:3:1 r_picmip written {ioq3} possible",
            "main.cfg:4:4 cg_fov written {ioq3} possible" }));
    ASSERT_EQ(out.warnings.size(), 1U);
    EXPECT_NE(out.warnings[0].find("audit stops following the console"), std::string::npos);
}

// Inputs built to be slow or large if any step were not bounded; they must finish with the right answer.
TEST(Audit, HostileShapesFinish)
{
    EXPECT_TRUE(auditOf("set" + std::string(1 << 17, ' ')).findings.empty());
    EXPECT_TRUE(auditOf(std::string(1 << 17, '"')).findings.empty());
    std::string chain;
    for (int i = 0; i < 5000; ++i)
        chain += "set v" + std::to_string(i) + " \"vstr v" + std::to_string(i + 1) + "\"\n";
    chain += "set v5000 \"r_picmip 5\"\nbind x \"vstr v0\"\n";
    const Collect chained = auditOf(chain);
    EXPECT_EQ(chained.summary, (std::vector<std::string> { "main.cfg:5001:12 r_picmip bind key" }));
    // The route keeps its ends: the bind, the first vstr hops and the last.
    ASSERT_EQ(chained.findings.size(), 1U);
    EXPECT_EQ(chained.findings[0].via.size(), console::kRouteHops);
    EXPECT_EQ(chained.findings[0].hiddenHops, 5002 - console::kRouteHops);
    EXPECT_EQ(chained.findings[0].via.front().command, "bind x \"vstr v0\"");
    EXPECT_EQ(chained.findings[0].via.back().command, "vstr v5000");
    // A vstr loop runs until the command buffer is full; so does an exec loop.
    const Collect loops = auditOf("set a \"vstr a\"\nvstr a;vstr a;vstr a;vstr a;\nr_picmip 1",
        console::DialectSet::all(), console::Limits { 8192, 0, 0 });
    EXPECT_EQ(loops.summary, (std::vector<std::string> { "main.cfg:3:1 r_picmip bare" }));
}

// Rules mode reads the last value the load gave each watched cvar.
TEST(ConsoleApi, TellsTheValuesTheLoadLeaves)
{
    struct Values final : console::Observer {
        void set(const console::SetEvent&) override { }
        void warning(const console::Warning&) override { }
        void loaded(std::span<const console::LoadedValue> values) override
        {
            for (const console::LoadedValue& v : values)
                seen[v.entries[0]] = v.value ? std::string(*v.value) : "?";
        }
        std::map<std::uint32_t, std::string> seen;
    } values;
    console::Files files;
    files.openText("main.cfg", "seta r_picmip 1\nr_picmip \"2\"\ntoggle com_maxfps\nbind x \"cg_fov 9\"\n");
    const console::Watch watch(tableList().names);
    EXPECT_EQ(console::run(files, watch, console::Dialect::EtLegacy, values), console::RunEnd::Finished);
    EXPECT_EQ(values.seen, (std::map<std::uint32_t, std::string> { { 1, "2" }, { 3, "?" } }));
}

} // namespace
