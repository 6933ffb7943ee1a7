#include "Scanner.h"

#include "CvarList.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <unordered_map>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TROMEL_SSE2 1
#endif

// A line holds " NAME " exactly where the pieces of the line between two consecutive spaces (its
// gaps) run as the pieces of NAME between its spaces (its tokens): "seta a b 1" holds " a b "
// because its gaps "a", "b" are the tokens of "a b". So the scan looks each gap up once, by hash,
// among the names' tokens, and an Aho-Corasick automaton over token ids finds the names; a name
// without spaces is one token, found by that one lookup.

namespace tromel {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;
template <typename Word> std::uint64_t load(const char* p)
{
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// A multiply-xorshift hash that reads the n bytes at p and no more: short keys as two
// overlapping 4-byte words or three bytes, longer ones as 8-byte words, the last overlapping.
std::uint64_t hashBytes(const char* p, std::size_t n, std::uint64_t seed)
{
    constexpr std::uint64_t k1 = 0x9E3779B97F4A7C15ULL;
    constexpr std::uint64_t k2 = 0xC2B2AE3D27D4EB4FULL;
    std::uint64_t h = n * k1 ^ seed;
    if (n >= 8) {
        const char* last = p + n - 8;
        for (; p < last; p += 8) {
            h = (h ^ load<std::uint64_t>(p)) * k2;
            h ^= h >> 29;
        }
        h = (h ^ load<std::uint64_t>(last)) * k2;
    } else if (n >= 4) {
        h = (h ^ (load<std::uint32_t>(p) << 32 | load<std::uint32_t>(p + n - 4))) * k2;
    } else if (n > 0) {
        const auto byte = [p](std::size_t i) { return std::uint64_t { static_cast<unsigned char>(p[i]) }; };
        h = (h ^ (byte(0) << 16 | byte(n / 2) << 8 | byte(n - 1))) * k2;
    }
    h ^= h >> 32;
    h *= k1;
    return h ^ (h >> 29);
}

// The tables' hashes are seeded afresh for each list, so that no list can be made beforehand
// whose tokens crowd one run of slots, which would make each lookup of a config's word walk them.
std::uint64_t freshSeed()
{
    std::uint64_t seed = 0;
    try {
        std::random_device device;
        seed = std::uint64_t { device() } << 32 | device();
    } catch (...) {
        // No random source: the clock and the stack's address still differ from run to run.
    }
    const int local = 0;
    return seed ^ static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
        ^ reinterpret_cast<std::uintptr_t>(&local);
}

struct ChildHash {
    std::uint64_t seed;
    std::size_t operator()(std::uint64_t key) const
    {
        const std::uint64_t h = (key ^ seed) * 0xC2B2AE3D27D4EB4FULL;
        return static_cast<std::size_t>(h ^ h >> 32);
    }
};

std::uint64_t lowBits(std::int64_t n)
{
    return n >= 64 ? ~std::uint64_t { 0 } : (std::uint64_t { 1 } << n) - 1;
}

struct Masks {
    std::uint64_t space, brk;
};

// Bit i of each mask: byte i is a space; a CR or LF. Reads 64 bytes.
Masks classify(const char* p)
{
    Masks m { 0, 0 };
#if TROMEL_SSE2
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const auto sp = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, space)));
        const auto br = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        m.space |= std::uint64_t { sp } << (16 * k);
        m.brk |= std::uint64_t { br } << (16 * k);
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        m.space |= std::uint64_t { p[i] == ' ' } << i;
        m.brk |= std::uint64_t { p[i] == '\r' || p[i] == '\n' } << i;
    }
#endif
    return m;
}

bool holdsSet(const char* from, const char* to)
{
    return to - from >= 3
        && std::string_view(from, static_cast<std::size_t>(to - from)).find("set") != std::string_view::npos;
}

} // namespace

struct Matcher::Tables {
    struct Slot {
        std::uint32_t tag = 0; // high half of the token's hash
        std::uint32_t id = kNone;
    };
    struct Node {
        std::uint32_t fail = 0;
        std::uint32_t out = kNone; // the nearest node on the fail chain, itself included, that ends names
        std::uint32_t afterSpace = 0; // the step on an empty token: a space right after a space
        std::uint32_t firstIndex = kNone; // the first list index of the name that ends here
        bool hasChildren = false;
    };

