// tromel-check, the real binary, fed what users may feed it: every bad input gets a message on
// stderr and exit status 2, the good files given with it are still reported, nothing blocks, and
// nothing is written anywhere.

#include "../core/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

using tromel::testing::TempDir;
using namespace std::string_literals;
namespace fs = std::filesystem;

extern char** environ;

namespace {

constexpr int kNobody = 65534;

std::string checkBinary()
{
    if (const char* dir = std::getenv("TROMEL_BIN_DIR"))
        return (fs::path(dir) / "tromel-check").string();
    return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "tromel-check").string();
}

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Outcome {
    int status = -1; // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

struct Launch {
    std::vector<std::string> args;
    std::string cwd; // empty: the test's own
    std::vector<std::string> env; // empty: the test's own environment
    bool asNobody = false;
    std::string stdinPath = "/dev/null";
    std::string stdoutPath; // empty: captured; "closed": no standard output at all
};

// Runs tromel-check with stdin from /dev/null. An alarm ends a run that blocks, so a hang fails
// the test with status 128 + SIGALRM instead of stopping the suite.
Outcome runCheck(const Launch& launch)
{
    const TempDir capture;
    const fs::path outPath = capture.path() / "out";
    const fs::path errPath = capture.path() / "err";
    const std::string binary = checkBinary();

    std::vector<char*> argv { const_cast<char*>(binary.c_str()) };
    for (const std::string& a : launch.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : launch.env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(launch.stdinPath.c_str(), O_RDONLY);
        const std::string outTo = launch.stdoutPath.empty() ? outPath.string() : launch.stdoutPath;
        const int out
            = launch.stdoutPath == "closed" ? 0 : ::open(outTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        if (launch.stdoutPath == "closed" ? ::close(1) != 0 : ::dup2(out, 1) < 0)
            ::_exit(126);
        if (!launch.cwd.empty() && ::chdir(launch.cwd.c_str()) != 0)
            ::_exit(126);
        if (launch.asNobody
            && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(125);
        ::alarm(60);
        ::execve(binary.c_str(), argv.data(), launch.env.empty() ? environ : envp.data());
        ::_exit(127);
    }
    Outcome o;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid)
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.out = slurp(outPath);
    o.err = slurp(errPath);
    return o;
}

Outcome runCheck(std::vector<std::string> args)
{
    Launch launch;
    launch.args = std::move(args);
    return runCheck(launch);
}

std::string report(const std::vector<std::string>& items)
{
    std::string s;
    for (const std::string& item : items)
        s += item + "\n";
    return s + " \nTotal: " + std::to_string(items.size()) + " cvars interdite\n";
}

const std::string kList = "list v 1.25-02-2007\r\nr_a\r\ncg_b\r\n";

// Paths that are not usable files, with the cause the message must give.
struct BadPath {
    const char* label;
    std::string (*make)(const TempDir&);
    const char* reason;
};

std::string makeLongPath(const TempDir& d)
{
    std::string p = d.path().string();
    while (p.size() <= 4200)
        p += "/folder";
    return p + "/x.cfg";
}

const std::vector<BadPath> kBadPaths {
    { "fifo", [](const TempDir& d) { return d.fifo("fifo.cfg"); }, "not a regular file" },
    { "socket", [](const TempDir& d) { return d.socket("sock.cfg"); }, "not a regular file" },
    { "devZero", [](const TempDir&) { return "/dev/zero"s; }, "not a regular file" },
    { "devNull", [](const TempDir&) { return "/dev/null"s; }, "not a regular file" },
    { "danglingLink", [](const TempDir& d) { return d.symlink("nowhere.cfg", "dangling.cfg"); },
        "no such file" },
    { "linkLoop",
        [](const TempDir& d) {
            d.symlink("a.cfg", "b.cfg");
            return d.symlink("b.cfg", "a.cfg");
        },
        "too many levels of symbolic links" },
    { "longerThan4096", makeLongPath, "file name too long" },
};

class BadConfig : public ::testing::TestWithParam<BadPath> { };

TEST_P(BadConfig, IsNamedAndTheOtherFilesStillChecked)
{
    TempDir dir;
    const std::string list = dir.write("cvars.ini", kList);
    const std::string before = dir.write("before.cfg", "seta r_a 1\n");
    const std::string after = dir.write("after.cfg", "seta cg_b 1\n");
    const std::string bad = GetParam().make(dir);

    const Outcome o = runCheck({ "--list", list, before, bad, after });
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_NE(o.err.find("tromel-check: " + bad + ": " + GetParam().reason + "\n"), std::string::npos)
        << o.err;
    EXPECT_EQ(o.out,
        "==> " + before + " <==\n" + report({ "Ligne: 0 - r_a" }) + "\n==> " + after + " <==\n"
            + report({ "Ligne: 0 - cg_b" }));
}

INSTANTIATE_TEST_SUITE_P(Paths, BadConfig, ::testing::ValuesIn(kBadPaths), tromel::testing::ByLabel());

class BadList : public ::testing::TestWithParam<BadPath> { };

TEST_P(BadList, StopsWithTheCause)
{
    TempDir dir;
    const std::string bad = GetParam().make(dir);
    const Outcome o = runCheck({ "--list", bad, dir.write("a.cfg", "seta r_a 1\n") });
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find(bad + ": " + GetParam().reason), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Paths, BadList, ::testing::ValuesIn(kBadPaths), tromel::testing::ByLabel());

// Lists whose first line is no header: refused with a message, never half-used.
struct NoHeader {
    const char* label;
    std::string bytes;
};

class UnusableList : public ::testing::TestWithParam<NoHeader> { };

TEST_P(UnusableList, IsRefused)
{
    TempDir dir;
    const Outcome o = runCheck(
        { "--list", dir.write("cvars.ini", GetParam().bytes), dir.write("a.cfg", "seta r_a 1\n") });
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("the header line of cvars.ini"), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Content, UnusableList,
    ::testing::Values(NoHeader { "image", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0"s },
        NoHeader { "nulBytes", std::string(4096, '\0') },
        NoHeader { "directoryListing", "total 8\ndrwxr-xr-x 2 root root 4096 .\n" }),
    tromel::testing::ByLabel());

TEST(BadConfig, FolderWithoutConfigsSaysSo)
{
    TempDir dir;
    const std::string list = dir.write("cvars.ini", kList);
    fs::create_directories(dir.path() / "empty");
    dir.write("empty/readme.txt", "seta r_a 1\n");
    const Outcome o = runCheck({ "--list", list, (dir.path() / "empty").string() });
    EXPECT_EQ(o.status, 2) << "nothing was checked, so nothing may be reported clean";
    EXPECT_NE(o.err.find("no .cfg files found"), std::string::npos) << o.err;
}

// Names that are awkward to type but name good files.
struct AwkwardName {
    const char* label;
    std::string file;
    std::vector<std::string> args; // FILE stands for the name
};

class AwkwardNames : public ::testing::TestWithParam<AwkwardName> { };

TEST_P(AwkwardNames, AreChecked)
{
    TempDir dir;
    dir.write("cvars.ini", kList);
    dir.write(GetParam().file, "seta r_a 1\n");
    std::vector<std::string> args { "--list", "cvars.ini" };
    for (const std::string& a : GetParam().args)
        args.push_back(a == "FILE" ? GetParam().file : a);
    const Outcome o = runCheck(Launch { args, dir.path().string(), {}, false });
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.out, report({ "Ligne: 0 - r_a" }));
}

INSTANTIATE_TEST_SUITE_P(Names, AwkwardNames,
    ::testing::Values(AwkwardName { "spaces", "my config .cfg", { "FILE" } },
        AwkwardName { "notUtf8", "caf\xE9\xFF.cfg", { "FILE" } },
        AwkwardName { "leadingDash", "-x.cfg", { "--", "FILE" } },
        AwkwardName { "onlyDashes", "--", { "--", "FILE" } }),
    tromel::testing::ByLabel());

TEST(AwkwardNames, LeadingDashWithoutSeparatorIsAUsageError)
{
    TempDir dir;
    dir.write("-x.cfg", "seta r_a 1\n");
    const Outcome o = runCheck(
        Launch { { "--list", dir.write("cvars.ini", kList), "-x.cfg" }, dir.path().string(), {}, false });
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("-x.cfg"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("--help"), std::string::npos) << o.err;
}

// Configs that are not text: read as bytes, by the same rule, without tripping on NUL or 0xFF.
struct OddContent {
    const char* label;
    std::string bytes;
    std::vector<std::string> items;
};

class OddConfig : public ::testing::TestWithParam<OddContent> { };

TEST_P(OddConfig, IsCheckedByTheSameRule)
{
    TempDir dir;
    const Outcome o
        = runCheck({ "--list", dir.write("cvars.ini", kList), dir.write("odd.cfg", GetParam().bytes) });
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.out, report(GetParam().items));
}

INSTANTIATE_TEST_SUITE_P(Content, OddConfig,
    ::testing::Values(OddContent { "image", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\xFF r_a \0\nseta cg_b 1"s,
                          { "Ligne: 4 - cg_b" } },
        OddContent { "nulBytes", std::string(70000, '\0') + "\n\0 r_a set\n set cg_b \0"s,
            { "Ligne: 1 - r_a", "Ligne: 2 - cg_b" } },
        OddContent {
            "spaces", std::string(70000, ' ') + "\n\r set r_a\n\n \t\n set cg_b  ", { "Ligne: 3 - cg_b" } }),
    tromel::testing::ByLabel());

TEST(OddList, ByteOrderMarkStaysInTheUnusedFirstField)
{
    TempDir dir;
    const std::string list = dir.write("cvars.ini", "\xEF\xBB\xBFlist v 1.25-02-2007\r\nr_a\r\ncg_b\r\n");
    const Outcome info = runCheck({ "--info", "--list", list });
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "Version: 1\nDate: 25-02-2007\nCvars: 2\n");
    const Outcome scan = runCheck({ "--list", list, dir.write("a.cfg", "seta cg_b 1\n") });
    EXPECT_EQ(scan.out, report({ "Ligne: 0 - cg_b" }));
}

