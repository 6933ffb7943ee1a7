#include "CvarList.h"
#include "ReferenceScan.h"
#include "Report.h"
#include "Scanner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace tromel;
using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

CvarList makeList(std::vector<std::string> names)
{
    CvarList list;
    list.hasHeader = true;
    list.names.insert(list.names.end(), names.begin(), names.end());
    return list;
}

std::vector<std::string> reportOf(const CvarList& list, std::string_view config)
{
    const Matcher matcher(list);
    const std::vector<Finding> findings = scanBuffer(config, matcher);
    return Report(list, findings).items();
}

struct RuleCase {
    const char* label;
    std::string config;
    std::vector<std::string> items; // findings only; " " and the total are checked separately
};

class Rule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(Rule, ReportsExactly)
{
    const CvarList list = makeList({"r_a", "cg_b"});
    std::vector<std::string> expected = GetParam().items;
    expected.push_back(" ");
    expected.push_back("Total: " + std::to_string(GetParam().items.size()) + " cvars interdite");
    EXPECT_EQ(reportOf(list, GetParam().config), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Matching, Rule,
    ::testing::Values(
        RuleCase{"twoLines", "seta r_a 1\nseta cg_b 0\n", {"Ligne: 0 - r_a", "Ligne: 1 - cg_b"}},
        RuleCase{"blankLinesDoNotCount", "\n\nset r_a 1", {"Ligne: 0 - r_a"}},
        RuleCase{"setAlone", "set r_a 1", {"Ligne: 0 - r_a"}},
        RuleCase{"noSet", "bind x r_a 1", {}},
        RuleCase{"caseDiffers", "seta R_A 1", {}},
        RuleCase{"setCaseDiffers", "SETA r_a 1", {}},
        RuleCase{"oncePerPair", "seta r_a 1 r_a 2", {"Ligne: 0 - r_a"}},
        RuleCase{"twoNamesListOrder", "seta cg_b r_a ", {"Ligne: 0 - r_a", "Ligne: 0 - cg_b"}},
        RuleCase{"finalSpace", "seta r_a cg_b ", {"Ligne: 0 - r_a", "Ligne: 0 - cg_b"}},
        RuleCase{"longerName", "seta r_ab 1", {}},
        RuleCase{"atLineEnd", "seta r_a", {}},
        RuleCase{"atLineStart", "r_a set 1", {}},
        RuleCase{"quoted", "seta \"r_a\" 1", {}},
        RuleCase{"tabbed", "seta\tr_a\t1", {}},
        RuleCase{"setAfterName", "bind x r_a ;reset", {"Ligne: 0 - r_a"}},
        RuleCase{"setInsideWord", "x r_a offset", {"Ligne: 0 - r_a"}},
        RuleCase{"crlfAndIndices", "seta x 1\r\n\r\nseta r_a 1\r\nseta cg_b 1\r\n",
                 {"Ligne: 1 - r_a", "Ligne: 2 - cg_b"}},
        RuleCase{"sharedSpace", "seta r_a cg_b 1", {"Ligne: 0 - r_a", "Ligne: 0 - cg_b"}}),
    tromel::testing::ByLabel());

TEST(Scan, DuplicatesTrailingSpacesAndEmptyNames)
{
    // Index 2 is empty and never matches; 1 and 4 are the same name and both report.
    const CvarList list = makeList({"r_a", "", "x y", "r_a", "r_b ", " "});
    EXPECT_EQ(reportOf(list, "seta r_a 1\nset x y 1\nset r_b  1\nset   x"),
              (std::vector<std::string>{"Ligne: 0 - r_a", "Ligne: 0 - r_a", "Ligne: 1 - x y", "Ligne: 2 - r_b ",
                                        "Ligne: 3 -  ", " ", "Total: 5 cvars interdite"}));
}

TEST(Scan, EmptyListReportsOnlyTheTotal)
{
    EXPECT_EQ(reportOf(makeList({}), "seta r_a 1"), (std::vector<std::string>{" ", "Total: 0 cvars interdite"}));
}

TEST(CheckConfig, FilesAndTheirFailures)
{
    TempDir dir;
    const CvarList list = makeList({"r_a"});
    const Matcher matcher(list);

    const ScanResult ok = CheckConfig(dir.write("a.cfg", "seta r_a 1\nseta r_a 2"), matcher);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok.findings, (std::vector<Finding>{{0, 1}, {1, 1}}));
    EXPECT_EQ(ok.lines, 2U);

    EXPECT_EQ(CheckConfig(dir.write("e.cfg", ""), matcher).file.error, FileError::Empty);
    EXPECT_EQ(CheckConfig(dir.write("b.cfg", "\r\n\n"), matcher).file.error, FileError::NoLines);
    EXPECT_EQ(CheckConfig(dir.path().string(), matcher).file.error, FileError::NotRegular);
    EXPECT_EQ(CheckConfig((dir.path() / "no.cfg").string(), matcher).file.error, FileError::Missing);
}

// Random lists and configs from a small alphabet, so that near misses, names with spaces, names at
// line ends, duplicates, high bytes and every break mix come up often.
class Differential : public ::testing::TestWithParam<unsigned> {};

std::string randomText(std::mt19937& rng, std::size_t maxLen, std::string_view alphabet)
{
    std::uniform_int_distribution<std::size_t> len(0, maxLen);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = alphabet[pick(rng)];
    return s;
}

TEST_P(Differential, MatchesThePlainRuleAtEveryChunkSize)
{
    std::mt19937 rng(GetParam());
    const std::string_view nameBytes = "ab \xE9s";
    const std::string_view configBytes = std::string_view("ab \xE9set\r\n\t\0", 11);
    for (int round = 0; round < 40; ++round) {
        std::vector<std::string> names;
        const int count = std::uniform_int_distribution<int>(0, 8)(rng);
        for (int i = 0; i < count; ++i)
            names.push_back(randomText(rng, 4, nameBytes));
        const CvarList list = makeList(names);
        const Matcher matcher(list);
        const std::string config = randomText(rng, 300, configBytes);
        const std::vector<Finding> expected = reference::scan(config, list);

        ASSERT_EQ(scanBuffer(config, matcher), expected) << "seed " << GetParam() << " round " << round;
        for (std::size_t chunk : {1U, 2U, 3U, 5U, 13U}) {
            ScanStream stream(matcher);
            for (std::size_t i = 0; i < config.size(); i += chunk)
                stream.onChunk(std::string_view(config).substr(i, chunk));
            stream.finish();
            ASSERT_EQ(stream.findings(), expected) << "seed " << GetParam() << " round " << round << " chunk " << chunk;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential, ::testing::Range(1U, 41U));

TEST(Report, ItemsAreMadeOnDemand)
{
    const CvarList list = makeList({"r_a", "\xE9t\xE9"});
    const std::vector<Finding> findings{{12, 2}, {3000000000ULL, 1}};
    const Report report(list, findings);
    ASSERT_EQ(report.size(), 4U);
    EXPECT_EQ(report.item(0), "Ligne: 12 - \xE9t\xE9");
    EXPECT_EQ(report.item(1), "Ligne: 3000000000 - r_a");
    EXPECT_EQ(report.item(2), " ");
    EXPECT_EQ(report.item(3), "Total: 2 cvars interdite");
}

} // namespace