    const std::uint64_t seed = freshSeed();
    std::string arena; // the distinct tokens back to back
    std::vector<std::size_t> tokenStart; // token id -> offset in arena; one extra entry at the end
    std::vector<Slot> slots; // open addressing, a power of two in size, at most half full
    std::size_t maxToken = 0;
    std::uint32_t emptyToken = kNone;
    std::vector<std::uint64_t> filter; // a bit for each token's sketch: most gaps fail it cheaply
    unsigned filterShift = 0;

    std::vector<Node> nodes; // node 0, the root, is where no name has begun
    std::vector<std::uint32_t> rootChild; // token id -> node, 0 when no name begins with it
    // node << 32 | token -> node, off the root
    std::unordered_map<std::uint64_t, std::uint32_t, ChildHash> children { 0, ChildHash { seed } };
    std::vector<std::uint32_t> nextIndex; // list index -> the next one of the same name, or kNone

    explicit Tables(const CvarList& list);

    // Two bytes at each end of the n >= 1 bytes at p, which spaces surround, the middle one and n,
    // hashed to a bit of the filter.
    std::uint64_t sketch(const char* p, std::size_t n) const
    {
        const std::uint64_t w = load<std::uint16_t>(p) | load<std::uint16_t>(p + n - 2) << 16
            | std::uint64_t { static_cast<unsigned char>(p[n / 2]) } << 32 | std::uint64_t { n } << 40;
        return (w * 0x9E3779B97F4A7C15ULL) >> filterShift;
    }
    bool mayHold(const char* p, std::size_t n) const
    {
        const std::uint64_t bit = sketch(p, n);
        return (filter[bit >> 6] >> (bit & 63) & 1U) != 0;
    }

    bool holds(Slot s, std::uint64_t h, const char* p, std::size_t n) const
    {
        return s.tag == h >> 32 && tokenStart[s.id + 1] - tokenStart[s.id] == n
            && std::memcmp(arena.data() + tokenStart[s.id], p, n) == 0;
    }
    // The id of the n bytes at p, or kNone.
    std::uint32_t token(const char* p, std::size_t n) const
    {
        const std::uint64_t h = hashBytes(p, n, seed);
        for (std::uint64_t i = h & (slots.size() - 1);; i = (i + 1) & (slots.size() - 1)) {
            if (slots[i].id == kNone || holds(slots[i], h, p, n))
                return slots[i].id;
        }
    }

    std::uint32_t child(std::uint32_t node, std::uint32_t t) const
    {
        if (node == 0 || !nodes[node].hasChildren)
            return node == 0 ? rootChild[t] : 0;
        const auto it = children.find(std::uint64_t { node } << 32 | t);
        return it == children.end() ? 0 : it->second;
    }

    // The automaton's step from node on token t.
    std::uint32_t next(std::uint32_t node, std::uint32_t t) const
    {
        for (;; node = nodes[node].fail) {
            if (const std::uint32_t c = child(node, t); c != 0 || node == 0)
                return c;
        }
    }

private:
    std::uint32_t intern(std::string_view t);
};