TEST(OddList, ListGivenAsItsOwnConfig)
{
    TempDir dir;
    const std::string list = dir.write("cvars.ini", "list set 1.x\nr_a\nset r_a 1\n");
    const Outcome o = runCheck({ "--list", list, list });
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.out, report({ "Ligne: 2 - r_a" }));
}

// Root reads every file, so the denial is produced by running the check as the user nobody.
class PermissionDenied : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run the check as the user nobody";
        if (::access(checkBinary().c_str(), X_OK) != 0)
            GTEST_SKIP() << checkBinary() << " is not there";
        const Outcome probe = runCheck(Launch { { "--version" }, {}, {}, true });
        if (probe.status == 125)
            GTEST_SKIP() << "cannot switch to the user nobody (no CAP_SETUID here)";
        if (probe.status != 0)
            GTEST_SKIP() << "the user nobody cannot run " << checkBinary()
                         << " (a folder on its path is private)";
        ::chmod(m_dir.path().c_str(), 0755);
        m_list = m_dir.write("cvars.ini", kList);
        m_good = m_dir.write("good.cfg", "seta r_a 1\n");
    }

    TempDir m_dir;
    std::string m_list;
    std::string m_good;
};

TEST_F(PermissionDenied, UnreadableConfig)
{
    const std::string locked = m_dir.write("locked.cfg", "seta r_a 1\n");
    ::chmod(locked.c_str(), 0600);
    const Outcome o = runCheck(Launch { { "--list", m_list, locked, m_good }, {}, {}, true });
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(locked + ": cannot read: Permission denied"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "==> " + m_good + " <==\n" + report({ "Ligne: 0 - r_a" }));
}

