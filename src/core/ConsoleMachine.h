#pragma once

// The console model's run: a command buffer read as Cbuf_Execute reads it, the commands that
// matter, and the closure that follows what key presses can run afterwards.

#include "ConsoleFiles.h"
#include "ConsoleSyntax.h"
#include "ConsoleText.h"
#include "ConsoleVars.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tromel::console {

/// Text waiting in the command buffer: the unread part of a text, then the line breaks the
/// buffer added after it.
struct Segment {
    TextRef text;
    std::size_t pos = 0;
    std::uint32_t newlines = 0;
    RouteRef route;
    bool root = false; // the config's own text

    std::size_t left() const { return text.size() - pos + newlines; }
};

enum class Mode : std::uint8_t {
    Load, // the config as the game loads it: exactly, in order
    Closure, // a text key presses (or an unknown cvar's value) may run: read on its own, its sets widen what
             // variables may hold
};

/// One reading of a command buffer: the load, or one closure text.
struct Session {
    Mode mode = Mode::Load;
    bool keyPress = false;
    bool possible = false;
    std::deque<Segment> buffer;
    std::uint64_t size = 0;
    std::uint64_t rootLeft = 0;
    // Cbuf_Execute's comment state, which lasts from one command line to the next until a frame ends.
    bool star = false;
    bool slash = false;
    bool stopped = false; // et: a negative wait stops the buffer for good
};

/// What a variable may hold besides its exact value, and where the closure vstr's it.
struct Possible {
    std::vector<TextRef> values;
    std::unordered_set<SourceKey, SourceKeyHash> seen;
    RouteRef vstrRoute;
    std::uint8_t vstrFlags = 0; // the (key press, possible) kinds of closure reading that vstr it
};

struct Binding {
    TextRef text;
    RouteRef route;
    bool dirty = false;
};

class Machine {
public:
    Machine(Files& files, const Watch& watch, Dialect dialect, Observer& observer, const Limits& limits);
    RunEnd run();

private:
    struct Job {
        TextRef text;
        std::uint32_t newlines = 0;
        RouteRef route;
        bool keyPress = false;
        bool possible = false;
    };
    struct Loaded {
        std::span<const std::uint32_t> entries;
        Setter setter = Setter::Set;
        std::optional<std::string> value;
        Place place;
    };

    // The buffer (ConsoleMachine.cpp).
    enum class Cut : std::uint8_t { No, Here, AfterNext };
    void execute(Session& s);
    void takeLine(Session& s);
    void keep(std::uint64_t i, const Segment& g, std::size_t at);
    static Cut cutWithout(char c, bool odd);
    static Cut cutWithComments(Session& s, char c, bool odd, std::size_t seg, std::size_t at);
    static std::optional<char> byteAfter(const Session& s, std::size_t seg, std::size_t at);
    void consume(Session& s, std::uint64_t n);
    std::uint64_t occupied(const Session& s) const;
    bool insert(Session& s, const TextRef& text, std::uint32_t newlines, RouteRef route);
    bool append(Session& s, const TextRef& text, RouteRef route);
    void schedule(const TextRef& text, std::uint32_t newlines, RouteRef route, bool keyPress, bool possible);
    void drainJobs();
    void pressPhase();
    void pressBinding(int key, const Binding& binding, bool possible);
    void pressNow(int key, const Binding& binding, bool possible);
    TextRef pressText(const TextRef& binding, int key, bool down);
    void snapshotBindings();
    void checkBudget();
    void giveUp();
    std::size_t memory() const;

    // Commands (ConsoleCommands.cpp).
    void command(Session& s);
    std::string_view arg(std::size_t k) const;
    TextRef argText(std::size_t k) const;
    TextRef joined(std::size_t first, std::size_t last, bool trailingSpace = false) const;
    std::optional<TextRef> fileRange(std::size_t first, std::size_t last) const;
    TextRef made(std::string_view bytes) const;
    RouteRef hop(HopKind kind) const;
    const RouteRef& commandRoute() const;
    Place commandPlace() const;
    void warn(Place place, std::string message);
    void report(const Session& s, Setter setter, std::string_view name,
        std::span<const std::uint32_t> entries, std::optional<std::string_view> value);
    void assign(Session& s, Setter setter, const TextRef& name, const TextRef& value);
    void setUnknown(Session& s, Setter setter, std::string_view name, std::vector<TextRef> values);
    void addPossible(std::string_view name, const TextRef& value);
    Possible& possibleOf(std::string_view name);
    void closureVstr(std::string_view name, RouteRef route, bool keyPress, bool possible);
    bool exists(std::string_view name) const;
    TextRef cleaned(std::string_view name, const TextRef& value) const;
    TextRef withoutForeignBytes(const TextRef& value) const;
    void setCommand(Session& s, Setter setter, bool strictCount);
    void toggle(Session& s);
    void cycle(Session& s);
    void reset(Session& s);
    void unset(Session& s);
    void bind(Session& s);
    void unbind(Session& s, bool all);
    void vstr(Session& s);
    void exec(Session& s);
    void echo(Session& s);
    void echoText(Session& s, std::vector<std::vector<TextRef>> choices);
    void wait(Session& s);
    void bare(Session& s);

    // The budget's fallback (ConsoleScan.cpp).
    void nameScan();
    void scanFile(std::uint32_t file, std::vector<bool>& scanned, std::vector<std::uint32_t>& queue);
    void follow(std::string_view name, const std::vector<bool>& scanned, std::vector<std::uint32_t>& queue);

    Files& m_files;
    const Watch& m_watch;
    Dialect m_dialect;
    Observer& m_observer;
    Limits m_limits;

    Vars m_vars;
    // By name, compared as the console compares names.
    std::unordered_map<std::string, Possible, FoldedHash, FoldedEqual> m_possible;
    std::unordered_set<std::string, FoldedHash, FoldedEqual>
        m_userinfo; // values lose foreign bytes (ET engines)
    std::vector<Binding> m_keys;
    std::unordered_set<SourceKey, SourceKeyHash> m_pressed; // bindings read for a key press
    struct Pending {
        int key;
        Binding binding;
        bool possible;
    };
    std::vector<Pending> m_pending; // until the config has loaded
    bool m_pressing = false;
    std::deque<Job> m_jobs;
    std::unordered_set<SourceKey, SourceKeyHash> m_ran;
    std::map<std::uint32_t, Loaded> m_loaded; // by the name's first watched entry
    std::unordered_set<std::string> m_warnedFiles;

    mutable std::int64_t m_routes = 0; // route nodes alive
    std::uint64_t m_work = 0;
    std::size_t m_heldBytes = 0; // possible values, keys of texts read, bindings
    std::uint32_t m_sinceAsked = 0;
    bool m_rootOversized = false;
    bool m_dead = false;
    bool m_gaveUp = false;
    bool m_cancelled = false;
    bool m_inJobs = false;

    Line m_line;
    std::vector<Token> m_tokens;
};

} // namespace tromel::console