Matcher::Tables::Tables(const CvarList& list)
{
    std::size_t tokens = 0;
    for (const std::string& name : list.names) {
        tokens += name.empty() ? 0 : 1;
        for (std::size_t at = name.find(' '); at != std::string::npos; at = name.find(' ', at + 1))
            ++tokens;
    }
    slots.resize(std::bit_ceil(std::max<std::size_t>(16, 2 * tokens)));
    const auto bits = std::max(12U, static_cast<unsigned>(std::bit_width(16 * tokens))); // 16 to 32 a token
    filterShift = 64 - bits;
    filter.assign((std::size_t { 1 } << bits) / 64, 0);
    tokenStart.push_back(0);
    nodes.emplace_back();

    // Each name is a path of tokens from the root. The names go in from the last, so that each
    // node's list indices link up in ascending order. The nodes below the first level keep what
    // their fail links are made of.
    struct Deep {
        std::uint32_t node, parent, token, depth;
    };
    std::vector<Deep> deep;
    nextIndex.assign(list.names.size(), kNone);
    for (std::size_t k = list.names.size() - 1; k >= 1; --k) {
        std::string_view rest = list.names[k];
        std::uint32_t node = 0;
        for (std::uint32_t depth = 1; !list.names[k].empty(); ++depth) {
            const std::size_t space = rest.find(' ');
            const std::uint32_t t = intern(rest.substr(0, space));
            std::uint32_t& c = node == 0 ? rootChild[t] : children[std::uint64_t { node } << 32 | t];
            if (c == 0) {
                c = static_cast<std::uint32_t>(nodes.size());
                nodes[node].hasChildren = true;
                nodes.emplace_back();
                if (depth > 1)
                    deep.push_back({ c, node, t, depth });
            }
            node = c;
            if (space == std::string_view::npos)
                break;
            rest.remove_prefix(space + 1);
        }
        if (node != 0) {
            nextIndex[k] = nodes[node].firstIndex;
            nodes[node].firstIndex = static_cast<std::uint32_t>(k);
            nodes[node].out = node;
        }
    }

    const auto link = [this](std::uint32_t n, std::uint32_t fail) {
        Node& node = nodes[n];
        node.fail = fail;
        node.out = node.out == kNone ? nodes[fail].out : node.out;
        const std::uint32_t c = emptyToken == kNone ? 0 : child(n, emptyToken);
        node.afterSpace = c != 0 || n == 0 ? c : nodes[fail].afterSpace;
    };
    for (std::uint32_t n = 0; n < nodes.size(); ++n)
        link(n, 0);
    // Deeper nodes again, shallower first: a fail link goes to a shallower node.
    std::vector<std::uint32_t> byDepth(deep.size() + 3, 0);
    for (const Deep& d : deep)
        ++byDepth[d.depth];
    std::partial_sum(byDepth.begin(), byDepth.end(), byDepth.begin());
    std::vector<Deep> ordered(deep.size());
    for (const Deep& d : deep)
        ordered[byDepth[d.depth - 1]++] = d;
    for (const Deep& d : ordered)
        link(d.node, next(nodes[d.parent].fail, d.token));
}

std::uint32_t Matcher::Tables::intern(std::string_view t)
{
    const std::uint64_t h = hashBytes(t.data(), t.size(), seed);
    std::uint64_t i = h & (slots.size() - 1);
    for (; slots[i].id != kNone; i = (i + 1) & (slots.size() - 1)) {
        if (holds(slots[i], h, t.data(), t.size()))
            return slots[i].id;
    }
    const auto id = static_cast<std::uint32_t>(tokenStart.size() - 1);
    slots[i] = { static_cast<std::uint32_t>(h >> 32), id };
    arena.append(t);
    tokenStart.push_back(arena.size());
    rootChild.push_back(0);
    maxToken = std::max(maxToken, t.size());
    emptyToken = t.empty() ? id : emptyToken;
    if (!t.empty()) {
        const char spaced[3] = { ' ', t[0], ' ' }; // a sketch of one byte reads the spaces around it
        const std::uint64_t bit = sketch(t.size() == 1 ? spaced + 1 : t.data(), t.size());
        filter[bit >> 6] |= std::uint64_t { 1 } << (bit & 63);
    }
    return id;
}

Matcher::Matcher(const CvarList& list)
    : m_tables(std::make_unique<const Tables>(list))
{
}

Matcher::~Matcher() = default;

struct LineScanner::State {
    explicit State(const Matcher::Tables& tables)
        : t(tables)
    {
    }

    void feed(std::string_view bytes, FindingSink& out);
    void scanBlock(const char* block, std::int64_t pos, std::int64_t valid, FindingSink& out);
    std::uint32_t afterGap(std::int64_t open, std::int64_t close);
    void moveTo(std::uint32_t next);
    void endLine(std::int64_t pos, FindingSink& out);
    void report(std::int64_t end, FindingSink& out);
    bool lineHoldsSet(std::int64_t end) const;
    void keepLineEnd();
    const char* at(std::int64_t offset) const { return piece.data() + (offset - pieceBase); }

