#include "ConsoleVars.h"

#include "ConsoleSyntax.h"

namespace tromel::console {

namespace {

// A file's stretch packed in 63 bits: file, offset, length.
constexpr unsigned kLengthBits = 10;
constexpr unsigned kOffsetBits = 40;
constexpr unsigned kFileBits = 13;
constexpr std::uint64_t kMask(unsigned bits)
{
    return (std::uint64_t { 1 } << bits) - 1;
}

std::uint8_t tagOf(std::size_t hash)
{
    return static_cast<std::uint8_t>(2 + (hash >> 40) % 254);
}

} // namespace

Vars::Vars(const std::vector<std::string_view>& files)
    : m_files(files)
{
}

Vars::~Vars() = default;

std::uint64_t Vars::keep(const TextRef& t)
{
    if (t.isFile() && t.size() <= kMask(kLengthBits) && t.begin() <= kMask(kOffsetBits)
        && t.file() <= kMask(kFileBits))
        return (std::uint64_t { t.file() } << (kOffsetBits + kLengthBits))
            | (std::uint64_t { t.begin() } << kLengthBits) | t.size();
    std::uint32_t slot;
    if (!m_free.empty()) {
        slot = m_free.back();
        m_free.pop_back();
        m_arena[slot] = t;
    } else {
        slot = static_cast<std::uint32_t>(m_arena.size());
        m_arena.push_back(t);
    }
    m_arenaBytes += t.size() + (t.isFile() ? 0 : t.derived()->runs.size() * sizeof(Derived::Run));
    return kInArena | slot;
}

TextRef Vars::text(std::uint64_t ref) const
{
    if (ref & kInArena)
        return m_arena[ref & kMask(32)];
    const auto length = static_cast<std::size_t>(ref & kMask(kLengthBits));
    const auto offset = static_cast<std::size_t>((ref >> kLengthBits) & kMask(kOffsetBits));
    const auto file = static_cast<std::uint32_t>(ref >> (kOffsetBits + kLengthBits));
    return TextRef(m_files[file], file, offset, offset + length);
}

std::string_view Vars::bytes(std::uint64_t ref) const
{
    if (ref & kInArena)
        return m_arena[ref & kMask(32)].bytes();
    const auto length = static_cast<std::size_t>(ref & kMask(kLengthBits));
    const auto offset = static_cast<std::size_t>((ref >> kLengthBits) & kMask(kOffsetBits));
    return m_files[ref >> (kOffsetBits + kLengthBits)].substr(offset, length);
}

void Vars::release(std::uint64_t ref)
{
    if (!(ref & kInArena))
        return;
    const auto slot = static_cast<std::uint32_t>(ref & kMask(32));
    const TextRef& t = m_arena[slot];
    m_arenaBytes -= t.size() + (t.isFile() ? 0 : t.derived()->runs.size() * sizeof(Derived::Run));
    m_arena[slot] = TextRef();
    m_free.push_back(slot);
}

std::size_t Vars::find(std::string_view name, std::size_t hash) const
{
    if (m_tags.empty())
        return std::string_view::npos;
    const std::size_t mask = m_tags.size() - 1;
    const std::uint8_t tag = tagOf(hash);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        if (m_tags[i] == 0)
            return std::string_view::npos;
        if (m_tags[i] == tag && equalsFolded(bytes(m_names[i]), name))
            return i;
    }
}

void Vars::grow()
{
    const std::size_t capacity
        = m_live * 2 >= m_tags.size() ? std::max<std::size_t>(64, m_tags.size() * 2) : m_tags.size();
    std::vector<std::uint64_t> names(capacity);
    std::vector<std::uint64_t> values(capacity);
    std::vector<std::uint8_t> tags(capacity, 0);
    for (std::size_t i = 0; i < m_tags.size(); ++i) {
        if (m_tags[i] < 2)
            continue;
        const std::size_t hash = FoldedHash {}(bytes(m_names[i]));
        std::size_t k = hash & (capacity - 1);
        while (tags[k] != 0)
            k = (k + 1) & (capacity - 1);
        tags[k] = m_tags[i];
        names[k] = m_names[i];
        values[k] = m_values[i];
    }
    m_names = std::move(names);
    m_values = std::move(values);
    m_tags = std::move(tags);
    m_used = m_live;
}

std::optional<TextRef> Vars::value(std::string_view name) const
{
    const std::size_t slot = find(name, FoldedHash {}(name));
    if (slot == std::string_view::npos)
        return std::nullopt;
    return text(m_values[slot]);
}

std::optional<TextRef> Vars::resetValue(std::string_view name) const
{
    const std::size_t slot = find(name, FoldedHash {}(name));
    if (slot == std::string_view::npos)
        return std::nullopt;
    const auto reset = m_resets.find(folded(name));
    return text(reset == m_resets.end() ? m_values[slot] : reset->second);
}

void Vars::set(const TextRef& name, const TextRef& value)
{
    const std::size_t hash = FoldedHash {}(name.bytes());
    if (const std::size_t slot = find(name.bytes(), hash); slot != std::string_view::npos) {
        // The first value stays what reset restores.
        auto [reset, added] = m_resets.try_emplace(folded(name.bytes()), m_values[slot]);
        if (added)
            m_resetBytes += name.size() + 64;
        else
            release(m_values[slot]);
        m_values[slot] = keep(value);
        return;
    }
    if ((m_used + 1) * 8 > m_tags.size() * 7)
        grow();
    const std::size_t mask = m_tags.size() - 1;
    std::size_t i = hash & mask;
    while (m_tags[i] >= 2)
        i = (i + 1) & mask;
    m_used += m_tags[i] == 0 ? 1 : 0;
    m_tags[i] = tagOf(hash);
    m_names[i] = keep(name);
    m_values[i] = keep(value);
    ++m_live;
}

void Vars::remove(std::string_view name)
{
    const std::size_t slot = find(name, FoldedHash {}(name));
    if (slot == std::string_view::npos)
        return;
    if (const auto reset = m_resets.find(folded(name)); reset != m_resets.end()) {
        release(reset->second);
        m_resetBytes -= name.size() + 64;
        m_resets.erase(reset);
    }
    release(m_names[slot]);
    release(m_values[slot]);
    m_tags[slot] = 1;
    --m_live;
}

std::size_t Vars::memory() const
{
    return m_tags.size() * (2 * sizeof(std::uint64_t) + 1) + m_arena.capacity() * sizeof(TextRef)
        + m_arenaBytes + m_resetBytes;
}

} // namespace tromel::console
