#include "Runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

namespace tromel {

namespace {

constexpr std::size_t kHandOverAt = std::size_t { 64 } << 10; // bytes a checking thread gathers first
constexpr std::size_t kHeldPerFile = std::size_t { 1 } << 20; // bytes a file ahead of its turn may hold

enum class Stream : std::uint8_t { Out, Err, Gap };

struct Piece {
    Stream stream;
    std::string bytes;
};

// A file's output on its way from the thread that checks it to the one that writes it.
struct Slot {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Piece> pieces;
    std::size_t bytes = 0;
    bool done = false;
    std::uint64_t findings = 0;
    bool failed = false;

    void clear()
    {
        pieces.clear();
        bytes = 0;
        done = false;
        findings = 0;
        failed = false;
    }
};

struct FileOutcome {
    std::uint64_t findings = 0;
    bool failed = false;
};

class Run {
public:
    Run(const std::vector<std::string>& files, const Checker& checker, Sink& sink, Destination& destination,
        unsigned jobs)
        : m_files(files)
        , m_checker(checker)
        , m_sink(sink)
        , m_destination(destination)
        , m_jobs(jobs != 0 ? jobs : std::max(1U, std::thread::hardware_concurrency()))
    {
        m_slots.resize(std::min<std::size_t>(files.size(), 2 * std::size_t { m_jobs } + 1));
        for (auto& slot : m_slots)
            slot = std::make_unique<Slot>();
    }

    RunSummary go();

private:
    class Buffered;
    class Direct;
    class Reporter;

    bool cancelled() const { return m_cancelled.load(std::memory_order_relaxed); }
    void cancel()
    {
        m_cancelled = true;
        std::lock_guard lock(m_windowMutex);
        m_windowMoved.notify_all();
        for (auto& slot : m_slots) {
            std::lock_guard slotLock(slot->mutex);
            slot->changed.notify_all();
        }
    }

    Slot& slotOf(std::size_t file) { return *m_slots[file % m_slots.size()]; }

    // The next file for a checking thread, once its slot is free; files.size() when none is left.
    std::size_t claim()
    {
        std::unique_lock lock(m_windowMutex);
        m_windowMoved.wait(lock,
            [&] { return cancelled() || m_next >= m_files.size() || m_next < m_head + m_slots.size(); });
        if (cancelled() || m_next >= m_files.size())
            return m_files.size();
        return m_next++;
    }

    // The file being written, when no thread has taken it yet.
    bool claimHead()
    {
        std::lock_guard lock(m_windowMutex);
        if (m_next != m_head)
            return false;
        ++m_next;
        return true;
    }

    FileOutcome check(std::size_t index, Output& output);
    void work();
    FileOutcome drain(std::size_t index);
    bool write(Stream stream, std::string_view bytes);

    const std::vector<std::string>& m_files;
    const Checker& m_checker;
    Sink& m_sink;
    Destination& m_destination;
    unsigned m_jobs;
    std::vector<std::unique_ptr<Slot>> m_slots;
    std::mutex m_windowMutex;
    std::condition_variable m_windowMoved;
    std::size_t m_next = 0; // the next file to check
    std::size_t m_head = 0; // the file being written
    std::atomic<bool> m_cancelled { false };
    bool m_wroteOut = false;
    bool m_writeFailed = false;
};

// Gathers a file's bytes and hands them to its slot, waiting while the slot is full and the file
// is not yet the one being written.
class Run::Buffered final : public Output {
public:
    Buffered(Run& run, Slot& slot)
        : m_run(run)
        , m_slot(slot)
    {
    }

    void out(std::string_view bytes) override { add(Stream::Out, bytes); }
    void err(std::string_view bytes) override { add(Stream::Err, bytes); }
    void gap(std::string_view bytes) override { add(Stream::Gap, bytes); }

    void handOver()
    {
        if (m_pieces.empty())
            return;
        std::unique_lock lock(m_slot.mutex);
        m_slot.changed.wait(lock, [&] { return m_slot.bytes < kHeldPerFile || m_run.cancelled(); });
        for (Piece& p : m_pieces)
            m_slot.pieces.push_back(std::move(p));
        m_slot.bytes += m_bytes;
        m_pieces.clear();
        m_bytes = 0;
        m_slot.changed.notify_all();
    }

private:
    void add(Stream stream, std::string_view bytes)
    {
        if (bytes.empty())
            return;
        if (m_pieces.empty() || m_pieces.back().stream != stream)
            m_pieces.push_back({ stream, {} });
        m_pieces.back().bytes.append(bytes);
        m_bytes += bytes.size();
        if (m_bytes >= kHandOverAt)
            handOver();
    }

    Run& m_run;
    Slot& m_slot;
    std::vector<Piece> m_pieces;
    std::size_t m_bytes = 0;
};

// The file being written, checked by the writing thread itself: straight to the destination.
class Run::Direct final : public Output {
public:
    explicit Direct(Run& run)
        : m_run(run)
    {
    }
    void out(std::string_view bytes) override { m_run.write(Stream::Out, bytes); }
    void err(std::string_view bytes) override { m_run.write(Stream::Err, bytes); }
    void gap(std::string_view bytes) override { m_run.write(Stream::Gap, bytes); }

private:
    Run& m_run;
};

class Run::Reporter final : public FileReport {
public:
    Reporter(Run& run, FileSink& sink, Output& output)
        : m_run(run)
        , m_sink(sink)
        , m_output(output)
    {
    }