    const Matcher::Tables& t;
    std::string_view piece; // the bytes being fed; offsets are the stream's, piece[0] at pieceBase
    std::int64_t pieceBase = 0;

    std::uint64_t lines = 0; // non-empty lines ended so far: the current line's index
    std::int64_t lineStart = 0;
    std::int64_t lastSpace = -1;
    std::uint32_t node = 0;
    bool inRun = false; // the bytes so far end in spaces that leave the automaton where it is
    // What later pieces need of the current line: its gap since lastSpace, while it may still be a
    // token; whether it holds "set" so far, and its last two bytes for a "set" across the seam.
    std::string gap; // a space, then the gap's bytes
    bool setSeen = false;
    std::string tail;

    // Nodes whose names the current line holds, until its end tells whether it holds "set". A
    // node's stamp is 2 (line + 1) once noted on the line, one more once reported with its fail
    // chain: so each node is noted and reported at most once a line.
    std::vector<std::uint32_t> pending;
    std::vector<std::uint64_t> stamp;
    std::vector<std::uint32_t> indices;
    std::vector<Finding> lineFindings; // the line's findings, as they are handed over
};

void LineScanner::State::feed(std::string_view bytes, FindingSink& out)
{
    piece = bytes;
    const auto size = static_cast<std::int64_t>(bytes.size());
    std::int64_t i = 0;
    for (; i + 64 <= size; i += 64)
        scanBlock(bytes.data() + i, pieceBase + i, 64, out);
    if (i < size) {
        char block[64] = {};
        std::memcpy(block, bytes.data() + i, static_cast<std::size_t>(size - i));
        scanBlock(block, pieceBase + i, size - i, out);
    }
    keepLineEnd();
    pieceBase += size;
    piece = {};
}

// Spaces and breaks drive everything; the bytes in between are only read as gaps that may be
// tokens and, on lines that hold names, in the search for "set".
void LineScanner::State::scanBlock(const char* block, std::int64_t pos, std::int64_t valid, FindingSink& out)
{
    Masks m = classify(block);
    m.space &= t.nodes.size() > 1 ? lowBits(valid) : 0; // without names, only lines count
    m.brk &= lowBits(valid);
    std::uint64_t events = m.space | m.brk;
    // Once a space leaves the automaton where it was, the spaces right after it do too.
    const auto skipRun = [&](int from) {
        const std::uint64_t run = from >= 64 ? 0 : lowBits(std::countr_one(m.space >> from)) << from;
        events &= ~run;
        lastSpace = run != 0 ? pos + static_cast<std::int64_t>(std::bit_width(run)) - 1 : lastSpace;
    };
    if (inRun)
        skipRun(0);
    while (events != 0) {
        const int bit = std::countr_zero(events);
        events &= events - 1;
        if ((m.brk >> bit) & 1U) {
            endLine(pos + bit, out);
            continue;
        }
        if (lastSpace >= lineStart)
            moveTo(lastSpace + 1 == pos + bit ? t.nodes[node].afterSpace : afterGap(lastSpace, pos + bit));
        lastSpace = pos + bit;
        if (((m.space >> bit) & 2U) != 0 && t.nodes[node].afterSpace == node)
            skipRun(bit + 1);
    }
    inRun = lastSpace == pos + valid - 1 && t.nodes[node].afterSpace == node;
}

// The node after the gap between two spaces of the current line, at least one byte apart.
std::uint32_t LineScanner::State::afterGap(std::int64_t open, std::int64_t close)
{
    const auto n = static_cast<std::size_t>(close - open - 1);
    if (n > t.maxToken)
        return 0;
    if (open < pieceBase) {
        // Begun in an earlier piece: the gap goes on from what keepLineEnd kept of it.
        gap.append(piece.data(), static_cast<std::size_t>(close - pieceBase));
        gap.push_back(' ');
    }
    const char* p = open < pieceBase ? gap.data() + 1 : at(open + 1);
    const std::uint32_t token = t.mayHold(p, n) ? t.token(p, n) : kNone;
    return token == kNone ? 0 : t.next(node, token);
}

