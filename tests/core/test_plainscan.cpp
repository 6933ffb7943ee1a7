#include "CvarList.h"
#include "PlainScan.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tromel;
using tromel::testing::Collected;
using tromel::testing::listOf;
using tromel::testing::TempDir;

namespace {

TEST(ScanConfig, FilesAndTheirFailures)
{
    TempDir dir;
    const CvarList list = listOf({ "r_a" });
    const Matcher matcher(list);
    Collected ok;
    const ScanSummary r = scanConfig(dir.write("a.cfg", "seta r_a 1\nseta r_a 2"), matcher, ok);
    ASSERT_TRUE(r);
    EXPECT_EQ(ok.findings, (std::vector<Finding> { { 0, 1 }, { 1, 1 } }));
    EXPECT_EQ(r.lines, 2U);

    const auto error = [&](const std::string& path) {
        Collected none;
        return scanConfig(path, matcher, none).file.error;
    };
    EXPECT_EQ(error(dir.write("e.cfg", "")), FileError::Empty);
    EXPECT_EQ(error(dir.write("b.cfg", "\r\n\n")), FileError::NoLines);
    EXPECT_EQ(error(dir.path().string()), FileError::NotRegular);
    EXPECT_EQ(error((dir.path() / "no.cfg").string()), FileError::Missing);
}

// A caller that stops wanting findings stops the scan, in parts or not, soon after.
TEST(ScanConfig, StopsWhenCancelled)
{
    TempDir dir;
    std::string config;
    for (int i = 0; i < 200000; ++i)
        config += "set r_a 1\n";
    const std::string path = dir.write("big.cfg", config);
    const CvarList list = listOf({ "r_a" });
    const Matcher matcher(list);
    for (std::size_t parts : { 1U, 4U }) {
        Collected got;
        got.stopAfter = 10;
        const ScanSummary r = scanConfig(path, matcher, got, ScanPlan { 4, parts, 4096 });
        EXPECT_EQ(r.file.error, FileError::Cancelled) << parts;
        EXPECT_LT(got.findings.size(), 100000U) << parts;
    }
}

} // namespace
