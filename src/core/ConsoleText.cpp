#include "ConsoleText.h"

#include <algorithm>

namespace tromel::console {

const Derived::Run& Derived::runOf(std::size_t i) const
{
    const auto it = std::upper_bound(
        runs.begin(), runs.end(), i, [](std::size_t at, const Run& run) { return at < run.at; });
    return *(it - 1);
}

TextRef::TextRef(std::string_view fileText, std::uint32_t file, std::size_t begin, std::size_t end)
    : m_bytes(fileText.substr(begin, end - begin))
    , m_file(file)
    , m_begin(begin)
{
}

TextRef::TextRef(std::shared_ptr<const Derived> derived, std::size_t begin, std::size_t end)
    : m_bytes(std::string_view(derived->bytes).substr(begin, end - begin))
    , m_derived(std::move(derived))
    , m_begin(begin)
{
}

Place TextRef::derivedPlaceOf(std::size_t i) const
{
    const Derived::Run& run = m_derived->runOf(m_begin + i);
    Place place = run.place;
    if (run.written)
        place.offset += m_begin + i - run.at;
    return place;
}

TextRef TextRef::sub(std::size_t begin, std::size_t end) const
{
    TextRef out = *this;
    out.m_bytes = m_bytes.substr(begin, end - begin);
    out.m_begin = m_begin + begin;
    return out;
}

SourceKey SourceKey::of(const TextRef& text, std::uint16_t tag)
{
    SourceKey key;
    key.tag = tag;
    if (text.isFile()) {
        key.file = text.file();
        key.begin = text.begin();
        key.end = text.begin() + text.size();
        return key;
    }
    // Derived bytes are told apart by what they say and where it is written.
    key.bytes = text.bytes();
    key.file = UINT32_MAX;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Place place = text.placeOf(i);
        const bool written = text.writtenAt(i);
        if (!key.runs.empty()) {
            const Derived::Run& last = key.runs.back();
            const std::uint64_t expected
                = last.written ? last.place.offset + (i - last.at) : last.place.offset;
            if (last.written == written && last.place.file == place.file && expected == place.offset)
                continue;
        }
        key.runs.push_back({ static_cast<std::uint32_t>(i), place, written });
    }
    return key;
}

bool operator==(const SourceKey& a, const SourceKey& b)
{
    if (a.tag != b.tag || a.file != b.file || a.begin != b.begin || a.end != b.end || a.bytes != b.bytes
        || a.runs.size() != b.runs.size())
        return false;
    for (std::size_t k = 0; k < a.runs.size(); ++k) {
        const Derived::Run& x = a.runs[k];
        const Derived::Run& y = b.runs[k];
        if (x.at != y.at || x.written != y.written || !(x.place == y.place))
            return false;
    }
    return true;
}

std::size_t SourceKeyHash::operator()(const SourceKey& key) const noexcept
{
    std::uint64_t h = 14695981039346656037ULL;
    const auto mix = [&h](std::uint64_t v) {
        h ^= v;
        h *= 1099511628211ULL;
    };
    mix(key.tag);
    mix(key.file);
    mix(key.begin);
    mix(key.end);
    for (const char c : key.bytes)
        mix(static_cast<unsigned char>(c));
    for (const Derived::Run& run : key.runs)
        mix(run.place.offset ^ (std::uint64_t { run.place.file } << 40));
    return static_cast<std::size_t>(h);
}

RouteNode::RouteNode(std::shared_ptr<const RouteNode> outerNode, HopKind hopKind, Place hopPlace,
    TextRef hopCommand, std::int64_t* aliveCount, std::size_t hopDepth)
    : outer(std::move(outerNode))
    , kind(hopKind)
    , place(hopPlace)
    , command(std::move(hopCommand))
    , depth(hopDepth != 0 ? hopDepth
              : outer     ? outer->depth + 1
                          : 1)
    , length(outer ? outer->length + 1 : 1)
    , alive(aliveCount)
{
    ++*alive;
}

RouteNode::~RouteNode()
{
    --*alive;
}

