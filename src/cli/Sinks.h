#pragma once

#include "Runner.h"

#include <memory>
#include <string>

namespace tromel {
class Checker;
struct CvarList;
} // namespace tromel

namespace tromel::cli {

/// The text format: the checker's report layout on standard output, warnings and errors on
/// standard error. severalFiles: each report gets a header naming its file.
std::unique_ptr<Sink> makeTextSink(const Checker& checker, bool severalFiles);

/// One JSON document: the list, the checker's own fields, then an object per file in order,
/// written as findings come, laid out as nlohmann's dump(2) of the whole would be.
std::unique_ptr<Sink> makeJsonSink(const Checker& checker, const std::string& listPath, const CvarList& list);
/// The same without a list, for modes that check against something else.
std::unique_ptr<Sink> makeJsonSink(const Checker& checker);

/// The list alone, as the JSON document's "list" object describes it.
std::string listJson(const std::string& listPath, const CvarList& list);

} // namespace tromel::cli
