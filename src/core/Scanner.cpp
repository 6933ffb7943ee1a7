#include "Scanner.h"

#include "CvarList.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

namespace tromel {

namespace {

std::uint64_t hashBytes(const char* p, std::size_t n)
{
    // FNV-1a over 8-byte words: cheap for the short keys that cvar names are.
    std::uint64_t h = 0xcbf29ce484222325ULL ^ n;
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0x100000001b3ULL;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0x100000001b3ULL;
    h ^= h >> 32;
    return h;
}

} // namespace

struct Matcher::Tables {
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t id = 0; // distinct name id + 1; 0 is an empty slot
    };

    std::vector<std::string> keys;                  // distinct non-empty names
    std::vector<std::vector<std::uint32_t>> indices; // list indices of each key, ascending
    std::vector<Slot> slots;                        // open addressing, power-of-two size
    std::uint64_t mask = 0;
    std::vector<bool> spaceCountUsed;               // [k]: some name holds k spaces
    std::size_t maxSpaces = 0;
    std::size_t maxLen = 0;
    std::uint64_t lenByFirst[256] = {};             // bit min(len,63): a name of that length starts with the byte

    bool empty() const { return keys.empty(); }

    // Distinct name id for a candidate, or -1.
    std::int64_t lookup(const char* p, std::size_t n) const
    {
        const unsigned char first = static_cast<unsigned char>(p[0]);
        if (((lenByFirst[first] >> std::min<std::size_t>(n, 63)) & 1U) == 0)
            return -1;
        const std::uint64_t h = hashBytes(p, n);
        for (std::uint64_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& s = slots[i];
            if (s.id == 0)
                return -1;
            if (s.hash == h) {
                const std::string& k = keys[s.id - 1];
                if (k.size() == n && std::memcmp(k.data(), p, n) == 0)
                    return s.id - 1;
            }
        }
    }
};

Matcher::Matcher(const CvarList& list)
    : m_tables(std::make_unique<Tables>())
{
    Tables& t = *m_tables;
    std::unordered_map<std::string_view, std::uint32_t> ids;
    for (std::size_t k = 1; k < list.names.size(); ++k) {
        const std::string& name = list.names[k];
        if (name.empty())
            continue;
        auto [it, inserted] = ids.try_emplace(name, static_cast<std::uint32_t>(t.keys.size()));
        if (inserted) {
            t.keys.push_back(name);
            t.indices.emplace_back();
        }
        t.indices[it->second].push_back(static_cast<std::uint32_t>(k));
    }

    std::size_t capacity = 16;
    while (capacity < t.keys.size() * 2)
        capacity *= 2;
    t.slots.assign(capacity, {});
    t.mask = capacity - 1;
    for (std::uint32_t id = 0; id < t.keys.size(); ++id) {
        const std::string& key = t.keys[id];
        const std::uint64_t h = hashBytes(key.data(), key.size());
        std::uint64_t i = h & t.mask;
        while (t.slots[i].id != 0)
            i = (i + 1) & t.mask;
        t.slots[i] = {h, id + 1};

        const auto spaces = static_cast<std::size_t>(std::count(key.begin(), key.end(), ' '));
        if (t.spaceCountUsed.size() <= spaces)
            t.spaceCountUsed.resize(spaces + 1, false);
        t.spaceCountUsed[spaces] = true;
        t.maxSpaces = std::max(t.maxSpaces, spaces);
        t.maxLen = std::max(t.maxLen, key.size());
        t.lenByFirst[static_cast<unsigned char>(key[0])] |= std::uint64_t{1} << std::min<std::size_t>(key.size(), 63);
    }
}

Matcher::~Matcher() = default;

struct ScanStream::State {
    const Matcher::Tables& t;
    std::size_t window;               // longest " name " or "set", whichever is longer
    std::string carry;                // last window-1 bytes of the current line
    std::string seam;                 // carry + head of the next piece
    bool inLine = false;
    bool lineHasSet = false;
    std::vector<std::uint32_t> pending; // distinct ids seen on the current line
    std::vector<std::uint64_t> stamp;   // per id: line number + 1 when last seen
    std::vector<std::uint32_t> emitted;

    explicit State(const Matcher::Tables& tables)
        : t(tables)
        , window(std::max<std::size_t>(tables.maxLen + 2, 3))
        , stamp(tables.keys.size(), 0)
    {
    }

    void hit(std::int64_t id, std::uint64_t line)
    {
        if (id < 0)
            return;
        auto& s = stamp[static_cast<std::size_t>(id)];
        if (s != line + 1) {
            s = line + 1;
            pending.push_back(static_cast<std::uint32_t>(id));
        }
    }

