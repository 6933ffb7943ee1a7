#pragma once

#include "MFileOp.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tromel {

/// The forbidden-variable list. names[0] is always empty; names[1..N] are the list's lines after
/// the header, in file order, taken whole (no trimming, no comments, duplicates kept).
struct CvarList {
    std::string version; // empty with hasHeader false: the list had no lines
    std::string date;
    bool hasHeader = false;
    std::vector<std::string> names { std::string() };

    std::uint64_t count() const { return names.size() - 1; }
};

enum class ListError {
    None,
    NotFound, // missing, a directory or another non-regular file
    Unreadable, // exists but could not be read
    TooFewFields, // header has fewer than three space-separated fields
    NoVersionDot, // header field 3 has no '.' between version and date
};

struct ListResult {
    CvarList list;
    ListError error = ListError::None;
    FileStatus file; // the file-level cause when error is NotFound or Unreadable
    std::string message; // plain words, empty on success

    explicit operator bool() const { return error == ListError::None; }
};

/// Parses list lines. The header (line 0) splits at every single space; field 2 is
/// VERSION.DATE split at its last '.'. No lines at all is no error: count 0, no header.
ListResult parseCvars(const LineList& lines);

/// Reads and parses a list file. Empty files and files of only line breaks are empty lists.
ListResult LoadCvars(const std::string& path);

} // namespace tromel
