// Names of dialects, setters and hops, and the watched cvar names.

#include "Console.h"
#include "ConsoleSyntax.h"

#include <algorithm>
#include <unordered_map>

namespace tromel::console {

std::string_view dialectName(Dialect dialect)
{
    switch (dialect) {
    case Dialect::EtLegacy:
        return "etlegacy";
    case Dialect::Ioq3:
        return "ioq3";
    case Dialect::Et:
        return "et";
    }
    return "";
}

std::vector<Dialect> DialectSet::members() const
{
    std::vector<Dialect> out;
    for (const Dialect d : { Dialect::EtLegacy, Dialect::Ioq3, Dialect::Et })
        if (contains(d))
            out.push_back(d);
    return out;
}

std::optional<DialectSet> parseDialects(std::string_view text)
{
    DialectSet set;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string_view::npos)
            comma = text.size();
        const std::string_view word = text.substr(pos, comma - pos);
        if (word == "any" || word == "both")
            set = DialectSet::all();
        else if (word == "etlegacy" || word == "new")
            set = set.with(Dialect::EtLegacy);
        else if (word == "ioq3")
            set = set.with(Dialect::Ioq3);
        else if (word == "et" || word == "old")
            set = set.with(Dialect::Et);
        else
            return std::nullopt;
        pos = comma + 1;
    }
    return set;
}

std::string dialectSetName(DialectSet dialects)
{
    if (dialects.isAll())
        return "any";
    std::string out;
    for (const Dialect d : dialects.members()) {
        if (!out.empty())
            out += ',';
        out += dialectName(d);
    }
    return out;
}

std::string_view setterName(Setter setter)
{
    static constexpr std::string_view kNames[]
        = { "set", "seta", "sets", "setu", "bare", "toggle", "cycle", "reset", "unset", "written" };
    return kNames[static_cast<std::size_t>(setter)];
}

std::string_view hopName(HopKind kind)
{
    static constexpr std::string_view kNames[] = { "exec", "vstr", "bind", "echo", "hook" };
    return kNames[static_cast<std::size_t>(kind)];
}

struct Watch::Table {
    // Names that differ only in case share one entry, so that each command costs one lookup.
    std::unordered_map<std::string, std::vector<std::uint32_t>, FoldedHash, FoldedEqual> entries;
    std::vector<std::size_t> lengths;
    std::vector<std::size_t> oddLengths;
};

namespace {

bool isWordByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

void addLength(std::vector<std::size_t>& lengths, std::size_t n)
{
    if (std::find(lengths.begin(), lengths.end(), n) == lengths.end())
        lengths.push_back(n);
}

} // namespace

Watch::Watch(const std::vector<std::string>& names)
    : m_names(names)
    , m_table(std::make_unique<Table>())
{
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string& name = names[k];
        if (name.empty())
            continue;
        m_table->entries[name].push_back(static_cast<std::uint32_t>(k));
        addLength(m_table->lengths, name.size());
        if (!std::all_of(name.begin(), name.end(), isWordByte))
            addLength(m_table->oddLengths, name.size());
    }
}

Watch::~Watch() = default;

std::span<const std::size_t> Watch::lengths() const
{
    return m_table->lengths;
}

std::span<const std::size_t> Watch::oddLengths() const
{
    return m_table->oddLengths;
}

std::span<const std::uint32_t> Watch::find(std::string_view name) const
{
    const auto it = m_table->entries.find(name);
    if (it == m_table->entries.end())
        return {};
    return it->second;
}

} // namespace tromel::console
