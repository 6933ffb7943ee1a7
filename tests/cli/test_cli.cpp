#include "Cli.h"
#include "ProcessSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <sstream>

using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class Cli : public ::testing::Test {
protected:
    Cli() { m_list = m_dir.write("cvars.ini", "Forbidden cvars 1.06-12-2026\nr_a\ncg_b\n\xE9t\xE9\n"); }

    Outcome run(std::vector<std::string> args, bool withList = true) const
    {
        args.insert(args.begin(), "tromel-check");
        if (withList)
            args.insert(args.begin() + 1, { "--list", m_list });
        std::ostringstream out, err;
        const int status = tromel::cli::run(args, out, err);
        return { status, out.str(), err.str() };
    }

    std::string write(const std::string& name, std::string_view bytes) const
    {
        return m_dir.write(name, bytes);
    }
    std::string path(const std::string& name) const { return m_dir.path(name); }

    TempDir m_dir;
    std::string m_list;
};

TEST_F(Cli, OneFileIsExactlyTheReport)
{
    const Outcome o = run({ write("a.cfg", "seta r_a 1\r\n\r\nseta \xE9t\xE9 2\nbind x cg_b\n") });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "Ligne: 0 - r_a\nLigne: 1 - \xE9t\xE9\n \nTotal: 2 cvars interdite\n");
    EXPECT_EQ(o.err, "");
}

TEST_F(Cli, CleanFileExitsZero)
{
    const Outcome o = run({ write("a.cfg", "seta name player\n") });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, " \nTotal: 0 cvars interdite\n");
}

TEST_F(Cli, SeveralFilesGetHeadersInArgumentOrder)
{
    const std::string b = write("b.cfg", "seta cg_b 1\n");
    const std::string a = write("a.cfg", "seta x 1\n");
    const Outcome o = run({ b, a });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out,
        "==> " + b
            + " <==\nLigne: 0 - cg_b\n \nTotal: 1 cvars interdite\n\n"
              "==> "
            + a + " <==\n \nTotal: 0 cvars interdite\n");
}

TEST_F(Cli, DirectoriesAreSearchedForCfgInSortedOrder)
{
    write("d/z.CFG", "seta r_a 1\n");
    write("d/sub/a.cfg", "seta cg_b 1\n");
    write("d/notes.txt", "seta r_a 1\n");
    const Outcome o = run({ path("d") });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out,
        "==> " + path("d/sub/a.cfg")
            + " <==\nLigne: 0 - cg_b\n \nTotal: 1 cvars interdite\n\n"
              "==> "
            + path("d/z.CFG") + " <==\nLigne: 0 - r_a\n \nTotal: 1 cvars interdite\n");
}

TEST_F(Cli, FolderWithoutConfigsIsAnError)
{
    write("d/notes.txt", "seta r_a 1\n");
    const std::string ok = write("ok.cfg", "seta x 1\n");
    const Outcome o = run({ path("d"), ok });
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(path("d") + ": no .cfg files found"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "==> " + ok + " <==\n \nTotal: 0 cvars interdite\n");
}

TEST_F(Cli, EmptyConfigWarnsWithoutReport)
{
    const Outcome o = run({ write("e.cfg", "\r\n") });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("warning"), std::string::npos);
}

struct StatusCase {
    const char* label;
    std::vector<std::string> args; // "@x" stands for the temp path of x
    int status;
    const char* errSubstring;
};

class Status : public Cli, public ::testing::WithParamInterface<StatusCase> { };

TEST_P(Status, ExitStatusAndMessage)
{
    write("ok.cfg", "seta x 1\n");
    write("hit.cfg", "seta r_a 1\n");
    write("bad.ini", "only two\nr_a\n");
    write("empty.ini", "only a 1.header\n");
#if !defined(_WIN32)
    ::mkfifo(path("fifo.cfg").c_str(), 0600);
#endif
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args)
        args.push_back(a.rfind('@', 0) == 0 ? path(a.substr(1)) : a);
    const Outcome o = run(args, false);
    EXPECT_EQ(o.status, GetParam().status) << o.err;
    EXPECT_NE(o.err.find(GetParam().errSubstring), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Cases, Status,
    ::testing::Values(StatusCase { "clean", { "--list", "@cvars.ini", "@ok.cfg" }, 0, "" },
        StatusCase { "found", { "--list", "@cvars.ini", "@ok.cfg", "@hit.cfg" }, 1, "" },
        StatusCase { "missingFileWins", { "--list", "@cvars.ini", "@hit.cfg", "@none.cfg" }, 2,
            "none.cfg: no such file" },
        StatusCase { "missingList", { "--list", "@no.ini", "@ok.cfg" }, 2, "cvars.ini not found." },
        StatusCase { "listIsDirectory", { "--list", "@", "@ok.cfg" }, 2, "cvars.ini not found." },
        StatusCase { "malformedHeader", { "--list", "@bad.ini", "@ok.cfg" }, 2,
            "at least three space-separated fields" },
        StatusCase { "noFiles", { "--list", "@cvars.ini" }, 2, "no config file given" },
        StatusCase { "unknownOption", { "--bogus", "@ok.cfg" }, 2, "--help" },
        StatusCase { "badFormat", { "--format", "xml", "@ok.cfg" }, 2, "--help" },
        StatusCase { "emptyListPath", { "--list", "", "@ok.cfg" }, 2, "--list: the path is empty" },
        StatusCase { "dialectWithoutAudit", { "--list", "@cvars.ini", "--dialect", "old", "@ok.cfg" }, 2,
            "--dialect requires --audit" },
        StatusCase { "listWithoutNames", { "--list", "@empty.ini", "@hit.cfg" }, 0,
            "empty.ini: list has no names: nothing can be found" }),
    tromel::testing::ByLabel());
