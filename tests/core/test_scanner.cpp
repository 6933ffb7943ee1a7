#include "CvarList.h"
#include "Report.h"
#include "Scanner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tromel;
using tromel::testing::listOf;

namespace {

struct RuleCase {
    const char* label;
    std::string config;
    std::vector<std::string> items; // findings only; " " and the total are checked separately
};

class Rule : public ::testing::TestWithParam<RuleCase> { };

// The rule on small cases; the fuzz seeds under tests/fuzz/seeds/scan, replayed in every test
// run, hold the long lines, space runs, odd lists and seams.
TEST_P(Rule, ReportsExactly)
{
    const CvarList list = listOf({ "r_a", "cg_b" });
    const Matcher matcher(list);
    std::vector<std::string> expected = GetParam().items;
    expected.push_back(" ");
    expected.push_back("Total: " + std::to_string(GetParam().items.size()) + " cvars interdite");
    EXPECT_EQ(Report(list, scanBuffer(GetParam().config, matcher)).items(), expected);
}

INSTANTIATE_TEST_SUITE_P(Matching, Rule,
    ::testing::Values(
        RuleCase { "twoLines", "seta r_a 1\nseta cg_b 0\n", { "Ligne: 0 - r_a", "Ligne: 1 - cg_b" } },
        RuleCase { "blankLinesDoNotCount", "\n\nset r_a 1", { "Ligne: 0 - r_a" } },
        RuleCase { "noSet", "bind x r_a 1", {} }, RuleCase { "caseDiffers", "seta R_A 1", {} },
        RuleCase { "oncePerPair", "seta r_a 1 r_a 2", { "Ligne: 0 - r_a" } },
        RuleCase { "twoNamesListOrder", "seta cg_b r_a ", { "Ligne: 0 - r_a", "Ligne: 0 - cg_b" } },
        RuleCase { "longerName", "seta r_ab 1", {} }, RuleCase { "atLineEnd", "seta r_a", {} },
        RuleCase { "quoted", "seta \"r_a\" 1", {} }, RuleCase { "tabbed", "seta\tr_a\t1", {} },
        RuleCase { "setInsideWord", "x r_a offset", { "Ligne: 0 - r_a" } },
        RuleCase { "crlfAndIndices", "seta x 1\r\n\r\nseta r_a 1\r\nseta cg_b 1\r\n",
            { "Ligne: 1 - r_a", "Ligne: 2 - cg_b" } }),
    tromel::testing::ByLabel());

TEST(Report, ItemsAreMadeOnDemand)
{
    const CvarList list = listOf({ "r_a", "\xE9t\xE9" });
    const std::vector<Finding> findings { { 12, 2 }, { 3000000000ULL, 1 } };
    const Report report(list, findings);
    EXPECT_EQ(report.items(),
        (std::vector<std::string> {
            "Ligne: 12 - \xE9t\xE9", "Ligne: 3000000000 - r_a", " ", "Total: 2 cvars interdite" }));
    EXPECT_EQ(Report(listOf({}), {}).items(), (std::vector<std::string> { " ", "Total: 0 cvars interdite" }));
}

} // namespace
