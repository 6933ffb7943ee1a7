#include "CvarList.h"
#include "PlainScan.h"
#include "ReferenceScan.h"
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

// A file cut into parts scanned on several threads gives what one scan of it gives: lines of every
// length and break, blank runs, and matches on the seams between parts and reads.
TEST(ScanConfig, FilesCutIntoPartsMatchThePlainRule)
{
    TempDir dir;
    const CvarList list = listOf({ "r_a", "b b", " " });
    std::string config = "set r_a \n\r\n"; // a first line, then blank ones
    for (std::size_t i = 0; i < 900; ++i)
        config.append(i % 5 == 0 ? "x" : "set r_a ")
            .append(i % 11, i % 4 == 0 ? ' ' : 'b')
            .append(i % 3 == 0   ? "\r\n"
                    : i % 7 == 0 ? "\n\n"
                                 : "\r");
    config += std::string(5000, 'x') + " b b set";
    const std::string path = dir.write("c.cfg", config);
    const Matcher matcher(list);
    for (std::size_t parts : { 2U, 7U, 40U })
        for (std::size_t chunk : { 64U, 4096U }) {
            const tromel::testing::Scanned r
                = tromel::testing::scanFile(path, matcher, ScanPlan { 4, parts, chunk });
            EXPECT_EQ(r.lines, LineList(config).size()) << parts << ' ' << chunk;
            EXPECT_EQ(r.findings, reference::scan(config, list)) << parts << ' ' << chunk;
        }
}

} // namespace
