#pragma once

#include "CvarList.h"
#include "MFileOp.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tromel {

/// Which engines' console to model. Older engines split a command at ';' even inside a "//"
/// comment and end a "/* */" comment at the end of its line; newer ones do neither.
enum class Dialect { Both, Old, New };

/// One hop between the audited file and a finding: the command that ran the text holding it.
struct AuditStep {
    std::string form; // "exec", "bind" or "vstr"
    std::string file;
    std::uint64_t line = 0; // 1-based, every physical line counted
    std::uint64_t column = 0; // 1-based, in bytes
    std::string command;
};

/// A command that sets, or can set, a listed cvar. file, line and column are where the command is
/// written, which may be an exec'd file or the inside of a quoted value.
struct AuditFinding {
    std::string file;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::uint32_t index = 0; // into CvarList::names
    std::string form; // the first hop's form ("exec", "bind", "vstr"), else setter
    std::string setter; // seta, set, sets, setu, bare, toggle, cycle, reset or unset
    std::string command; // the setting command as the console sees it
    std::vector<AuditStep> via; // outermost first; empty when the audited file runs it itself
    bool oldDialectOnly = false;
    bool newDialectOnly = false;
};

struct AuditWarning {
    std::string file;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::string message;
};

struct AuditResult {
    FileStatus file; // the audited file itself; Empty and NoLines mean nothing was run
    std::vector<AuditFinding> findings;
    std::vector<AuditWarning> warnings;

    explicit operator bool() const { return static_cast<bool>(file); }
};

/// The list's names hashed for case-insensitive lookup; build once, share between threads.
class AuditList {
public:
    explicit AuditList(const CvarList& list);
    ~AuditList();
    AuditList(const AuditList&) = delete;
    AuditList& operator=(const AuditList&) = delete;

    struct Table;
    const Table& table() const { return *m_table; }

private:
    std::unique_ptr<Table> m_table;
};

/// Reads a config as the console runs it, following exec (relative to the config's directory),
/// bind texts and vstr'd values, and reports every command that can set a listed cvar.
AuditResult auditConfig(const std::string& path, const AuditList& list, Dialect dialect);
AuditResult auditConfig(const std::string& path, const CvarList& list, Dialect dialect);

/// The same for text already in memory; path names it in findings and anchors exec.
AuditResult auditBuffer(
    std::string_view text, const std::string& path, const AuditList& list, Dialect dialect);

} // namespace tromel
