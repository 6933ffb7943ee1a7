#pragma once

// The per-file pipeline that every mode shares: a checker turns one file into findings and
// warnings as it reads it; a sink writes them in one output format; the runner (Runner.h) checks
// many files at once and keeps their output in order. A new mode is a new Checker.

#include "FileStatus.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tromel {

/// How the bytes of a text field become characters.
enum class Encoding {
    Latin1, // each byte is the character of the same code: what configs and lists hold
    Name, // UTF-8 when the bytes are valid UTF-8, else Windows-1252: file names, the list header
};

/// Receives the fields of one record, in order. Inside a list, keys are not used.
class FieldWriter {
public:
    virtual ~FieldWriter() = default;
    virtual void number(std::string_view key, std::uint64_t value) = 0;
    virtual void boolean(std::string_view key, bool value) = 0;
    virtual void text(std::string_view key, std::string_view value, Encoding encoding) = 0;
    virtual void null(std::string_view key) = 0;
    virtual void beginObject(std::string_view key) = 0;
    virtual void beginList(std::string_view key) = 0;
    virtual void end() = 0;
};

/// A finding or a warning of some mode, in a shape that every output format can write.
class Record {
public:
    virtual ~Record() = default;
    /// One line of text, without its line break.
    virtual void text(std::string& out) const = 0;
    virtual void fields(FieldWriter& out) const = 0;
};

/// Takes one file's findings and warnings as a checker makes them. Used by one thread at a time.
class FileReport {
public:
    virtual ~FileReport() = default;
    virtual void finding(const Record& record) = 0;
    virtual void warning(const Record& record) = 0;
    /// Something the user asked to be told that is neither a finding nor a problem (a rule a config
    /// leaves alone); not counted. Reports that show none ignore it.
    virtual void note(const Record& record) { (void)record; }
    /// True once the results are no longer wanted (a write error, a closed window); checkers ask
    /// between pieces of work and then stop, answering Cancelled. Safe to ask from any thread.
    virtual bool cancelled() const = 0;
};

/// A mode: checks one file, reporting as it goes. One checker serves every file of a run, from
/// several threads at once.
class Checker {
public:
    virtual ~Checker() = default;

    /// threads: how many this file may use (more than one only when it is checked alone).
    virtual FileStatus check(const std::string& path, FileReport& report, unsigned threads) const = 0;

    // The text format's layout for this mode.
    /// Opens a file's report, before its first finding, or at its end when it has none.
    virtual void textReportBegin(std::string& out, std::string_view path, bool severalFiles) const;
    /// Closes the report of a file that was checked to its end.
    virtual void textReportEnd(std::string& out, std::uint64_t findings) const;
    /// True when reports are set apart by an empty line.
    virtual bool textReportsApart() const { return false; }
    /// After the last file: the total of every file's findings.
    virtual void textSummary(std::string& out, std::uint64_t total) const;

    /// The JSON document's fields that describe the run, after the list.
    virtual void jsonHeader(FieldWriter& out) const;
};

/// "FILE:LINE:COL", where a finding or warning stands.
std::string position(std::string_view path, std::uint64_t line, std::uint64_t column);
/// The same place as the fields "file", "line" and "column".
void writePosition(FieldWriter& out, std::string_view path, std::uint64_t line, std::uint64_t column);

/// Control characters become spaces, so that a name or a command stays on its line and cannot
/// drive a terminal.
std::string oneLine(std::string_view text);

} // namespace tromel
