#include "PlainScan.h"

#include "Reader.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tromel {

namespace {

constexpr std::uint64_t kMinPart = std::uint64_t { 8 } << 20; // smaller parts are not worth a thread
constexpr std::size_t kHeldFindings = std::size_t { 1 } << 20; // held by all waiting parts together

const char* firstBreak(const char* p, std::size_t n)
{
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', n));
    const auto* cr
        = static_cast<const char*>(std::memchr(p, '\r', lf ? static_cast<std::size_t>(lf - p) : n));
    return cr ? cr : lf;
}

// What the parts of one file share: whose turn it is to hand findings over, and how many lines
// came before it. Only the part whose turn it is calls the caller's FindingBatches.
class Turns {
public:
    Turns(FindingBatches& out, std::size_t parts)
        : m_out(out)
        , m_cap(std::max<std::size_t>(kHeldFindings / std::max<std::size_t>(parts, 1), 1 << 12))
    {
    }

    bool isTurn(std::size_t part) const { return m_turn.load(std::memory_order_acquire) == part; }
    std::size_t cap() const { return m_cap; }

    // Hands held findings over when it is part's turn; otherwise keeps them until they reach the
    // bound, then waits for the turn. False when the scan is over for everybody.
    bool offer(std::size_t part, std::vector<Finding>& held)
    {
        if (held.empty() || m_out.cancelled())
            return !stopped();
        if (!isTurn(part)) {
            if (held.size() < m_cap)
                return !stopped();
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return isTurn(part) || m_stop; });
        }
        if (stopped()) {
            held.clear();
            return false;
        }
        // The turn is this part's until it passes it on: the base cannot change meanwhile.
        for (Finding& f : held)
            f.line += m_base;
        m_out.take(held.data(), held.size());
        m_findings += held.size();
        held.clear();
        // A cancel seen here must stop the others too: some may wait for a turn that won't come.
        return !stopped();
    }

    // The part's last findings, then the turn passes on.
    bool finish(std::size_t part, std::vector<Finding>& held, std::uint64_t lines)
    {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return isTurn(part) || m_stop; });
            if (m_stop)
                return false;
        }
        if (!offer(part, held))
            return false;
        {
            std::lock_guard lock(m_mutex);
            m_base += lines;
            m_turn.store(part + 1, std::memory_order_release);
        }
        m_changed.notify_all();
        return true;
    }

    void fail(FileStatus status, std::exception_ptr error = nullptr)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_stop) {
                m_status = status;
                m_error = std::move(error);
            }
            m_stop.store(true, std::memory_order_release);
        }
        m_changed.notify_all();
    }

    // Asked for each line with findings: no lock. It is set under the lock, for the waiters.
    bool stopped()
    {
        if (m_out.cancelled())
            fail({ FileError::Cancelled, 0 });
        return m_stop.load(std::memory_order_acquire);
    }

    FileStatus status() const { return m_status; }
    std::exception_ptr error() const { return m_error; }
    std::uint64_t lines() const { return m_base; }
    std::uint64_t findings() const { return m_findings; }

private:
    FindingBatches& m_out;
    std::size_t m_cap;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<std::size_t> m_turn { 0 };
    std::uint64_t m_base = 0; // lines of the parts whose turn is over
    std::uint64_t m_findings = 0;
    std::atomic<bool> m_stop { false };
    FileStatus m_status;
    std::exception_ptr m_error;
};

// A part's findings, a line's at a time: straight on while it is the part's turn, else held.
class PartFindings final : public FindingSink {
public:
    PartFindings(Turns& turns, std::size_t part)
        : m_turns(turns)
        , m_part(part)
    {
    }

    void take(const Finding* findings, std::size_t count) override
    {
        m_held.insert(m_held.end(), findings, findings + count);
        if (m_turns.isTurn(m_part) || m_held.size() >= m_turns.cap())
            m_turns.offer(m_part, m_held);
    }

    std::vector<Finding>& held() { return m_held; }

private:
    Turns& m_turns;
    std::size_t m_part;
    std::vector<Finding> m_held;
};

// Runs fn, turning what it throws into the scan's failure.
template <typename F> void guarded(Turns& turns, F&& fn)
{
    try {
        fn();
    } catch (const std::bad_alloc&) {
        turns.fail({ FileError::OutOfMemory, 0 });
    } catch (...) {
        turns.fail({ FileError::Unreadable, 0 }, std::current_exception());
    }
}

struct Part {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    bool last = false;
    std::uint64_t bytes = 0;
};

