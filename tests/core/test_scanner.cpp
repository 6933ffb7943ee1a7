#include "CvarList.h"
#include "PlainScan.h"
#include "ReferenceScan.h"
#include "Report.h"
#include "Scanner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace tromel;
using tromel::testing::listOf;
using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

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

class Rule : public ::testing::TestWithParam<RuleCase> { };

TEST_P(Rule, ReportsExactly)
{
    const CvarList list = listOf({ "r_a", "cg_b" });
    std::vector<std::string> expected = GetParam().items;
    expected.push_back(" ");
    expected.push_back("Total: " + std::to_string(GetParam().items.size()) + " cvars interdite");
    EXPECT_EQ(reportOf(list, GetParam().config), expected);
}

INSTANTIATE_TEST_SUITE_P(Matching, Rule,
    ::testing::Values(
        RuleCase { "twoLines", "seta r_a 1\nseta cg_b 0\n", { "Ligne: 0 - r_a", "Ligne: 1 - cg_b" } },
        RuleCase { "blankLinesDoNotCount", "\n\nset r_a 1", { "Ligne: 0 - r_a" } },
        RuleCase { "setAlone", "set r_a 1", { "Ligne: 0 - r_a" } }, RuleCase { "noSet", "bind x r_a 1", {} },
        RuleCase { "caseDiffers", "seta R_A 1", {} }, RuleCase { "setCaseDiffers", "SETA r_a 1", {} },
        RuleCase { "oncePerPair", "seta r_a 1 r_a 2", { "Ligne: 0 - r_a" } },
        RuleCase { "twoNamesListOrder", "seta cg_b r_a ", { "Ligne: 0 - r_a", "Ligne: 0 - cg_b" } },
        RuleCase { "finalSpace", "seta r_a cg_b ", { "Ligne: 0 - r_a", "Ligne: 0 - cg_b" } },
        RuleCase { "longerName", "seta r_ab 1", {} }, RuleCase { "atLineEnd", "seta r_a", {} },
        RuleCase { "atLineStart", "r_a set 1", {} }, RuleCase { "quoted", "seta \"r_a\" 1", {} },
        RuleCase { "tabbed", "seta\tr_a\t1", {} },
        RuleCase { "setAfterName", "bind x r_a ;reset", { "Ligne: 0 - r_a" } },
        RuleCase { "setInsideWord", "x r_a offset", { "Ligne: 0 - r_a" } },
        RuleCase { "crlfAndIndices", "seta x 1\r\n\r\nseta r_a 1\r\nseta cg_b 1\r\n",
            { "Ligne: 1 - r_a", "Ligne: 2 - cg_b" } },
        RuleCase { "sharedSpace", "seta r_a cg_b 1", { "Ligne: 0 - r_a", "Ligne: 0 - cg_b" } }),
    tromel::testing::ByLabel());

TEST(Scan, DuplicatesTrailingSpacesAndEmptyNames)
{
    // Index 2 is empty and never matches; 1 and 4 are the same name and both report.
    const CvarList list = listOf({ "r_a", "", "x y", "r_a", "r_b ", " " });
    EXPECT_EQ(reportOf(list, "seta r_a 1\nset x y 1\nset r_b  1\nset   x"),
        (std::vector<std::string> { "Ligne: 0 - r_a", "Ligne: 0 - r_a", "Ligne: 1 - x y", "Ligne: 2 - r_b ",
            "Ligne: 3 -  ", " ", "Total: 5 cvars interdite" }));
}

TEST(Scan, EmptyListReportsOnlyTheTotal)
{
    EXPECT_EQ(
        reportOf(listOf({}), "seta r_a 1"), (std::vector<std::string> { " ", "Total: 0 cvars interdite" }));
}