RouteRef extendRoute(const RouteRef& outer, HopKind kind, Place place, TextRef command, std::int64_t* alive)
{
    constexpr std::size_t kHead = kRouteHops / 2;
    constexpr std::size_t kTail = kRouteHops / 2;
    if (!outer || outer->length < kHead + 2 * kTail)
        return std::make_shared<RouteNode>(outer, kind, place, std::move(command), alive);
    // Keep the outermost hops and copies of the innermost ones: what lay between is let go.
    std::vector<const RouteNode*> chain; // innermost first
    for (const RouteNode* node = outer.get(); node != nullptr; node = node->outer.get())
        chain.push_back(node);
    RouteRef inner = outer;
    while (inner->length > kHead)
        inner = inner->outer;
    for (std::size_t k = kTail - 1; k-- > 0;) {
        const RouteNode* node = chain[k];
        inner
            = std::make_shared<RouteNode>(inner, node->kind, node->place, node->command, alive, node->depth);
    }
    return std::make_shared<RouteNode>(inner, kind, place, std::move(command), alive, outer->depth + 1);
}

void RouteChain::hops(std::vector<Hop>& out, std::size_t head, std::size_t tail) const
{
    out.clear();
    for (const RouteNode* node = m_inner; node != nullptr; node = node->outer.get())
        out.push_back({ node->kind, node->place, node->command.bytes() });
    std::reverse(out.begin(), out.end());
    if (out.size() > head + tail)
        out.erase(
            out.begin() + static_cast<std::ptrdiff_t>(head), out.end() - static_cast<std::ptrdiff_t>(tail));
}

TextRef Line::text(std::size_t begin, std::size_t end, const std::vector<std::string_view>& files) const
{
    // Most text is one stretch of a file.
    if (begin < end && written[begin]) {
        const Place start = places[begin];
        std::size_t i = begin + 1;
        while (i < end && written[i] && places[i].file == start.file
            && places[i].offset == start.offset + (i - begin))
            ++i;
        if (i == end && start.file < files.size() && start.offset + (end - begin) <= files[start.file].size())
            return TextRef(files[start.file], start.file, start.offset, start.offset + (end - begin));
    }
    DerivedBuilder out;
    for (std::size_t i = begin; i < end; ++i)
        out.add(bytes[i], places[i], written[i]);
    if (begin == end) {
        auto empty = std::make_shared<Derived>();
        empty->runs.push_back({ 0, begin < size ? places[begin] : Place {}, false });
        return TextRef(std::move(empty), 0, 0);
    }
    return out.finish(files);
}

void DerivedBuilder::add(char c, Place place, bool written)
{
    if (!m_derived)
        m_derived = std::make_shared<Derived>();
    const auto at = static_cast<std::uint32_t>(m_derived->bytes.size());
    m_derived->bytes.push_back(c);
    std::vector<Derived::Run>& runs = m_derived->runs;
    if (!runs.empty()) {
        const Derived::Run& last = runs.back();
        const bool continues = last.written
            ? written && place.file == m_next.file && place.offset == m_next.offset
            : !written && last.place == place;
        if (continues) {
            m_next.offset = place.offset + 1;
            return;
        }
    }
    runs.push_back({ at, place, written });
    m_next = { place.offset + 1, place.file };
}

void DerivedBuilder::add(const TextRef& text)
{
    add(text, 0, text.size());
}

void DerivedBuilder::add(const TextRef& text, std::size_t begin, std::size_t end)
{
    for (std::size_t i = begin; i < end; ++i)
        add(text.bytes()[i], text.placeOf(i), text.writtenAt(i));
}

void DerivedBuilder::made(std::string_view bytes, Place place)
{
    for (const char c : bytes)
        add(c, place, false);
}

TextRef DerivedBuilder::finish(const std::vector<std::string_view>& files)
{
    if (!m_derived) {
        auto empty = std::make_shared<Derived>();
        empty->runs.push_back({});
        return TextRef(std::move(empty), 0, 0);
    }
    std::shared_ptr<Derived> derived = std::move(m_derived);
    const std::size_t n = derived->bytes.size();
    if (derived->runs.size() == 1 && derived->runs[0].written) {
        const Place start = derived->runs[0].place;
        if (start.file < files.size() && start.offset + n <= files[start.file].size())
            return TextRef(files[start.file], start.file, start.offset, start.offset + n);
    }
    return TextRef(std::move(derived), 0, n);
}

} // namespace tromel::console
