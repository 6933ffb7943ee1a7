#pragma once

#include <string>

namespace tromel {

/// Why a file could not be used. Missing and NotRegular are both "not found" to callers that only
/// ask FileExists; they are kept apart so that messages can say which.
enum class FileError {
    None,
    Missing, // nothing there, a dangling link, or an unreachable path
    NotRegular, // a directory, FIFO, socket or device: never opened for reading
    Empty, // a regular file with no bytes
    Unreadable, // open or read failed (permissions, I/O error)
    NoLines, // only line breaks
    OutOfMemory, // the file's report or model did not fit in memory
    Cancelled, // the caller stopped the work
    Failed, // anything else that stopped the check of this file
};

struct FileStatus {
    FileError error = FileError::None;
    int errnum = 0; // errno of the failed call, when there was one

    explicit operator bool() const { return error == FileError::None; }
    /// Empty and NoLines: nothing to check, which is a warning rather than an error.
    bool nothingToCheck() const { return error == FileError::Empty || error == FileError::NoLines; }
};

/// A plain-words cause, for messages ("no such file", "is a directory", ...).
std::string describe(const FileStatus& status);

} // namespace tromel
