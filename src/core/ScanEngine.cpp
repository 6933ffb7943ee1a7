#include "ScanEngine.h"

#include "CvarList.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TROMEL_SSE2 1
#endif

namespace tromel {

namespace {

constexpr std::size_t kPad = 128; // zeroed bytes after the data: block loads and short hashes may read them

std::uint64_t load64(const char* p)
{
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Keeps the first n bytes (1..8) of a loaded word.
std::uint64_t firstBytes(std::uint64_t w, std::size_t n)
{
    const unsigned drop = static_cast<unsigned>(64 - 8 * n);
    if constexpr (std::endian::native == std::endian::little)
        return w & (~std::uint64_t { 0 } >> drop);
    else
        return w & (~std::uint64_t { 0 } << drop);
}

// A multiply-xorshift hash over 8-byte words; the last word overlaps the one before it. Reads 8
// bytes at p even when n < 8.
std::uint64_t hashKey(const char* p, std::size_t n)
{
    constexpr std::uint64_t k1 = 0x9E3779B97F4A7C15ULL;
    constexpr std::uint64_t k2 = 0xC2B2AE3D27D4EB4FULL;
    std::uint64_t h = n * k1;
    if (n <= 8) {
        h = (h ^ firstBytes(load64(p), n)) * k2;
    } else {
        const char* last = p + n - 8;
        do {
            h = (h ^ load64(p)) * k2;
            h ^= h >> 29;
            p += 8;
        } while (p < last);
        h = (h ^ load64(last)) * k2;
    }
    h ^= h >> 32;
    h *= k1;
    h ^= h >> 29;
    return h;
}

std::uint64_t lowBits(unsigned n)
{
    return n >= 64 ? ~std::uint64_t { 0 } : (std::uint64_t { 1 } << n) - 1;
}

unsigned popcount64(std::uint64_t x)
{
#if defined(__POPCNT__)
    return static_cast<unsigned>(std::popcount(x));
#else
    // Without the instruction, std::popcount is a library call.
    x -= (x >> 1) & 0x5555555555555555ULL;
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<unsigned>((x * 0x0101010101010101ULL) >> 56);
#endif
}

struct Masks {
    std::uint64_t space, brk, set;
};

// Bit i of each mask: byte i is a space; a CR or LF; the start of "set". Reads 66 bytes.
Masks classify(const char* p)
{
    Masks m { 0, 0, 0 };
#if TROMEL_SSE2
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i s = _mm_set1_epi8('s');
    const __m128i e = _mm_set1_epi8('e');
    const __m128i t = _mm_set1_epi8('t');
    for (int k = 0; k < 4; ++k) {
        const char* q = p + 16 * k;
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
        const auto sp = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, space)));
        const auto br = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v0, cr), _mm_cmpeq_epi8(v0, lf))));
        const auto st = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_and_si128(
            _mm_cmpeq_epi8(v0, s), _mm_and_si128(_mm_cmpeq_epi8(v1, e), _mm_cmpeq_epi8(v2, t)))));
        m.space |= std::uint64_t { sp } << (16 * k);
        m.brk |= std::uint64_t { br } << (16 * k);
        m.set |= std::uint64_t { st } << (16 * k);
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        const std::uint64_t bit = std::uint64_t { 1 } << i;
        const char c = p[i];
        if (c == ' ')
            m.space |= bit;
        if (c == '\r' || c == '\n')
            m.brk |= bit;
        if (c == 's' && p[i + 1] == 'e' && p[i + 2] == 't')
            m.set |= bit;
    }
#endif
    return m;
}

} // namespace

