#pragma once

// The scanner's machinery, shared by Scanner.cpp and the benchmarks; not part of the core API.

#include "Scanner.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tromel {

struct Matcher::Tables {
    struct Slot {
        std::uint32_t tag = 0; // high half of the key's hash
        std::uint32_t id = 0; // distinct name id + 1; 0 is an empty slot
    };

    std::string arena; // distinct non-empty names back to back, then 8 NULs
    std::vector<std::size_t> keyStart; // key id -> offset in arena; one extra entry at the end
    std::vector<std::uint32_t> indexStart; // key id -> its list indices in listIndex, ascending
    std::vector<std::uint32_t> listIndex;
    std::vector<Slot> slots; // open addressing, power-of-two size, at most half full
    std::uint64_t mask = 0;
    // [spaced][byte], bit min(len, 63): some name of that length starts with the byte; [1] is for
    // the names that hold a space, [0] for the others.
    std::uint64_t lenByFirst[2][256] = {};
    std::vector<std::uint64_t> filter; // one bit per hash of (first 4 bytes, last 4 bytes, length)
    unsigned filterShift = 0;
    std::vector<std::uint8_t> spaceCountUsed; // [k]: some name holds exactly k spaces
    std::vector<std::uint32_t> spacedCounts; // the k >= 1 of spaceCountUsed, ascending
    std::size_t maxSpaces = 0;
    std::size_t maxLen = 0;

    explicit Tables(const CvarList& list);

    std::size_t keyCount() const { return keyStart.size() - 1; }
    bool empty() const { return keyCount() == 0; }

    /// Distinct name id of the n bytes at p, or -1. Reads up to 8 bytes from p even when n < 8.
    std::int64_t lookup(const char* p, std::size_t n) const;

    /// False when no name is the n bytes at p (n >= 1, holding spaces or not as `spaced` says):
    /// a cheap test before lookup(), on the first byte and length, then on a hash of the first and
    /// last 4 bytes and the length. Reads 4 bytes at p. Without branches: gaps come fast and pass
    /// it rarely.
    bool mayHold(const char* p, std::size_t n, bool spaced) const
    {
        const std::uint64_t byFirst = firstByteFits(p, n, spaced);
        const std::size_t bit = filterBit(p, n);
        return (byFirst & (filter[bit >> 6] >> (bit & 63)) & 1U) != 0;
    }
    std::uint64_t firstByteFits(const char* p, std::size_t n, bool spaced) const
    {
        return (lenByFirst[spaced ? 1 : 0][static_cast<unsigned char>(p[0])] >> std::min<std::size_t>(n, 63))
            & 1U;
    }
    std::size_t filterBit(const char* p, std::size_t n) const
    {
        const bool longer = n >= 4;
        std::uint32_t a;
        std::uint32_t b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + (longer ? n - 4 : 0), 4);
        const unsigned keep = longer ? 32 : static_cast<unsigned>(8 * n); // bits of a that are the name's
        if constexpr (std::endian::native == std::endian::little)
            a &= static_cast<std::uint32_t>((std::uint64_t { 1 } << keep) - 1);
        else
            a &= ~static_cast<std::uint32_t>((std::uint64_t { 1 } << (32 - keep)) - 1);
        b = longer ? b : 0;
        const std::uint64_t h = ((std::uint64_t { a } << 32 | b) ^ n) * 0x9E3779B97F4A7C15ULL;
        return static_cast<std::size_t>(h >> filterShift);
    }
};

/// One scan over a byte stream: feed bytes, then finish(). Holds at most one chunk plus the
/// longest name, however long the lines are.
class ScanEngine {
public:
    ScanEngine(const Matcher::Tables& tables, std::vector<Finding>& out, std::size_t chunkSize = 1 << 20);
    ScanEngine(const ScanEngine&) = delete;
    ScanEngine& operator=(const ScanEngine&) = delete;

    /// Copies bytes in; they are scanned once the buffer fills, or at finish().
    void append(std::string_view bytes);

    /// Room for direct reads: write up to writeRoom() bytes at writePtr(), then commit() them.
    char* writePtr();
    std::size_t writeRoom() const;
    void commit(std::size_t n);

    void finish();
    std::uint64_t lineCount() const { return m_lines; }

private:
    // The 64-byte block being scanned: its stream offset and bit masks of breaks, first bytes of
    // lines and starts of "set".
    struct Block {
        std::int64_t pos = 0;
        std::uint64_t brk = 0, lineStarts = 0, set = 0;
    };

    void scan();
    void compact();
    void candidate(std::int64_t open, std::int64_t close, std::int64_t lineFloor);
    void resolvePending();
    void emitPending();

    static constexpr std::int64_t kNoSpace = INT64_MIN / 4;

    const Matcher::Tables& m_t;
    std::vector<Finding>& m_out;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0; // usable bytes in m_buffer before the tail padding
    std::size_t m_fill = 0;
    std::int64_t m_base = 0; // stream offset of m_buffer[0]
    std::int64_t m_scanned = 0; // spaces and breaks are done before this offset
    std::int64_t m_setScanned = 0; // "set" starts are done before this offset

    std::uint64_t m_lines = 0;
    bool m_prevIsBreak = true;
    std::int64_t m_lastBreak = -1;
    std::int64_t m_lastSet = INT64_MIN / 2;
    std::vector<std::int64_t> m_ring; // the latest spaces, a circle of a power-of-two size
    std::size_t m_ringHead = 0; // where the latest is
    bool m_prevSpaceRun = false; // the last block was 64 spaces
    Block m_block;

    // The line with names found on it, until its end shows whether it holds "set".
    bool m_pending = false;
    std::uint64_t m_pendingLine = 0;
    std::int64_t m_pendingStart = 0;
    bool m_pendingHasSet = false;
    std::vector<std::uint32_t> m_pendingIds;
    std::vector<std::uint64_t> m_stamp; // per id, line + 1; made only for lines with many names
    std::vector<std::uint32_t> m_sortBuf;
};

} // namespace tromel
