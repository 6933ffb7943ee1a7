#pragma once

#include "Pipeline.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tromel {

class Checker;

/// One file's share of the output, as bytes for standard output and standard error.
class Output {
public:
    virtual ~Output() = default;
    virtual void out(std::string_view bytes) = 0;
    virtual void err(std::string_view bytes) = 0;
    /// Written to standard output only when an earlier file wrote there: what sets reports apart.
    virtual void gap(std::string_view bytes) = 0;
};

/// Writes one file's findings in a format. Made and used on the thread that checks the file.
class FileSink {
public:
    virtual ~FileSink() = default;
    virtual void finding(const Record& record, Output& out) = 0;
    virtual void warning(const Record& record, Output& out) = 0;
    virtual void note(const Record& record, Output& out) { (void)record, (void)out; }
    /// After the check: how it ended, and how many findings it made.
    virtual void end(const FileStatus& status, std::uint64_t findings, Output& out) = 0;
};

/// An output format.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void begin(Output& out) = 0;
    /// index: the file's place among the files checked, from 0. Called from the checking
    /// threads, several at once.
    virtual std::unique_ptr<FileSink> file(std::size_t index, const std::string& path) = 0;
    virtual void end(std::uint64_t total, Output& out) = 0;
};

/// Where a run's bytes end up. A false answer is a write error: the run stops.
class Destination {
public:
    virtual ~Destination() = default;
    virtual bool out(std::string_view bytes) = 0;
    virtual bool err(std::string_view bytes) = 0;
    /// Files done so far; called in order, after each file's output.
    virtual void progress(std::size_t done, std::size_t total) { (void)done, (void)total; }
};

struct RunSummary {
    std::uint64_t findings = 0;
    bool anyFound = false; // some file had findings
    bool anyError = false; // some file could not be checked
    bool writeFailed = false; // the destination refused bytes; the run stopped there
};

/// Checks files on up to `jobs` threads (0: one per core) and writes each file's output in the
/// order of `files`, as soon as the files before it are written. Output waiting for its turn is
/// bounded: a file that gets ahead waits. A failure of one file, running out of memory included,
/// is that file's error and the others go on.
RunSummary runChecks(const std::vector<std::string>& files, const Checker& checker, Sink& sink,
    Destination& destination, unsigned jobs = 0);

} // namespace tromel