Matcher::Tables::Tables(const CvarList& list)
{
    std::size_t count = 0;
    std::size_t bytes = 0;
    for (std::size_t k = 1; k < list.names.size(); ++k) {
        count += list.names[k].empty() ? 0 : 1;
        bytes += list.names[k].size();
    }
    std::size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    slots.assign(capacity, {});
    mask = capacity - 1;
    arena.reserve(bytes + 8);
    keyStart.push_back(0);

    // Distinct names get ids in order of first appearance; idOf keeps each list index's id.
    std::vector<std::uint32_t> idOf(list.names.size(), UINT32_MAX);
    std::string scratch;
    for (std::size_t k = 1; k < list.names.size(); ++k) {
        const std::string& name = list.names[k];
        if (name.empty())
            continue;
        scratch.assign(name);
        scratch.append(8, '\0'); // hashKey may read 8 bytes
        const std::uint64_t h = hashKey(scratch.data(), name.size());
        const auto tag = static_cast<std::uint32_t>(h >> 32);
        std::uint64_t i = h & mask;
        for (;; i = (i + 1) & mask) {
            const Slot s = slots[i];
            if (s.id == 0) {
                slots[i] = { tag, static_cast<std::uint32_t>(keyCount() + 1) };
                idOf[k] = static_cast<std::uint32_t>(keyCount());
                arena.append(name);
                keyStart.push_back(arena.size());
                break;
            }
            const std::size_t id = s.id - 1;
            if (s.tag == tag && keyStart[id + 1] - keyStart[id] == name.size()
                && std::memcmp(arena.data() + keyStart[id], name.data(), name.size()) == 0) {
                idOf[k] = static_cast<std::uint32_t>(id);
                break;
            }
        }
    }
    arena.append(8, '\0');

    // Each id's list indices, ascending, packed one id after the other.
    indexStart.assign(keyCount() + 1, 0);
    for (const std::uint32_t id : idOf)
        if (id != UINT32_MAX)
            ++indexStart[id + 1];
    for (std::size_t id = 0; id < keyCount(); ++id)
        indexStart[id + 1] += indexStart[id];
    listIndex.resize(indexStart.back());
    std::vector<std::uint32_t> next(indexStart.begin(), indexStart.end() - 1);
    for (std::size_t k = 0; k < idOf.size(); ++k)
        if (idOf[k] != UINT32_MAX)
            listIndex[next[idOf[k]]++] = static_cast<std::uint32_t>(k);

    for (std::size_t id = 0; id < keyCount(); ++id) {
        const std::string_view key(arena.data() + keyStart[id], keyStart[id + 1] - keyStart[id]);
        const auto spaces = static_cast<std::size_t>(std::count(key.begin(), key.end(), ' '));
        if (spaceCountUsed.size() <= spaces)
            spaceCountUsed.resize(spaces + 1, 0);
        spaceCountUsed[spaces] = 1;
        maxSpaces = std::max(maxSpaces, spaces);
        maxLen = std::max(maxLen, key.size());
        lenByFirst[spaces != 0 ? 1 : 0][static_cast<unsigned char>(key[0])] |= std::uint64_t { 1 }
            << std::min<std::size_t>(key.size(), 63);
    }
    for (std::size_t k = 1; k < spaceCountUsed.size(); ++k)
        if (spaceCountUsed[k] != 0)
            spacedCounts.push_back(static_cast<std::uint32_t>(k));

    // About 16 bits a name, so that few gaps that pass the filter are not names.
    unsigned bits = 15;
    while (bits < 40 && (std::size_t { 1 } << bits) < keyCount() * 16)
        ++bits;
    filterShift = 64 - bits;
    filter.assign((std::size_t { 1 } << bits) / 64, 0);
    for (std::size_t id = 0; id < keyCount(); ++id) {
        const std::size_t bit = filterBit(arena.data() + keyStart[id], keyStart[id + 1] - keyStart[id]);
        filter[bit >> 6] |= std::uint64_t { 1 } << (bit & 63);
    }
}

std::int64_t Matcher::Tables::lookup(const char* p, std::size_t n) const
{
    const std::uint64_t h = hashKey(p, n);
    const auto tag = static_cast<std::uint32_t>(h >> 32);
    for (std::uint64_t i = h & mask;; i = (i + 1) & mask) {
        const Slot s = slots[i];
        if (s.id == 0)
            return -1;
        if (s.tag == tag) {
            const std::size_t id = s.id - 1;
            if (keyStart[id + 1] - keyStart[id] == n && std::memcmp(arena.data() + keyStart[id], p, n) == 0)
                return static_cast<std::int64_t>(id);
        }
    }
}

ScanEngine::ScanEngine(const Matcher::Tables& tables, std::vector<Finding>& out, std::size_t chunkSize)
    : m_t(tables)
    , m_out(out)
    , m_capacity(std::max<std::size_t>(chunkSize, 64) + tables.maxLen + 64)
    , m_ring(std::bit_ceil(tables.maxSpaces + 1), kNoSpace)
{
    m_buffer.reset(new char[m_capacity + kPad]);
}

char* ScanEngine::writePtr()
{
    return m_buffer.get() + m_fill;
}

std::size_t ScanEngine::writeRoom() const
{
    return m_capacity - m_fill;
}

void ScanEngine::commit(std::size_t n)
{
    m_fill += n;
    scan();
    compact();
}

void ScanEngine::append(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), writeRoom());
        std::memcpy(writePtr(), bytes.data(), n);
        m_fill += n;
        bytes.remove_prefix(n);
        if (writeRoom() == 0) {
            scan();
            compact();
        }
    }
}

void ScanEngine::finish()
{
    scan();
    if (m_pending)
        emitPending();
}

