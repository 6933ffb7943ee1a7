#pragma once

#include "Console.h"
#include "Pipeline.h"

namespace tromel {

struct CvarList;

/// Audit mode: every command that sets or can set a listed cvar, read as the game's console does,
/// in each of the dialects asked for.
class AuditChecker final : public Checker {
public:
    /// list must outlive the checker.
    AuditChecker(const CvarList& list, console::DialectSet dialects);
    ~AuditChecker() override;

    FileStatus check(const std::string& path, FileReport& report, unsigned threads) const override;
    void jsonHeader(FieldWriter& out) const override;

private:
    const CvarList& m_list;
    console::Watch m_watch;
    console::DialectSet m_dialects;
};

} // namespace tromel
