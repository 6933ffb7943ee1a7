#pragma once

// The game console as the id Tech 3 engines run a config: the command buffer that cuts text into
// command lines, the tokenizer, and the commands that set cvars or run more text (exec, vstr,
// binds, echo, wait). Modes that judge configs (audit, rules) are observers of one model: they
// receive every command that sets a watched cvar, with where it is written and what ran it.
//
// A run reads the config as the game loads it, exactly, then follows what key presses can run
// afterwards (bindings, the values they vstr, the files they exec) as a closure: each such text is
// read once, from an empty command buffer, and a variable may hold any value it was ever given.
// When a config is too costly to follow (its work or memory budget runs out), the run reports
// every place a watched name is written instead, marked possible, and ends.
//
// Use: read the config into a Files (ConsoleFiles.h: open(path), "-" for standard input), make a
// Watch of the names of interest, and run() it once per dialect with an Observer: set() takes
// every set of a watched cvar as it runs (load first, then key presses), loaded() the values the
// load leaves. Files may be shared by the runs of several dialects, not by threads.

#include "FileStatus.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tromel::console {

/// The engines whose console rules are modelled.
enum class Dialect : std::uint8_t {
    EtLegacy, // ET: Legacy (and its "legacy" mod)
    Ioq3, // ioquake3
    Et, // Wolfenstein: Enemy Territory 2.60 and the mods that run on it
};
inline constexpr std::size_t kDialectCount = 3;

std::string_view dialectName(Dialect dialect);

/// Some of the dialects; the default reading covers all three.
class DialectSet {
public:
    constexpr DialectSet() = default;
    static constexpr DialectSet all() { return DialectSet(0b111); }
    static constexpr DialectSet of(Dialect d) { return DialectSet(bit(d)); }

    constexpr bool contains(Dialect d) const { return (m_bits & bit(d)) != 0; }
    constexpr DialectSet with(Dialect d) const { return DialectSet(m_bits | bit(d)); }
    constexpr bool empty() const { return m_bits == 0; }
    constexpr bool isAll() const { return m_bits == all().m_bits; }
    /// The members in reporting order: etlegacy, ioq3, et.
    std::vector<Dialect> members() const;
    friend constexpr bool operator==(DialectSet, DialectSet) = default;

private:
    constexpr explicit DialectSet(std::uint8_t bits)
        : m_bits(bits)
    {
    }
    static constexpr std::uint8_t bit(Dialect d)
    {
        return static_cast<std::uint8_t>(1U << static_cast<unsigned>(d));
    }
    std::uint8_t m_bits = 0;
};

/// "ioq3", "etlegacy" (or "new"), "et" (or "old"), "any" (or "both": all three), or several of
/// them joined by commas; case matters. Nothing for anything else.
std::optional<DialectSet> parseDialects(std::string_view text);

/// "any" for all three, else the members joined by commas.
std::string dialectSetName(DialectSet dialects);

/// The cvar names whose sets are reported, compared as the console compares names (ASCII letters
/// folded). Entry k is names[k]; empty names are never matched.
class Watch {
public:
    explicit Watch(const std::vector<std::string>& names);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    /// The entries a name matches (several when the list spells one name in several cases).
    std::span<const std::uint32_t> find(std::string_view name) const;
    const std::string& name(std::uint32_t entry) const { return m_names[entry]; }
    const std::vector<std::string>& names() const { return m_names; }
    /// The lengths of the names, and of those holding a byte other than a letter, digit or '_'.
    std::span<const std::size_t> lengths() const;
    std::span<const std::size_t> oddLengths() const;

    struct Table;

private:
    const std::vector<std::string>& m_names;
    std::unique_ptr<Table> m_table;
};

/// A byte of a file the run read: the config is file 0, exec'd files follow.
struct Place {
    std::uint64_t offset = 0;
    std::uint32_t file = 0;
    friend bool operator==(const Place&, const Place&) = default;
};

enum class Setter : std::uint8_t { Set, Seta, Sets, Setu, Bare, Toggle, Cycle, Reset, Unset, Written };
/// "set", ..., "bare" (NAME VALUE), ..., "written" (found by the budget fallback's name scan).
std::string_view setterName(Setter setter);

/// What ran a text: an exec, a vstr (or +vstr), a key press of a binding, text an echo added to
/// the buffer, or a cvar whose value the game runs later (cl_activeAction, ...).
enum class HopKind : std::uint8_t { Exec, Vstr, Bind, Echo, Hook };
std::string_view hopName(HopKind kind);

struct Hop {
    HopKind kind = HopKind::Exec;
    Place place; // where the command that ran the text is written
    std::string_view command; // that command as the console ran it
};

/// A route keeps this many hops at most: the outermost half and the innermost half.
inline constexpr std::size_t kRouteHops = 16;

/// The hops that led to a set, outermost first (their number, size(), counts those left out).
class Route {
public:
    virtual std::size_t size() const = 0;
    /// The outermost `head` hops and the innermost `tail` ones (all when they overlap).
    virtual void hops(std::vector<Hop>& out, std::size_t head, std::size_t tail) const = 0;

protected:
    ~Route() = default;
};

/// A command that sets (or may set) a watched cvar. Views are valid during the call only.
struct SetEvent {
    Setter setter = Setter::Set;
    std::string_view name; // the cvar as the command names it
    std::span<const std::uint32_t> entries; // the watched entries it sets
    std::optional<std::string_view> value; // the value set, when the command's own text gives it
    std::string_view command; // the command as the console runs it
    Place place; // the command's first byte
    const Route* route = nullptr;
    bool onKeyPress = false; // runs when a key is pressed (or later), not while the config loads
    bool possible = false; // may run, by an over-approximation: an unknown engine cvar's value, the budget
};

struct Warning {
    Place place;
    std::string message;
};

/// The warnings a config shows at most; the rest are counted, so a crafted file cannot flood the output.
inline constexpr std::size_t kWarningsShown = 1000;
/// The one warning that stands for those past kWarningsShown.
inline std::string warningsNotShown(std::size_t more)
{
    return std::to_string(more) + " more warnings not shown";
}

/// The last set of a watched cvar while the config loaded.
struct LoadedValue {
    std::span<const std::uint32_t> entries;
    Setter setter = Setter::Set;
    std::optional<std::string_view> value; // none when unknown (reset, unset, a toggle of a default)
    Place place;
};

class Observer {
public:
    virtual ~Observer() = default;
    virtual void set(const SetEvent& event) = 0;
    virtual void warning(const Warning& warning) = 0;
    /// Once the config has loaded, before key presses: each watched cvar the load set, by entry.
    /// Not called when the run gave up.
    virtual void loaded(std::span<const LoadedValue> values) { (void)values; }
    /// Asked now and then; true stops the run.
    virtual bool cancelled() const { return false; }
};

class Files;

/// The engines' own limits, and the run's budget (0: from the size of what the config reads).
struct Limits {
    std::size_t buffer = 131072; // the command buffer's bytes (all three engines)
    std::uint64_t work = 0; // bytes scanned, summed over every command line and text
    std::uint64_t memory = 0; // bytes held for variables, bindings, values and routes
};

enum class RunEnd : std::uint8_t { Finished, Cancelled, GaveUp };

/// Runs the config of `files` in one dialect, reporting to observer. Exec'd files are read into
/// `files` as the run needs them, so later runs share them.
RunEnd run(Files& files, const Watch& watch, Dialect dialect, Observer& observer, const Limits& limits = {});

} // namespace tromel::console