void LineScanner::State::moveTo(std::uint32_t next)
{
    node = next;
    const std::uint32_t found = t.nodes[node].out;
    if (found == kNone)
        return;
    if (stamp.empty())
        stamp.assign(t.nodes.size(), 0);
    if (stamp[found] < 2 * (lines + 1)) {
        stamp[found] = 2 * (lines + 1);
        pending.push_back(found);
    }
}

void LineScanner::State::endLine(std::int64_t pos, FindingSink& out)
{
    if (pos > lineStart) {
        if (!pending.empty())
            report(pos, out);
        ++lines;
    }
    lineStart = pos + 1;
    node = 0;
    setSeen = false;
}

// The current line, ending at end, holds the pending nodes' names: reports them and every name
// on their fail chains when it holds "set".
void LineScanner::State::report(std::int64_t end, FindingSink& out)
{
    if (lineHoldsSet(end)) {
        const std::uint64_t reported = 2 * (lines + 1) + 1;
        indices.clear();
        for (const std::uint32_t first : pending) {
            for (std::uint32_t n = first; n != kNone && stamp[n] != reported;
                 n = t.nodes[t.nodes[n].fail].out) {
                stamp[n] = reported;
                for (std::uint32_t k = t.nodes[n].firstIndex; k != kNone; k = t.nextIndex[k])
                    indices.push_back(k);
            }
        }
        std::sort(indices.begin(), indices.end());
        lineFindings.clear();
        for (const std::uint32_t k : indices)
            lineFindings.push_back({ lines, k });
        out.take(lineFindings.data(), lineFindings.size());
    }
    pending.clear();
}

// Whether the current line holds "set" up to end: in the pieces before, then across the seam,
// then in this one.
bool LineScanner::State::lineHoldsSet(std::int64_t end) const
{
    const std::int64_t from = std::max(lineStart, pieceBase);
    if (setSeen || (end > from && holdsSet(at(from), at(end))))
        return true;
    if (lineStart >= pieceBase || end == from)
        return false;
    std::string seam = tail;
    seam.append(at(from), static_cast<std::size_t>(std::min<std::int64_t>(end - from, 2)));
    return holdsSet(seam.data(), seam.data() + seam.size());
}

// At the end of a piece: keeps what the next pieces need of the line that goes on.
void LineScanner::State::keepLineEnd()
{
    const std::int64_t end = pieceBase + static_cast<std::int64_t>(piece.size());
    const std::int64_t from = std::max(lineStart, pieceBase);
    if (lastSpace >= lineStart && end - lastSpace - 1 <= static_cast<std::int64_t>(t.maxToken)) {
        if (lastSpace >= pieceBase)
            gap.assign(1, ' ').append(at(lastSpace + 1), static_cast<std::size_t>(end - lastSpace - 1));
        else
            gap.append(piece);
    }
    if (!setSeen && end > from) {
        setSeen = lineHoldsSet(end);
        const auto last = static_cast<std::size_t>(std::min<std::int64_t>(end - from, 2));
        if (lineStart >= pieceBase)
            tail.clear();
        tail.append(at(end) - last, last);
        tail.erase(0, tail.size() - std::min<std::size_t>(tail.size(), 2));
    }
}

LineScanner::LineScanner(const Matcher& matcher)
    : m_state(std::make_unique<State>(*matcher.m_tables))
{
}

LineScanner::~LineScanner() = default;

void LineScanner::feed(std::string_view bytes, FindingSink& out)
{
    m_state->feed(bytes, out);
}

void LineScanner::finish(FindingSink& out)
{
    // The line that goes on to the end: what it needs of the bytes is known already.
    m_state->endLine(m_state->pieceBase, out);
}

std::uint64_t LineScanner::lineCount() const
{
    return m_state->lines;
}

std::vector<Finding> scanBuffer(std::string_view data, const Matcher& matcher)
{
    struct Collect final : FindingSink {
        void take(const Finding* f, std::size_t n) override { all.insert(all.end(), f, f + n); }
        std::vector<Finding> all;
    } out;
    LineScanner scanner(matcher);
    scanner.feed(data, out);
    scanner.finish(out);
    return std::move(out.all);
}

} // namespace tromel
