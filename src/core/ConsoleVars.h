#pragma once

#include "ConsoleSyntax.h"
#include "ConsoleText.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tromel::console {

/// The console's variables: each name's value, and the value it was created with (what reset
/// restores). Names and values that are a stretch of a file take 8 bytes each, and the table
/// grows in 64 parts, never all at once, so that a config of a million variables costs about
/// twenty bytes per variable.
class Vars {
public:
    explicit Vars(const std::vector<std::string_view>& files);
    ~Vars();
    Vars(const Vars&) = delete;
    Vars& operator=(const Vars&) = delete;

    std::optional<TextRef> value(std::string_view name) const;
    std::optional<TextRef> resetValue(std::string_view name) const;
    /// Sets a variable, creating it (with value as its reset value) when it does not exist.
    void set(const TextRef& name, const TextRef& value);
    void remove(std::string_view name);
    std::size_t size() const { return m_live; }
    /// Bytes held.
    std::size_t memory() const;

private:
    static constexpr std::uint64_t kInArena = std::uint64_t { 1 } << 63;

    std::uint64_t keep(const TextRef& text);
    TextRef text(std::uint64_t ref) const;
    std::string_view bytes(std::uint64_t ref) const;
    void release(std::uint64_t ref);
    struct Part {
        std::vector<std::uint64_t> names;
        std::vector<std::uint64_t> values;
        std::vector<std::uint8_t> tags; // 0 empty, 1 removed, else 2 + some bits of the name's hash
        std::size_t used = 0; // slots not empty
        std::size_t live = 0;
    };
    static constexpr std::size_t kParts = 64;

    Part& partOf(std::size_t hash) { return m_parts[hash >> 58]; }
    const Part& partOf(std::size_t hash) const { return m_parts[hash >> 58]; }
    std::size_t find(const Part& part, std::string_view name, std::size_t hash) const; // a slot, or npos
    const std::uint64_t* valueSlot(std::string_view name) const;
    void grow(Part& part);

    const std::vector<std::string_view>& m_files;
    std::array<Part, kParts> m_parts;
    std::size_t m_slots = 0;
    std::size_t m_live = 0;
    std::vector<TextRef> m_arena; // texts that are not one stretch of a file
    std::vector<std::uint32_t> m_free;
    std::size_t m_arenaBytes = 0;
    std::unordered_map<std::string, std::uint64_t, FoldedHash, FoldedEqual> m_resets; // when not the value
    std::size_t m_resetBytes = 0;
};

} // namespace tromel::console
