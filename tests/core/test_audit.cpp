#include "Audit.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>

using namespace tromel;
using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

// A list read the way cvars.ini is, from its names one a line.
CvarList listOf(const std::string& names)
{
    return parseCvars(LineList("Forbidden cvars 1.06-12-2026\n" + names)).list;
}

const CvarList& tableList()
{
    static const CvarList list = listOf("r_picmip\ncg_fov\ncom_maxfps\ncg_drawEnvAwareness");
    return list;
}

// "FORM FILE:LINE:COL COMMAND" for each hop to f, outermost first.
std::vector<std::string> hops(const AuditResult& r, const AuditFinding& f)
{
    std::vector<std::string> out;
    for (const AuditStep* s : r.route(f))
        out.push_back(std::string(s->form) + ' ' + r.paths[s->path] + ':' + std::to_string(s->line) + ':'
            + std::to_string(s->column) + ' ' + s->command);
    return out;
}

// "FILE:LINE:COL NAME FORM", FILE relative to dir, then " old" or " new" when one dialect only runs it.
std::vector<std::string> summary(const AuditResult& r, const CvarList& list, const std::filesystem::path& dir)
{
    std::vector<std::string> out;
    for (const AuditFinding& f : r.findings) {
        const std::string& path = r.paths[f.path];
        const std::string file
            = dir.empty() ? path : std::filesystem::path(path).lexically_relative(dir).generic_string();
        std::string s = file + ':' + std::to_string(f.line) + ':' + std::to_string(f.column) + ' '
            + list.names[f.index] + ' ' + std::string(f.form);
        if (f.oldDialectOnly)
            s += " old";
        if (f.newDialectOnly)
            s += " new";
        out.push_back(s);
    }
    return out;
}

struct Case {
    std::string label;
    std::string config; // main.cfg
    std::vector<std::string> found;
    std::map<std::string, std::string> files = {}; // beside main.cfg
};

class Console : public ::testing::TestWithParam<Case> { };

TEST_P(Console, FindsWhatTheGameRuns)
{
    const Case& c = GetParam();
#if defined(_WIN32)
    if (c.label == "execCaseAndBackslash")
        GTEST_SKIP() << "the file system finds Sub\\Other.cfg as written: the report shows that spelling";
#endif
    TempDir dir;
    for (const auto& [name, text] : c.files)
        dir.write(name, text);
    const std::string main = dir.write("main.cfg", c.config);
    const AuditResult r = auditConfig(main, tableList(), Dialect::Both);
    ASSERT_TRUE(r);
    EXPECT_EQ(summary(r, tableList(), dir.path()), c.found);
}

const std::string kPad(1018, 'x'); // "echo " + kPad is as long as a command line can be

