// Input that nobody meant for this tool: odd paths, odd bytes, huge lines, lists with strange
// names, files that change while they are read, files the user may not read.

#include "CvarList.h"
#include "Reader.h"
#include "ReferenceScan.h"
#include "Scanner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <random>

using namespace tromel;
using tromel::testing::scanFile;
using tromel::testing::Scanned;
using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

constexpr std::size_t kMiB = std::size_t { 1 } << 20;

CvarList listOf(std::vector<std::string> names)
{
    CvarList list;
    list.hasHeader = true;
    list.names.insert(list.names.end(), names.begin(), names.end());
    return list;
}

// Scans the file as the program does and compares with the plain rule over the same bytes.
void expectFileScansLikeReference(const std::string& path, const CvarList& list)
{
    std::string bytes;
    ASSERT_TRUE(LoadFile(path, bytes));
    const Matcher matcher(list);
    const Scanned r = scanFile(path, matcher);
    ASSERT_TRUE(r) << describe(r.file);
    EXPECT_EQ(r.findings, reference::scan(bytes, list));
    EXPECT_EQ(r.lines, LineList(bytes).size());
}

// Content that is not a config, built small but shaped like the big cases (100 MB of spaces, one
// 100 MB line): long enough to cross the reader's 1 MiB pieces, with matches on the seams.
struct ContentCase {
    const char* label;
    std::string (*make)();
    std::vector<Finding> findings; // against the names r_a, " ", "x y"
};

class OddContent : public ::testing::TestWithParam<ContentCase> { };

TEST_P(OddContent, ScansAsThePlainRuleSays)
{
    TempDir dir;
    const CvarList list = listOf({ "r_a", " ", "x y" });
    const std::string path = dir.write("f.cfg", GetParam().make());
    expectFileScansLikeReference(path, list);
    const Scanned r = scanFile(path, Matcher(list));
    EXPECT_EQ(r.findings, GetParam().findings);
}

std::string imageLike()
{
    // A PNG signature and chunk header, then noise with NUL and high bytes but no breaks.
    std::string s = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s;
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const char c = static_cast<char>(rng() & 0xFF);
        s += c == '\r' || c == '\n' ? '\0' : c;
    }
    return s + "\nseta r_a 1\n";
}

std::string nulBytes()
{
    return std::string(3 * kMiB, '\0');
}

std::string spacesThenSet()
{
    return std::string(2 * kMiB + 5, ' ') + "set";
}

std::string oneLongLine()
{
    std::string s(3 * kMiB, 'x');
    s.replace(kMiB - 3, 5, " r_a "); // straddles the first seam
    s.replace(2 * kMiB - 2, 5, " x y "); // the second
    s.replace(s.size() - 3, 3, "set");
    return s;
}

INSTANTIATE_TEST_SUITE_P(Content, OddContent,
    ::testing::Values(ContentCase { "binaryImage", imageLike, { { 4, 1 } } },
        ContentCase { "nulBytes", nulBytes, {} },
        ContentCase { "spacesThenSet", spacesThenSet, { { 0, 2 } } },
        ContentCase { "oneLongLine", oneLongLine, { { 0, 1 }, { 0, 3 } } }),
    tromel::testing::ByLabel());

TEST(OddContent, ThisExecutable)
{
    expectFileScansLikeReference("/proc/self/exe", listOf({ "r_a", "GLIBC", "set", " " }));
}

// Names that would not look like cvars: all bytes count, none is trimmed.
TEST(OddList, NamesKeepNulHighBytesAndSpaces)
{
    TempDir dir;
    const std::string path = dir.write("cvars.ini", "h v 1.x\r\n\0n\0\r\n\xE9t\xE9\n r_a\nr_a \n \xFF \n"s);
    const ListResult r = LoadCvars(path);
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(
        r.list.names, (std::vector<std::string> { "", "\0n\0"s, "\xE9t\xE9", " r_a", "r_a ", " \xFF " }));

    const std::string config = "set \0n\0 1\nset \xE9t\xE9 1\nset r_a 1\nset  r_a  1\nset  \xFF  x\n"s;
    const std::vector<Finding> findings = scanBuffer(config, Matcher(r.list));
    EXPECT_EQ(findings, (std::vector<Finding> { { 0, 1 }, { 1, 2 }, { 3, 3 }, { 3, 4 }, { 4, 5 } }));
    EXPECT_EQ(findings, reference::scan(config, r.list));
}

TEST(OddList, HundredThousandNames)
{
    TempDir dir;
    std::string text = "big v 7.01-01-2024\n";
    for (int i = 0; i < 100000; ++i)
        text += "cvar_" + std::to_string(i) + "\n";
    const ListResult r = LoadCvars(dir.write("cvars.ini", text));
    ASSERT_TRUE(r) << r.message;
    ASSERT_EQ(r.list.count(), 100000U);
    EXPECT_EQ(r.list.names.back(), "cvar_99999");

    const std::string config
        = "seta cvar_99999 1\nseta cvar_0 1 cvar_5 \nseta cvar_100000 1\nbind cvar_7 1\n";
    const std::vector<Finding> findings = scanBuffer(config, Matcher(r.list));
    EXPECT_EQ(findings, (std::vector<Finding> { { 0, 100000 }, { 1, 1 }, { 1, 6 } }));
    EXPECT_EQ(findings, reference::scan(config, r.list));
}

