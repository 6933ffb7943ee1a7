#include "ProcessSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace tromel;
using tromel::testing::TempDir;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
// Leaves this process room for only this many more bytes of address space.
void limitAddressSpace(std::size_t room)
{
    std::ifstream status("/proc/self/status");
    std::size_t usedKb = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            usedKb = std::stoul(line.substr(7));
    const rlim_t bytes = usedKb * 1024 + room;
    const rlimit limit { bytes, bytes };
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);
}
#endif

using tromel::testing::Outcome;

class AuditCli : public ::testing::Test {
protected:
    AuditCli() { m_list = m_dir.write("cvars.ini", "Forbidden cvars 1.06-12-2026\nr_a\ncg_b\n\xE9t\xE9\n"); }

    Outcome run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), { "--list", m_list, "--audit" });
        return tromel::testing::runInProcess(args);
    }

    Outcome audit(std::vector<std::string> files, bool json = false, unsigned jobs = 0) const
    {
        std::vector<std::string> args;
        if (json)
            args.insert(args.end(), { "--format", "json" });
        if (jobs != 0)
            args.insert(args.end(), { "-j", std::to_string(jobs) });
        args.insert(args.end(), files.begin(), files.end());
        return run(args);
    }

    std::string at(const std::string& name) const { return (m_dir.path() / name).string(); }

    TempDir m_dir;
    std::string m_list;
};

TEST_F(AuditCli, OneLinePerFindingThenTheTotal)
{
    const std::string a
        = m_dir.write("a.cfg", "seta r_a 1\nbind x \"CG_B 2\"\n// note; seta r_a 3\nexec nowhere\n");
    const Outcome o = run({ a });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out,
        a + ":1:1: r_a (seta): seta r_a 1\n" + //
            a + ":2:9: cg_b (bind): CG_B 2 [via bind at " + a + ":2:1]\n" + //
            a
            + ":3:10: r_a (seta): seta r_a 3 [et only]\n"
              "Total: 3 findings\n");
    EXPECT_EQ(o.err,
        a + ":4:1: warning: exec \"nowhere.cfg\": " + at("nowhere.cfg") + ": no such file, not followed\n");
}

TEST_F(AuditCli, PossibleFindingsAreMarked)
{
    const std::string a = m_dir.write("a.cfg", "a \"r_a 1\"\nvstr a\n");
    EXPECT_EQ(run({ a }).out,
        a + ":1:4: r_a (vstr): r_a 1 [via vstr at " + a + ":2:1] [possible]\nTotal: 1 finding\n");
}

TEST_F(AuditCli, DialectOptionPicksTheReadings)
{
    // Only ET splits inside "//"; only ioquake3 splits a binding at every ';'.
    const std::string a = m_dir.write("a.cfg", "// note; seta r_a 3\nbind x \"echo // ; cg_b 1\"\n");
    const std::string etLine = a + ":1:10: r_a (seta): seta r_a 3";
    const std::string ioq3Line = a + ":2:19: cg_b (bind): cg_b 1 [via bind at " + a + ":2:1]";
    const std::vector<std::pair<std::string, std::string>> rows = {
        { "etlegacy", "Total: 0 findings\n" },
        { "new", "Total: 0 findings\n" },
        { "et", etLine + "\n" + ioq3Line + "\nTotal: 2 findings\n" },
        { "old", etLine + "\n" + ioq3Line + "\nTotal: 2 findings\n" },
        { "ioq3", ioq3Line + "\nTotal: 1 finding\n" },
        { "etlegacy,ioq3", ioq3Line + " [ioq3 only]\nTotal: 1 finding\n" },
        { "both", ioq3Line + " [ioq3, et only]\n" + etLine + " [et only]\nTotal: 2 findings\n" },
    };
    for (const auto& [dialect, out] : rows)
        EXPECT_EQ(run({ "--dialect", dialect, a }).out, out) << dialect;
    const Outcome bad = run({ "--dialect", "q3", a });
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("q3"), std::string::npos);
}

TEST_F(AuditCli, DirectoriesAreAuditedFileByFile)
{
#if defined(_WIN32)
    GTEST_SKIP() << "the expected paths are built with '/', the walk prints '\\'";
#endif
    m_dir.write("d/z.cfg", "exec sub/a\n");
    m_dir.write("d/sub/a.cfg", "seta cg_b 1\n");
    const Outcome o = run({ at("d") });
    EXPECT_EQ(o.out,
        at("d/sub/a.cfg") + ":1:1: cg_b (seta): seta cg_b 1\n" + //
            at("d/sub/a.cfg") + ":1:1: cg_b (exec): seta cg_b 1 [via exec at " + at("d/z.cfg")
            + ":1:1]\nTotal: 2 findings\n");
}