// Keeps what later bytes may still need: the last two bytes (a "set" may straddle) and the
// bytes after the line's last break that a name ending later could cover.
void ScanEngine::compact()
{
    const std::int64_t limit = m_base + static_cast<std::int64_t>(m_fill);
    const std::int64_t gapFrom = std::max(limit - static_cast<std::int64_t>(m_t.maxLen), m_lastBreak + 2);
    const std::int64_t keep = std::max(m_base, std::min(m_setScanned, gapFrom));
    const auto drop = static_cast<std::size_t>(keep - m_base);
    if (drop == 0)
        return;
    std::memmove(m_buffer.get(), m_buffer.get() + drop, m_fill - drop);
    m_fill -= drop;
    m_base = keep;
}

// Block by block: spaces drive the name lookups; breaks and "set" are bit masks that are only
// looked at closely on lines where a name was found.
void ScanEngine::scan()
{
    const std::int64_t limit = m_base + static_cast<std::int64_t>(m_fill);
    std::memset(m_buffer.get() + m_fill, 0, kPad);
    const std::int64_t setLimit = limit - 2; // a "set" must fit before the end of the data
    const bool names = !m_t.empty();
    const std::size_t ringSize = m_t.maxSpaces + 1; // spaces a gap may start after, back from the latest
    std::int64_t* const ring = m_ring.data();
    const std::size_t ringMask = m_ring.size() - 1;
    std::size_t head = m_ringHead; // ring[(head + k) & ringMask] is the k-th latest space
    const char* const buffer = m_buffer.get();
    const std::int64_t base = m_base;
    const auto at
        = [buffer, base](std::int64_t offset) { return buffer + (offset - base); }; // byte at a stream offset
    const std::uint8_t* const spaceCountUsed = m_t.spaceCountUsed.data();
    const auto maxLen = static_cast<std::uint64_t>(m_t.maxLen);
    // Past the first ringSize + 1 spaces of a block of spaces, every gap is only spaces and has
    // been tried already.
    const std::uint64_t spaceRunHead
        = ringSize < 63 ? lowBits(static_cast<unsigned>(ringSize + 1)) : ~std::uint64_t { 0 };

    // Tries the gap between two spaces, whose line began after lineFloor. Branch-free up to the
    // rare gap that may be a name: a gap that is too long or crosses a break is tested on the
    // closing space instead, which always fails the length filter.
    const auto tryGap = [&](std::int64_t open, std::int64_t close, std::int64_t lineFloor) {
        const auto n = static_cast<std::uint64_t>(close - open - 1);
        const bool fits = (n - 1 < maxLen) & (open > lineFloor);
        if (m_t.mayHold(at(fits ? open + 1 : close), fits ? n : 0, false) & fits)
            candidate(open, close, lineFloor);
    };
    // Gaps holding spaces: rare in lists, so a branch on the first byte skips most of them.
    const auto trySpacedGap = [&](std::int64_t open, std::int64_t close, std::int64_t lineFloor) {
        const auto n = static_cast<std::uint64_t>(close - open - 1);
        if (n - 1 < maxLen && open > lineFloor && m_t.firstByteFits(at(open + 1), n, true)
            && m_t.mayHold(at(open + 1), n, true))
            candidate(open, close, lineFloor);
    };

    for (std::int64_t pos = m_setScanned; pos < limit; pos += 64) {
        Masks m = classify(at(pos));
        const std::uint64_t valid = lowBits(static_cast<unsigned>(std::min<std::int64_t>(limit - pos, 64)));
        const std::uint64_t fresh
            = valid & ~lowBits(static_cast<unsigned>(std::max<std::int64_t>(m_scanned - pos, 0)));
        const std::int64_t setAvail = setLimit - pos;
        m.set &= setAvail <= 0 ? 0 : lowBits(static_cast<unsigned>(std::min<std::int64_t>(setAvail, 64)));
        m.brk &= valid;
        m_block = { pos, m.brk, ~m.brk & ((m.brk << 1) | (m_prevIsBreak ? 1U : 0U)) & fresh, m.set };

        if (names) {
            std::uint64_t spaces = m.space & fresh;
            const bool spaceRun = spaces == ~std::uint64_t { 0 };
            // After a whole block of spaces another one has nothing new to try, as long as every
            // name made of spaces fits in one block; longer ones are tried space by space.
            if (spaceRun && ringSize < 63)
                spaces = m_prevSpaceRun ? 0 : spaceRunHead;
            m_prevSpaceRun = spaceRun;
            const std::int64_t floorBefore = m_lastBreak; // last break before this block's fresh bytes
            while (spaces != 0) {
                const std::uint64_t lowest = spaces & (0 - spaces);
                spaces ^= lowest;
                const std::uint64_t breaksBefore = m.brk & (lowest - 1);
                const std::int64_t lineFloor
                    = breaksBefore != 0 ? pos + 63 - std::countl_zero(breaksBefore) : floorBefore;
                const std::int64_t close = pos + std::countr_zero(lowest);
                if (spaceCountUsed[0] != 0)
                    tryGap(ring[head], close, lineFloor);
                // Older spaces only make longer gaps: stop at the first that cannot hold a name,
                // so the cost follows the space counts in use, not the largest one.
                for (const std::uint32_t k : m_t.spacedCounts) {
                    const std::int64_t open = ring[(head + k) & ringMask];
                    if (open <= lineFloor || static_cast<std::uint64_t>(close - open - 1) > maxLen)
                        break;
                    trySpacedGap(open, close, lineFloor);
                }
                head = (head - 1) & ringMask;
                ring[head] = close;
            }
            if (spaceRun && ringSize < 63) {
                // The whole ring lies inside this block of spaces.
                for (std::size_t k = 0; k < ringSize; ++k)
                    ring[(head + k) & ringMask] = pos + 63 - static_cast<std::int64_t>(k);
            }
        }

        if (m_pending)
            resolvePending();
        if (m.brk != 0)
            m_lastBreak = pos + 63 - std::countl_zero(m.brk);
        if (m.set != 0)
            m_lastSet = pos + 63 - std::countl_zero(m.set);
        m_lines += popcount64(m_block.lineStarts);
        m_prevIsBreak = ((m.brk >> (std::min<std::int64_t>(limit - pos, 64) - 1)) & 1U) != 0;
    }
    m_ringHead = head;
    m_scanned = limit;
    m_setScanned = std::max(m_setScanned, std::max(setLimit, m_base));
}

