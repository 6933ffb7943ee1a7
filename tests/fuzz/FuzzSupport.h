#pragma once

// Shared by the fuzz targets: plain models to compare the engine with, and a loud failure.

#include "CvarList.h"
#include "ReferenceScan.h"
#include "Scanner.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace tromel::fuzz {

// A mismatch must stop the fuzzer with the input saved, like a crash does.
inline void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "MISMATCH: %s\n", what);
        std::abort();
    }
}

// Line splitting as a byte-by-byte state machine, written apart from LineList: a line is emitted
// at a break that follows an ordinary byte, and at the last byte when it is an ordinary one.
inline std::vector<std::string> plainLines(std::string_view data)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    bool afterBreak = false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool isBreak = data[i] == '\r' || data[i] == '\n';
        const bool isLast = i + 1 == data.size();
        if (!isBreak && !isLast) {
            afterBreak = false;
            continue;
        }
        if ((!afterBreak && i > 0) || !isBreak) {
            const std::size_t end = isBreak ? i : i + 1;
            require(end > start, "the plain splitter made an empty line");
            lines.emplace_back(data.substr(start, end - start));
        }
        afterBreak = true;
        start = i + 1;
    }
    return lines;
}

// An input of NAMES ["\n%%\n" CONFIG]: a list of the NAMES, one a line (CR, LF or both, as a list
// file has them), and CONFIG; without the "%%" line, the names' own text is the config.
struct ListAndConfig {
    CvarList list;
    std::string_view config;
};

inline ListAndConfig listAndConfig(std::string_view data)
{
    const std::size_t split = data.find("\n%%\n");
    ListAndConfig input;
    input.list.hasHeader = true;
    forEachLine(data.substr(0, split), [&](std::string_view name) { input.list.names.emplace_back(name); });
    input.config = split == std::string_view::npos ? data : data.substr(split + 4);
    return input;
}

// Feeds data to a LineScanner in pieces whose sizes cycle through plan (each 1 + byte % 61); an
// empty plan means one piece. Returns the findings; lines counts the lines.
inline std::vector<Finding> feed(
    const Matcher& matcher, std::string_view data, std::string_view plan, std::uint64_t& lines)
{
    struct Collect final : FindingSink {
        void take(const Finding* f, std::size_t n) override { all.insert(all.end(), f, f + n); }
        std::vector<Finding> all;
    } found;
    LineScanner scanner(matcher);
    std::size_t at = 0;
    for (std::size_t step = 0; at < data.size(); ++step) {
        const std::size_t size
            = plan.empty() ? data.size() : 1 + static_cast<unsigned char>(plan[step % plan.size()]) % 61;
        scanner.feed(data.substr(at, size), found);
        at += size;
    }
    scanner.finish(found);
    lines = scanner.lineCount();
    return std::move(found.all);
}

// The scanner, whole and in pieces, against the plain rule.
inline void requireSameFindings(std::string_view config, const CvarList& list, std::string_view plan)
{
    const std::vector<Finding> expected = reference::scan(config, list);
    const Matcher matcher(list);
    require(scanBuffer(config, matcher) == expected, "scanBuffer differs from the plain rule");
    std::uint64_t lines = 0;
    require(
        feed(matcher, config, plan, lines) == expected, "LineScanner in pieces differs from the plain rule");
    require(lines == plainLines(config).size(), "LineScanner counts lines differently");
}

} // namespace tromel::fuzz