// The scanner fed in pieces of random sizes up to each bound in turn (empty ones too), and whole,
// against the plain rule: findings and line count. Small bounds put seams inside names, gaps,
// "set", runs of spaces and CR LF pairs.
::testing::AssertionResult scansLikeReference(
    const CvarList& list, std::string_view config, std::mt19937& rng)
{
    const Matcher matcher(list);
    const std::vector<Finding> expected = reference::scan(config, list);
    if (scanBuffer(config, matcher) != expected)
        return ::testing::AssertionFailure() << "scanBuffer differs";
    std::uint64_t lines = 0;
    forEachLine(config, [&](std::string_view) { ++lines; });
    for (std::size_t most : { 1U, 3U, 70U, 1000U }) {
        LineScanner scanner(matcher);
        tromel::testing::Collected got;
        for (std::size_t i = 0; i < config.size();) {
            const std::size_t n = std::min<std::size_t>(rng() % (most + 1), config.size() - i);
            scanner.feed(config.substr(i, n), got);
            i += n;
        }
        scanner.finish(got);
        const std::vector<Finding>& found = got.findings;
        if (found != expected)
            return ::testing::AssertionFailure() << "pieces up to " << most << ": " << found.size()
                                                 << " findings, " << expected.size() << " expected";
        if (scanner.lineCount() != lines)
            return ::testing::AssertionFailure()
                << "pieces up to " << most << ": " << scanner.lineCount() << " lines";
    }
    return ::testing::AssertionSuccess();
}

std::string randomText(std::mt19937& rng, std::size_t maxLen, std::string_view alphabet)
{
    std::string s(rng() % (maxLen + 1), ' ');
    for (char& c : s)
        c = alphabet[rng() % alphabet.size()];
    return s;
}

// Random lists and configs from small alphabets, so that near misses, names with spaces, names of
// spaces, names at line ends, duplicates, high bytes and every break mix come up often; names up to
// 150 bytes are spliced into the config, with long runs of spaces or breaks and long lines.
struct Sample {
    CvarList list;
    std::string config;
};

Sample randomSample(std::mt19937& rng)
{
    const std::string_view nameBytes = "ab \xE9s";
    const std::string_view lineBytes = std::string_view("ab \xE9set\r\n\t\0", 11);
    std::vector<std::string> names;
    for (auto count = rng() % 11; count > 0; --count)
        names.push_back(randomText(rng, rng() % 4 == 0 ? 150 : 6, nameBytes));
    Sample s { listOf(names), {} };
    for (auto pieces = rng() % 40; pieces > 0; --pieces) {
        switch (rng() % 4) {
        case 0:
            s.config += randomText(rng, 200, lineBytes);
            break;
        case 1:
            s.config += randomText(rng, 400, "ab \xE9set   ");
            break;
        case 2:
            s.config += std::string(rng() % 200, rng() % 3 == 0 ? '\n' : ' ');
            break;
        default:
            if (!names.empty())
                s.config += " " + names[rng() % names.size()] + " ";
        }
    }
    return s;
}

class Differential : public ::testing::TestWithParam<unsigned> { };

TEST_P(Differential, MatchesThePlainRuleInAnyPieces)
{
    std::mt19937 rng(GetParam());
    for (int round = 0; round < 30; ++round) {
        const Sample s = randomSample(rng);
        ASSERT_TRUE(scansLikeReference(s.list, s.config, rng)) << "seed " << GetParam() << " round " << round;
    }
}

