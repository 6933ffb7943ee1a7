#include "MFileOp.h"
#include "Reader.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

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

// The fuzz seeds under tests/fuzz/seeds/lines hold the other mixes of breaks.
INSTANTIATE_TEST_SUITE_P(Breaks, Split,
    ::testing::Values(SplitCase { "lfcrAndBlankRuns", "a\n\rb\r\r\n\n\r", { "a", "b" } },
        SplitCase { "lastWithoutBreak", "\r\na\nbc", { "a", "bc" } },
        SplitCase { "bytesKept", " a\t\0\n\xE9\xFF"s, { " a\t\0"s, "\xE9\xFF" } }),
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
    std::error_code ec;
    std::filesystem::resize_file(platform::pathFromUtf8(path), std::uintmax_t { 1 } << 32, ec);
    if (ec)
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

// Each failure is named as the user will read it, and leaves the caller's output as it was.
struct FailCase {
    const char* label;
    FileError expected;
    const char* message;
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
    const FileStatus status = LoadFile(path, text);
    EXPECT_EQ(status.error, GetParam().expected);
    EXPECT_EQ(describe(status), GetParam().message);
    EXPECT_EQ(LoadFile(path, raw).error, GetParam().expected);
    EXPECT_EQ(LoadFile(path, lines).error, GetParam().expected);
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(raw, (std::vector<std::uint8_t> { 1, 2 }));
    EXPECT_EQ(lines.toStrings(), std::vector<std::string> { "keep" });
}

// Longer than the system takes (PATH_MAX; on Windows 32,767 characters): named, never cut.
std::string longerThanTheSystemTakes(const TempDir& d)
{
    std::string path = tromel::testing::utf8(d.path());
#if defined(_WIN32)
    while (path.size() <= 33000)
        path += "\\folder";
#else
    while (path.size() <= 4200)
        path += "/folder";
#endif
    return path + "/f.cfg";
}

constexpr const char* kNotRegular = "not a regular file";

INSTANTIATE_TEST_SUITE_P(Paths, LoadFailure,
    ::testing::Values(FailCase { "missing", FileError::Missing, "no such file",
                          [](const TempDir& d) { return (d.path() / "none").string(); } },
        FailCase {
            "emptyPath", FileError::Missing, "no such file", [](const TempDir&) { return std::string(); } },
        FailCase { "missingDir", FileError::Missing, "no such file",
            [](const TempDir& d) { return (d.path() / "x/y").string(); } },
        FailCase { "directory", FileError::NotRegular, kNotRegular,
            [](const TempDir& d) { return d.path().string(); } },
        FailCase { "nulInName", FileError::Missing, "no such file",
            [](const TempDir& d) { return d.write("f", "x") + "\0x"s; } },
        FailCase { "nameLongerThan255", FileError::Missing, "file name too long",
            [](const TempDir& d) { return d.path(std::string(256, 'n')); } },
        FailCase {
            "longerThanTheSystemTakes", FileError::Missing, "file name too long", longerThanTheSystemTakes },
        FailCase {
            "empty", FileError::Empty, "file is empty", [](const TempDir& d) { return d.write("e", ""); } }),
    tromel::testing::ByLabel());

// What the system has beside files; on Windows, device names are such whatever the folder or
// extension, and are never opened, so never waited on.
#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(WindowsPaths, LoadFailure,
    ::testing::Values(
        FailCase { "nul", FileError::NotRegular, kNotRegular, [](const TempDir&) { return "nul"s; } },
        FailCase { "reservedNameInAFolder", FileError::NotRegular, kNotRegular,
            [](const TempDir& d) { return d.path("con.cfg"); } },
        FailCase { "serialPort", FileError::NotRegular, kNotRegular, [](const TempDir&) { return "COM1"s; } },
        FailCase { "namedPipe", FileError::NotRegular, kNotRegular,
            [](const TempDir&) { return R"(\\.\pipe\tromel)"s; } },
        FailCase {
            "volume", FileError::NotRegular, kNotRegular, [](const TempDir&) { return R"(\\.\C:)"s; } }),
    tromel::testing::ByLabel());
#else
INSTANTIATE_TEST_SUITE_P(PosixPaths, LoadFailure,
    ::testing::Values(FailCase { "fifo", FileError::NotRegular, kNotRegular,
                          [](const TempDir& d) { return d.fifo("fifo"); } },
        FailCase {
            "socket", FileError::NotRegular, kNotRegular, [](const TempDir& d) { return d.socket("sock"); } },
        FailCase {
            "devZero", FileError::NotRegular, kNotRegular, [](const TempDir&) { return "/dev/zero"s; } },
        FailCase {
            "devNull", FileError::NotRegular, kNotRegular, [](const TempDir&) { return "/dev/null"s; } },
        FailCase { "dangling", FileError::Missing, "no such file",
            [](const TempDir& d) { return d.symlink("nowhere", "dangling"); } },
        FailCase { "loop", FileError::Missing, "too many levels of symbolic links",
            [](const TempDir& d) {
                d.symlink("a", "b");
                return d.symlink("b", "a");
            } }),
    tromel::testing::ByLabel());
#endif

TEST(FileExists, RegularFilesAndLinksToThem)
{
    TempDir dir;
    const std::string file = dir.write("f.cfg", "");
    EXPECT_TRUE(FileExists(file)); // empty but existing
    EXPECT_FALSE(FileExists(dir.path().string()));
#if !defined(_WIN32)
    EXPECT_TRUE(FileExists(dir.symlink(file, "link")));
#endif
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