TEST_F(AuditCli, FindingStaysOnOneLine)
{
    const std::string a = m_dir.write("a.cfg", "seta r_a \"x\x01y\x7Fz\"\n");
    EXPECT_EQ(audit({ a }).out, a + ":1:1: r_a (seta): seta r_a \"x y z\"\nTotal: 1 finding\n");

#if !defined(_WIN32) // no line breaks in names there
    const std::string b = m_dir.write("new\nline\r/b.cfg", "bind x \"r_a 1\"\nexec none\n");
    const std::string shown = at("new line /b.cfg");
    const Outcome o = audit({ b });
    EXPECT_EQ(o.out, shown + ":1:9: r_a (bind): r_a 1 [via bind at " + shown + ":1:1]\nTotal: 1 finding\n");
    EXPECT_EQ(o.err,
        shown + ":2:1: warning: exec \"none.cfg\": " + at("new line /none.cfg")
            + ": no such file, not followed\n");
#endif
}

#if !defined(_WIN32)
// No room for another thread's stack nor for a big file's text: the audit goes on in this thread,
// and only the big file fails, with a message.
TEST_F(AuditCli, ShortOfMemoryOnlyTheFileThatNeedsItFails)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit does not leave room for the sanitizer's shadow memory";
#endif
    const std::string small = m_dir.write("small.cfg", "r_a 1\n");
    const std::string big = m_dir.write("big.cfg", std::string(32 << 20, ' ') + "r_a 1\n");
    // A fresh process, so that no thread stacks are cached from earlier tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            limitAddressSpace(4 << 20);
            const Outcome o = audit({ small, big, small }, false, 4);
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

TEST_F(AuditCli, JsonCarriesEveryField)
{
#if defined(_WIN32)
    GTEST_SKIP() << "the expected JSON is built by pasting paths, whose '\\' it does not escape";
#endif
    const std::string a = m_dir.write("a.cfg", "set t \"cg_b 1\"\nvstr t\nexec nowhere\n");
    const Outcome o = audit({ a, at("missing.cfg") }, true);
    EXPECT_EQ(o.status, 2);
    const auto doc = nlohmann::json::parse(o.out);
    EXPECT_EQ(doc["dialect"], "any");
    EXPECT_EQ(doc["list"]["count"], 3);
    EXPECT_EQ(doc["total"], 1);
    const auto& file = doc["files"][0];
    EXPECT_EQ(file["total"], 1);
    EXPECT_EQ(file["warnings"][0]["line"], 3);
    EXPECT_FALSE(file.contains("warningsLeftOut"));
    const auto& f = file["findings"][0];
    EXPECT_EQ(f,
        nlohmann::json::parse(R"({"file": ")" + a + R"(", "line": 1, "column": 8, "name": "cg_b",
        "index": 2, "form": "vstr", "setter": "bare", "command": "cg_b 1", "value": "1",
        "via": [{"form": "vstr", "file": ")"
            + a + R"(", "line": 2, "column": 1, "command": "vstr t"}],
        "onKeyPress": false, "possible": false})"));
    // Findings that some dialects do not run name those that do.
    const std::string b = m_dir.write("b.cfg", "wait -1\nr_a 1\n");
    const auto other = nlohmann::json::parse(audit({ b }, true).out)["files"][0]["findings"][0];
    EXPECT_EQ(other["dialects"], nlohmann::json::parse(R"(["etlegacy", "ioq3"])"));
    EXPECT_EQ(doc["files"][1]["error"], "no such file");
}

TEST_F(AuditCli, JsonStaysValidForAnyBytes)
{
    const std::string a = m_dir.write("\xFF\xE9.cfg", "seta \"\xE9T\xE9\" \"\xC0\x01\"\n");
    const Outcome o = audit({ a }, true);
    const auto doc = nlohmann::json::parse(o.out);
    const auto& f = doc["files"][0]["findings"][0];
    EXPECT_EQ(f["name"], "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(f["command"], "seta \"\xC3\xA9T\xC3\xA9\" \"\xC3\x80\x01\"");
    EXPECT_EQ(f["file"].get<std::string>().find("\xC3\xBF\xC3\xA9.cfg") != std::string::npos, true);
}

} // namespace