TEST_F(PermissionDenied, ConfigInAPrivateFolder)
{
    const std::string hidden = m_dir.write("private/x.cfg", "seta r_a 1\n");
    ::chmod((m_dir.path() / "private").c_str(), 0700);
    const Outcome o = runCheck(Launch { { "--list", m_list, hidden }, {}, {}, true });
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(hidden + ": permission denied"), std::string::npos) << o.err;
}

TEST_F(PermissionDenied, PrivateSubfolderIsNamedNotSkipped)
{
    m_dir.write("tree/ok.cfg", "seta x 1\n");
    m_dir.write("tree/private/hit.cfg", "seta r_a 1\n");
    ::chmod((m_dir.path() / "tree").c_str(), 0755);
    ::chmod((m_dir.path() / "tree/private").c_str(), 0700);
    const Outcome o
        = runCheck(Launch { { "--list", m_list, (m_dir.path() / "tree").string() }, {}, {}, true });
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("private: Permission denied"), std::string::npos) << o.err;
}

TEST_F(PermissionDenied, UnreadableList)
{
    ::chmod(m_list.c_str(), 0600);
    const Outcome o = runCheck(Launch { { "--list", m_list, m_good }, {}, {}, true });
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("cannot read: Permission denied"), std::string::npos) << o.err;
}

// Every file and folder below root: kind, size, modification time and content.
std::map<std::string, std::string> snapshot(const fs::path& root)
{
    std::map<std::string, std::string> state;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct stat st { };
        ::lstat(e.path().c_str(), &st);
        std::ostringstream s;
        s << st.st_mode << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec;
        if (S_ISREG(st.st_mode))
            s << ' ' << slurp(e.path());
        state[e.path().string()] = s.str();
    }
    struct stat st { };
    ::stat(root.c_str(), &st);
    state["."] = std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    return state;
}

