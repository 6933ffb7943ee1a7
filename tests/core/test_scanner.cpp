#include "CvarList.h"
#include "PlainScan.h"
#include "ReferenceScan.h"
#include "Report.h"
#include "Scanner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
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

class Rule : public ::testing::TestWithParam<RuleCase> { };

TEST_P(Rule, ReportsExactly)
{
    const CvarList list = makeList({ "r_a", "cg_b" });
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
    const CvarList list = makeList({ "r_a", "", "x y", "r_a", "r_b ", " " });
    EXPECT_EQ(reportOf(list, "seta r_a 1\nset x y 1\nset r_b  1\nset   x"),
        (std::vector<std::string> { "Ligne: 0 - r_a", "Ligne: 0 - r_a", "Ligne: 1 - x y", "Ligne: 2 - r_b ",
            "Ligne: 3 -  ", " ", "Total: 5 cvars interdite" }));
}

TEST(Scan, EmptyListReportsOnlyTheTotal)
{
    EXPECT_EQ(
        reportOf(makeList({}), "seta r_a 1"), (std::vector<std::string> { " ", "Total: 0 cvars interdite" }));
}

// Random lists and configs from a small alphabet, so that near misses, names with spaces, names at
// line ends, duplicates, high bytes and every break mix come up often.
class Differential : public ::testing::TestWithParam<unsigned> { };

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
        for (std::size_t chunk : { 1U, 2U, 3U, 5U, 13U }) {
            LineScanner scanner(matcher);
            std::vector<Finding> found;
            for (std::size_t i = 0; i < config.size(); i += chunk)
                scanner.feed(std::string_view(config).substr(i, chunk), found);
            scanner.finish(found);
            ASSERT_EQ(found, expected) << "seed " << GetParam() << " round " << round << " chunk " << chunk;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential, ::testing::Range(1U, 41U));

// The engine's own seams: buffer fills far smaller than a line or a name, so that refills fall
// inside names, inside "set" and inside runs of spaces and breaks; and files cut into many parts,
// so that part boundaries fall everywhere too.

std::uint64_t referenceLines(std::string_view config)
{
    std::uint64_t n = 0;
    forEachLine(config, [&](std::string_view) { ++n; });
    return n;
}

::testing::AssertionResult engineMatches(const CvarList& list, const std::string& config, std::mt19937& rng)
{
    const Matcher matcher(list);
    const std::vector<Finding> expected = reference::scan(config, list);
    if (scanBuffer(config, matcher) != expected)
        return ::testing::AssertionFailure() << "scanBuffer differs";
    for (int round = 0; round < 4; ++round) {
        // Pieces of every size, so that piece ends fall inside names, "set" and runs of spaces.
        LineScanner scanner(matcher);
        std::vector<Finding> found;
        for (std::size_t i = 0; i < config.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 300, config.size() - i);
            scanner.feed(std::string_view(config).substr(i, n), found);
            i += n;
        }
        scanner.finish(found);
        if (found != expected)
            return ::testing::AssertionFailure() << "LineScanner in pieces differs";
        if (scanner.lineCount() != referenceLines(config))
            return ::testing::AssertionFailure() << "line count differs";
    }
    return ::testing::AssertionSuccess();
}

struct Sample {
    CvarList list;
    std::string config;
};

// Names up to 150 bytes (longer than a small fill), spliced into the config often, with long
// runs of spaces or breaks and long lines now and then.
Sample randomSample(std::mt19937& rng)
{
    const std::string_view nameBytes = "ab \xE9s";
    const std::string_view lineBytes = std::string_view("ab \xE9set\r\n\t\0", 11);
    const std::string_view longLineBytes = "ab \xE9set   ";
    std::vector<std::string> names;
    for (auto count = rng() % 11; count > 0; --count)
        names.push_back(randomText(rng, rng() % 4 == 0 ? 150 : 6, nameBytes));
    Sample s { makeList(names), {} };
    for (auto pieces = rng() % 40; pieces > 0; --pieces) {
        switch (rng() % 4) {
        case 0:
            s.config += randomText(rng, 200, lineBytes);
            break;
        case 1:
            s.config += randomText(rng, 400, longLineBytes);
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

class Seams : public ::testing::TestWithParam<unsigned> { };

TEST_P(Seams, SmallFillsMatchThePlainRule)
{
    std::mt19937 rng(GetParam());
    for (int round = 0; round < 30; ++round) {
        const Sample s = randomSample(rng);
        ASSERT_TRUE(engineMatches(s.list, s.config, rng)) << "seed " << GetParam() << " round " << round;
    }
}

TEST_P(Seams, FilesCutIntoPartsMatchThePlainRule)
{
    std::mt19937 rng(GetParam() + 1000);
    TempDir dir;
    for (int round = 0; round < 5; ++round) {
        const Sample s = randomSample(rng);
        if (s.config.empty())
            continue;
        const std::string path = dir.write("c.cfg", s.config);
        const Matcher matcher(s.list);
        const std::uint64_t lines = referenceLines(s.config);
        const std::vector<Finding> expected
            = lines > 0 ? reference::scan(s.config, s.list) : std::vector<Finding> {};
        for (std::size_t parts : { 1U, 2U, 3U, 7U, 40U }) {
            tromel::testing::Collected got;
            const ScanSummary r
                = scanConfig(path, matcher, got, ScanPlan { 4, parts, rng() % 2 == 0 ? 64U : 4096U });
            ASSERT_EQ(r.lines, lines) << "seed " << GetParam() << " round " << round << " parts " << parts;
            ASSERT_EQ(got.findings, expected)
                << "seed " << GetParam() << " round " << round << " parts " << parts;
            ASSERT_EQ(r.findings, expected.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Seams, ::testing::Range(1U, 21U));

struct CornerCase {
    const char* label;
    std::vector<std::string> names;
    std::string config;
};

class Corners : public ::testing::TestWithParam<CornerCase> { };

TEST_P(Corners, MatchThePlainRule)
{
    std::mt19937 rng(7);
    const CvarList list = makeList(GetParam().names);
    EXPECT_FALSE(reference::scan(GetParam().config, list).empty()); // the case is about finding something
    EXPECT_TRUE(engineMatches(list, GetParam().config, rng));
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

// Short lines of varied length that begin with "set", so that fills end at every offset of one,
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
        CornerCase { "namesLongerThanAFill", { std::string(300, 'a'), "a", "a a" },
            " " + std::string(300, 'a') + " set\n a a a set" },
        CornerCase { "setAcrossFillsAfterBreaks", { "r_a" }, setAtLineStarts() },
        CornerCase { "setAfterALongLine", { "r_a" }, " r_a " + std::string(5000, 'x') + "set" },
        CornerCase { "setBeforeALongLine", { "r_a" }, "set" + std::string(5000, 'x') + " r_a " }),
    tromel::testing::ByLabel());

TEST(Report, ItemsAreMadeOnDemand)
{
    const CvarList list = makeList({ "r_a", "\xE9t\xE9" });
    const std::vector<Finding> findings { { 12, 2 }, { 3000000000ULL, 1 } };
    const Report report(list, findings);
    ASSERT_EQ(report.size(), 4U);
    EXPECT_EQ(report.item(0), "Ligne: 12 - \xE9t\xE9");
    EXPECT_EQ(report.item(1), "Ligne: 3000000000 - r_a");
    EXPECT_EQ(report.item(2), " ");
    EXPECT_EQ(report.item(3), "Total: 2 cvars interdite");
}

} // namespace
