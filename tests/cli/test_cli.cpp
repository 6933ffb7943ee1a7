#include "Encoding.h"
#include "ProcessSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>

using tromel::testing::CliDir;
using tromel::testing::Outcome;
using tromel::testing::runInProcess;
using tromel::testing::TempDir;

namespace {

std::string repeated(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

struct RunCase {
    const char* label;
    std::vector<std::string> args; // "--list {cvars.ini}" comes first unless args have --list or --rules
    int status;
    std::string out; // "{x}" as in args, and "~" as in expectText
    std::string err = {};
    std::string config = {}; // the content of {c.cfg}, when the row needs its own
};

class Run : public CliDir, public ::testing::WithParamInterface<RunCase> { };

TEST_P(Run, StatusAndOutput)
{
    const RunCase& c = GetParam();
    if (!c.config.empty())
        m_dir.write("c.cfg", c.config);
    std::vector<std::string> args;
    if (std::none_of(
            c.args.begin(), c.args.end(), [](const auto& a) { return a == "--list" || a == "--rules"; }))
        args = { "--list", expand("{cvars.ini}") };
    for (const std::string& a : c.args)
        args.push_back(expand(a));
    const Outcome o = runInProcess(args);
    EXPECT_EQ(o.status, c.status) << o.err;
    expectText(o.out, c.out);
    expectText(o.err, c.err);
}

const std::string kClean = " \nTotal: 0 cvars interdite\n";
const std::string kNoFinding = "Total: 0 findings\n";

INSTANTIATE_TEST_SUITE_P(Plain, Run,
    ::testing::Values(RunCase { "oneFileIsExactlyTheReport", { "{a.cfg}" }, 1,
                          "Ligne: 0 - r_a\nLigne: 1 - \xE9t\xE9\n \nTotal: 2 cvars interdite\n" },
        RunCase { "clean", { "{ok.cfg}" }, 0, kClean },
        RunCase { "crlfWithoutFinalBreak", { "{crlf.cfg}" }, 1,
            "Ligne: 0 - r_a\nLigne: 1 - cg_b\n \nTotal: 2 cvars interdite\n" },
        RunCase { "headersInArgumentOrder", { "{b.cfg}", "{ok.cfg}" }, 1,
            "==> {b.cfg} <==\nLigne: 0 - cg_b\n \nTotal: 1 cvars interdite\n\n==> {ok.cfg} <==\n" + kClean },
        RunCase { "foldersSearchedForCfgSorted", { "{d}" }, 1,
            "==> {d/sub/a.cfg} <==\nLigne: 0 - cg_b\n \nTotal: 1 cvars interdite\n\n"
            "==> {d/z.CFG} <==\nLigne: 0 - r_a\n \nTotal: 1 cvars interdite\n" },
        RunCase { "folderWithoutConfigs", { "{notes}", "{ok.cfg}" }, 2, "==> {ok.cfg} <==\n" + kClean,
            "~{notes}: no .cfg files found" },
        RunCase { "onlyLineBreaksWarns", { "{e.cfg}" }, 0, "",
            "tromel-check: warning: {e.cfg}: file holds only line breaks, nothing to check\n" },
        RunCase { "missingFileWins", { "{hit.cfg}", "{none.cfg}" }, 2, "~Ligne: 0 - r_a",
            "~{none.cfg}: no such file" },
        RunCase { "missingList", { "--list", "{no.ini}", "{ok.cfg}" }, 2, "", "~cvars.ini not found." },
        RunCase { "listIsDirectory", { "--list", "{d}", "{ok.cfg}" }, 2, "", "~cvars.ini not found." },
        RunCase { "malformedHeader", { "--list", "{bad.ini}", "{ok.cfg}" }, 2, "",
            "~at least three space-separated fields" },
        RunCase { "noFiles", {}, 2, "", "~no config file given" },
        RunCase { "unknownOption", { "--bogus", "{ok.cfg}" }, 2, "", "~--help" },
        RunCase { "leadingDashWithoutSeparator", { "-x.cfg" }, 2, "", "~-x.cfg" },
        RunCase { "badFormat", { "--format", "xml", "{ok.cfg}" }, 2, "", "~--help" },
        RunCase { "emptyListPath", { "--list", "", "{ok.cfg}" }, 2, "", "~--list: the path is empty" },
        RunCase {
            "dialectWithoutAudit", { "--dialect", "old", "{ok.cfg}" }, 2, "", "~--dialect requires --audit" },
        RunCase { "listWithoutNames", { "--list", "{empty.ini}", "{hit.cfg}" }, 0, kClean,
            "~empty.ini: list has no names: nothing can be found" },
        RunCase { "info", { "--info" }, 0, "Version: 1\nDate: 06-12-2026\nCvars: 3\n" },
        RunCase { "help", { "--help" }, 0, "~--list" },
        RunCase { "version", { "--version" }, 0, "tromel-check (Tromel Rimbolt) 0.1\n" }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(Audit, Run,
    ::testing::Values(
        RunCase { "oneLinePerFindingThenTheTotal", { "--audit", "{au.cfg}" }, 1,
            "{au.cfg}:1:1: r_a (seta): seta r_a 1\n"
            "{au.cfg}:2:9: cg_b (bind): CG_B 2 [via bind at {au.cfg}:2:1]\n"
            "{au.cfg}:3:10: r_a (seta): seta r_a 3 [et only]\nTotal: 3 findings\n",
            "{au.cfg}:4:1: warning: exec \"nowhere.cfg\": {nowhere.cfg}: no such file, not followed\n" },
        RunCase { "possibleFindingsAreMarked", { "--audit", "{vstr.cfg}" }, 1,
            "{vstr.cfg}:1:4: r_a (vstr): r_a 1 [via vstr at {vstr.cfg}:2:1] [possible]\nTotal: 1 finding\n" },
        RunCase { "controlBytesStayOnOneLine", { "--audit", "{ctl.cfg}" }, 1,
            "{ctl.cfg}:1:1: r_a (seta): seta r_a \"x y z\"\nTotal: 1 finding\n" }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(Rules, Run,
    ::testing::Values(RunCase { "lastValueCounts", { "--rules", "{server.cfg}", "{c.cfg}" }, 0, kNoFinding,
                          "~", "seta cg_fov 80\nseta cg_fov 100\nseta snaps 40\n" },
        RunCase { "brokenValue", { "--rules", "{server.cfg}", "{c.cfg}" }, 1,
            "{c.cfg}:2:1: r_picmip \"3\" breaks \"sv_cvar r_picmip EQ 0\" ({server.cfg}:3): forced to \"0\"\n"
            "Total: 1 finding\n",
            "~", "seta cg_fov 100\nseta r_picmip \"3\"\n" },
        RunCase { "keyPress", { "--rules", "{server.cfg}", "--engine", "rtcwpro", "{c.cfg}" }, 1,
            "{c.cfg}:1:9: cg_fov \"130\" on key press breaks \"sv_cvar cg_fov IN 90 120\" ({server.cfg}:2): "
            "refused\nTotal: 1 finding\n",
            "", "bind x \"cg_fov 130\"\n" },
        RunCase { "cycleStopsAtItsEnd", { "--rules", "{server.cfg}", "{c.cfg}" }, 0, kNoFinding, "~",
            "seta r_picmip 2\ncycle r_picmip 4 0 2\n" },
        RunCase { "overriddenIsNotReported", { "--rules", "{server.cfg}", "{c.cfg}" }, 0, kNoFinding,
            "~warning: exec \"nowhere.cfg\"", "seta r_picmip 3\nexec nowhere\nr_picmip 0\n" },
        RunCase { "unsetListedNotCounted", { "--rules", "{server.cfg}", "--show-unset", "{c.cfg}" }, 0,
            "{c.cfg}: r_picmip is not set: \"sv_cvar r_picmip EQ 0\" ({server.cfg}:3)\nTotal: 0 findings\n",
            "~", "seta cg_fov 90\nseta snaps 40\n" },
        RunCase { "guessedEngineSaid", { "--rules", "{server.cfg}", "{empty.cfg}" }, 0, kNoFinding,
            "tromel-check: note: {server.cfg}: read as ET: Legacy rules; --engine rtcwpro reads them as RtCW "
            "Pro's\ntromel-check: warning: {empty.cfg}: file is empty, nothing to check\n" },
        RunCase { "onlyLineBreaks", { "--rules", "{server.cfg}", "--engine", "etlegacy", "{e.cfg}" }, 0,
            kNoFinding, "tromel-check: warning: {e.cfg}: file holds only line breaks, nothing to check\n" },
        RunCase { "warningsCapped", { "--rules", "{server.cfg}", "--engine", "etlegacy", "{c.cfg}" }, 0,
            kNoFinding, "~{c.cfg}:1:1: warning: 2 more warnings not shown\n", repeated("bind zz x\n", 1002) },
        RunCase { "tooCostlyToFollow", { "--rules", "{server.cfg}", "{c.cfg}" }, 2, kNoFinding,
            "~tromel-check: {c.cfg}: could not be checked\n",
            "set a \"" + std::string(1000, ' ') + "\"\n" + repeated("vstr a\n", 100000)
                + "seta r_picmip 3\n" },
        RunCase { "emptyRulesPath", { "--rules", "", "{ok.cfg}" }, 2, "", "~--rules: the path is empty" },
        RunCase { "missingRules", { "--rules", "nowhere.ini", "{ok.cfg}" }, 2, "",
            "~tromel-check: nowhere.ini: no such file\n" },
        RunCase { "withList", { "--rules", "{server.cfg}", "--list", "x.ini", "{ok.cfg}" }, 2, "",
            "~--list excludes --rules" },
        RunCase { "withAudit", { "--rules", "{server.cfg}", "--audit", "{ok.cfg}" }, 2, "",
            "~--audit excludes --rules" },
        RunCase { "withDialect", { "--rules", "{server.cfg}", "--dialect", "et", "{ok.cfg}" }, 2, "",
            "~--dialect requires --audit" },
        RunCase {
            "engineNeedsRules", { "--engine", "etlegacy", "{ok.cfg}" }, 2, "", "~--engine requires --rules" },
        RunCase { "unknownEngine", { "--rules", "{server.cfg}", "--engine", "q3", "{ok.cfg}" }, 2, "",
            "~--engine: q3 not in" }),
    tromel::testing::ByLabel());

// A file that cannot be read among good ones: named, the others still reported. Devices are never
// opened, so never waited on.
const std::string kHitAndB = "==> {hit.cfg} <==\nLigne: 0 - r_a\n \nTotal: 1 cvars interdite\n\n"
                             "==> {b.cfg} <==\nLigne: 0 - cg_b\n \nTotal: 1 cvars interdite\n";

#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(Windows, Run,
    ::testing::Values(RunCase { "device", { "{hit.cfg}", "{nul.cfg}", "{b.cfg}" }, 2, kHitAndB,
                          "~tromel-check: {nul.cfg}: not a regular file\n" },
        RunCase { "console", { "{hit.cfg}", "con", "{b.cfg}" }, 2, kHitAndB,
            "~tromel-check: con: not a regular file\n" },
        RunCase {
            "deviceList", { "--list", "{nul.cfg}", "{ok.cfg}" }, 2, "", "~nul.cfg: not a regular file" },
        RunCase { "consoleList", { "--list", "con", "{ok.cfg}" }, 2, "", "~con: not a regular file" }),
    tromel::testing::ByLabel());
#else
// The walk prints '\' on Windows, where the exec'd file's path keeps the '/' it was given.
INSTANTIATE_TEST_SUITE_P(Posix, Run,
    ::testing::Values(RunCase { "fifo", { "{hit.cfg}", "{fifo.cfg}", "{b.cfg}" }, 2, kHitAndB,
                          "tromel-check: {fifo.cfg}: not a regular file\n" },
        RunCase {
            "fifoList", { "--list", "{fifo.cfg}", "{ok.cfg}" }, 2, "", "~fifo.cfg: not a regular file" },
        RunCase { "auditFolderFileByFile", { "--audit", "{ad}" }, 1,
            "{ad/sub/a.cfg}:1:1: cg_b (seta): seta cg_b 1\n"
            "{ad/sub/a.cfg}:1:1: cg_b (exec): seta cg_b 1 [via exec at {ad/z.cfg}:1:1]\nTotal: 2 "
            "findings\n" },
        RunCase { "auditLineBreakInName", { "--audit", "{new\nline\r/b.cfg}" }, 1,
            "{new line /b.cfg}:1:9: r_a (bind): r_a 1 [via bind at {new line /b.cfg}:1:1]\nTotal: 1 "
            "finding\n",
            "{new line /b.cfg}:2:1: warning: exec \"none.cfg\": {new line /none.cfg}: no such file, not "
            "followed\n" }),
    tromel::testing::ByLabel());
#endif

// Only ET splits inside "//"; only ioquake3 splits a binding at every ';'.
const std::string kEt = "{dl.cfg}:1:10: r_a (seta): seta r_a 3";
const std::string kIoq3 = "{dl.cfg}:2:19: cg_b (bind): cg_b 1 [via bind at {dl.cfg}:2:1]";

RunCase dialect(const char* label, const char* name, int status, const std::string& out, const char* err = "")
{
    return { label, { "--audit", "--dialect", name, "{dl.cfg}" }, status, out, err };
}

INSTANTIATE_TEST_SUITE_P(Dialects, Run,
    ::testing::Values(dialect("etlegacy", "etlegacy", 0, kNoFinding),
        dialect("newIsEtlegacy", "new", 0, kNoFinding),
        dialect("et", "et", 1, kEt + "\n" + kIoq3 + "\nTotal: 2 findings\n"),
        dialect("oldIsEt", "old", 1, kEt + "\n" + kIoq3 + "\nTotal: 2 findings\n"),
        dialect("ioq3", "ioq3", 1, kIoq3 + "\nTotal: 1 finding\n"),
        dialect("two", "etlegacy,ioq3", 1, kIoq3 + " [ioq3 only]\nTotal: 1 finding\n"),
        dialect("both", "both", 1, kIoq3 + " [ioq3, et only]\n" + kEt + " [et only]\nTotal: 2 findings\n"),
        dialect("unknown", "q3", 2, "", "~q3")),
    tromel::testing::ByLabel());

TEST_F(CliDir, JsonIsValidForAnyByte)
{
    const std::string list = m_dir.path("cvars.ini");
    const std::string weird = m_dir.write("w\xFF\xE9.cfg", "seta \xE9t\xE9 1\n");
    const Outcome o = runInProcess({ "--list", list, "--format", "json", weird, m_dir.path("missing.cfg") });
    EXPECT_EQ(o.status, 2);
    const auto doc = nlohmann::json::parse(o.out); // throws on invalid UTF-8 or syntax
    EXPECT_EQ(doc["list"],
        (nlohmann::json { { "path", list }, { "version", "1" }, { "date", "06-12-2026" }, { "count", 3 } }));
    ASSERT_EQ(doc["files"].size(), 2U);
    EXPECT_EQ(doc["files"][0]["path"], tromel::nameToUtf8(weird));
    EXPECT_EQ(doc["files"][0]["findings"][0]["name"], "\u00e9t\u00e9");
    EXPECT_EQ(doc["files"][0]["findings"][0]["line"], 0);
    EXPECT_EQ(doc["files"][0]["total"], 1);
    EXPECT_EQ(doc["files"][1]["error"], "no such file");
}

TEST_F(CliDir, AuditJsonCarriesEveryField)
{
    const std::string a = m_dir.write("j.cfg", "set t \"cg_b 1\"\nvstr t\nexec nowhere\n");
    const std::string b = m_dir.write("k.cfg", "wait -1\nr_a 1\n");
    const std::string quoted = m_dir.write("\xFF\xE9q.cfg", "seta \"\xE9T\xE9\" \"\xC0\x01\"\n");
    const Outcome o = runInProcess({ "--list", m_dir.path("cvars.ini"), "--audit", "--format", "json", a, b,
        quoted, m_dir.path("missing.cfg") });
    EXPECT_EQ(o.status, 2);
    const auto doc = nlohmann::json::parse(o.out);
    EXPECT_EQ(doc["dialect"], "any");
    EXPECT_EQ(doc["list"]["count"], 3);
    EXPECT_EQ(doc["total"], 3);
    const auto& file = doc["files"][0];
    EXPECT_EQ(file["total"], 1);
    EXPECT_EQ(file["warnings"][0]["line"], 3);
    EXPECT_FALSE(file.contains("warningsLeftOut"));
    const std::string path = nlohmann::json(a).dump();
    EXPECT_EQ(file["findings"][0],
        nlohmann::json::parse(R"({"file": )" + path + R"(, "line": 1, "column": 8, "name": "cg_b",
        "index": 2, "form": "vstr", "setter": "bare", "command": "cg_b 1", "value": "1",
        "via": [{"form": "vstr", "file": )"
            + path + R"(, "line": 2, "column": 1, "command": "vstr t"}],
        "onKeyPress": false, "possible": false})"));
    // Findings that some dialects do not run name those that do.
    EXPECT_EQ(doc["files"][1]["findings"][0]["dialects"], nlohmann::json::parse(R"(["etlegacy", "ioq3"])"));
    const auto& f = doc["files"][2]["findings"][0];
    EXPECT_EQ(f["name"], "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(f["command"], "seta \"\xC3\xA9T\xC3\xA9\" \"\xC3\x80\x01\"");
    EXPECT_NE(f["file"].get<std::string>().find("\xC3\xBF\xC3\xA9q.cfg"), std::string::npos);
    EXPECT_EQ(doc["files"][3]["error"], "no such file");
}

TEST_F(CliDir, RulesJsonHasRulesInsteadOfAListAndUnsetAsNotes)
{
    const std::string rules
        = m_dir.write("pb.cfg", "pb_sv_cvar cg_fov IN 90 120\npb_sv_cvar r_picmip IN 0 0\n");
    const std::string config = m_dir.write("p.cfg", "seta cg_fov 130\n");
    const Outcome o = runInProcess({ "--format", "json", "--rules", rules, "--show-unset", config });
    EXPECT_EQ(o.status, 1);
    const auto doc = nlohmann::json::parse(o.out);
    EXPECT_FALSE(doc.contains("list"));
    EXPECT_EQ(
        doc["rules"], (nlohmann::json { { "path", rules }, { "engine", "punkbuster" }, { "count", 2 } }));
    const auto& file = doc["files"][0];
    EXPECT_EQ(file["findings"][0]["verdict"], "kicked");
    EXPECT_EQ(file["findings"][0]["rule"]["line"], 1);
    EXPECT_EQ(file["notes"],
        nlohmann::json::parse(R"([{"file":)" + nlohmann::json(config).dump()
            + R"(,"name":"r_picmip","rule":"pb_sv_cvar r_picmip IN 0 0","ruleLine":2}])"));
    EXPECT_EQ(doc["total"], 1);
}

#if !defined(_WIN32)
// No room for another thread's stack nor for a big file's text: the audit goes on in this thread,
// and only the big file fails, with a message.
TEST_F(CliDir, ShortOfMemoryOnlyTheFileThatNeedsItFails)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit does not leave room for the sanitizer's shadow memory";
#endif
    const std::string small = m_dir.write("small.cfg", "r_a 1\n");
    const std::string big = m_dir.write("big.cfg", std::string(32 << 20, ' ') + "r_a 1\n");
    const std::vector<std::string> args { "--list", m_dir.path("cvars.ini"), "--audit", "-j", "4", small, big,
        small };
    // A fresh process, so that no thread stacks are cached from earlier tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Room for only 4 MiB more of address space.
            std::ifstream status("/proc/self/status");
            std::size_t usedKb = 0;
            for (std::string line; std::getline(status, line);)
                if (line.starts_with("VmSize:"))
                    usedKb = std::stoul(line.substr(7));
            rlimit limit {};
            limit.rlim_cur = limit.rlim_max = usedKb * 1024 + (4 << 20);
            if (::setrlimit(RLIMIT_AS, &limit) != 0)
                std::_Exit(99);
            const Outcome o = runInProcess(args);
            std::cerr << o.out << o.err << std::flush;
            // _Exit skips the fixture's clean-up: this process's own folder goes now.
            std::error_code ec;
            std::filesystem::remove_all(m_dir.path(), ec);
            std::_Exit(o.status);
        },
        ::testing::ExitedWithCode(2),
        "small.cfg:1:1: r_a \\(bare\\): r_a 1\n.*small.cfg:1:1: .*Total: 2 findings\n"
        "tromel-check: .*big.cfg: out of memory\n$");
}
#endif

// Standard output that refuses every byte, as a full disk does.
class FullDisk final : public std::streambuf {
protected:
    std::streamsize xsputn(const char*, std::streamsize) override
    {
        errno = ENOSPC;
        return 0;
    }
};

struct WriteCase {
    const char* label;
    std::vector<std::string> args; // "@" stands for a config that has a finding
};

class WriteError : public ::testing::TestWithParam<WriteCase> { };

TEST_P(WriteError, IsAnErrorWithItsCause)
{
    TempDir dir;
    const std::string hit = dir.write("hit.cfg", "seta r_a 1\n");
    std::vector<std::string> args { tromel::cli::kProgram };
    if (GetParam().args[0] != "--rules")
        args.insert(args.end(), { "--list", dir.write("l.ini", "l v 1.x\nr_a\n") });
    for (const std::string& a : GetParam().args)
        args.push_back(a == "@" ? hit : a);
    FullDisk full;
    std::ostream out(&full);
    std::ostringstream err;
    EXPECT_EQ(tromel::cli::run(args, out, err), 2);
    EXPECT_NE(err.str().find("tromel-check: write error: No space left on device\n"), std::string::npos)
        << err.str();
}

INSTANTIATE_TEST_SUITE_P(Outputs, WriteError,
    ::testing::Values(WriteCase { "text", { "@" } }, WriteCase { "json", { "--format", "json", "@" } },
        WriteCase { "audit", { "--audit", "@" } }, WriteCase { "rules", { "--rules", "@", "@" } },
        WriteCase { "info", { "--info" } }, WriteCase { "infoAndFile", { "--info", "@" } },
        WriteCase { "help", { "--help" } }, WriteCase { "version", { "--version" } }),
    tromel::testing::ByLabel());

} // namespace