std::string repeated(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

const std::string kBinds16 = repeated("bind x ", 16); // as deep as bind texts are followed

INSTANTIATE_TEST_SUITE_P(Evasions, Console,
    ::testing::Values(Case { "quoted", R"(seta "r_picmip" "5")", { "main.cfg:1:1 r_picmip seta" } },
        Case { "mixedCase", "SeTa R_PICMIP 5", { "main.cfg:1:1 r_picmip seta" } },
        Case { "tabs", "seta\tr_picmip\t5", { "main.cfg:1:1 r_picmip seta" } },
        Case { "bare", "r_picmip 5", { "main.cfg:1:1 r_picmip bare" } },
        Case { "afterSemicolon", "cg_foo 90; r_picmip 5", { "main.cfg:1:12 r_picmip bare" } },
        Case { "commentGluedToValue", "seta r_picmip 5//x", { "main.cfg:1:1 r_picmip seta" } },
        Case { "starCommentBefore", "/* c */ seta r_picmip 5", { "main.cfg:1:9 r_picmip seta" } },
        Case { "vstrOfSet", "set a \"seta r_picmip 5\"\nvstr a", { "main.cfg:1:8 r_picmip vstr" } },
        Case { "bindText", R"(bind x "r_picmip 5")", { "main.cfg:1:9 r_picmip bind" } },
        Case { "toggle", "toggle r_picmip 0 5", { "main.cfg:1:1 r_picmip toggle" } },
        Case { "exec", "exec other.cfg", { "other.cfg:1:1 r_picmip exec" },
            { { "other.cfg", "seta r_picmip 5\n" } } },
        Case { "otherSetters",
            "set r_picmip 1\nsets r_picmip 1\nsetu r_picmip 1\nreset r_picmip\nunset r_picmip\ncycle "
            "r_picmip 0 5",
            { "main.cfg:1:1 r_picmip set", "main.cfg:2:1 r_picmip sets", "main.cfg:3:1 r_picmip setu",
                "main.cfg:4:1 r_picmip reset", "main.cfg:5:1 r_picmip unset",
                "main.cfg:6:1 r_picmip cycle" } },
        Case { "listedNameInOtherCase", "seta cg_drawenvawareness 0",
            { "main.cfg:1:1 cg_drawEnvAwareness seta" } },
        Case { "starCommentInsideCommand", "seta r_picmip /* c */ 5", { "main.cfg:1:1 r_picmip seta" } },
        Case { "starCommentOverLinesInsideCommand", "seta r_picmip /* a\r\nb; c */ 5\n",
            { "main.cfg:1:1 r_picmip seta" } },
        Case { "starCommentSeparates", "r_picmip/**/5", { "main.cfg:1:1 r_picmip bare" } },
        Case { "unterminatedQuote", "seta r_picmip \"5", { "main.cfg:1:1 r_picmip seta" } },
        Case { "semicolonAfterQuote", "echo \"a;b\"; r_picmip 5", { "main.cfg:1:13 r_picmip bare" } }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(FalseAlarms, Console,
    ::testing::Values(Case { "slashComment", "// seta r_picmip 5", {} },
        Case { "starCommentOverLines", "/*\nseta r_picmip 5;\n*/", {} },
        Case { "starSlashOpensOnly", "/*/ seta r_picmip 5 /", {} },
        Case { "highBytesAreTokenBytes", "seta\xA0r_picmip 5\nr_picmip\xE9 5\n\xFFr_picmip 5", {} },
        Case { "echoText", "echo seta r_picmip 5", {} },
        Case { "sayText", "say \"r_picmip 5\"\nsay_team r_picmip 5", {} },
        Case { "valueHoldsName", "seta cl_note \"r_picmip\"", {} },
        Case { "valueHoldsNameAndIsRun", "seta cl_note \"r_picmip\"\nvstr cl_note", {} },
        Case { "setWithoutValue", "seta r_picmip\nr_picmip", {} },
        Case { "valueNeverRun", "set a \"r_picmip 5\"\nset b \"x; r_picmip 5\"", {} },
        Case { "longerOrPrefixedName", "seta r_picmip2 5\nseta xr_picmip 5", {} },
        Case { "bindSays", "bind x \"say r_picmip 5\"", {} },
        Case { "usageErrors",
            "cycle r_picmip 0\ncycle r_picmip 0 5 1 2\nreset r_picmip 1\nvstr a b\nset a \"r_picmip 5\"",
            {} },
        Case { "execdComment", "exec other", {}, { { "other.cfg", "// seta r_picmip 5\n" } } },
        Case {
            "bannersAndCommentedBinds", "//bind mouse4 \"vstr fovch\"\necho \"^jexec etmain/vstrs\"\n", {} }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(Nested, Console,
    ::testing::Values(Case { "vstrChain", "set a \"vstr b\"\nset b \"r_picmip 5\"\nvstr a",
                          { "main.cfg:2:8 r_picmip vstr" } },
        Case { "vstrBeforeSet", "vstr a\nset a \"r_picmip 5\"", { "main.cfg:2:8 r_picmip vstr" } },
        Case { "bindRunsVstr", "set a \"r_picmip 5\"\nbind x \"vstr a\"", { "main.cfg:1:8 r_picmip bind" } },
        Case { "bindInBindUnquoted", "bind x bind y r_picmip 5", { "main.cfg:1:15 r_picmip bind" } },
        Case { "bindInBindQuoted", "bind x \"bind y r_picmip 5\"", { "main.cfg:1:16 r_picmip bind" } },
        Case { "bindsToTheDepthLimit", kBinds16 + "r_picmip 5", { "main.cfg:1:113 r_picmip bind" } },
        Case { "bindsTooDeep", kBinds16 + "bind x r_picmip 5", {} },
        Case { "valueTooDeep", kBinds16 + "set a r_picmip 5\nvstr a", {} },
        Case { "toggleValueRun", "toggle a \"r_picmip 5\" x\nvstr a", { "main.cfg:1:11 r_picmip vstr" } },
        Case { "bareValueRun", "a \"r_picmip 5\"\nvstr a", { "main.cfg:1:4 r_picmip vstr" } },
        Case { "vstrToggleLoop",
            "set fovch vstr fov1\n"
            "set fov1 \"set cg_fov 90;set fovch vstr fov2\"\n"
            "set fov2 \"set cg_fov 110;set fovch vstr fov1\"\n"
            "bind MOUSE4 \"vstr fovch\"\n",
            { "main.cfg:2:11 cg_fov bind", "main.cfg:3:11 cg_fov bind" } },
        Case { "execWithoutExtension", "exec other", { "other.cfg:1:1 r_picmip exec" },
            { { "other.cfg", "r_picmip 5" } } },
        Case { "execCaseAndBackslash", "exec Sub\\Other", { "sub/other.cfg:1:1 r_picmip exec" },
            { { "sub/other.cfg", "r_picmip 5" } } },
        Case { "execLeadingSlash", "exec /other", { "other.cfg:1:1 r_picmip exec" },
            { { "other.cfg", "r_picmip 5" } } },
        Case { "execRelativeToAuditedFile", "exec sub/a", { "b.cfg:1:1 r_picmip exec" },
            { { "sub/a.cfg", "exec b" }, { "b.cfg", "r_picmip 1" }, { "sub/b.cfg", "cg_fov 1" } } },
        Case { "execFromBind", "bind x \"exec other\"", { "other.cfg:1:1 r_picmip bind" },
            { { "other.cfg", "r_picmip 5" } } },
        Case { "execFromVstr", "set go \"exec other\"\nvstr go", { "other.cfg:1:1 r_picmip vstr" },
            { { "other.cfg", "r_picmip 5" } } },
        Case { "execTwiceRunsOnce", "exec other\nexec other", { "other.cfg:1:1 r_picmip exec" },
            { { "other.cfg", "r_picmip 5" } } },
        Case { "execCycle", "exec other\nseta r_picmip 1",
            { "main.cfg:2:1 r_picmip seta", "other.cfg:2:1 cg_fov exec" },
            { { "other.cfg", "exec main\nseta cg_fov 90" } } },
        Case { "execNeedsOneArgument", "exec other x", {}, { { "other.cfg", "r_picmip 5" } } },
        Case { "execLeavingTheDirectory", "exec ../other", {}, { { "other.cfg", "r_picmip 5" } } }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(Bytes, Console,
    ::testing::Values(
        Case { "crlf", "seta x 1\r\n\r\nseta r_picmip 5\r\n", { "main.cfg:3:1 r_picmip seta" } },
        Case { "loneCr", "seta x 1\rseta r_picmip 5", { "main.cfg:2:1 r_picmip seta" } },
        Case { "nulEndsTheFile", "seta r_picmip 5\n\0seta cg_fov 90"s, { "main.cfg:1:1 r_picmip seta" } },
        Case { "cutRunsTheRest", "echo " + kPad + " r_picmip 5", { "main.cfg:1:1025 r_picmip bare" } },
        Case { "cutEndsAQuote", "set cl_pad \"" + std::string(1012, 'x') + "; r_picmip 5\"",
            { "main.cfg:1:1027 r_picmip bare" } },
        Case { "underTheCut", "set cl_pad \"" + std::string(900, 'x') + "; r_picmip 5\"", {} },
        Case { "limitThenNewline", "echo " + kPad + "\nr_picmip 5", { "main.cfg:2:1 r_picmip bare" } },
        Case { "cutAtTheLimit", "echo " + kPad + "r_picmip 5", { "main.cfg:1:1024 r_picmip bare" } },
        Case { "cutInsideAStarComment", "/*" + std::string(1021, ' ') + " r_picmip 5\nseta cg_fov 1 */",
            { "main.cfg:1:1025 r_picmip bare", "main.cfg:2:1 cg_fov seta" } }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(Dialects, Console,
    ::testing::Values(
        Case { "semicolonInSlashComment", "// note; seta r_picmip 5", { "main.cfg:1:10 r_picmip seta old" } },
        Case { "quoteInSlashComment", "// say \"a; seta r_picmip 5", { "main.cfg:1:12 r_picmip seta old" } },
        Case { "slashesAfterColon", "seta cl_x http://a; r_picmip 5", { "main.cfg:1:21 r_picmip bare old" } },
        Case { "semicolonInStarComment", "/* a; */ r_picmip 5 /* ; cg_fov 1 */",
            { "main.cfg:1:10 r_picmip bare" } },
        Case {
            "semicolonInBindComment", "bind x \"// a; r_picmip 5\"", { "main.cfg:1:15 r_picmip bind old" } },
        Case { "cutAfterSemicolonInComment", "// a;" + std::string(1018, 'x') + " r_picmip 5",
            { "main.cfg:1:1025 r_picmip bare new" } }),
    tromel::testing::ByLabel());

// Written from patterns seen in players' configs.
INSTANTIATE_TEST_SUITE_P(PlayerConfigs, Console,
    ::testing::Values(Case { "generatedProfile",
                          "// generated by ET, do not modify\nunbindall\nbind TAB \"+scores\"\n"
                          "bind g \"cg_fov 130\"\nseta cg_autoAction \"0\"\nseta com_maxFPS \"125\"\n",
                          { "main.cfg:4:9 cg_fov bind", "main.cfg:6:1 com_maxfps seta" } },
        Case { "weaponBankChain",
            "set maxf com_maxfps 125\nset fps vstr maxf\nset w1 \"weaponbank 1; vstr fps\"\nbind 1 \"vstr "
            "w1\"\n",
            { "main.cfg:1:10 com_maxfps bind" } },
        Case { "quotesInsideQuotes",
            "set pick \"say_team go; set next \"exec kit\"; r_picmip 3\"\nbind F1 \"vstr pick\"\n",
            { "main.cfg:1:45 r_picmip bind" } },
        Case { "spawnTimerToggle",
            "set t_a \"timerset 15; set chng vstr t_b; echo ^1axis\"\n"
            "set t_b \"timerset 30; set chng vstr t_a; cg_fov 100\"\n"
            "set chng vstr t_a\nbind F5 \"vstr chng\"\n",
            { "main.cfg:2:42 cg_fov bind" } },
        Case { "classSelectorExec", "set cfg \"exec kits\\medic.cfg\"\nbind ENTER \"vstr cfg\"\n",
            { "kits/medic.cfg:2:1 r_picmip bind" },
            { { "kits/medic.cfg", "weaponbank 2\r\nseta r_picmip \"1\"\r\n" } } }),
    tromel::testing::ByLabel());

TEST(Audit, ReportsEachListIndexWhateverItsCase)
{
    const CvarList list = listOf("R_PicMip\ncg_fov\nr_picmip\nR_PicMip");
    const AuditResult r = auditBuffer("seta R_PICMIP 1", "main.cfg", AuditList(list), Dialect::Both);
    std::vector<std::uint32_t> indices;
    for (const AuditFinding& f : r.findings)
        indices.push_back(f.index);
    EXPECT_EQ(indices, (std::vector<std::uint32_t> { 1, 3, 4 }));
}

TEST(Audit, FindingCarriesTheCommandAndEveryHop)
{
    const std::string config = "set fovch vstr fov1\n"
                               "set fov1 \"set cg_fov 90;set fovch vstr fov2\"\n"
                               "bind MOUSE4 \"vstr fovch\"\n";
    const AuditResult r = auditBuffer(config, "main.cfg", AuditList(tableList()), Dialect::New);
    ASSERT_EQ(r.findings.size(), 1U);
    const AuditFinding& f = r.findings[0];
    EXPECT_EQ(r.paths[f.path], "main.cfg");
    EXPECT_EQ(f.command, "set cg_fov 90");
    EXPECT_EQ(f.setter, "set");
    EXPECT_EQ(f.form, "bind");
    EXPECT_FALSE(f.oldDialectOnly || f.newDialectOnly);
    EXPECT_EQ(hops(r, f),
        (std::vector<std::string> { "bind main.cfg:3:1 bind MOUSE4 \"vstr fovch\"",
            "vstr main.cfg:3:14 vstr fovch", "vstr main.cfg:1:11 vstr fov1" }));
}

TEST(Audit, HopsAreSharedAndKeepTheTextTheConsoleRuns)
{
    const AuditList list(tableList());
    const AuditResult quoted
        = auditBuffer("bind x \"bind   y r_picmip  5; cg_fov 1\"", "main.cfg", list, Dialect::Both);
    ASSERT_EQ(quoted.findings.size(), 2U);
    EXPECT_EQ(quoted.steps.size(), 2U);
    EXPECT_EQ(quoted.route(quoted.findings[0]).front(), quoted.route(quoted.findings[1]).front());
    EXPECT_EQ(quoted.findings[0].command, "r_picmip 5");
    EXPECT_EQ(hops(quoted, quoted.findings[0]),
        (std::vector<std::string> { "bind main.cfg:1:1 bind x \"bind   y r_picmip  5; cg_fov 1\"",
            "bind main.cfg:1:9 bind   y r_picmip  5" }));

    const AuditResult bare
        = auditBuffer("bind x bind   y bind z r_picmip  5", "main.cfg", list, Dialect::Both);
    ASSERT_EQ(bare.findings.size(), 1U);
    EXPECT_EQ(bare.findings[0].command, "r_picmip 5");
    EXPECT_EQ(hops(bare, bare.findings[0]),
        (std::vector<std::string> { "bind main.cfg:1:1 bind x bind   y bind z r_picmip  5",
            "bind main.cfg:1:8 bind y bind z r_picmip 5", "bind main.cfg:1:17 bind z r_picmip 5" }));
}

TEST(Audit, WarnsOnceWhenNestingIsTooDeep)
{
    const std::string config = "x 1\n" + repeated(kBinds16 + "bind x r_picmip 5\n", 3)
        + repeated(kBinds16 + "set a \"r_picmip 5\"\n", 2) + "vstr a\n";
    const AuditResult r = auditBuffer(config, "main.cfg", AuditList(tableList()), Dialect::Both);
    EXPECT_TRUE(r.findings.empty());
    std::vector<std::string> warnings;
    for (const AuditWarning& w : r.warnings)
        warnings.push_back(std::to_string(w.line) + ':' + std::to_string(w.column) + ' ' + w.message);
    EXPECT_EQ(warnings,
        (std::vector<std::string> {
            "2:113 bind nested too deep, not followed", "7:1 vstr nested too deep, not followed" }));
}

TEST(Audit, CommandIsAsWritten)
{
    const AuditResult r
        = auditBuffer("  SETA\t\"r_picmip\"  \"5\" // x", "main.cfg", AuditList(tableList()), Dialect::Both);
    ASSERT_EQ(r.findings.size(), 1U);
    EXPECT_EQ(r.findings[0].column, 3U);
    EXPECT_EQ(r.findings[0].command, "SETA\t\"r_picmip\"  \"5\"");
    EXPECT_EQ(r.findings[0].setter, "seta");
}

TEST(Audit, OneDialectMarksNothing)
{
    const std::string config = "// note; seta r_picmip 5\nseta cg_fov 90";
    const AuditList list(tableList());
    const AuditResult older = auditBuffer(config, "main.cfg", list, Dialect::Old);
    const AuditResult newer = auditBuffer(config, "main.cfg", list, Dialect::New);
    EXPECT_EQ(summary(older, tableList(), ""),
        (std::vector<std::string> { "main.cfg:1:10 r_picmip seta", "main.cfg:2:1 cg_fov seta" }));
    EXPECT_EQ(summary(newer, tableList(), ""), (std::vector<std::string> { "main.cfg:2:1 cg_fov seta" }));
}

TEST(Audit, WarnsOnceForEachExecNotFollowed)
{
    TempDir dir;
    dir.write("other.cfg", "exec main\n");
    const std::string main
        = dir.write("main.cfg", "exec missing\nbind x \"exec missing\"\nexec ../up\nexec other\n");
    const AuditResult r = auditConfig(main, tableList(), Dialect::Both);
    ASSERT_TRUE(r);
    std::vector<std::string> where;
    for (const AuditWarning& w : r.warnings)
        where.push_back(std::filesystem::path(r.paths[w.path]).filename().string() + ':'
            + std::to_string(w.line) + ':' + std::to_string(w.column));
    EXPECT_EQ(where, (std::vector<std::string> { "main.cfg:1:1", "main.cfg:3:1", "other.cfg:1:1" }));
    ASSERT_EQ(r.warnings.size(), 3U);
    EXPECT_NE(r.warnings[0].message.find("no such file"), std::string::npos);
    EXPECT_NE(r.warnings[1].message.find(".."), std::string::npos);
    EXPECT_NE(r.warnings[2].message.find("exec cycle"), std::string::npos);
}

TEST(Audit, ExecAgainFromAKeyIsNoCycle)
{
    TempDir dir;
    dir.write("binds.cfg", "bind F9 \"exec main\"\n");
    const std::string main = dir.write("main.cfg", "exec binds\n");
    const AuditResult r = auditConfig(main, tableList(), Dialect::Both);
    EXPECT_TRUE(r.warnings.empty());
}

TEST(Audit, FileProblemsAreValues)
{
    TempDir dir;
    const AuditList list(tableList());
    EXPECT_EQ(
        auditConfig((dir.path() / "none.cfg").string(), list, Dialect::Both).file.error, FileError::Missing);
    EXPECT_EQ(auditConfig(dir.path().string(), list, Dialect::Both).file.error, FileError::NotRegular);
    EXPECT_EQ(auditConfig(dir.write("empty.cfg", ""), list, Dialect::Both).file.error, FileError::Empty);
    EXPECT_EQ(
        auditConfig(dir.write("breaks.cfg", "\r\n\n"), list, Dialect::Both).file.error, FileError::NoLines);
#if !defined(_WIN32) // nul.cfg is the null device there
    const AuditResult nul = auditConfig(dir.write("nul.cfg", "\0\0seta r_picmip 1"s), list, Dialect::Both);
    EXPECT_TRUE(nul);
    EXPECT_TRUE(nul.findings.empty());
#endif
}

// Inputs built to be slow if any step were not linear; they must simply finish with the right answer.
TEST(Audit, HostileShapesFinish)
{
    const AuditList list(tableList());
    const AuditResult spaces = auditBuffer("set" + std::string(3 << 20, ' '), "a.cfg", list, Dialect::Both);
    EXPECT_TRUE(spaces.findings.empty());

    std::string chain;
    for (int i = 0; i < 20000; ++i)
        chain += "set v" + std::to_string(i) + " \"vstr v" + std::to_string(i + 1) + "\"\n";
    chain += "set v20000 \"r_picmip 5\"\nbind x \"vstr v0\"\n";
    EXPECT_EQ(auditBuffer(chain, "a.cfg", list, Dialect::Both).findings.size(), 1U);

    // Each line nests binds far deeper than they are followed.
    const AuditResult binds
        = auditBuffer(repeated(repeated("bind x ", 140) + "r_picmip 5\n", 100), "a.cfg", list, Dialect::Both);
    EXPECT_TRUE(binds.findings.empty());
    EXPECT_EQ(binds.warnings.size(), 1U);

    const std::string quotes(2 << 20, '"');
    EXPECT_TRUE(auditBuffer(quotes, "a.cfg", list, Dialect::Both).findings.empty());
}

// Whatever the input, the default reading is the union of the two dialects, marked correctly.
TEST(Audit, BothIsTheUnionOfTheDialects)
{
    const std::vector<std::string> pieces
        = { "seta ", "r_picmip ", "cg_fov", " 5", ";", "//", "/*", "*/", "\"", "\n", "\r", " ", "set a ",
              "vstr a", "bind x ", "toggle ", "http://", "x", std::string(300, 'p') };
    const AuditList list(tableList());
    std::mt19937 rng(6);
    const auto keys = [](const AuditResult& r) {
        std::set<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>> out;
        for (const AuditFinding& f : r.findings)
            out.insert({ f.line, f.column, f.index });
        return out;
    };
    for (int round = 0; round < 400; ++round) {
        std::string config;
        const int count = std::uniform_int_distribution<int>(1, 40)(rng);
        for (int i = 0; i < count; ++i)
            config += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(rng)];
        const auto older = keys(auditBuffer(config, "a.cfg", list, Dialect::Old));
        const auto newer = keys(auditBuffer(config, "a.cfg", list, Dialect::New));
        const AuditResult both = auditBuffer(config, "a.cfg", list, Dialect::Both);
        auto expected = older;
        expected.insert(newer.begin(), newer.end());
        ASSERT_EQ(keys(both), expected) << config;
        for (const AuditFinding& f : both.findings) {
            const auto key = std::make_tuple(f.line, f.column, f.index);
            ASSERT_EQ(f.oldDialectOnly, !newer.count(key)) << config;
            ASSERT_EQ(f.newDialectOnly, !older.count(key)) << config;
        }
    }
}

} // namespace