#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(Windows, Status,
    ::testing::Values(
        StatusCase { "device", { "--list", "@cvars.ini", "@nul.cfg" }, 2, "nul.cfg: not a regular file" }),
    tromel::testing::ByLabel());
#else
INSTANTIATE_TEST_SUITE_P(Posix, Status,
    ::testing::Values(
        StatusCase { "fifo", { "--list", "@cvars.ini", "@fifo.cfg" }, 2, "fifo.cfg: not a regular file" }),
    tromel::testing::ByLabel());
#endif

TEST_F(Cli, JsonIsValidForAnyByte)
{
    const std::string weird = write("w\xFF\xE9.cfg", "seta \xE9t\xE9 1\n");
    const Outcome o = run({ "--format", "json", weird, path("missing.cfg") });
    EXPECT_EQ(o.status, 2);
    const auto doc = nlohmann::json::parse(o.out); // throws on invalid UTF-8 or syntax
    EXPECT_EQ(doc["list"]["version"], "1");
    EXPECT_EQ(doc["list"]["date"], "06-12-2026");
    EXPECT_EQ(doc["list"]["count"], 3);
    ASSERT_EQ(doc["files"].size(), 2U);
    EXPECT_EQ(doc["files"][0]["findings"][0]["name"], "\u00e9t\u00e9");
    EXPECT_EQ(doc["files"][0]["findings"][0]["line"], 0);
    EXPECT_EQ(doc["files"][0]["total"], 1);
    EXPECT_EQ(doc["files"][1]["error"], "no such file");
}

// Standard output that refuses every byte, as a full disk does.
class FullDisk final : public std::streambuf {
protected:
    int overflow(int) override
    {
        errno = ENOSPC;
        return traits_type::eof();
    }
    std::streamsize xsputn(const char*, std::streamsize) override
    {
        errno = ENOSPC;
        return 0;
    }
};

class WriteError : public Cli, public ::testing::WithParamInterface<std::vector<std::string>> { };

TEST_P(WriteError, IsAnErrorWithItsCause)
{
    write("hit.cfg", "seta r_a 1\n");
    std::vector<std::string> args { "tromel-check" };
    if (GetParam()[0] != "--rules")
        args.insert(args.end(), { "--list", m_list });
    for (const std::string& a : GetParam())
        args.push_back(a == "@" ? path("hit.cfg") : a);
    FullDisk full;
    std::ostream out(&full);
    std::ostringstream err;
    EXPECT_EQ(tromel::cli::run(args, out, err), 2);
    EXPECT_NE(err.str().find("tromel-check: write error: No space left on device\n"), std::string::npos)
        << err.str();
}

INSTANTIATE_TEST_SUITE_P(Outputs, WriteError,
    ::testing::Values(std::vector<std::string> { "@" }, std::vector<std::string> { "--format", "json", "@" },
        std::vector<std::string> { "--audit", "@" }, std::vector<std::string> { "--rules", "@", "@" },
        std::vector<std::string> { "--info" }, std::vector<std::string> { "--info", "@" },
        std::vector<std::string> { "--help" }, std::vector<std::string> { "--version" }));

TEST_F(Cli, InfoShowsWhatTheWindowLabelsShow)
{
    const Outcome o = run({ "--info" });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "Version: 1\nDate: 06-12-2026\nCvars: 3\n");
}

TEST_F(Cli, HelpAndVersionGoToStdout)
{
    const Outcome help = run({ "--help" }, false);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list"), std::string::npos);
    const Outcome version = run({ "--version" }, false);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tromel-check (Tromel Rimbolt) 0.1\n");
}

TEST_F(Cli, DoubleDashAllowsLeadingDashPaths)
{
    write("-x.cfg", "seta r_a 1\n");
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.path());
    const Outcome o = run({ "--", "-x.cfg" });
    std::filesystem::current_path(cwd);
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.out, "Ligne: 0 - r_a\n \nTotal: 1 cvars interdite\n");
}

// The real executable finds the list beside itself, whatever the working directory.
TEST(CliBinary, DefaultListIsBesideTheExecutable)
{
    TempDir dir;
    const tromel::testing::Outcome o = tromel::testing::runCheck(
        tromel::testing::Launch { { "--info" }, tromel::testing::utf8(dir.path()) });
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find('\n')), "Version: 1");
}

} // namespace
