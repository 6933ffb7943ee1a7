// Input that nobody meant for this tool: odd bytes, huge lines, huge lists, files that change
// while they are read; and the plain scan of files, in parts or not. The matching rule itself is in
// the fuzz seeds under tests/fuzz/seeds/scan; odd paths are in test_fileop.cpp and, through the
// program, in tests/cli/test_hostile_cli.cpp.

#include "CvarList.h"
#include "PlainScan.h"
#include "Reader.h"
#include "ReferenceScan.h"
#include "Scanner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>

using namespace tromel;
using tromel::testing::TempDir;
using namespace std::string_literals;

namespace {

// A list with a header and these names.
inline CvarList listOf(std::vector<std::string> names)
{
    CvarList list;
    list.hasHeader = true;
    list.names.insert(list.names.end(), names.begin(), names.end());
    return list;
}

// Collects what scanConfig hands over; with stopAfter set, wants no more after that many.
struct Collected final : FindingBatches {
    void take(const Finding* f, std::size_t n) override
    {
        findings.insert(findings.end(), f, f + n);
        taken += n;
    }
    bool cancelled() const override { return stopAfter != 0 && taken >= stopAfter; }
    std::vector<Finding> findings;
    std::atomic<std::size_t> taken { 0 }; // asked from any thread, unlike findings
    std::size_t stopAfter = 0;
};

// A whole file's scan: what scanConfig answers and every finding it handed over.
inline std::pair<ScanSummary, std::vector<Finding>> scanFile(
    const std::string& path, const Matcher& matcher, const ScanPlan& plan = {})
{
    Collected got;
    const ScanSummary r = scanConfig(path, matcher, got, plan);
    return { r, std::move(got.findings) };
}

constexpr std::size_t kMiB = std::size_t { 1 } << 20;

// Content that is not a config, built small but shaped like the big cases (100 MB of spaces, one
// 100 MB line): long enough to cross the reader's 1 MiB pieces, with matches on the seams.
struct ContentCase {
    const char* label;
    std::string (*make)();
    std::vector<Finding> findings; // against the names r_a, " ", "x y"
    FileError error = FileError::None;
};

class OddContent : public ::testing::TestWithParam<ContentCase> { };

TEST_P(OddContent, ScansAsThePlainRuleSays)
{
    TempDir dir;
    const std::string bytes = GetParam().make();
    const CvarList list = listOf({ "r_a", " ", "x y" });
    const auto [r, found] = scanFile(dir.write("f.cfg", bytes), Matcher(list));
    EXPECT_EQ(r.file.error, GetParam().error) << describe(r.file);
    EXPECT_EQ(found, reference::scan(bytes, list));
    EXPECT_EQ(found, GetParam().findings);
    EXPECT_EQ(r.lines, LineList(bytes).size());
}

std::string imageLike()
{
    // A PNG signature and chunk header, then noise with NUL and high bytes but no breaks.
    std::string s = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s;
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const char c = static_cast<char>(rng() & 0xFF);
        s += c == '\r' || c == '\n' ? '\0' : c;
    }
    return s + "\nseta r_a 1\n";
}

std::string oneLongLine()
{
    std::string s(3 * kMiB, 'x');
    s.replace(kMiB - 3, 5, " r_a "); // straddles the first seam
    s.replace(2 * kMiB - 2, 5, " x y "); // the second
    s.replace(s.size() - 3, 3, "set");
    return s;
}

INSTANTIATE_TEST_SUITE_P(Content, OddContent,
    ::testing::Values(ContentCase { "binaryImage", imageLike, { { 4, 1 } } },
        ContentCase { "nulBytes", [] { return std::string(3 * kMiB, '\0'); }, {} },
        ContentCase { "spacesThenSet", [] { return std::string(2 * kMiB + 5, ' ') + "set"; }, { { 0, 2 } } },
        ContentCase { "oneLongLine", oneLongLine, { { 0, 1 }, { 0, 3 } } },
        // Other failures are the reader's, in test_fileop.cpp.
        ContentCase { "empty", [] { return ""s; }, {}, FileError::Empty },
        ContentCase { "onlyBreaks", [] { return "\r\n\n"s; }, {}, FileError::NoLines }),
    tromel::testing::ByLabel());

// Indices past 16 bits; odd names are in the fuzz seeds under tests/fuzz/seeds/list.
TEST(OddList, HundredThousandNames)
{
    TempDir dir;
    std::string text = "big v 7.01-01-2024\n";
    for (int i = 0; i < 100000; ++i)
        text += "cvar_" + std::to_string(i) + "\n";
    const ListResult r = LoadCvars(dir.write("cvars.ini", text));
    ASSERT_TRUE(r) << r.message;
    ASSERT_EQ(r.list.count(), 100000U);
    const std::string config = "seta cvar_99999 1\nseta cvar_0 1 cvar_5 \nseta cvar_100000 1\n";
    EXPECT_EQ(
        scanBuffer(config, Matcher(r.list)), (std::vector<Finding> { { 0, 100000 }, { 1, 1 }, { 1, 6 } }));
}

TEST(ChangingFile, IsReadAsItWasWhenOpened)
{
    TempDir dir;
    const std::string original = "seta r_a 1\n" + std::string(10000, 'z');
    // Reads in 4 KiB pieces while another program changes the file after each piece; bounded, so
    // that a reader that chases the writer fails the test instead of hanging it.
    const auto read = [&](const std::string& name, const std::function<void(const std::string&)>& change) {
        const std::string path = dir.write(name, original);
        FileReader reader;
        EXPECT_TRUE(reader.open(path));
        std::string seen;
        std::string_view piece;
        for (int pieces = 0; pieces < 1000 && reader.next(piece, 4096) && !piece.empty(); ++pieces) {
            seen.append(piece);
            change(path);
        }
        return seen;
    };
    // As a logger or a game writing its config would.
    EXPECT_TRUE(original == read("grow.cfg", [](const std::string& p) {
        std::ofstream(platform::pathFromUtf8(p), std::ios::binary | std::ios::app) << std::string(4096, 'g');
    }));
    EXPECT_TRUE(original.substr(0, 4096) == read("shrink.cfg", [](const std::string& p) {
        std::filesystem::resize_file(platform::pathFromUtf8(p), 100);
    }));
#if !defined(_WIN32) // Windows refuses to replace a file that is open
    EXPECT_TRUE(original == read("swap.cfg", [&dir](const std::string& p) {
        std::filesystem::rename(dir.write("other", "seta cg_b 1\n"), p);
    }));
#endif
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

} // namespace
