#pragma once

// Console text and where each byte of it is written. A file's text maps to itself; bytes the
// console makes (arguments joined by spaces, "cpm" lines, key numbers) keep the places of the
// bytes they copy, and point at the command that made them for the rest.

#include "Console.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tromel::console {

/// A command line is cut after this many bytes, and the byte after it is lost.
inline constexpr std::size_t kMaxLine = 1023;

/// Bytes the console made. From runs[k].at on, bytes are written at runs[k].place, one byte
/// further each when written, else all at that place (made by the command written there).
struct Derived {
    struct Run {
        std::uint32_t at = 0;
        Place place;
        bool written = false;
    };
    std::string bytes;
    std::vector<Run> runs;

    const Run& runOf(std::size_t i) const;
};

/// A stretch of console text: part of a file's text or of derived bytes.
class TextRef {
public:
    TextRef() = default;
    TextRef(std::string_view fileText, std::uint32_t file, std::size_t begin, std::size_t end);
    TextRef(std::shared_ptr<const Derived> derived, std::size_t begin, std::size_t end);

    std::string_view bytes() const { return m_bytes; }
    std::size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }
    Place placeOf(std::size_t i) const
    {
        return m_derived ? derivedPlaceOf(i) : Place { m_begin + i, m_file };
    }
    /// True when byte i is a file's byte at placeOf(i), not one the console made.
    bool writtenAt(std::size_t i) const { return !m_derived || m_derived->runOf(m_begin + i).written; }
    TextRef sub(std::size_t begin, std::size_t end) const;

    bool isFile() const { return m_derived == nullptr; }
    std::uint32_t file() const { return m_file; }
    std::size_t begin() const { return m_begin; }
    const Derived* derived() const { return m_derived.get(); }

private:
    Place derivedPlaceOf(std::size_t i) const;

    std::string_view m_bytes;
    std::shared_ptr<const Derived> m_derived;
    std::uint32_t m_file = 0;
    std::size_t m_begin = 0; // of m_bytes in the file's text or in m_derived->bytes
};

/// Where a text came from, to read each once: a file's range, or derived bytes and their places.
struct SourceKey {
    std::string bytes; // empty for a file's range
    std::vector<Derived::Run> runs;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint32_t file = 0;
    std::uint16_t tag = 0; // told apart by the caller: key press, possible...

    static SourceKey of(const TextRef& text, std::uint16_t tag);
    friend bool operator==(const SourceKey& a, const SourceKey& b);
    std::size_t memory() const
    {
        return sizeof(SourceKey) + bytes.size() + runs.size() * sizeof(Derived::Run);
    }
};
struct SourceKeyHash {
    std::size_t operator()(const SourceKey& key) const noexcept;
};

/// One hop of a route, shared by everything that text ran. Counts the nodes alive so that the
/// run's memory budget sees them.
struct RouteNode {
    RouteNode(std::shared_ptr<const RouteNode> outer, HopKind kind, Place place, TextRef command,
        std::int64_t* alive, std::size_t depth = 0);
    ~RouteNode();
    RouteNode(const RouteNode&) = delete;
    RouteNode& operator=(const RouteNode&) = delete;

    std::shared_ptr<const RouteNode> outer;
    HopKind kind;
    Place place;
    TextRef command;
    std::size_t depth; // hops from the config to here, those left out included
    std::size_t length; // nodes in the chain to here
    std::int64_t* alive;
};
using RouteRef = std::shared_ptr<const RouteNode>;

/// A route one hop longer. Routes keep their outermost and innermost hops only, so that a loop
/// thousands of hops deep holds a few nodes.
RouteRef extendRoute(const RouteRef& outer, HopKind kind, Place place, TextRef command, std::int64_t* alive);

/// The Route of an event: the chain of nodes ending at `inner`.
class RouteChain final : public Route {
public:
    explicit RouteChain(const RouteNode* inner)
        : m_inner(inner)
    {
    }
    std::size_t size() const override { return m_inner ? m_inner->depth : 0; }
    void hops(std::vector<Hop>& out, std::size_t head, std::size_t tail) const override;

private:
    const RouteNode* m_inner;
};

/// One command line as Cbuf_Execute copies it, with each byte's place and the route of the text
/// it came from.
struct Line {
    std::array<char, kMaxLine> bytes {};
    std::array<Place, kMaxLine> places {};
    std::array<bool, kMaxLine> written {};
    std::array<std::uint16_t, kMaxLine> source {}; // index into routes
    std::vector<RouteRef> routes;
    std::size_t size = 0;

    std::string_view view() const { return { bytes.data(), size }; }
    std::string_view view(std::size_t begin, std::size_t end) const
    {
        return view().substr(begin, end - begin);
    }
    /// Bytes [begin, end) as a text: a file's range when they are one, else derived bytes.
    TextRef text(std::size_t begin, std::size_t end, const std::vector<std::string_view>& files) const;
};

/// Makes derived text byte by byte.
class DerivedBuilder {
public:
    void add(char c, Place place, bool written);
    void add(const TextRef& text);
    void add(const TextRef& text, std::size_t begin, std::size_t end);
    void made(std::string_view bytes, Place place); // bytes the console made, for the command at place
    std::size_t size() const { return m_derived ? m_derived->bytes.size() : 0; }
    /// The bytes as a text; a file's range when they are exactly one.
    TextRef finish(const std::vector<std::string_view>& files);

private:
    std::shared_ptr<Derived> m_derived;
    Place m_next; // where the next written byte continues the last run
};

} // namespace tromel::console