TEST(OddList, OnlyAHeaderFindsNothing)
{
    TempDir dir;
    const ListResult r = LoadCvars(dir.write("cvars.ini", "\r\nh v 1.x\r\n\r\n"));
    ASSERT_TRUE(r) << r.message;
    EXPECT_TRUE(r.list.hasHeader);
    EXPECT_EQ(r.list.count(), 0U);
    EXPECT_TRUE(scanBuffer("seta r_a 1\nset h v 1.x\n", Matcher(r.list)).empty());
}

TEST(OddList, ListCheckedAsItsOwnConfig)
{
    TempDir dir;
    const std::string path = dir.write("cvars.ini", "list set 1.x\nr_a\nset r_a 1\n r_a \nseta  r_a  1\n");
    const ListResult r = LoadCvars(path);
    ASSERT_TRUE(r) << r.message;
    expectFileScansLikeReference(path, r.list);
    EXPECT_EQ(
        scanFile(path, Matcher(r.list)).findings, (std::vector<Finding> { { 2, 1 }, { 4, 1 }, { 4, 3 } }));
}

// Paths that are legal but awkward: each names a file that is found and read.
class OddPath : public ::testing::TestWithParam<const char*> { };

TEST_P(OddPath, IsReadLikeAnyOther)
{
    TempDir dir;
    const std::string path = dir.write(GetParam(), "seta r_a 1\n");
    EXPECT_TRUE(FileExists(path));
    const Scanned r = scanFile(path, Matcher(listOf({ "r_a" })));
    ASSERT_TRUE(r) << describe(r.file);
    EXPECT_EQ(r.findings, (std::vector<Finding> { { 0, 1 } }));
}

INSTANTIATE_TEST_SUITE_P(Names, OddPath,
    ::testing::Values("caf\xE9 \xFF.cfg", "my config.cfg", "-x.cfg", " lead and trail ", "new\nline.cfg",
        "sub dir/--.cfg"));

// A file that exists at the end of more than PATH_MAX bytes of directories: made and removed
// one level at a time, since the whole path cannot be used.
class DeepFile {
public:
    explicit DeepFile(const std::filesystem::path& root)
        : m_root(root)
    {
        const std::string part(200, 'd');
        int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
        m_path = root.string();
        while (m_path.size() <= 4200 && fd >= 0) {
            ::mkdirat(fd, part.c_str(), 0755);
            const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            m_path += "/" + part;
            ++m_depth;
        }
        const int file = ::openat(fd, "f.cfg", O_WRONLY | O_CREAT, 0644);
        m_made = file >= 0 && ::write(file, "seta r_a 1\n", 11) == 11;
        ::close(file);
        ::close(fd);
        m_path += "/f.cfg";
    }
    ~DeepFile()
    {
        int fd = openLevel(m_depth);
        ::unlinkat(fd, "f.cfg", 0);
        ::close(fd);
        for (int level = m_depth - 1; level >= 0; --level) {
            fd = openLevel(level);
            ::unlinkat(fd, std::string(200, 'd').c_str(), AT_REMOVEDIR);
            ::close(fd);
        }
    }
    DeepFile(const DeepFile&) = delete;
    DeepFile& operator=(const DeepFile&) = delete;

    bool made() const { return m_made; }
    const std::string& path() const { return m_path; }

private:
    int openLevel(int level) const
    {
        const std::string part(200, 'd');
        int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY);
        for (int i = 0; i < level && fd >= 0; ++i) {
            const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        return fd;
    }

    std::filesystem::path m_root;
    std::string m_path;
    int m_depth = 0;
    bool m_made = false;
};

TEST(OddPath, LongerThanPathMaxSaysSo)
{
    TempDir dir;
    const DeepFile deep(dir.path());
    ASSERT_TRUE(deep.made());
    ASSERT_GT(deep.path().size(), 4096U);
    EXPECT_FALSE(FileExists(deep.path()));
    std::string text = "keep";
    const FileStatus s = LoadFile(deep.path(), text);
    EXPECT_EQ(s.errnum, ENAMETOOLONG);
    EXPECT_EQ(describe(s), "file name too long");
    EXPECT_EQ(text, "keep");
}

// Reads a file in 4 KiB pieces while another program changes it after each piece.
std::string readWhileChanging(const std::string& path, const std::function<void(const std::string&)>& change)
{
    FileReader reader;
    std::string seen;
    if (!reader.open(path))
        return seen;
    // Bounded, so that a reader that chases the writer fails the test instead of hanging it.
    for (int pieces = 0; pieces < 1000; ++pieces) {
        std::string_view piece;
        if (!reader.next(piece, 4096) || piece.empty())
            break;
        seen.append(piece);
        change(path);
    }
    return seen;
}

