#pragma once

#include "Audit.h"
#include "CvarList.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace tromel::cli {

enum class OutputFormat { Text, Json };

struct AuditRequest {
    const CvarList* list = nullptr;
    std::string listPath;
    std::vector<std::string> files; // directories already replaced by their *.cfg files, in order
    OutputFormat format = OutputFormat::Text;
    Dialect dialect = Dialect::Both;
    unsigned jobs = 0; // files audited at once; 0: one per core
};

/// Audits each file and writes one "FILE:LINE:COL: ..." line per finding, then a total (or one
/// JSON document). Warnings and unreadable files go to err. Returns 0 when nothing was found,
/// 1 when something was, 2 when a file could not be read.
int runAudit(const AuditRequest& request, std::ostream& out, std::ostream& err);

} // namespace tromel::cli