TEST(WritesNothing, OverAFolderOfConfigs)
{
    TempDir sandbox;
    const fs::path home = sandbox.path() / "home";
    const fs::path tmp = sandbox.path() / "tmp";
    const fs::path work = sandbox.path() / "work";
    for (const fs::path& p : { home, tmp, work })
        fs::create_directories(p);
    sandbox.write("work/cvars.ini", kList);
    sandbox.write("work/configs/a.cfg", "seta r_a 1\nseta cg_b 0\n");
    sandbox.write("work/configs/clean.cfg", "seta x 1\n");
    sandbox.write("work/configs/empty.cfg", "");
    sandbox.write("work/configs/deep/er/b.CFG", "set cg_b 1\n");
    sandbox.write("work/configs/notes.txt", "seta r_a 1\n");
    sandbox.symlink("missing.cfg", "work/configs/dangling.cfg");

    std::vector<std::string> env { "HOME=" + home.string(), "TMPDIR=" + tmp.string(), "PATH=/usr/bin:/bin" };
    for (const char* keep : { "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS" })
        if (const char* v = std::getenv(keep))
            env.push_back(std::string(keep) + "=" + v);

    const auto before = snapshot(sandbox.path());
    const std::vector<std::vector<std::string>> runs {
        { "--list", "cvars.ini", "configs" },
        { "--list", "cvars.ini", "--format", "json", "configs", "configs/a.cfg", "nothere.cfg" },
        { "--list", "cvars.ini", "--info", "-j", "1", "configs" }, { "--list", "cvars.ini", "--help" },
        { "configs" }, // no cvars.ini beside the program in a build folder is fine too: it must only read
    };
    for (const auto& args : runs) {
        const Outcome o = runCheck(Launch { args, work.string(), env, false });
        EXPECT_LT(o.status, 3) << o.err;
    }
    EXPECT_EQ(snapshot(sandbox.path()), before);
}

} // namespace

namespace {

// What cannot be written is an error with its cause, whatever was asked, as GNU tools do.
struct Unwritable {
    const char* label;
    std::vector<std::string> args; // "@" stands for a config that has a finding
    const char* stdoutPath;
    const char* cause;
};

class WriteError : public ::testing::TestWithParam<Unwritable> { };

TEST_P(WriteError, ExitsTwoWithTheCause)
{
    TempDir dir;
    Launch launch;
    launch.args = { "--list", dir.write("l.ini", kList) };
    for (const std::string& a : GetParam().args)
        launch.args.push_back(a == "@" ? dir.write("a.cfg", "seta r_a 1\n") : a);
    launch.stdoutPath = GetParam().stdoutPath;
    const Outcome o = runCheck(launch);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "tromel-check: write error: "s + GetParam().cause + "\n");
}

INSTANTIATE_TEST_SUITE_P(Outputs, WriteError,
    ::testing::Values(Unwritable { "fullDisk", { "@" }, "/dev/full", "No space left on device" },
        Unwritable { "fullDiskJson", { "--format", "json", "@" }, "/dev/full", "No space left on device" },
        Unwritable { "fullDiskAudit", { "--audit", "@" }, "/dev/full", "No space left on device" },
        Unwritable { "fullDiskVersion", { "--version" }, "/dev/full", "No space left on device" },
        Unwritable { "closed", { "@" }, "closed", "Bad file descriptor" },
        Unwritable { "closedHelp", { "--help" }, "closed", "Bad file descriptor" }),
    tromel::testing::ByLabel());

// "-" is the config on standard input, in both modes; exec paths are then relative to the
// current folder.
TEST(StandardInput, IsCheckedAsAConfig)
{
    TempDir dir;
    Launch launch;
    launch.cwd = dir.path().string();
    dir.write("s1.cfg", "seta cg_b 1\n");
    launch.stdinPath = dir.write("in.cfg", "seta r_a 1\nexec s1\n");
    launch.args = { "--list", dir.write("l.ini", kList), "-" };
    const Outcome plain = runCheck(launch);
    EXPECT_EQ(plain.status, 1) << plain.err;
    EXPECT_EQ(plain.out, report({ "Ligne: 0 - r_a" }));
    launch.args.insert(launch.args.begin(), "--audit");
    const Outcome audit = runCheck(launch);
    EXPECT_EQ(audit.status, 1) << audit.err;
    EXPECT_EQ(audit.out,
        "-:1:1: r_a (seta): seta r_a 1\ns1.cfg:1:1: cg_b (exec): seta cg_b 1 [via exec at -:2:1]\nTotal: 2 "
        "findings\n");
}

} // namespace