    void finding(const Record& record) override
    {
        ++m_findings;
        m_sink.finding(record, m_output);
    }
    void warning(const Record& record) override { m_sink.warning(record, m_output); }
    bool cancelled() const override { return m_run.cancelled(); }

    std::uint64_t findings() const { return m_findings; }

private:
    Run& m_run;
    FileSink& m_sink;
    Output& m_output;
    std::uint64_t m_findings = 0;
};

bool Run::write(Stream stream, std::string_view bytes)
{
    if (m_writeFailed || bytes.empty())
        return !m_writeFailed;
    if (stream == Stream::Gap && !m_wroteOut)
        return true;
    const bool ok = stream == Stream::Err ? m_destination.err(bytes) : m_destination.out(bytes);
    m_wroteOut = m_wroteOut || stream != Stream::Err;
    if (!ok) {
        m_writeFailed = true;
        cancel();
    }
    return ok;
}

FileOutcome Run::check(std::size_t index, Output& output)
{
    FileOutcome outcome;
    FileStatus status;
    std::unique_ptr<FileSink> fileSink;
    std::uint64_t findings = 0;
    try {
        fileSink = m_sink.file(index, m_files[index]);
        Reporter reporter(*this, *fileSink, output);
        const unsigned threads = m_files.size() == 1 ? m_jobs : 1;
        try {
            status = m_checker.check(m_files[index], reporter, threads);
        } catch (const std::bad_alloc&) {
            status = { FileError::OutOfMemory, 0 };
        } catch (const std::length_error&) {
            status = { FileError::OutOfMemory, 0 };
        } catch (...) {
            status = { FileError::Failed, 0 };
        }
        findings = reporter.findings();
        fileSink->end(status, findings, output);
    } catch (...) {
        // Not even the message could be made: memory is that short. Say the least.
        status = { FileError::OutOfMemory, 0 };
        output.err(std::string_view("out of memory\n"));
    }
    outcome.findings = findings;
    outcome.failed = !status && !status.nothingToCheck();
    return outcome;
}

void Run::work()
{
    for (;;) {
        const std::size_t index = claim();
        if (index >= m_files.size())
            return;
        Slot& slot = slotOf(index);
        Buffered output(*this, slot);
        FileOutcome outcome;
        try {
            outcome = check(index, output);
            output.handOver();
        } catch (...) {
            outcome.failed = true;
        }
        std::lock_guard lock(slot.mutex);
        slot.done = true;
        slot.findings = outcome.findings;
        slot.failed = outcome.failed;
        slot.changed.notify_all();
    }
}

FileOutcome Run::drain(std::size_t index)
{
    Slot& slot = slotOf(index);
    std::deque<Piece> pieces;
    for (;;) {
        bool done = false;
        {
            std::unique_lock lock(slot.mutex);
            slot.changed.wait(lock, [&] { return !slot.pieces.empty() || slot.done || cancelled(); });
            pieces.swap(slot.pieces);
            slot.bytes = 0;
            done = slot.done && pieces.empty();
            slot.changed.notify_all();
            if (done || (cancelled() && pieces.empty())) {
                const FileOutcome outcome { slot.findings, slot.failed || !slot.done };
                slot.clear();
                return outcome;
            }
        }
        for (const Piece& p : pieces)
            write(p.stream, p.bytes);
        pieces.clear();
    }
}

RunSummary Run::go()
{
    RunSummary summary;
    Direct direct(*this);
    m_sink.begin(direct);
    std::vector<std::thread> workers;
    if (m_files.size() > 1) {
        try {
            for (std::size_t w = 0; w < std::min<std::size_t>(m_jobs, m_files.size()); ++w)
                workers.emplace_back([this] { work(); });
        } catch (const std::exception&) {
            // Fewer threads than asked for: the writing thread checks what nobody took.
        }
    }
    for (std::size_t i = 0; i < m_files.size() && !cancelled(); ++i) {
        const FileOutcome outcome = claimHead() ? check(i, direct) : drain(i);
        summary.findings += outcome.findings;
        summary.anyFound = summary.anyFound || outcome.findings > 0;
        summary.anyError = summary.anyError || outcome.failed;
        {
            std::lock_guard lock(m_windowMutex);
            ++m_head;
        }
        m_windowMoved.notify_all();
        if (!cancelled())
            m_destination.progress(i + 1, m_files.size());
    }
    if (!cancelled())
        m_sink.end(summary.findings, direct);
    if (m_writeFailed)
        cancel();
    {
        // Nothing is left to take: threads still waiting for a slot may go.
        std::lock_guard lock(m_windowMutex);
        m_next = m_files.size();
    }
    m_windowMoved.notify_all();
    for (std::thread& w : workers)
        w.join();
    summary.writeFailed = m_writeFailed;
    return summary;
}

} // namespace

RunSummary runChecks(const std::vector<std::string>& files, const Checker& checker, Sink& sink,
    Destination& destination, unsigned jobs)
{
    Run run(files, checker, sink, destination, jobs);
    return run.go();
}

} // namespace tromel
