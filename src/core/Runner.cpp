#include "Runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace tromel {

namespace {

constexpr std::size_t kHandOverAt = std::size_t { 64 } << 10; // bytes a checking thread gathers first
constexpr std::size_t kHeld = std::size_t { 16 } << 20; // bytes all files ahead of their turn may hold
constexpr std::size_t kAheadPerJob = 16; // files a thread may get ahead of the one being written

enum class Stream : std::uint8_t { Out, Err, Gap };

struct Piece {
    Stream stream;
    std::string bytes;
};

struct FileOutcome {
    std::uint64_t findings = 0;
    bool failed = false;
};

// A file's output waiting for its turn. The file whose turn it is (the head) is written straight
// out by the thread that checks it; the others gather their bytes here, up to a bound.
struct Slot {
    std::mutex mutex;
    std::condition_variable turnCame;
    std::vector<Piece> pieces;
    std::size_t bytes = 0;
    bool isHead = false;
    bool done = false;
    bool waiting = false; // its thread sleeps until the turn comes
    FileOutcome outcome;

    void clear()
    {
        pieces.clear();
        bytes = 0;
        isHead = done = waiting = false;
        outcome = {};
    }
};

// Every thread checks files, the one that started the run included. Output goes out in the order
// of the files: the thread that checks the head file writes it, and when it is done it writes the
// files after it that are done too, then hands the turn to the file still being checked. So no
// thread waits for another unless a file ahead of its turn has gathered its share of bytes.
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
        // Small files are over in microseconds: a deep window keeps the threads from waiting for
        // one another, and the bytes each may hold keep memory bounded all the same.
        m_slots.resize(
            std::max<std::size_t>(1, std::min<std::size_t>(files.size(), kAheadPerJob * m_jobs + 1)));
        for (auto& slot : m_slots)
            slot = std::make_unique<Slot>();
        m_slots[0]->isHead = true;
        m_heldPerFile = std::max<std::size_t>(kHeld / m_slots.size(), kHandOverAt);
    }

    RunSummary go();

private:
    class FileOutput;
    class Direct;
    class Reporter;

    bool cancelled() const { return m_cancelled.load(std::memory_order_relaxed); }
    void cancel();
    Slot& slotOf(std::size_t file) { return *m_slots[file % m_slots.size()]; }
    std::size_t claim();
    void work();
    FileOutcome check(std::size_t index, Output& output);
    void passTurn(std::size_t from, FileOutcome outcome);
    void write(const std::vector<Piece>& pieces);
    bool write(Stream stream, std::string_view bytes);

    const std::vector<std::string>& m_files;
    const Checker& m_checker;
    Sink& m_sink;
    Destination& m_destination;
    unsigned m_jobs;
    std::vector<std::unique_ptr<Slot>> m_slots;
    std::size_t m_heldPerFile = 0;
    std::atomic<std::size_t> m_next { 0 }; // the next file to check
    std::atomic<std::size_t> m_head { 0 }; // the file whose turn it is to be written
    std::mutex m_windowMutex;
    std::condition_variable m_windowMoved;
    std::size_t m_claimWaiters = 0; // under m_windowMutex
    std::atomic<bool> m_cancelled { false };
    // Written only by the thread whose turn it is.
    RunSummary m_summary;
    bool m_wroteOut = false;
};

// One file's bytes: gathered, then written when the file is the head, else kept in its slot.
class Run::FileOutput final : public Output {
public:
    FileOutput(Run& run, std::size_t index)
        : m_run(run)
        , m_index(index)
        , m_slot(run.slotOf(index))
    {
    }

    void out(std::string_view bytes) override { add(Stream::Out, bytes); }
    void err(std::string_view bytes) override { add(Stream::Err, bytes); }
    void gap(std::string_view bytes) override { add(Stream::Gap, bytes); }

    // The file is checked: its bytes and outcome go out now if it is the head, else they stay
    // for the thread that writes the files before it. Done and kept in one step, so that thread
    // never sees a file done without its last bytes.
    void finish(FileOutcome outcome)
    {
        std::unique_lock lock(m_slot.mutex);
        m_slot.done = true;
        if (!m_slot.isHead) {
            if (!keep())
                outcome.failed = true;
            m_slot.outcome = outcome;
            return;
        }
        lock.unlock();
        handOver();
        m_run.passTurn(m_index, outcome);
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

    // Writes what this file has gathered once it is the head; until then keeps it in the slot,
    // and waits for the turn when the slot holds its share.
    void handOver()
    {
        std::unique_lock lock(m_slot.mutex);
        if (!m_slot.isHead && m_slot.bytes + m_bytes > m_run.m_heldPerFile) {
            m_slot.waiting = true;
            m_slot.turnCame.wait(lock, [&] { return m_slot.isHead || m_run.cancelled(); });
            m_slot.waiting = false;
        }
        if (m_run.cancelled()) {
            m_pieces.clear();
            m_bytes = 0;
            return;
        }
        if (!m_slot.isHead) {
            keep();
            return;
        }
        std::vector<Piece> earlier = std::move(m_slot.pieces);
        m_slot.pieces.clear();
        m_slot.bytes = 0;
        lock.unlock();
        m_run.write(earlier);
        m_run.write(m_pieces);
        m_pieces.clear();
        m_bytes = 0;
    }

    // Moves the gathered bytes into the slot, under its lock. False when memory is too short
    // even for that: the bytes are lost, and the file counts as failed.
    bool keep()
    {
        bool kept = true;
        try {
            for (Piece& p : m_pieces)
                m_slot.pieces.push_back(std::move(p));
            m_slot.bytes += m_bytes;
        } catch (const std::bad_alloc&) {
            kept = false;
        }
        m_pieces.clear();
        m_bytes = 0;
        return kept;
    }

    Run& m_run;
    std::size_t m_index;
    Slot& m_slot;
    std::vector<Piece> m_pieces;
    std::size_t m_bytes = 0;
};

// Straight out, for the moments when this thread alone writes: before the files and after them.
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
    void note(const Record& record) override { m_sink.note(record, m_output); }
    bool cancelled() const override { return m_run.cancelled(); }