// Another program appending to a file each time this one reads from it, as a logger or a game
// writing its config would. read and pread are replaced for this whole test program; they only
// append while a path is set, and stop after kMaxAppends so that a reader that chases the writer
// fails the test instead of hanging it.
namespace grower {
std::atomic<const char*> path { nullptr };
std::atomic<int> appends { 0 };
constexpr int kMaxAppends = 2000;

void afterRead()
{
    const char* p = path.load();
    if (p == nullptr || appends.fetch_add(1) >= kMaxAppends)
        return;
    static const std::string block = [] {
        std::string b;
        while (b.size() < 4096)
            b += "seta cg_b 1\n";
        return b;
    }();
    const int fd = ::open(p, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0 && ::write(fd, block.data(), block.size()) < 0)
        path = nullptr;
    ::close(fd);
}
} // namespace grower

} // namespace

extern "C" ssize_t read(int fd, void* buf, size_t n)
{
    const auto got = static_cast<ssize_t>(::syscall(SYS_read, fd, buf, n));
    grower::afterRead();
    return got;
}

extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset)
{
    const auto got = static_cast<ssize_t>(::syscall(SYS_pread64, fd, buf, n, offset));
    grower::afterRead();
    return got;
}

namespace {

TEST(ChangingFile, KeptGrowingIsReadUpToItsSizeAtOpening)
{
    TempDir dir;
    std::string original;
    while (original.size() < 300000)
        original += "seta r_a 1\n";
    const std::string path = dir.write("grow.cfg", original);
    const std::size_t lines = original.size() / 11;
    const CvarList list = listOf({ "r_a", "cg_b" });

    grower::appends = 0;
    grower::path = path.c_str();
    const Scanned r = scanFile(path, Matcher(list));
    const auto sizeAtOpening = std::filesystem::file_size(path);
    std::string text;
    const FileStatus loaded = LoadFile(path, text);
    grower::path = nullptr;

    EXPECT_LT(grower::appends.load(), grower::kMaxAppends) << "the reader chased the writer";
    ASSERT_TRUE(r) << describe(r.file);
    EXPECT_EQ(r.lines, lines);
    EXPECT_EQ(r.findings.size(), lines) << "lines appended after opening were read";
    ASSERT_TRUE(loaded);
    EXPECT_EQ(text.size(), sizeAtOpening);
}

TEST(ChangingFile, ShrinkingEndsTheReadEarly)
{
    TempDir dir;
    const std::string original = "seta r_a 1\n" + std::string(10000, 'z');
    const std::string path = dir.write("shrink.cfg", original);
    const std::string seen
        = readWhileChanging(path, [](const std::string& p) { std::filesystem::resize_file(p, 100); });
    EXPECT_TRUE(seen == original.substr(0, 4096));
}

TEST(ChangingFile, ReplacedWhileReadKeepsTheOpenedFile)
{
    TempDir dir;
    const std::string original = "seta r_a 1\n" + std::string(10000, 'z');
    const std::string path = dir.write("swap.cfg", original);
    const std::string seen = readWhileChanging(path,
        [&dir](const std::string& p) { std::filesystem::rename(dir.write("other", "seta cg_b 1\n"), p); });
    EXPECT_TRUE(seen == original);
}

// Runs body as the user nobody in a child process and returns its exit status; root reads any
// file, so permissions only deny when the privileges are gone. -1: could not switch user.
int asNobody(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        return -2;
    return WEXITSTATUS(status) == 100 ? -1 : WEXITSTATUS(status);
}

struct DenialCase {
    const char* label;
    void (*lock)(const std::filesystem::path& dir, const std::string& file);
    FileError error;
    const char* message;
};

class PermissionDenied : public ::testing::TestWithParam<DenialCase> { };

TEST_P(PermissionDenied, IsReportedAsSuch)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to the user nobody; LoadFile.UnreadableWhenPermissionDenied "
                        "covers an ordinary user";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::filesystem::path sub = dir.path() / "sub";
    const std::string path = dir.write("sub/locked.cfg", "seta r_a 1\n");
    ::chmod(sub.c_str(), 0755);
    GetParam().lock(sub, path);

    const DenialCase c = GetParam();
    const int status = asNobody([&] {
        std::string text = "keep";
        const FileStatus s = LoadFile(path, text);
        const ListResult list = LoadCvars(path);
        const bool ok = s.error == c.error && s.errnum == EACCES && describe(s) == c.message && text == "keep"
            && !list && describe(list.file) == c.message;
        return ok ? 0 : 1;
    });
    if (status == -1)
        GTEST_SKIP() << "cannot switch to the user nobody (no CAP_SETUID here)";
    EXPECT_EQ(status, 0) << "expected \"" << c.message << "\" from LoadFile and LoadCvars";
}

INSTANTIATE_TEST_SUITE_P(Modes, PermissionDenied,
    ::testing::Values(
        DenialCase { "unreadableFile",
            [](const std::filesystem::path&, const std::string& f) { ::chmod(f.c_str(), 0600); },
            FileError::Unreadable, "cannot read: Permission denied" },
        DenialCase { "unsearchableFolder",
            [](const std::filesystem::path& d, const std::string&) { ::chmod(d.c_str(), 0700); },
            FileError::Missing, "permission denied" }),
    tromel::testing::ByLabel());

} // namespace
