#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tromel {

struct CvarList;

/// One reported pair: the index of a non-empty line of the config (from 0) and the index of a
/// name in CvarList::names (from 1).
struct Finding {
    std::uint64_t line = 0;
    std::uint32_t index = 0;

    friend bool operator==(const Finding&, const Finding&) = default;
};

/// Takes a scan's findings as it makes them, a line's at a time, so that a scan holds no more than
/// one line's findings however many the file has.
class FindingSink {
public:
    virtual ~FindingSink() = default;
    virtual void take(const Finding* findings, std::size_t count) = 0;
};

/// The list's names, made ready for scanning. The matching rule: line j and name k make a finding
/// when the name is not empty, the line holds " " + name + " " and the line holds "set" anywhere.
/// Comparisons are exact, byte-wise and case-sensitive. A pair is reported once however often the
/// name occurs; findings come by line, then by list index, and duplicate names in the list are
/// reported at each of their indices. Build once; scanners on several threads may share it.
class Matcher {
public:
    explicit Matcher(const CvarList& list);
    ~Matcher();
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

private:
    friend class LineScanner;
    struct Tables;
    std::unique_ptr<const Tables> m_tables;
};

/// A scan over a byte stream fed in pieces of any size. Lines are the non-empty runs of bytes
/// other than CR and LF, counted from 0 at the scanner's start. Its time is linear in the bytes
/// and the findings, and its memory bounded by the list, however long the lines are.
class LineScanner {
public:
    explicit LineScanner(const Matcher& matcher);
    ~LineScanner();
    LineScanner(const LineScanner&) = delete;
    LineScanner& operator=(const LineScanner&) = delete;

    /// Scans the next bytes and hands the findings of the lines they finish to out, in order.
    void feed(std::string_view bytes, FindingSink& out);
    /// The end of the stream: hands over the last line's findings.
    void finish(FindingSink& out);
    /// Non-empty lines seen so far; after finish(), all of them.
    std::uint64_t lineCount() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// The findings of bytes held in memory.
std::vector<Finding> scanBuffer(std::string_view data, const Matcher& matcher);

} // namespace tromel