    std::uint64_t findings() const { return m_findings; }

private:
    Run& m_run;
    FileSink& m_sink;
    Output& m_output;
    std::uint64_t m_findings = 0;
};

void Run::cancel()
{
    m_cancelled = true;
    {
        std::lock_guard lock(m_windowMutex);
        m_windowMoved.notify_all();
    }
    for (auto& slot : m_slots) {
        std::lock_guard lock(slot->mutex);
        slot->turnCame.notify_all();
    }
}

// The next file for this thread, once its slot is free; files.size() when none is left.
// Lock-free while the window has room: small files are taken thousands of times a second.
std::size_t Run::claim()
{
    for (;;) {
        std::size_t next = m_next.load();
        if (cancelled() || next >= m_files.size())
            return m_files.size();
        if (next < m_head.load() + m_slots.size()) {
            if (m_next.compare_exchange_weak(next, next + 1))
                return next;
            continue;
        }
        std::unique_lock lock(m_windowMutex);
        ++m_claimWaiters;
        m_windowMoved.wait(lock, [&] {
            const std::size_t n = m_next.load();
            return cancelled() || n >= m_files.size() || n < m_head.load() + m_slots.size();
        });
        --m_claimWaiters;
    }
}

void Run::work()
{
    for (std::size_t index = claim(); index < m_files.size(); index = claim()) {
        FileOutput output(*this, index);
        FileOutcome outcome;
        try {
            outcome = check(index, output);
        } catch (...) {
            outcome.failed = true;
        }
        output.finish(outcome);
    }
}

FileOutcome Run::check(std::size_t index, Output& output)
{
    FileStatus status;
    std::uint64_t findings = 0;
    try {
        const std::unique_ptr<FileSink> fileSink = m_sink.file(index, m_files[index]);
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
    return { findings, !status && !status.nothingToCheck() };
}

// The file `from` is written to its end: counts it, then writes each next file that is done and
// gives the turn to the first that is not.
void Run::passTurn(std::size_t from, FileOutcome outcome)
{
    for (std::size_t i = from;;) {
        m_summary.findings += outcome.findings;
        m_summary.anyFound = m_summary.anyFound || outcome.findings > 0;
        m_summary.anyError = m_summary.anyError || outcome.failed;
        {
            std::lock_guard lock(slotOf(i).mutex);
            slotOf(i).clear();
        }
        if (!cancelled())
            m_destination.progress(i + 1, m_files.size());
        ++i;
        {
            std::lock_guard lock(m_windowMutex); // so that a thread about to wait sees the move
            m_head = i;
            if (m_claimWaiters != 0)
                m_windowMoved.notify_all();
        }
        if (i >= m_files.size())
            return;
        Slot& next = slotOf(i);
        std::unique_lock lock(next.mutex);
        next.isHead = true;
        if (!next.done) {
            if (next.waiting)
                next.turnCame.notify_all();
            return; // its own thread writes it from now on
        }
        std::vector<Piece> pieces = std::move(next.pieces);
        outcome = next.outcome;
        lock.unlock();
        write(pieces);
    }
}

void Run::write(const std::vector<Piece>& pieces)
{
    for (const Piece& p : pieces)
        write(p.stream, p.bytes);
}

bool Run::write(Stream stream, std::string_view bytes)
{
    if (m_summary.writeFailed || bytes.empty())
        return !m_summary.writeFailed;
    if (stream == Stream::Gap && !m_wroteOut)
        return true;
    const bool ok = stream == Stream::Err ? m_destination.err(bytes) : m_destination.out(bytes);
    m_wroteOut = m_wroteOut || stream != Stream::Err;
    if (!ok) {
        m_summary.writeFailed = true;
        cancel();
    }
    return ok;
}

RunSummary Run::go()
{
    Direct direct(*this);
    m_sink.begin(direct);
    std::vector<std::thread> helpers;
    try {
        const std::size_t wanted = std::min<std::size_t>(m_jobs, m_files.size());
        for (std::size_t w = 1; w < wanted; ++w)
            helpers.emplace_back([this] { work(); });
    } catch (const std::exception&) {
        // Fewer threads than asked for: the others check what is left.
    }
    work();
    for (std::thread& t : helpers)
        t.join();
    if (!cancelled())
        m_sink.end(m_summary.findings, direct);
    return m_summary;
}

} // namespace

RunSummary runChecks(const std::vector<std::string>& files, const Checker& checker, Sink& sink,
    Destination& destination, unsigned jobs)
{
    if (files.empty())
        return {};
    Run run(files, checker, sink, destination, jobs);
    return run.go();
}

} // namespace tromel