    // Tries every candidate " name " in v that starts at a space before `before`. A name holding
    // k spaces spans exactly k + 2 spaces of the line, so each start space is paired with the
    // following spaces up to the longest name, and the gap is looked up whole.
    void candidates(std::string_view v, std::size_t before, std::uint64_t line)
    {
        const char* base = v.data();
        const std::size_t n = v.size();
        const std::size_t limit = std::min(before, n);
        std::size_t i = spaceIn(base, 0, limit);
        while (i < limit) {
            const std::size_t reach = std::min(n, i + t.maxLen + 2); // the closing space lies before this
            std::size_t j = i;
            std::size_t next = reach; // no space in (i, reach) unless found below
            for (std::size_t spaces = 0; spaces <= t.maxSpaces; ++spaces) {
                j = spaceIn(base, j + 1, reach);
                if (j >= reach)
                    break;
                if (spaces == 0)
                    next = j;
                if (j > i + 1 && t.spaceCountUsed[spaces])
                    hit(t.lookup(base + i + 1, j - i - 1), line);
            }
            i = next < limit && base[next] == ' ' ? next : spaceIn(base, next, limit);
        }
    }

    // Index of the first space in [from, to), or `to`.
    static std::size_t spaceIn(const char* base, std::size_t from, std::size_t to)
    {
        if (from >= to)
            return to;
        const void* e = std::memchr(base + from, ' ', to - from);
        return e ? static_cast<std::size_t>(static_cast<const char*>(e) - base) : to;
    }

    void piece(std::string_view seg, std::uint64_t line)
    {
        if (t.empty()) {
            inLine = true;
            return;
        }
        if (inLine && !carry.empty()) {
            // Matches that straddle the previous piece: they start inside the carry.
            seam.assign(carry);
            seam.append(seg.substr(0, window - 1));
            if (!lineHasSet) {
                const std::size_t s = seam.find("set");
                lineHasSet = s != std::string::npos && s < carry.size();
            }
            candidates(seam, carry.size(), line);
        }
        if (!lineHasSet)
            lineHasSet = seg.find("set") != std::string_view::npos;
        candidates(seg, seg.size(), line);

        const std::size_t keep = window - 1;
        if (seg.size() >= keep) {
            carry.assign(seg.substr(seg.size() - keep));
        } else {
            carry.append(seg);
            if (carry.size() > keep)
                carry.erase(0, carry.size() - keep);
        }
        inLine = true;
    }

    // Closes the current line; returns whether there was one.
    bool endLine(std::uint64_t line, std::vector<Finding>& out)
    {
        if (!inLine)
            return false;
        if (lineHasSet && !pending.empty()) {
            emitted.clear();
            for (std::uint32_t id : pending)
                emitted.insert(emitted.end(), t.indices[id].begin(), t.indices[id].end());
            std::sort(emitted.begin(), emitted.end());
            for (std::uint32_t k : emitted)
                out.push_back({line, k});
        }
        pending.clear();
        carry.clear();
        lineHasSet = false;
        inLine = false;
        return true;
    }
};

ScanStream::ScanStream(const Matcher& matcher)
    : m_state(std::make_unique<State>(matcher.tables()))
{
}

ScanStream::~ScanStream() = default;

void ScanStream::onChunk(std::string_view chunk)
{
    const char* p = chunk.data();
    const char* end = p + chunk.size();
    while (p < end) {
        const std::size_t left = static_cast<std::size_t>(end - p);
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', left));
        const std::size_t upto = lf ? static_cast<std::size_t>(lf - p) : left;
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', upto));
        const char* brk = cr ? cr : lf;
        const std::size_t len = brk ? static_cast<std::size_t>(brk - p) : left;
        if (len > 0)
            m_state->piece(std::string_view(p, len), m_lines);
        if (!brk)
            break;
        if (m_state->endLine(m_lines, m_findings))
            ++m_lines;
        p = brk + 1;
    }
}

void ScanStream::finish()
{
    if (m_state->endLine(m_lines, m_findings))
        ++m_lines;
}

std::vector<Finding> scanBuffer(std::string_view data, const Matcher& matcher)
{
    ScanStream stream(matcher);
    stream.onChunk(data);
    stream.finish();
    return stream.takeFindings();
}

ScanResult CheckConfig(const std::string& path, const Matcher& matcher)
{
    ScanResult result;
    ScanStream stream(matcher);
    result.file = streamFile(path, stream);
    if (!result.file)
        return result;
    stream.finish();
    result.lines = stream.lineCount();
    if (result.lines == 0) {
        result.file = {FileError::NoLines, 0};
        return result;
    }
    result.findings = stream.takeFindings();
    return result;
}

} // namespace tromel