// A file cut into parts scanned on several threads gives what one scan of it gives.
TEST_P(Differential, FilesCutIntoPartsMatchThePlainRule)
{
    std::mt19937 rng(GetParam() + 1000);
    TempDir dir;
    for (int round = 0; round < 3; ++round) {
        const Sample s = randomSample(rng);
        const std::string path = dir.write("c.cfg", s.config);
        const Matcher matcher(s.list);
        std::uint64_t lines = 0;
        forEachLine(s.config, [&](std::string_view) { ++lines; });
        const std::vector<Finding> expected
            = lines > 0 ? reference::scan(s.config, s.list) : std::vector<Finding> {};
        for (std::size_t parts : { 2U, 7U, 40U }) {
            const tromel::testing::Scanned r = tromel::testing::scanFile(
                path, matcher, ScanPlan { 4, parts, rng() % 2 == 0 ? 64U : 4096U });
            ASSERT_EQ(r.lines, lines) << "seed " << GetParam() << " round " << round << " parts " << parts;
            ASSERT_EQ(r.findings, expected)
                << "seed " << GetParam() << " round " << round << " parts " << parts;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential, ::testing::Range(1U, 41U));

struct CornerCase {
    const char* label;
    std::vector<std::string> names;
    std::string config;
};

class Corners : public ::testing::TestWithParam<CornerCase> { };

TEST_P(Corners, MatchThePlainRule)
{
    std::mt19937 rng(7);
    const CvarList list = listOf(GetParam().names);
    EXPECT_FALSE(reference::scan(GetParam().config, list).empty()); // the case is about finding something
    EXPECT_TRUE(scansLikeReference(list, GetParam().config, rng));
}

std::string spaces(std::size_t n)
{
    return std::string(n, ' ');
}

std::string manyNamesConfig()
{
    std::string line = "set";
    for (int i = 0; i < 40; ++i)
        line.append(" n").append(std::to_string(i));
    return line + " \nn39 n5 x n5 set \nn0 n1 \n";
}

// Short lines of varied length that begin with "set", so that seams fall at every offset of one,
// right after its break too.
std::string setAtLineStarts()
{
    std::string out;
    for (std::size_t i = 0; i < 700; ++i)
        out.append("set r_a ").append(i % 7, 'b').append(i % 3 == 0 ? "\r\n" : "\n");
    return out;
}

std::vector<std::string> manyNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back(std::string("n").append(std::to_string(i)));
    names.push_back("n5"); // a duplicate, reported at both indices
    return names;
}

// "a", "a a", "a a a"...: every name's occurrences hold all the shorter ones.
std::vector<std::string> staircase(std::size_t steps)
{
    std::vector<std::string> names { "a" };
    while (names.size() < steps)
        names.push_back(names.back() + " a");
    return names;
}

std::string repeat(std::string_view s, std::size_t n)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

INSTANTIATE_TEST_SUITE_P(Engine, Corners,
    ::testing::Values(
        CornerCase { "spaceRunsAndNamesOfSpaces", { " ", "   ", " x", "x  ", "y" },
            "set" + spaces(200) + "x" + spaces(70) + "x\n" + spaces(130) + "y" + spaces(64) + "\n set  x  " },
        CornerCase {
            "namesAfterSpaceRuns", { "a", "b c" }, "set" + spaces(300) + "a" + spaces(200) + "b c " },
        CornerCase { "namesOfSpacesLongerThanABlock", { spaces(97), spaces(87), "a" },
            "set" + spaces(40) + "a" + spaces(300) + "\n" + spaces(20) + "set" + spaces(98) + "x" },
        CornerCase { "nameWithManySpaces", { "a" + std::string(3000, ' ') + "a", "a" },
            "set a" + spaces(3000) + "a a " + spaces(5000) },
        CornerCase { "moreNamesOnALineThanALineUsuallyHolds", manyNames(), manyNamesConfig() },
        CornerCase { "namesInsideNames", { "b c", "a b c", "c", "x a b c", "a b", "b c" },
            "set x a b c \nset a b c d\n" },
        CornerCase { "staircase", staircase(40),
            "set " + repeat("a ", 100) + "\n" + repeat("a ", 60) + "\nset a a \n" },
        CornerCase { "namesLongerThanABlock", { std::string(300, 'a'), "a", "a a" },
            " " + std::string(300, 'a') + " set\n a a a set" },
        CornerCase { "setAcrossSeamsAfterBreaks", { "r_a" }, setAtLineStarts() },
        CornerCase { "setAfterALongLine", { "r_a" }, " r_a " + std::string(5000, 'x') + "set" },
        CornerCase { "setBeforeALongLine", { "r_a" }, "set" + std::string(5000, 'x') + " r_a " }),
    tromel::testing::ByLabel());

TEST(Report, ItemsAreMadeOnDemand)
{
    const CvarList list = listOf({ "r_a", "\xE9t\xE9" });
    const std::vector<Finding> findings { { 12, 2 }, { 3000000000ULL, 1 } };
    const Report report(list, findings);
    ASSERT_EQ(report.size(), 4U);
    EXPECT_EQ(report.item(0), "Ligne: 12 - \xE9t\xE9");
    EXPECT_EQ(report.item(1), "Ligne: 3000000000 - r_a");
    EXPECT_EQ(report.item(2), " ");
    EXPECT_EQ(report.item(3), "Total: 2 cvars interdite");
}

} // namespace
