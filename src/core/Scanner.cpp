#include "Scanner.h"

#include "CvarList.h"
#include "PosixFd.h"
#include "ScanEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tromel {

Matcher::Matcher(const CvarList& list)
    : m_tables(std::make_unique<Tables>(list))
{
}

Matcher::~Matcher() = default;

struct ScanStream::State {
    ScanEngine engine;
};

ScanStream::ScanStream(const Matcher& matcher)
    : m_state(new State { ScanEngine(matcher.tables(), m_findings, 1 << 16) })
{
}

ScanStream::~ScanStream() = default;

void ScanStream::onChunk(std::string_view chunk)
{
    m_state->engine.append(chunk);
    m_lines = m_state->engine.lineCount();
}

void ScanStream::finish()
{
    m_state->engine.finish();
    m_lines = m_state->engine.lineCount();
}

std::vector<Finding> scanBuffer(std::string_view data, const Matcher& matcher)
{
    std::vector<Finding> out;
    ScanEngine engine(matcher.tables(), out, std::min<std::size_t>(data.size(), 1 << 20));
    engine.append(data);
    engine.finish();
    return out;
}

namespace {

constexpr std::size_t kChunk = 1 << 20;

#if !defined(_WIN32)

// Parts below this size are not worth a thread of their own.
constexpr std::uint64_t kMinPart = std::uint64_t { 8 } << 20;

struct Part {
    FileStatus status;
    std::vector<Finding> findings; // line numbers count from the part's first line
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
};

const char* firstBreak(const char* p, std::size_t n)
{
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', n));
    const auto* cr
        = static_cast<const char*>(std::memchr(p, '\r', lf ? static_cast<std::size_t>(lf - p) : n));
    return cr ? cr : lf;
}

// Scans the lines of the file that begin in [from, to): the part starts after the first break at
// or after from - 1 (at 0 for the first part) and ends with the first break at or after to - 1
// (at `end` for the last part), so that parts meet at breaks and every line falls in exactly one
// of them, whatever its length. Nothing at or past `end`, the size at opening, is read: a file
// that another program keeps appending to must not keep us here.
void scanPart(int fd, const Matcher::Tables& tables, std::uint64_t from, std::uint64_t to, std::uint64_t end,
    std::size_t chunk, Part& part)
{
    ScanEngine engine(tables, part.findings, chunk);
    const bool last = to == end;
    std::uint64_t offset = from == 0 ? 0 : from - 1; // next byte to read
    bool started = from == 0;
    bool done = false;
    while (!done && offset < end) {
        char* buffer = engine.writePtr();
        const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(engine.writeRoom(), end - offset));
        const ssize_t got = ::pread(fd, buffer, room, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            part.status = { FileError::Unreadable, errno };
            return;
        }
        if (got == 0)
            break;
        auto n = static_cast<std::size_t>(got);
        std::uint64_t start = offset; // file offset of buffer[0]
        offset += n;
        part.bytes += n;
        if (!started) {
            const char* b = firstBreak(buffer, n);
            if (b == nullptr)
                continue; // still inside the previous part's line
            const auto skip = static_cast<std::size_t>(b - buffer) + 1;
            if (!last && start + skip - 1 >= to - 1)
                break; // that break also ends this part: no line begins here
            std::memmove(buffer, buffer + skip, n - skip);
            n -= skip;
            start += skip;
            started = true;
        }
        if (!last && start + n > to - 1) {
            const std::size_t at = to - 1 > start ? static_cast<std::size_t>(to - 1 - start) : 0;
            if (const char* b = firstBreak(buffer + at, n - at)) {
                n = static_cast<std::size_t>(b - buffer) + 1;
                done = true;
            }
        }
        engine.commit(n);
    }
    engine.finish();
    part.lines = engine.lineCount();
}

ScanResult checkFile(const std::string& path, const Matcher::Tables& tables, const SplitPlan& plan)
{
    ScanResult result;
    // Non-blocking, and checked once open: a FIFO or a device cannot block us. When the open
    // fails, fileStatus() says why in the words that LoadFile uses.
    const Fd fd(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int openErrno = errno;
        const FileStatus s = fileStatus(path);
        result.file = s ? FileStatus { FileError::Unreadable, openErrno } : s;
        return result;
    }
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0) {
        result.file = { FileError::Unreadable, errno };
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.file = { FileError::NotRegular, 0 };
        return result;
    }
    if (st.st_size <= 0) {
        result.file = { FileError::Empty, 0 };
        return result;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
#if defined(POSIX_FADV_SEQUENTIAL)
    if (size > kChunk)
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    const unsigned threads
        = plan.threads != 0 ? plan.threads : std::max(1U, std::thread::hardware_concurrency());
    const auto count
        = static_cast<std::size_t>(plan.parts != 0 ? std::min<std::uint64_t>(plan.parts, size)
                                                   : std::clamp<std::uint64_t>(size / kMinPart, 1, threads));
    // A small file needs no more buffer than its size; reading goes on to the end all the same.
    const std::size_t chunk
        = plan.chunk != 0 ? plan.chunk : static_cast<std::size_t>(std::min<std::uint64_t>(size + 1, kChunk));

    std::vector<Part> parts(count);
    const auto run = [&](std::size_t i) {
        scanPart(fd.get(), tables, size * i / count, size * (i + 1) / count, size, chunk, parts[i]);
    };
    std::vector<std::thread> workers;
    std::size_t spawned = 1;
    try {
        for (; spawned < count; ++spawned)
            workers.emplace_back(run, spawned);
    } catch (const std::system_error&) {
        // No more threads to be had: this one scans the rest.
    }
    run(0);
    for (std::size_t i = spawned; i < count; ++i)
        run(i);
    for (std::thread& w : workers)
        w.join();

    std::uint64_t bytes = 0;
    for (const Part& p : parts) {
        if (!p.status) {
            result.file = p.status;
            return result;
        }
        bytes += p.bytes;
    }
    if (bytes == 0) {
        result.file = { FileError::Empty, 0 };
        return result;
    }
    std::size_t total = 0;
    for (const Part& p : parts)
        total += p.findings.size();
    result.findings = std::move(parts[0].findings);
    result.findings.reserve(total);
    result.lines = parts[0].lines;
    for (std::size_t i = 1; i < count; ++i) {
        for (const Finding& f : parts[i].findings)
            result.findings.push_back({ f.line + result.lines, f.index });
        result.lines += parts[i].lines;
    }
    return result;
}

#else

ScanResult checkFile(const std::string& path, const Matcher::Tables& tables, const SplitPlan&)
{
    struct Sink final : ChunkSink {
        Sink(const Matcher::Tables& t, std::vector<Finding>& out)
            : engine(t, out, kChunk)
        {
        }
        void onChunk(std::string_view chunk) override { engine.append(chunk); }
        ScanEngine engine;
    };
    ScanResult result;
    Sink sink(tables, result.findings);
    result.file = streamFile(path, sink);
    if (result.file) {
        sink.engine.finish();
        result.lines = sink.engine.lineCount();
    }
    return result;
}

#endif

} // namespace

ScanResult CheckConfig(const std::string& path, const Matcher& matcher, unsigned threads)
{
    return CheckConfig(path, matcher, SplitPlan { threads, 0, 0 });
}

ScanResult CheckConfig(const std::string& path, const Matcher& matcher, const SplitPlan& plan)
{
    ScanResult result = checkFile(path, matcher.tables(), plan);
    if (result.file && result.lines == 0)
        result.file = { FileError::NoLines, 0 };
    if (!result.file)
        result.findings.clear();
    return result;
}

} // namespace tromel
