#include "Rules.h"
#include "RulesText.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tromel;

namespace {

// A verdict as one word: "kept", "refused", "kicked" or the forced value in brackets.
std::string verdictOf(
    RuleEngine engine, RuleMode mode, std::string v1, std::string v2, std::string_view value)
{
    const Rule rule { engine, "x", mode, std::move(v1), std::move(v2), {}, 1 };
    const Verdict verdict = judgeRule(rule, value);
    switch (verdict.outcome) {
    case Outcome::Kept:
        return "kept";
    case Outcome::Forced:
        return '[' + verdict.value + ']' + (verdict.settles ? "" : " unsettled");
    case Outcome::Refused:
        return "refused";
    case Outcome::Kicked:
        return "kicked";
    }
    return {};
}

struct JudgeCase {
    std::string label;
    RuleEngine engine;
    RuleMode mode;
    std::string v1;
    std::string v2;
    std::string value;
    std::string verdict;
};

class Judge : public ::testing::TestWithParam<JudgeCase> { };

TEST_P(Judge, FollowsTheEngine)
{
    const JudgeCase& c = GetParam();
    EXPECT_EQ(verdictOf(c.engine, c.mode, c.v1, c.v2, c.value), c.verdict);
}

constexpr auto E = RuleEngine::EtLegacy;
constexpr auto R = RuleEngine::RtcwPro;
constexpr auto P = RuleEngine::PunkBuster;
using M = RuleMode;

// ET: Legacy's client sets values back: equal, just inside and just outside each bound, floats
// written "%8.4f", bounds of 0 that mean none, text read as its number prefix.
INSTANTIATE_TEST_SUITE_P(EtLegacy, Judge,
    ::testing::Values(JudgeCase { "eqSame", E, M::Equal, "1", "", "1", "kept" },
        JudgeCase { "eqIgnoresCase", E, M::Equal, "GL_LINEAR", "", "gl_linear", "kept" },
        JudgeCase { "eqComparesText", E, M::Equal, "1", "", "1.0", "[1]" },
        JudgeCase { "eqEmpty", E, M::Equal, "0", "", "", "[0]" },
        JudgeCase { "gEqual", E, M::Greater, "5", "", "5", "[6]" },
        JudgeCase { "gJustAbove", E, M::Greater, "5", "", "5.001", "kept" },
        JudgeCase { "gFloatValue", E, M::Greater, "5", "", "5.0", "[  5.0001]" },
        JudgeCase { "gText", E, M::Greater, "5", "", "abc", "[6]" },
        JudgeCase { "gNumberPrefix", E, M::Greater, "5", "", "7abc", "kept" },
        JudgeCase { "gWraps", E, M::Greater, "2147483647", "", "0", "[-2147483648]" },
        JudgeCase { "geEqual", E, M::GreaterEqual, "60", "", "60", "kept" },
        JudgeCase { "geJustBelow", E, M::GreaterEqual, "60", "", "59.99", "[60]" },
        JudgeCase { "lEqual", E, M::Lower, "3", "", "3", "[2]" },
        JudgeCase { "lFloat", E, M::Lower, "3", "", "3.5", "[  2.9999]" },
        JudgeCase { "leEqual", E, M::LowerEqual, "3", "", "3", "kept" },
        JudgeCase { "leFloatAbove", E, M::LowerEqual, "3", "", "3.01", "[  3.0000]" },
        JudgeCase { "inLowEdge", E, M::Inside, "75", "130", "75", "kept" },
        JudgeCase { "inBelow", E, M::Inside, "75", "130", "74.9", "[75]" },
        JudgeCase { "inAbove", E, M::Inside, "75", "130", "131", "[130]" },
        JudgeCase { "inZeroIsNoBound", E, M::Inside, "0", "1", "-5", "kept" },
        JudgeCase { "inNoSecondValue", E, M::Inside, "100", "", "500", "kept" },
        JudgeCase { "inNegativeFloat", E, M::Inside, "-0.022", "0.022", "0.03", "[0.022]" },
        JudgeCase { "inReversedNeverSettles", E, M::Inside, "10", "5", "7", "[5] unsettled" },
        JudgeCase { "outBetween", E, M::Outside, "1", "23", "10", "[24]" },
        JudgeCase { "outLowEdge", E, M::Outside, "1", "23", "1", "[0]" },
        JudgeCase { "outHighEdge", E, M::Outside, "1", "23", "23", "[24]" },
        JudgeCase { "outJustAbove", E, M::Outside, "1", "23", "24", "kept" },
        JudgeCase { "outFloat", E, M::Outside, "-0.015", "0.015", "0.01", "[  0.0151]" },
        JudgeCase { "outNoSecondValue", E, M::Outside, "5", "", "7", "[4]" },
        JudgeCase { "incHas", E, M::Include, "NV", "GL_X", "GL_NV_A", "kept" },
        JudgeCase { "incCaseCounts", E, M::Include, "NV", "GL_X", "nv", "[GL_X]" },
        JudgeCase { "incNoSecondValue", E, M::Include, "NV", "", "x", "[]" },
        JudgeCase { "excHas", E, M::Exclude, "NV", "GL_X", "NV1", "[GL_X]" },
        JudgeCase { "wbSet", E, M::WithBits, "1", "", "3", "kept" },
        JudgeCase { "wbClear", E, M::WithBits, "1", "", "2.9", "[3]" },
        JudgeCase { "wbEmpty", E, M::WithBits, "1", "", "", "[1]" },
        JudgeCase { "wobClear", E, M::WithoutBits, "1", "", "2", "kept" },
        JudgeCase { "wobSettlesLater", E, M::WithoutBits, "3", "", "5", "[-4]" }),
    tromel::testing::ByLabel());

// RtCW Pro compares floats, reads text that is not a number as 0, takes "" as always allowed and
// has no "no bound"; its string "equal" and bit modes are inverted in its code.
INSTANTIATE_TEST_SUITE_P(RtcwPro, Judge,
    ::testing::Values(JudgeCase { "eqFloatEqual", R, M::Equal, "0", "", "0.0", "kept" },
        JudgeCase { "eqDiffers", R, M::Equal, "0", "", "1", "refused" },
        JudgeCase { "eqTextDiffers", R, M::Equal, "0", "", "abc", "kept" },
        JudgeCase { "eqTextSame", R, M::Equal, "GL_LINEAR", "", "gl_linear", "refused" },
        JudgeCase { "eqEmpty", R, M::Equal, "0", "", "", "kept" },
        JudgeCase { "notEqSame", R, M::NotEqual, "0", "", "0", "refused" },
        JudgeCase { "grtEqual", R, M::Greater, "5", "", "5", "refused" },
        JudgeCase { "grtAbove", R, M::Greater, "5", "", "5.5", "kept" },
        JudgeCase { "grtPrefixIsNoNumber", R, M::Greater, "5", "", "6abc", "refused" },
        JudgeCase { "gqEqual", R, M::GreaterEqual, "5", "", "5", "kept" },
        JudgeCase { "gqJustBelow", R, M::GreaterEqual, "5", "", "4.99", "refused" },
        JudgeCase { "loEqual", R, M::Lower, "5", "", "5", "refused" },
        JudgeCase { "lqMinusAlone", R, M::LowerEqual, "5", "", "-", "kept" },
        JudgeCase { "inEdges", R, M::Inside, "90", "120", "120", "kept" },
        JudgeCase { "inJustAbove", R, M::Inside, "90", "120", "120.1", "refused" },
        JudgeCase { "inZeroIsABound", R, M::Inside, "0", "1", "-1", "refused" },
        JudgeCase { "inNoSecondValue", R, M::Inside, "5", "", "5", "refused" },
        JudgeCase { "outEdge", R, M::Outside, "-0.015", "0.015", "-0.015", "refused" },
        JudgeCase { "outBeyond", R, M::Outside, "-0.015", "0.015", "0.02", "kept" },
        JudgeCase { "includeCaseCounts", R, M::Include, "GL_LINEAR", "", "gl_linear", "refused" },
        JudgeCase { "excludeHas", R, M::Exclude, "ab12", "", "xab12", "refused" },
        JudgeCase { "wbitSet", R, M::WithBits, "1", "", "1", "refused" },
        JudgeCase { "wbitClear", R, M::WithBits, "1", "", "2", "kept" },
        JudgeCase { "notWbitClear", R, M::WithoutBits, "1", "", "2", "refused" }),
    tromel::testing::ByLabel());

INSTANTIATE_TEST_SUITE_P(PunkBuster, Judge,
    ::testing::Values(JudgeCase { "inEdge", P, M::Inside, "0", "3", "3", "kept" },
        JudgeCase { "inJustAbove", P, M::Inside, "0", "3", "3.1", "kicked" },
        JudgeCase { "inOneValue", P, M::Inside, "1", "", "1.5", "kicked" },
        JudgeCase { "inText", P, M::Inside, "0", "3", "abc", "kept" },
        JudgeCase { "outEdge", P, M::Outside, "1", "5", "1", "kicked" },
        JudgeCase { "outBeyond", P, M::Outside, "1", "5", "6", "kept" },
        JudgeCase { "includeMissing", P, M::Include, "x", "", "ab", "kicked" },
        JudgeCase { "excludeHas", P, M::Exclude, "x", "", "axb", "kicked" }),
    tromel::testing::ByLabel());

// Numbers as the C library reads them, whatever the process locale, on text made to break them.
TEST(RuleNumbers, ReadAsTheCLibrary)
{
    using namespace tromel::rules;
    EXPECT_EQ(parseFloat(" \t1.5e1x"), 15.f);
    EXPECT_EQ(parseFloat("0x10"), 16.f);
    EXPECT_EQ(parseFloat("0x"), 0.f);
    EXPECT_EQ(parseFloat("+-1"), 0.f);
    EXPECT_EQ(parseFloat(".5"), 0.5f);
    EXPECT_EQ(parseFloat("1e999"), std::numeric_limits<float>::infinity());
    EXPECT_EQ(parseFloat("-1e999"), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(parseFloat("0.000000000000000000000000000000000000000000000001e-999"), 0.f);
    EXPECT_TRUE(std::isnan(parseFloat("nan")));
    EXPECT_EQ(parseFloat(std::string("2\0"
                                     "5",
                  3)),
        2.f);
    EXPECT_EQ(parseInt("  -12abc"), -12);
    EXPECT_EQ(parseInt("99999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(parseInt("-99999999999"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parseInt("1.9"), 1);
    EXPECT_EQ(formatFixed(123456.5), "123456.5000");
    EXPECT_EQ(formatFixed(-std::numeric_limits<double>::infinity()), "    -inf");
}

} // namespace
