#include "CvarList.h"
#include "Encoding.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tromel;
using tromel::testing::TempDir;

namespace {

struct HeaderCase {
    const char* label;
    std::string file;
    ListError error;
    std::string version;
    std::string date;
    std::vector<std::string> names; // after the empty element 0
};

class Header : public ::testing::TestWithParam<HeaderCase> { };

TEST_P(Header, Parses)
{
    const HeaderCase& c = GetParam();
    const ListResult r = parseCvars(LineList(c.file));
    ASSERT_EQ(r.error, c.error) << r.message;
    if (c.error != ListError::None) {
        EXPECT_FALSE(r.message.empty());
        return;
    }
    EXPECT_EQ(r.list.version, c.version);
    EXPECT_EQ(r.list.date, c.date);
    std::vector<std::string> expected { "" };
    expected.insert(expected.end(), c.names.begin(), c.names.end());
    EXPECT_EQ(r.list.names, expected);
    EXPECT_EQ(r.list.count(), c.names.size());
}

// The fuzz seeds under tests/fuzz/seeds/list hold more.
INSTANTIATE_TEST_SUITE_P(Lists, Header,
    ::testing::Values(HeaderCase { "typical", "list v 1.25-02-2007\r\nr_a\r\n\r\nr_b\r\n", ListError::None,
                          "1", "25-02-2007", { "r_a", "r_b" } },
        HeaderCase { "lastDotSplits", "a b 2.1.03-01-2007 e f", ListError::None, "2.1", "03-01-2007", {} },
        HeaderCase { "emptyVersion", "a b .x", ListError::None, "", "x", {} },
        HeaderCase { "namesTakenWhole", "a b 1.x\nr_a \n r_b\n// c\nr_a", ListError::None, "1", "x",
            { "r_a ", " r_b", "// c", "r_a" } },
        HeaderCase { "doubleSpaceShiftsFields", "a  b 1.x", ListError::NoVersionDot, "", "", {} },
        HeaderCase { "twoFields", "a 1.x\nr_a", ListError::TooFewFields, "", "", {} },
        HeaderCase { "tabsAreNotSeparators", "a\tb\t1.x", ListError::TooFewFields, "", "", {} }),
    tromel::testing::ByLabel());

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

TEST(LoadCvars, MissingOrDirectoryIsNotFound)
{
    TempDir dir;
    EXPECT_EQ(LoadCvars((dir.path() / "cvars.ini").string()).error, ListError::NotFound);
    std::filesystem::create_directory(dir.path() / "cvars.ini");
    const ListResult r = LoadCvars((dir.path() / "cvars.ini").string());
    EXPECT_EQ(r.error, ListError::NotFound);
    EXPECT_EQ(r.message, "cvars.ini not found.");
}

// Names, paths and list headers are shown as UTF-8 when they are valid UTF-8, else as Windows-1252.
TEST(Encoding, Utf8ElseWindows1252)
{
    const std::vector<std::pair<std::string, std::string>> rows {
        { "caf\xC3\xA9", "caf\xC3\xA9" }, // valid, ending on a 2-byte character
        { "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80" }, // 4 bytes, at the end
        { "\xE6\x97"
          "A",
            "\xC3\xA6\xE2\x80\x94"
            "A" }, // a bad third byte
        { "\xF0\x9F\x98"
          "A",
            "\xC3\xB0\xC5\xB8\xCB\x9C"
            "A" }, // a bad fourth byte
        { "\xE0\x80\x80", "\xC3\xA0\xE2\x82\xAC\xE2\x82\xAC" }, // overlong
        { "\xC3", "\xC3\x83" }, // cut
        { "\x81\xFF", "\xC2\x81\xC3\xBF" }, // unassigned in Windows-1252
    };
    for (const auto& [bytes, shown] : rows)
        EXPECT_EQ(nameToUtf8(bytes), shown) << bytes;
    EXPECT_EQ(latin1ToUtf8("\x80\xE9"), "\xC2\x80\xC3\xA9");
}

} // namespace
