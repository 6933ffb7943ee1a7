// tromel-check, the real binary, fed what users may feed it: awkward names, files it may not read,
// outputs it cannot write, standard input. Each kind of bad path and its message is in
// tests/core/test_fileop.cpp; the CLI's handling of one among good files is in test_cli.cpp.

#include "ProcessSupport.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>

using tromel::testing::Launch;
using tromel::testing::Outcome;
using tromel::testing::runCheck;
using tromel::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// What one config that sets r_a once is reported as.
const std::string kReport = "Ligne: 0 - r_a\n \nTotal: 1 cvars interdite\n";

const std::string kLong = std::string(120, 'd') + "/" + std::string(120, 'd') + "/x.cfg";

#if defined(_WIN32)
const std::string kList = "list v 1.25-02-2007\r\nr_a\r\ncg_b\r\n";

// A config held open by another program: the game shares it, so it is read; a program that shares
// it with nobody makes it unreadable, which is said.
struct Holder {
    const char* label;
    DWORD share;
    int status;
    const char* cause; // empty: read without a word
};

class HeldOpen : public ::testing::TestWithParam<Holder> { };

TEST_P(HeldOpen, IsReadOrNamed)
{
    TempDir dir;
    const std::string list = dir.write("cvars.ini", kList);
    const std::string held = dir.write("held.cfg", "seta r_a 1\n");
    HANDLE h = ::CreateFileW(tromel::platform::pathFromUtf8(held).c_str(), GENERIC_READ | GENERIC_WRITE,
        GetParam().share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const Outcome o = runCheck(Launch { { "--list", list, held } });
    ::CloseHandle(h);
    EXPECT_EQ(o.status, GetParam().status) << o.err;
    const std::string cause = GetParam().cause;
    EXPECT_EQ(o.err, cause.empty() ? "" : "tromel-check: " + held + ": " + cause + "\n");
}

INSTANTIATE_TEST_SUITE_P(Sharing, HeldOpen,
    ::testing::Values(Holder { "sharedLikeTheGame", FILE_SHARE_READ | FILE_SHARE_WRITE, 1, "" },
        Holder { "sharedWithNobody", 0, 2, "cannot read: Permission denied" }),
    tromel::testing::ByLabel());

// A folder that \\localhost\NAME reaches, removed with what it holds: under Wine, a share made in
// the prefix (dosdevices\unc); on Windows, the drive's administrative share, if this user may use it.
class Share {
public:
    explicit Share(const TempDir& dir)
    {
        using ToDos = wchar_t* (*)(const char*);
        const auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_dos_file_name")));
        const char* prefix = std::getenv("WINEPREFIX");
        wchar_t* dos = toDos != nullptr && prefix != nullptr ? toDos(prefix) : nullptr;
        if (dos == nullptr) {
            const std::string folder = tromel::testing::utf8(dir.path());
            m_unc = R"(\\localhost\)" + folder.substr(0, 1) + "$" + folder.substr(2);
            return;
        }
        const std::string name = tromel::testing::utf8(dir.path().filename());
        m_made = fs::path(dos) / "dosdevices" / "unc" / "localhost" / name;
        ::HeapFree(::GetProcessHeap(), 0, dos);
        fs::create_directories(m_made);
        m_unc = R"(\\localhost\)" + name;
    }
    ~Share()
    {
        std::error_code ec;
        if (!m_made.empty())
            fs::remove_all(m_made, ec);
    }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    // The share's name for the folder; empty when it cannot be reached.
    std::string unc() const
    {
        std::error_code ec;
        return fs::is_directory(tromel::platform::pathFromUtf8(m_unc), ec) ? m_unc : std::string();
    }

private:
    std::string m_unc;
    fs::path m_made;
};

TEST(UncPath, FileAndFolderAreChecked)
{
    TempDir dir;
    const Share share(dir);
    const std::string unc = share.unc();
    if (unc.empty())
        GTEST_SKIP() << "no share of the temporary folder can be reached";
    const std::string list = dir.write("cvars.ini", kList);
    std::ofstream(tromel::platform::pathFromUtf8(unc + R"(\x.cfg)"), std::ios::binary) << "seta r_a 1\n";
    const Outcome file = runCheck(Launch { { "--list", list, unc + R"(\x.cfg)" } });
    EXPECT_EQ(file.status, 1) << file.err;
    EXPECT_EQ(file.out, kReport);
    const Outcome folder = runCheck(Launch { { "--list", list, unc } });
    EXPECT_EQ(folder.status, 1) << folder.err;
    EXPECT_EQ(folder.out, "==> " + unc + R"(\x.cfg <==)" + "\n" + kReport);
}
#endif

struct BinaryCase {
    const char* label;
    tromel::testing::Launch launch; // "{x}" in its paths as in CliDir::expand
    int status;
    std::string out; // as in CliDir::expectText
    std::string err = "~";
    std::string file = {}; // a config written for the row, that sets r_a
    const char* locked = nullptr; // made unreadable or unsearchable, and the run made as the user nobody
};

class Binary : public tromel::testing::CliDir, public ::testing::WithParamInterface<BinaryCase> { };

TEST_P(Binary, StatusAndOutput)
{
    const BinaryCase& c = GetParam();
    if (!c.file.empty())
        m_dir.write(c.file, "seta r_a 1\n");
    Launch launch = c.launch;
    for (std::string* text : { &launch.cwd, &launch.stdinPath, &launch.stdoutPath })
        *text = expand(*text);
    for (std::string& a : launch.args)
        a = expand(a);
#if !defined(_WIN32)
    // Root reads every file, so a denial needs the run as nobody.
    if (c.locked != nullptr) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run the check as the user nobody";
        ::chmod(m_dir.path().c_str(), 0755);
        const std::string locked = m_dir.path(c.locked);
        ::chmod(locked.c_str(), std::filesystem::is_directory(locked) ? 0700 : 0600);
        launch.asNobody = true;
    }
#endif
    const Outcome o = runCheck(launch);
    EXPECT_EQ(o.status, c.status) << o.err;
    expectText(o.out, c.out);
    expectText(o.err, c.err);
}