// A gap between two spaces of one line that passed the filters.
void ScanEngine::candidate(std::int64_t open, std::int64_t close, std::int64_t lineFloor)
{
    const std::int64_t id
        = m_t.lookup(m_buffer.get() + (open + 1 - m_base), static_cast<std::size_t>(close - open - 1));
    if (id < 0)
        return;

    const auto bit = static_cast<unsigned>(close - m_block.pos);
    const std::uint64_t line = m_lines + popcount64(m_block.lineStarts & lowBits(bit + 1)) - 1;
    if (m_pending && m_pendingLine != line)
        resolvePending(); // the pending line ended in this block
    if (!m_pending) {
        m_pending = true;
        m_pendingLine = line;
        m_pendingStart = lineFloor + 1;
        m_pendingHasSet = m_lastSet >= m_pendingStart;
    }
    const auto uid = static_cast<std::uint32_t>(id);
    constexpr std::size_t kLinearIds = 16;
    if (m_pendingIds.size() < kLinearIds) {
        if (std::find(m_pendingIds.begin(), m_pendingIds.end(), uid) != m_pendingIds.end())
            return;
        m_pendingIds.push_back(uid);
        if (m_pendingIds.size() == kLinearIds) {
            // Many names on one line: switch to stamps so that each test stays O(1).
            if (m_stamp.empty())
                m_stamp.assign(m_t.keyCount(), 0);
            for (const std::uint32_t i : m_pendingIds)
                m_stamp[i] = line + 1;
        }
        return;
    }
    if (m_stamp[uid] == line + 1)
        return;
    m_stamp[uid] = line + 1;
    m_pendingIds.push_back(uid);
}

// Looks for the pending line's end and its "set" in the current block.
void ScanEngine::resolvePending()
{
    const auto from = static_cast<unsigned>(std::max<std::int64_t>(m_pendingStart - m_block.pos, 0));
    const std::uint64_t after = ~lowBits(from);
    const std::uint64_t ends = m_block.brk & after;
    const std::uint64_t inLine
        = after & (ends != 0 ? lowBits(static_cast<unsigned>(std::countr_zero(ends))) : ~std::uint64_t { 0 });
    if ((m_block.set & inLine) != 0)
        m_pendingHasSet = true;
    if (ends != 0)
        emitPending();
}

void ScanEngine::emitPending()
{
    if (m_pendingHasSet) {
        if (m_pendingIds.size() == 1) {
            const std::uint32_t id = m_pendingIds[0];
            for (std::uint32_t i = m_t.indexStart[id]; i < m_t.indexStart[id + 1]; ++i)
                m_out.push_back({ m_pendingLine, m_t.listIndex[i] });
        } else {
            m_sortBuf.clear();
            for (const std::uint32_t id : m_pendingIds)
                m_sortBuf.insert(m_sortBuf.end(), m_t.listIndex.begin() + m_t.indexStart[id],
                    m_t.listIndex.begin() + m_t.indexStart[id + 1]);
            std::sort(m_sortBuf.begin(), m_sortBuf.end());
            for (const std::uint32_t k : m_sortBuf)
                m_out.push_back({ m_pendingLine, k });
        }
    }
    m_pending = false;
    m_pendingIds.clear();
}

} // namespace tromel
