#pragma once

#include "FileStatus.h"
#include "Scanner.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tromel {

/// Takes a scan's findings in order, a batch at a time, as the scan goes. Batches come from one
/// thread at a time, though not always the same one.
class FindingBatches : public FindingSink {
public:
    /// Asked between pieces of the file, from any thread; true stops the scan, which answers
    /// Cancelled.
    virtual bool cancelled() const { return false; }
};

/// How scanConfig may cut a file into parts scanned at once. By default a file of 8 MiB or more
/// is cut into parts of at least 8 MiB, at most one a thread; tests force many small parts and
/// small reads to reach every seam.
struct ScanPlan {
    unsigned threads = 1; // 0: one per core
    std::size_t parts = 0; // not 0: exactly this many (at most one a byte)
    std::size_t chunk = 0; // not 0: bytes per read
};

struct ScanSummary {
    FileStatus file; // Empty also for a file of only line breaks (NoLines)
    std::uint64_t lines = 0; // non-empty lines
    std::uint64_t findings = 0;

    explicit operator bool() const { return static_cast<bool>(file); }
};

/// Scans a config file ("-": standard input) and hands its findings over as they are found, so
/// that memory does not grow with their number. Parts scanned ahead of their turn hold a bounded
/// number of findings, then wait. Findings handed over before a failure stay handed over.
ScanSummary scanConfig(
    const std::string& path, const Matcher& matcher, FindingBatches& out, const ScanPlan& plan = {});

} // namespace tromel
