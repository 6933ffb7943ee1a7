#include "CvarList.h"
#include "Encoding.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tromel;
using tromel::testing::TempDir;

namespace {

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
