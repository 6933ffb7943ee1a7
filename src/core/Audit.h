#pragma once

#include "CvarList.h"
#include "MFileOp.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tromel {

/// Which engines' console to model. The two read text alike, except that older engines end a
/// command at ';' even inside a "//" comment. Both: what either would run.
enum class Dialect { Both, Old, New };

inline constexpr std::size_t kNoStep = static_cast<std::size_t>(-1);

// Forms and setters are names with static storage. Places are a path (in AuditResult::paths),
// a line (1-based, every physical line counted) and a column (1-based, in bytes).

/// One hop between the audited file and a finding: the command that ran the text holding it.
struct AuditStep {
    std::string_view form; // "exec", "bind" or "vstr"
    std::uint32_t path = 0;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::string command;
    std::size_t outer = kNoStep; // the hop that ran this one's command, in AuditResult::steps
};

/// A command that sets, or can set, a listed cvar. Its place is where the command is written,
/// which may be an exec'd file or the inside of a quoted value.
struct AuditFinding {
    std::uint32_t path = 0;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::uint32_t index = 0; // into CvarList::names
    std::string_view form; // the outermost hop's form ("exec", "bind", "vstr"), else setter
    std::string_view setter; // seta, set, sets, setu, bare, toggle, cycle, reset or unset
    std::string command; // the setting command as the console sees it
    std::size_t via = kNoStep; // the innermost hop, in AuditResult::steps; none when the audited file runs it
    bool oldDialectOnly = false;
    bool newDialectOnly = false;
};

struct AuditWarning {
    std::uint32_t path = 0;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::string message;
};

struct AuditResult {
    FileStatus file; // the audited file itself; Empty and NoLines mean nothing was run
    std::vector<std::string> paths; // the audited file's, then those of the files it execs
    std::vector<AuditFinding> findings;
    std::vector<AuditStep> steps; // each hop once, however many findings it leads to
    std::vector<AuditWarning> warnings;

    explicit operator bool() const { return static_cast<bool>(file); }

    /// The hops that lead to f, outermost first.
    std::vector<const AuditStep*> route(const AuditFinding& f) const;
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
