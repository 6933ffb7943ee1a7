#include "MFileOp.h"
#include "Reader.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tromel;
using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

std::vector<std::string> split(std::string_view data)
{
    return LineList(std::string(data)).toStrings();
}

struct SplitCase {
    const char* label;
    std::string bytes;
    std::vector<std::string> lines;
};

class Split : public ::testing::TestWithParam<SplitCase> { };

TEST_P(Split, NonEmptyLinesBetweenBreaks)
{
    EXPECT_EQ(split(GetParam().bytes), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Breaks, Split,
    ::testing::Values(SplitCase { "crlf", "a\r\nb", { "a", "b" } },
        SplitCase { "lf", "a\nb\n", { "a", "b" } }, SplitCase { "cr", "a\rb\r", { "a", "b" } },
        SplitCase { "lfcr", "a\n\rb", { "a", "b" } }, SplitCase { "blankRun", "a\n\n\nb\n", { "a", "b" } },
        SplitCase { "breakFirst", "\r\nx", { "x" } }, SplitCase { "loneLf", "\n", {} },
        SplitCase { "onlyBreaks", "\r\n\r\n\n\r", {} }, SplitCase { "oneByte", "x", { "x" } },
        SplitCase { "lastWithoutBreak", "a\nbc", { "a", "bc" } },
        SplitCase { "spacesTabsKept", " a\t \n\t", { " a\t ", "\t" } },
        SplitCase { "nulAndHighBytes", "a\0b\n\xE9\xFF"s, { "a\0b"s, "\xE9\xFF" } },
        SplitCase { "mixedRun", "x\r\r\n\n\ry", { "x", "y" } }),
    tromel::testing::ByLabel());

TEST(LoadFile, ByteLimitReadsOnlyTheHead)
{
    TempDir dir;
    const std::string path = dir.write("f", "abc\r\ndef");
    LineList lines;
    ASSERT_TRUE(LoadFile(path, lines, 5));
    EXPECT_EQ(lines.toStrings(), std::vector<std::string> { "abc" });

    std::string text;
    ASSERT_TRUE(LoadFile(path, text, 0));
    EXPECT_EQ(text, "abc\r\ndef");
    ASSERT_TRUE(LoadFile(path, text, -1));
    EXPECT_EQ(text, "abc\r\ndef");
    ASSERT_TRUE(LoadFile(path, text, 100));
    EXPECT_EQ(text, "abc\r\ndef");
}

TEST(LoadFile, ThreeFormsKeepEveryByte)
{
    TempDir dir;
    const std::string bytes = "seta x \xE9\0\n\ny"s;
    const std::string path = dir.write("f", bytes);

    std::string text;
    ASSERT_TRUE(LoadFile(path, text));
    EXPECT_EQ(text, bytes);

    std::vector<std::uint8_t> raw;
    ASSERT_TRUE(LoadFile(path, raw));
    EXPECT_EQ(std::string(raw.begin(), raw.end()), bytes);

    LineList lines;
    ASSERT_TRUE(LoadFile(path, lines));
    EXPECT_EQ(lines.toStrings(), (std::vector<std::string> { "seta x \xE9\0"s, "y" }));
}

// Sizes are 64-bit: a file of exactly 4 GiB is not taken for an empty one.
TEST(LoadFile, SizeBeyondThirtyTwoBits)
{
    TempDir dir;
    const std::string path = dir.write("sparse", "");
    if (::truncate(path.c_str(), std::int64_t { 1 } << 32) != 0)
        GTEST_SKIP() << "this file system cannot hold a sparse 4 GiB file";
    std::string text;
    ASSERT_TRUE(LoadFile(path, text, 5));
    EXPECT_EQ(text, std::string(5, '\0'));
}

TEST(LoadFile, OnlyBreaksClearsLinesAndFails)
{
    TempDir dir;
    LineList lines(std::string("old"));
    const FileStatus s = LoadFile(dir.write("f", "\r\n\n"), lines);
    EXPECT_EQ(s.error, FileError::NoLines);
    EXPECT_TRUE(lines.empty());
}

// Each failure leaves the caller's output as it was.
struct FailCase {
    const char* label;
    FileError expected;
    std::string (*make)(const TempDir&);
};

class LoadFailure : public ::testing::TestWithParam<FailCase> { };

TEST_P(LoadFailure, KeepsPreviousContent)
{
    TempDir dir;
    const std::string path = GetParam().make(dir);
    EXPECT_EQ(FileExists(path), GetParam().expected == FileError::Empty);

    std::string text = "keep";
    std::vector<std::uint8_t> raw { 1, 2 };
    LineList lines(std::string("keep"));
    EXPECT_EQ(LoadFile(path, text).error, GetParam().expected);
    EXPECT_EQ(LoadFile(path, raw).error, GetParam().expected);
    EXPECT_EQ(LoadFile(path, lines).error, GetParam().expected);
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(raw, (std::vector<std::uint8_t> { 1, 2 }));
    EXPECT_EQ(lines.toStrings(), std::vector<std::string> { "keep" });
}

INSTANTIATE_TEST_SUITE_P(Paths, LoadFailure,
    ::testing::Values(FailCase { "missing", FileError::Missing,
                          [](const TempDir& d) { return (d.path() / "none").string(); } },
        FailCase { "emptyPath", FileError::Missing, [](const TempDir&) { return std::string(); } },
        FailCase {
            "missingDir", FileError::Missing, [](const TempDir& d) { return (d.path() / "x/y").string(); } },
        FailCase { "directory", FileError::NotRegular, [](const TempDir& d) { return d.path().string(); } },
        FailCase { "fifo", FileError::NotRegular, [](const TempDir& d) { return d.fifo("fifo"); } },
        FailCase { "socket", FileError::NotRegular, [](const TempDir& d) { return d.socket("sock"); } },
        FailCase {
            "devZero", FileError::NotRegular, [](const TempDir&) { return std::string("/dev/zero"); } },
        FailCase {
            "devNull", FileError::NotRegular, [](const TempDir&) { return std::string("/dev/null"); } },
        FailCase { "dangling", FileError::Missing,
            [](const TempDir& d) { return d.symlink("nowhere", "dangling"); } },
        FailCase { "loop", FileError::Missing,
            [](const TempDir& d) {
                d.symlink("a", "b");
                return d.symlink("b", "a");
            } },
        FailCase { "empty", FileError::Empty, [](const TempDir& d) { return d.write("e", ""); } }),
    tromel::testing::ByLabel());

TEST(FileExists, RegularFilesAndLinksToThem)
{
    TempDir dir;
    const std::string file = dir.write("f.cfg", "");
    EXPECT_TRUE(FileExists(file)); // empty but existing
    const auto link = (dir.path() / "link").string();
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    EXPECT_TRUE(FileExists(link));
    EXPECT_FALSE(FileExists(dir.path().string()));
}

TEST(LoadFile, UnreadableWhenPermissionDenied)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: permissions do not deny reading";
    TempDir dir;
    const std::string path = dir.write("locked", "seta x 1");
    ::chmod(path.c_str(), 0);
    std::string text = "keep";
    EXPECT_EQ(LoadFile(path, text).error, FileError::Unreadable);
    EXPECT_EQ(text, "keep");
}

TEST(FileReader, DeliversEveryByteInPieces)
{
    TempDir dir;
    std::string bytes(10000, 'x');
    for (std::size_t i = 0; i < bytes.size(); i += 7)
        bytes[i] = static_cast<char>(i & 0xFF);
    FileReader reader;
    ASSERT_TRUE(reader.open(dir.write("f", bytes)));
    std::string seen;
    int pieces = 0;
    for (std::string_view piece; reader.next(piece, 4096) && !piece.empty(); ++pieces)
        seen.append(piece);
    EXPECT_EQ(seen, bytes);
    EXPECT_EQ(pieces, 3);
}

} // namespace
