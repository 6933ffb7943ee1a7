#pragma once

#include "Audit.h"
#include "Pipeline.h"

namespace tromel {

/// Audit mode: every command that sets or can set a listed cvar, read as the game's console does.
class AuditChecker final : public Checker {
public:
    /// list must outlive the checker.
    AuditChecker(const CvarList& list, Dialect dialect);
    ~AuditChecker() override;

    FileStatus check(const std::string& path, FileReport& report, unsigned threads) const override;
    void jsonHeader(FieldWriter& out) const override;

private:
    const CvarList& m_list;
    AuditList m_names;
    Dialect m_dialect;
};

} // namespace tromel
