#include "CvarList.h"
#include "PlainScan.h"
#include "ReferenceScan.h"
#include "Report.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tromel;
using tromel::testing::Collected;
using tromel::testing::listOf;
using tromel::testing::scanFile;
using tromel::testing::TempDir;

namespace {

// Other failures are the reader's, in test_fileop.cpp; a good file's findings are below.
TEST(ScanConfig, NothingToScanIsAnError)
{
    TempDir dir;
    const CvarList list = listOf({ "r_a" });
    EXPECT_EQ(scanFile(dir.write("e.cfg", ""), Matcher(list)).first.file.error, FileError::Empty);
    EXPECT_EQ(scanFile(dir.write("b.cfg", "\r\n\n"), Matcher(list)).first.file.error, FileError::NoLines);
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
            const auto [r, found] = scanFile(path, matcher, ScanPlan { 4, parts, chunk });
            EXPECT_EQ(r.lines, LineList(config).size()) << parts << ' ' << chunk;
            EXPECT_EQ(found, reference::scan(config, list)) << parts << ' ' << chunk;
        }
}

// The matching rule itself is in the fuzz seeds under tests/fuzz/seeds/scan, replayed against the
// plain rule.
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
