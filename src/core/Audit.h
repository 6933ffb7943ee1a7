#pragma once

// Audit mode: every command that sets, or may set, a listed cvar, read the way the game's console
// runs the config (Console.h), in one dialect or several.

#include "Console.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tromel {

struct AuditHop {
    std::string_view form; // exec, vstr, bind, echo or hook
    std::string path;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::string command;
};

/// A command that sets a listed cvar. Its place is where the command is written (an exec'd file,
/// the inside of a quoted value...): lines counted from 1 (LF, CR and CRLF each end one), columns
/// in bytes from 1.
struct AuditFinding {
    std::string path;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::uint32_t index = 0; // into the list's names
    std::string_view form; // the outermost hop's kind, else the setter
    std::string_view setter; // seta, set, sets, setu, bare, toggle, cycle, reset, unset or written
    std::string command; // as the console runs it
    std::optional<std::string> value; // the value set, when the command's text gives it
    std::vector<AuditHop> via; // what ran the text holding it, outermost first
    std::size_t hiddenHops = 0; // left out of `via` between its halves (console::kRouteHops)
    console::DialectSet dialects; // the dialects audited that run it
    bool onKeyPress = false;
    bool possible = false;
};

struct AuditWarning {
    std::string path;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::string message;
    console::DialectSet dialects; // the dialects audited whose reading gives it
};

/// Takes an audit's findings and warnings as it makes them.
class AuditSink {
public:
    virtual ~AuditSink() = default;
    virtual void finding(const AuditFinding& finding) = 0;
    virtual void warning(const AuditWarning& warning) = 0;
    virtual bool cancelled() const { return false; }
};

/// Audits the config at path ("-" is standard input) in each dialect of `dialects`. Each place is
/// reported once, as the first dialect (etlegacy, ioq3, et) that runs it runs it, in the order it
/// runs things; memory does not grow with the findings.
FileStatus audit(const std::string& path, const console::Watch& watch, console::DialectSet dialects,
    AuditSink& sink, const console::Limits& limits = {});

/// The same for a config already in memory, named path (execs look beside it).
FileStatus auditText(std::string text, const std::string& path, const console::Watch& watch,
    console::DialectSet dialects, AuditSink& sink, const console::Limits& limits = {});

} // namespace tromel
