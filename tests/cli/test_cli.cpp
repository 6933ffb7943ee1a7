#include "Encoding.h"
#include "ProcessSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>

using tromel::testing::runInProcess;
using tromel::testing::TempDir;

namespace {

struct RunCase {
    const char* label;
    std::vector<std::string> args; // "{x}" stands for the path of x; "--list {cvars.ini}" comes first
                                   // unless args have their own --list
    int status;
    std::string out; // "{x}" as in args; "~" then a part of it
    std::string err = {}; // a part of standard error; empty: nothing there
};

class Run : public ::testing::TestWithParam<RunCase> {
protected:
    Run()
    {
        for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>> {
                 { "cvars.ini", "Forbidden cvars 1.06-12-2026\nr_a\ncg_b\n\xE9t\xE9\n" },
                 { "a.cfg", "seta r_a 1\r\n\r\nseta \xE9t\xE9 2\nbind x cg_b\n" }, { "ok.cfg", "seta x 1\n" },
                 { "hit.cfg", "seta r_a 1\n" }, { "b.cfg", "seta cg_b 1\n" }, { "e.cfg", "\r\n" },
                 { "crlf.cfg", "seta r_a 1\r\n\r\nseta cg_b 1" }, { "d/z.CFG", "seta r_a 1\n" },
                 { "d/sub/a.cfg", "seta cg_b 1\n" }, { "d/notes.txt", "seta r_a 1\n" },
                 { "notes/notes.txt", "seta r_a 1\n" }, { "bad.ini", "only two\nr_a\n" },
                 { "empty.ini", "only a 1.header\n" } })
            m_dir.write(name, bytes);
#if !defined(_WIN32)
        ::mkfifo(m_dir.path("fifo.cfg").c_str(), 0600);
#endif
    }

    std::string expand(std::string text) const
    {
        for (std::size_t at; (at = text.find('{')) != std::string::npos;) {
            const std::size_t end = text.find('}', at);
            text.replace(at, end + 1 - at, m_dir.path(text.substr(at + 1, end - at - 1)));
        }
        return text;
    }

    TempDir m_dir;
};

TEST_P(Run, StatusAndOutput)
{
    const RunCase& c = GetParam();
    std::vector<std::string> args;
    if (std::find(c.args.begin(), c.args.end(), "--list") == c.args.end())
        args = { "--list", expand("{cvars.ini}") };
    for (const std::string& a : c.args)
        args.push_back(expand(a));
    const tromel::testing::Outcome o = runInProcess(args);
    EXPECT_EQ(o.status, c.status) << o.err;
    if (c.out.starts_with('~'))
        EXPECT_NE(o.out.find(expand(c.out.substr(1))), std::string::npos) << o.out;
    else
        EXPECT_EQ(o.out, expand(c.out));
    if (c.err.empty())
        EXPECT_EQ(o.err, "");
    else
        EXPECT_NE(o.err.find(expand(c.err)), std::string::npos) << o.err;
}

const std::string kClean = " \nTotal: 0 cvars interdite\n";

INSTANTIATE_TEST_SUITE_P(Cases, Run,
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
            "{notes}: no .cfg files found" },
        RunCase { "emptyConfigWarns", { "{e.cfg}" }, 0, "", "warning" },
        RunCase { "missingFileWins", { "{hit.cfg}", "{none.cfg}" }, 2, "~Ligne: 0 - r_a",
            "{none.cfg}: no such file" },
        RunCase { "missingList", { "--list", "{no.ini}", "{ok.cfg}" }, 2, "", "cvars.ini not found." },
        RunCase { "listIsDirectory", { "--list", "{}", "{ok.cfg}" }, 2, "", "cvars.ini not found." },
        RunCase { "malformedHeader", { "--list", "{bad.ini}", "{ok.cfg}" }, 2, "",
            "at least three space-separated fields" },
        RunCase { "noFiles", {}, 2, "", "no config file given" },
        RunCase { "unknownOption", { "--bogus", "{ok.cfg}" }, 2, "", "--help" },
        RunCase { "leadingDashWithoutSeparator", { "-x.cfg" }, 2, "", "-x.cfg" },
        RunCase { "badFormat", { "--format", "xml", "{ok.cfg}" }, 2, "", "--help" },
        RunCase { "emptyListPath", { "--list", "", "{ok.cfg}" }, 2, "", "--list: the path is empty" },
        RunCase {
            "dialectWithoutAudit", { "--dialect", "old", "{ok.cfg}" }, 2, "", "--dialect requires --audit" },
        RunCase { "listWithoutNames", { "--list", "{empty.ini}", "{hit.cfg}" }, 0, kClean,
            "empty.ini: list has no names: nothing can be found" },
        RunCase { "info", { "--info" }, 0, "Version: 1\nDate: 06-12-2026\nCvars: 3\n" },
        RunCase { "help", { "--help" }, 0, "~--list" },
        RunCase { "version", { "--version" }, 0, "tromel-check (Tromel Rimbolt) 0.1\n" }),
    tromel::testing::ByLabel());
#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(Windows, Run,
    ::testing::Values(RunCase { "device", { "{nul.cfg}" }, 2, "", "nul.cfg: not a regular file" }),
    tromel::testing::ByLabel());
#else
INSTANTIATE_TEST_SUITE_P(Posix, Run,
    ::testing::Values(RunCase { "fifo", { "{fifo.cfg}" }, 2, "", "fifo.cfg: not a regular file" }),
    tromel::testing::ByLabel());
#endif

TEST(Json, IsValidForAnyByte)
{
    TempDir dir;
    const std::string list = dir.write("cvars.ini", "Forbidden cvars 1.06-12-2026\nr_a\ncg_b\n\xE9t\xE9\n");
    const std::string weird = dir.write("w\xFF\xE9.cfg", "seta \xE9t\xE9 1\n");
    const tromel::testing::Outcome o
        = runInProcess({ "--list", list, "--format", "json", weird, dir.path("missing.cfg") });
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

class WriteError : public ::testing::TestWithParam<std::vector<std::string>> { };

TEST_P(WriteError, IsAnErrorWithItsCause)
{
    TempDir dir;
    const std::string hit = dir.write("hit.cfg", "seta r_a 1\n");
    std::vector<std::string> args { tromel::cli::kProgram };
    if (GetParam()[0] != "--rules")
        args.insert(args.end(), { "--list", dir.write("l.ini", "l v 1.x\nr_a\n") });
    for (const std::string& a : GetParam())
        args.push_back(a == "@" ? hit : a);
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
        std::vector<std::string> { "--help" }, std::vector<std::string> { "--version" }),
    [](const ::testing::TestParamInfo<std::vector<std::string>>& row) {
        std::string name; // "--format json @" is format_json_file
        for (const std::string& arg : row.param) {
            name += name.empty() ? "" : "_";
            for (const char c : arg == "@" ? std::string("file") : arg)
                name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? std::string(1, c) : "";
        }
        return name;
    });

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
