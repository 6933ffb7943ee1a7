#include "Runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace tromel;

namespace {

class Line final : public Record {
public:
    explicit Line(std::string text)
        : m_text(std::move(text))
    {
    }
    void text(std::string& out) const override { out += m_text; }
    void fields(FieldWriter&) const override { }

private:
    std::string m_text;
};

// A checker driven by the file's name: "N:name" makes N findings, "throw" throws, "oom" runs out
// of memory, "missing" fails to open; later files finish first, to shake the order.
class Scripted final : public Checker {
public:
    FileStatus check(const std::string& path, FileReport& report, unsigned) const override
    {
        if (path == "throw")
            throw std::runtime_error("boom");
        if (path == "oom")
            throw std::bad_alloc();
        if (path == "missing")
            return { FileError::Missing, 0 };
        const std::size_t colon = path.find(':');
        const int count = std::stoi(path.substr(0, colon));
        for (int i = 0; i < count && !report.cancelled(); ++i) {
            if (i % 1000 == 0)
                std::this_thread::yield();
            report.finding(Line(path + " #" + std::to_string(i)));
        }
        ++checked;
        return {};
    }
    mutable std::atomic<int> checked { 0 };
};

class Lines final : public FileSink {
public:
    void finding(const Record& r, Output& out) override
    {
        std::string s;
        r.text(s);
        out.out(s + "\n");
    }
    void warning(const Record&, Output&) override { }
    void end(const FileStatus& status, std::uint64_t, Output& out) override
    {
        if (!status)
            out.err(describe(status) + "\n");
    }
};

class LinesSink final : public Sink {
public:
    void begin(Output&) override { }
    std::unique_ptr<FileSink> file(std::size_t, const std::string&) override
    {
        return std::make_unique<Lines>();
    }
    void end(std::uint64_t total, Output& out) override { out.out("total " + std::to_string(total) + "\n"); }
};

// Keeps what is written; refuses everything after `limit` bytes of standard output.
class Kept final : public Destination {
public:
    bool out(std::string_view b) override
    {
        if (limit != 0 && outBytes.size() + b.size() > limit)
            return false;
        outBytes.append(b);
        return true;
    }
    bool err(std::string_view b) override
    {
        errBytes.append(b);
        return true;
    }
    std::string outBytes;
    std::string errBytes;
    std::size_t limit = 0;
};

class Jobs : public ::testing::TestWithParam<unsigned> { };

TEST_P(Jobs, OutputKeepsTheArgumentOrderAndFailuresLeaveTheOthers)
{
    // Sizes that cross the bytes a file may hold ahead of its turn.
    std::vector<std::string> files;
    std::string out;
    std::uint64_t total = 0;
    for (int i = 0; i < 40; ++i) {
        const int n = i % 13 == 0 ? 80000 : (i * 37) % 200;
        files.push_back(std::to_string(n) + ":f" + std::to_string(i));
        for (int k = 0; k < n; ++k)
            out += files.back() + " #" + std::to_string(k) + "\n";
        total += static_cast<std::uint64_t>(n);
    }
    out += "total " + std::to_string(total) + "\n";
    files.insert(files.begin() + 3, { "throw", "oom", "missing" });
    Scripted checker;
    LinesSink sink;
    Kept kept;
    const RunSummary r = runChecks(files, checker, sink, kept, GetParam());
    EXPECT_EQ(kept.outBytes, out);
    EXPECT_EQ(r.findings, total);
    EXPECT_EQ(kept.errBytes, "could not be checked\nout of memory\nno such file\n");
    EXPECT_TRUE(r.anyError);
    EXPECT_TRUE(r.anyFound);
}

INSTANTIATE_TEST_SUITE_P(Threads, Jobs, ::testing::Values(1U, 2U, 5U), ::testing::PrintToStringParamName());

TEST(Runner, WriteErrorStopsTheRun)
{
    std::vector<std::string> files(200, "100000:big");
    Scripted checker;
    LinesSink sink;
    Kept kept;
    kept.limit = 1000;
    const RunSummary r = runChecks(files, checker, sink, kept, 2);
    EXPECT_TRUE(r.writeFailed);
    EXPECT_LT(checker.checked.load(), 20) << "files went on being checked after the output failed";
}

} // namespace
