#include "CvarList.h"
#include "Encoding.h"
#include "MFileOp.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tromel;
using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

// Every byte as it is, or the first byteLimit of them; the line splitting itself is in the fuzz
// seeds under tests/fuzz/seeds/lines.
TEST(LoadFile, ThreeFormsKeepEveryByteUpToTheLimit)
{
    TempDir dir;
    const std::string bytes = "seta x \xE9\0\r\n\ny"s;
    const std::string path = dir.write("f", bytes);

    std::string text;
    for (const std::int64_t noLimit : { 0, -1, 100 }) {
        ASSERT_TRUE(LoadFile(path, text, noLimit));
        EXPECT_EQ(text, bytes);
    }
    std::vector<std::uint8_t> raw;
    ASSERT_TRUE(LoadFile(path, raw));
    EXPECT_EQ(std::string(raw.begin(), raw.end()), bytes);

    LineList lines;
    ASSERT_TRUE(LoadFile(path, lines, 12)); // up to the last break
    EXPECT_EQ(lines.toStrings(), std::vector<std::string> { "seta x \xE9\0"s });
    ASSERT_TRUE(LoadFile(path, lines));
    EXPECT_EQ(lines.toStrings(), (std::vector<std::string> { "seta x \xE9\0"s, "y" }));
    // Only line breaks: no lines, and none left from before.
    EXPECT_EQ(LoadFile(dir.write("breaks", "\r\n\n"), lines).error, FileError::NoLines);
    EXPECT_TRUE(lines.empty());
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
            "devZero", FileError::NotRegular, kNotRegular, [](const TempDir&) { return "/dev/zero"s; } },
        FailCase { "dangling", FileError::Missing, "no such file",
            [](const TempDir& d) { return d.symlink("nowhere", "dangling"); } },
        FailCase { "loop", FileError::Missing, "too many levels of symbolic links",
            [](const TempDir& d) {
                d.symlink("a", "b");
                return d.symlink("b", "a");
            } }),
    tromel::testing::ByLabel());
#endif

// Only spaces split the header; the other headers and names are in the fuzz seeds under
// tests/fuzz/seeds/list, replayed against a plain reading.
TEST(ParseCvars, TabsAreNotSeparators)
{
    const ListResult r = parseCvars(LineList(std::string("a\tb\t1.x\nr_a")));
    EXPECT_EQ(r.error, ListError::TooFewFields);
    EXPECT_FALSE(r.message.empty());
}

TEST(LoadCvars, EmptyListsCountZeroAndHaveNoHeader)
{
    TempDir dir;
    for (const char* bytes : { "", "\r\n\r\n" }) {
        const ListResult r = LoadCvars(dir.write("cvars.ini", bytes));
        ASSERT_TRUE(r) << r.message;
        EXPECT_FALSE(r.list.hasHeader);
        EXPECT_EQ(r.list.count(), 0U);
        EXPECT_EQ(r.list.names, std::vector<std::string> { "" });
    }
}

// Names, paths and list headers are shown as UTF-8 when they are valid UTF-8, else as Windows-1252.
TEST(Encoding, Utf8ElseWindows1252)
{
    const std::vector<std::pair<std::string, std::string>> rows {
        { "caf\xC3\xA9", "caf\xC3\xA9" }, // valid, ending on a 2-byte character
        { "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80" }, // 4 bytes, at the end
        { "\xE6\x97\x41", "\xC3\xA6\xE2\x80\x94\x41" }, // a bad third byte
        { "\xF0\x9F\x98\x41", "\xC3\xB0\xC5\xB8\xCB\x9C\x41" }, // a bad fourth byte
        { "\xE0\x80\x80", "\xC3\xA0\xE2\x82\xAC\xE2\x82\xAC" }, // overlong
        { "\xC3", "\xC3\x83" }, // cut
        { "\x81\xFF", "\xC2\x81\xC3\xBF" }, // unassigned in Windows-1252
    };
    for (const auto& [bytes, shown] : rows)
        EXPECT_EQ(nameToUtf8(bytes), shown) << bytes;
    EXPECT_EQ(latin1ToUtf8("\x80\xE9"), "\xC2\x80\xC3\xA9");
}

} // namespace