// The real executable finds the list beside itself, whatever the working directory; "-" is the
// config on standard input, whose exec paths are relative to the current folder; output that
// cannot be written, up to the real files' at exit, is an error with its cause, as GNU tools do
// (every output's own write errors are in test_cli.cpp).
INSTANTIATE_TEST_SUITE_P(Runs, Binary,
    ::testing::Values(
        BinaryCase { "defaultListIsBesideTheExecutable", { { "--info" }, "{}" }, 0, "~Version: 1\n", "" },
        BinaryCase {
            "standardInput", { { "--list", "{cvars.ini}", "-" }, "{}", false, "{in.cfg}" }, 1, kReport, "" },
        BinaryCase { "standardInputAudited",
            { { "--list", "{cvars.ini}", "--audit", "-" }, "{}", false, "{in.cfg}" }, 1,
            "-:1:1: r_a (seta): seta r_a 1\ns1.cfg:1:1: cg_b (exec): seta cg_b 1 [via exec at -:2:1]\nTotal: "
            "2 findings\n",
            "" },
        BinaryCase { "closedOutput", { { "--list", "{cvars.ini}", "{hit.cfg}" }, "", false, "", "closed" }, 2,
            "", "tromel-check: write error: Bad file descriptor\n" },
        BinaryCase { "closedVersion", { { "--version" }, "", false, "", "closed" }, 2, "",
            "tromel-check: write error: Bad file descriptor\n" }),
    tromel::testing::ByLabel());
// Names that are awkward to type but name good files: file, given as the args, in its folder.
BinaryCase named(const char* label, const std::string& file, std::vector<std::string> args = {})
{
    args.insert(args.begin(), { "--list", "cvars.ini" });
    if (args.size() == 2)
        args.push_back(file);
    return { label, { args, "{}" }, 1, kReport, "~", file };
}

INSTANTIATE_TEST_SUITE_P(Names, Binary,
    ::testing::Values(named("spaces", "my config .cfg"),
        named("notUtf8", "caf\xE9\xFF.cfg"), // Windows-1252 there
        named("cjkAndAccent", "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9.cfg"),
        named("leadingDash", "-x.cfg", { "--", "-x.cfg" }), named("onlyDashes", "--", { "--", "--" }),
        named("slashes", "sub/x.cfg"), named("leadAndTrail", " lead and trail "),
        named("longerThan260", kLong, { "{" + kLong + "}" }),
        BinaryCase { "foundByAWalkAndPrintedAsUtf8", { { "--list", "cvars.ini", "{walk}" }, "{}" }, 1,
            "==> {walk/\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9.cfg} <==\n" + kReport, "~",
            "walk/\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9.cfg" }),
    tromel::testing::ByLabel());
#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(WindowsNames, Binary,
    ::testing::Values(named("otherCase", "Mixed.CFG", { "mIXED.cfg" }),
        named("extendedLength", "x.cfg", { R"(\\?\{x.cfg})" }),
        named("deviceNamespaceFile", "x.cfg", { R"(\\.\{x.cfg})" }),
        named("trailingDotAndSpace", "x.cfg", { "x.cfg. " })),
    tromel::testing::ByLabel());
#else
INSTANTIATE_TEST_SUITE_P(Posix, Binary,
    ::testing::Values(
        BinaryCase { "fullDisk", { { "--list", "{cvars.ini}", "{hit.cfg}" }, "", false, "", "/dev/full" }, 2,
            "", "tromel-check: write error: No space left on device\n" },
        BinaryCase { "unreadableConfig", { { "--list", "{cvars.ini}", "{locked.cfg}", "{hit.cfg}" } }, 2,
            "~Ligne: 0 - r_a", "~locked.cfg: cannot read: Permission denied", {}, "locked.cfg" },
        BinaryCase { "configInAPrivateFolder",
            { { "--list", "{cvars.ini}", "{private/x.cfg}", "{hit.cfg}" } }, 2, "~Ligne: 0 - r_a",
            "~x.cfg: permission denied", {}, "private" },
        BinaryCase { "privateSubfolderIsNamedNotSkipped",
            { { "--list", "{cvars.ini}", "{tree}", "{hit.cfg}" } }, 2, "~Ligne: 0 - r_a",
            "~private: Permission denied", {}, "tree/private" },
        BinaryCase { "unreadableList", { { "--list", "{cvars.ini}", "{hit.cfg}" } }, 2, "",
            "~cannot read: Permission denied", {}, "cvars.ini" }),
    tromel::testing::ByLabel());
#endif

} // namespace
