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

// Bits of the hash that neither the part (the top six) nor the slot (the lowest) uses.
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

std::size_t Vars::find(const Part& part, std::string_view name, std::size_t hash) const
{
    if (part.tags.empty())
        return std::string_view::npos;
    const std::size_t mask = part.tags.size() - 1;
    const std::uint8_t tag = tagOf(hash);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        if (part.tags[i] == 0)
            return std::string_view::npos;
        if (part.tags[i] == tag && equalsFolded(bytes(part.names[i]), name))
            return i;
    }
}

void Vars::grow(Part& part)
{
    const std::size_t old = part.tags.size();
    const std::size_t capacity = part.live * 2 >= old ? std::max<std::size_t>(16, old * 2) : old;
    Part bigger;
    bigger.names.resize(capacity);
    bigger.values.resize(capacity);
    bigger.tags.assign(capacity, 0);
    for (std::size_t i = 0; i < old; ++i) {
        if (part.tags[i] < 2)
            continue;
        std::size_t k = FoldedHash {}(bytes(part.names[i])) & (capacity - 1);
        while (bigger.tags[k] != 0)
            k = (k + 1) & (capacity - 1);
        bigger.tags[k] = part.tags[i];
        bigger.names[k] = part.names[i];
        bigger.values[k] = part.values[i];
    }
    bigger.used = bigger.live = part.live;
    m_slots += capacity - old;
    part = std::move(bigger);
}

const std::uint64_t* Vars::valueSlot(std::string_view name) const
{
    const std::size_t hash = FoldedHash {}(name);
    const Part& part = partOf(hash);
    const std::size_t slot = find(part, name, hash);
    return slot == std::string_view::npos ? nullptr : &part.values[slot];
}

std::optional<TextRef> Vars::value(std::string_view name) const
{
    const std::uint64_t* slot = valueSlot(name);
    return slot ? std::optional<TextRef>(text(*slot)) : std::nullopt;
}

std::optional<TextRef> Vars::resetValue(std::string_view name) const
{
    const std::uint64_t* slot = valueSlot(name);
    if (!slot)
        return std::nullopt;
    const auto reset = m_resets.find(name);
    return text(reset == m_resets.end() ? *slot : reset->second);
}

void Vars::set(const TextRef& name, const TextRef& value)
{
    const std::size_t hash = FoldedHash {}(name.bytes());
    Part& part = partOf(hash);
    if (const std::size_t slot = find(part, name.bytes(), hash); slot != std::string_view::npos) {
        // The first value stays what reset restores.
        auto [reset, added] = m_resets.try_emplace(std::string(name.bytes()), part.values[slot]);
        if (added)
            m_resetBytes += name.size() + 64;
        else
            release(part.values[slot]);
        part.values[slot] = keep(value);
        return;
    }
    if ((part.used + 1) * 8 > part.tags.size() * 7)
        grow(part);
    const std::size_t mask = part.tags.size() - 1;
    std::size_t i = hash & mask;
    while (part.tags[i] >= 2)
        i = (i + 1) & mask;
    part.used += part.tags[i] == 0 ? 1 : 0;
    part.tags[i] = tagOf(hash);
    part.names[i] = keep(name);
    part.values[i] = keep(value);
    ++part.live;
    ++m_live;
}

void Vars::remove(std::string_view name)
{
    const std::size_t hash = FoldedHash {}(name);
    Part& part = partOf(hash);
    const std::size_t slot = find(part, name, hash);
    if (slot == std::string_view::npos)
        return;
    if (const auto reset = m_resets.find(name); reset != m_resets.end()) {
        release(reset->second);
        m_resetBytes -= name.size() + 64;
        m_resets.erase(reset);
    }
    release(part.names[slot]);
    release(part.values[slot]);
    part.tags[slot] = 1;
    --part.live;
    --m_live;
}

std::size_t Vars::memory() const
{
    return m_slots * (2 * sizeof(std::uint64_t) + 1) + m_arena.capacity() * sizeof(TextRef) + m_arenaBytes
        + m_resetBytes;
}

} // namespace tromel::console