// Scans the lines that begin in [from, to): the part starts after the first break at or after
// from - 1 (at 0 for the first part) and ends with the first break at or after to - 1 (at the
// file's end for the last part), so that parts meet at breaks and every line falls in exactly one
// of them, whatever its length.
void scanPart(const FileReader& reader, const Matcher& matcher, std::size_t index, Part& part,
    std::size_t chunk, Turns& turns)
{
    LineScanner scanner(matcher);
    PartFindings found(turns, index);
    std::vector<char> buffer(chunk);
    const std::uint64_t end = reader.size();
    std::uint64_t offset = part.from == 0 ? 0 : part.from - 1; // next byte to read
    bool started = part.from == 0;
    bool done = false;
    while (!done && offset < end) {
        std::size_t n = 0;
        if (FileStatus s = reader.readAt(offset, buffer.data(), buffer.size(), n); !s) {
            turns.fail(s);
            return;
        }
        if (n == 0)
            break;
        const std::uint64_t start = offset; // file offset of buffer[0]
        offset += n;
        part.bytes += n;
        std::size_t skip = 0;
        if (!started) {
            const char* b = firstBreak(buffer.data(), n);
            if (b == nullptr) {
                if (turns.stopped())
                    return;
                continue; // still inside the previous part's line
            }
            skip = static_cast<std::size_t>(b - buffer.data()) + 1;
            if (!part.last && start + skip - 1 >= part.to - 1)
                break; // that break also ends this part: no line begins here
            started = true;
        }
        if (!part.last && start + n > part.to - 1) {
            const std::size_t at = std::max<std::size_t>(
                skip, part.to - 1 > start ? static_cast<std::size_t>(part.to - 1 - start) : 0);
            if (const char* b = firstBreak(buffer.data() + at, n - at)) {
                n = static_cast<std::size_t>(b - buffer.data()) + 1;
                done = true;
            }
        }
        scanner.feed(std::string_view(buffer.data() + skip, n - skip), found);
        if (!turns.offer(index, found.held()))
            return;
    }
    scanner.finish(found);
    turns.finish(index, found.held(), scanner.lineCount());
}

ScanSummary scanInParts(const FileReader& reader, const Matcher& matcher, FindingBatches& out,
    std::size_t count, std::size_t chunk)
{
    const std::uint64_t size = reader.size();
    std::vector<Part> parts(count);
    for (std::size_t i = 0; i < count; ++i)
        parts[i] = { size * i / count, size * (i + 1) / count, i + 1 == count, 0 };
    Turns turns(out, count);
    const auto run = [&](std::size_t i) {
        guarded(turns, [&] { scanPart(reader, matcher, i, parts[i], chunk, turns); });
    };
    std::vector<std::thread> workers;
    std::size_t spawned = 1;
    try {
        for (; spawned < count; ++spawned)
            workers.emplace_back(run, spawned);
    } catch (const std::exception&) {
        // No more threads to be had: this one scans the rest, in turn.
    }
    run(0);
    for (std::size_t i = spawned; i < count; ++i)
        run(i);
    for (std::thread& w : workers)
        w.join();
    if (turns.error())
        std::rethrow_exception(turns.error());

    ScanSummary summary;
    summary.file = turns.status();
    summary.lines = turns.lines();
    summary.findings = turns.findings();
    std::uint64_t bytes = 0;
    for (const Part& p : parts)
        bytes += p.bytes;
    if (summary.file && bytes == 0)
        summary.file = { FileError::Empty, 0 };
    return summary;
}

// Hands findings straight on, counting them.
class Counted final : public FindingSink {
public:
    explicit Counted(FindingBatches& out)
        : m_out(out)
    {
    }
    void take(const Finding* findings, std::size_t count) override
    {
        m_out.take(findings, count);
        m_count += count;
    }
    std::uint64_t count() const { return m_count; }

private:
    FindingBatches& m_out;
    std::uint64_t m_count = 0;
};

ScanSummary scanInOrder(FileReader& reader, const Matcher& matcher, FindingBatches& out, std::size_t chunk)
{
    ScanSummary summary;
    LineScanner scanner(matcher);
    Counted found(out);
    std::uint64_t bytes = 0;
    for (;;) {
        if (out.cancelled()) {
            summary.file = { FileError::Cancelled, 0 };
            return summary;
        }
        std::string_view piece;
        if (FileStatus s = reader.next(piece, chunk); !s) {
            summary.file = s;
            return summary;
        }
        if (piece.empty())
            break;
        bytes += piece.size();
        scanner.feed(piece, found);
    }
    scanner.finish(found);
    summary.lines = scanner.lineCount();
    summary.findings = found.count();
    if (bytes == 0)
        summary.file = { FileError::Empty, 0 };
    return summary;
}

} // namespace

ScanSummary scanConfig(
    const std::string& path, const Matcher& matcher, FindingBatches& out, const ScanPlan& plan)
{
    ScanSummary summary;
    try {
        FileReader reader;
        if (FileStatus s = reader.open(path, true); !s) {
            summary.file = s;
            return summary;
        }
        const std::size_t chunk = plan.chunk != 0 ? plan.chunk : FileReader::kChunk;
        const unsigned threads
            = plan.threads != 0 ? plan.threads : std::max(1U, std::thread::hardware_concurrency());
        std::size_t parts = 1;
        if (reader.sized() && reader.size() > 0) {
            parts = plan.parts != 0
                ? static_cast<std::size_t>(std::min<std::uint64_t>(plan.parts, reader.size()))
                : static_cast<std::size_t>(std::clamp<std::uint64_t>(reader.size() / kMinPart, 1, threads));
        }
        summary = parts > 1 ? scanInParts(reader, matcher, out, parts, chunk)
                            : scanInOrder(reader, matcher, out, chunk);
    } catch (const std::bad_alloc&) {
        summary.file = { FileError::OutOfMemory, 0 };
    }
    if (summary.file && summary.lines == 0)
        summary.file = { FileError::NoLines, 0 };
    return summary;
}

} // namespace tromel
