#include "ConsoleFiles.h"

#include "Reader.h"
#include "platform/NativeFile.h"

#include <algorithm>
#include <tuple>

namespace fs = std::filesystem;

namespace tromel::console {

namespace {

constexpr std::size_t kStride = 256; // bytes between line checkpoints
// Lookups remembered; a config can exec millions of distinct missing names.
constexpr std::size_t kFoundCache = 1 << 14;
constexpr std::size_t kListingCache = 1 << 10;

void cutAtNul(std::string& text)
{
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
}

std::string canonicalKey(const fs::path& path)
{
    std::error_code ec;
    fs::path p = fs::canonical(path, ec);
    if (ec)
        p = fs::absolute(path, ec).lexically_normal();
    return platform::pathToUtf8(p);
}

bool isBreak(std::string_view text, std::size_t i)
{
    return text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'));
}

bool onlyLineBreaks(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
}

} // namespace

FileStatus Files::open(const std::string& path)
{
    std::string text;
    const FileStatus status = readWhole(path, text, 0, true);
    if (!status)
        return status;
    if (const FileStatus opened = openText(path, std::move(text)); !opened)
        return opened;
    if (isStandardInput(path))
        m_base.clear();
    return {};
}

FileStatus Files::openText(const std::string& path, std::string text)
{
    if (text.empty())
        return { FileError::Empty, 0 };
    if (onlyLineBreaks(text))
        return { FileError::NoLines, 0 };
    m_base = platform::pathFromUtf8(path).parent_path();
    cutAtNul(text);
    add(path, std::move(text));
    // The config exec'd by name is the config itself.
    if (!isStandardInput(path))
        m_byKey.emplace(canonicalKey(platform::pathFromUtf8(path)), 0);
    return {};
}

std::uint32_t Files::add(std::string path, std::string text)
{
    const auto id = static_cast<std::uint32_t>(m_files.size());
    m_bytes += text.size();
    m_files.push_back({ std::move(path), std::move(text), {} });
    m_texts.push_back(m_files.back().text);
    return id;
}

void Files::index(File& file)
{
    const std::string_view text = file.text;
    file.lines.reserve(text.size() / kStride + 1);
    std::uint64_t line = 1;
    std::uint64_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i % kStride == 0)
            file.lines.emplace_back(line, start);
        if (isBreak(text, i)) {
            ++line;
            start = i + 1;
        }
    }
    file.lines.emplace_back(line, start);
}

std::pair<std::uint64_t, std::uint64_t> Files::lineColumn(Place place)
{
    File& file = m_files[place.file];
    if (file.lines.empty())
        index(file);
    const std::string_view text = file.text;
    const std::size_t offset = std::min<std::size_t>(place.offset, text.size());
    const std::size_t block = std::min(offset / kStride, file.lines.size() - 1);
    auto [line, start] = file.lines[block];
    std::size_t i = block * kStride;
    if (file.lastOffset >= i && file.lastOffset <= offset) {
        std::tie(line, start) = file.last;
        i = file.lastOffset;
    }
    for (; i < offset; ++i)
        if (isBreak(text, i)) {
            ++line;
            start = i + 1;
        }
    file.lastOffset = offset;
    file.last = { line, start };
    return { line, offset - start + 1 };
}

const Files::Found& Files::find(const std::string& filename, std::size_t longest)
{
    const auto cached = m_found.find(filename);
    if (cached != m_found.end())
        return cached->second;
    if (m_found.size() >= kFoundCache)
        m_found.clear();
    return m_found.emplace(filename, lookUp(filename, longest)).first->second;
}

namespace {

// The game's reading of a path: '\\' is '/', leading slashes go.
std::string gamePath(std::string relative)
{
    std::replace(relative.begin(), relative.end(), '\\', '/');
    relative.erase(0, relative.find_first_not_of('/'));
    return relative;
}

} // namespace

Files::Found Files::lookUp(std::string relative, std::size_t longest)
{
    using Problem = Found::Problem;
    if (relative.find("..") != std::string::npos || relative.find("::") != std::string::npos)
        return { 0, Problem::Refused, {}, {} };
    relative = gamePath(std::move(relative));
    fs::path found;
    if (relative.empty() || !findFolded(relative, found))
        return { 0, Problem::Missing, {}, {} };
    std::string key = canonicalKey(found);
    if (const auto known = m_byKey.find(key); known != m_byKey.end())
        return { known->second, Problem::None, {}, {} };
    std::string text;
    std::string path = platform::pathToUtf8(found);
    // One byte more than the longest text that fits tells a longer one apart.
    const FileStatus status = readWhole(path, text, static_cast<std::int64_t>(longest) + 1);
    if (!status && status.error != FileError::Empty)
        return { 0, Problem::Unreadable, status, std::move(path) };
    cutAtNul(text);
    if (text.size() > longest)
        return { 0, Problem::TooLong, {}, std::move(path) };
    const std::uint32_t id = add(path, std::move(text));
    m_byKey.emplace(std::move(key), id);
    return { id, Problem::None, {}, {} };
}

std::string Files::problem(const Found& found, const std::string& filename) const
{
    switch (found.problem) {
    case Found::Problem::None:
        return {};
    case Found::Problem::Refused:
        return "the game refuses paths holding \"..\" or \"::\"";
    case Found::Problem::Missing:
        return platform::pathToUtf8(m_base / platform::pathFromUtf8(gamePath(filename))) + ": no such file";
    case Found::Problem::TooLong:
        return found.path + ": longer than the game's command buffer holds, so it runs none of it";
    case Found::Problem::Unreadable:
        return found.path + ": " + describe(found.status);
    }
    return {};
}

// The game finds files whatever their case: the exact name first, then one that differs in case.
// Names come from a directory's listing, read once: configs exec many missing files.
bool Files::findFolded(std::string_view relative, fs::path& out)
{
    fs::path current = m_base;
    bool atBase = true;
    std::size_t pos = 0;
    while (pos <= relative.size()) {
        std::size_t slash = relative.find('/', pos);
        if (slash == std::string_view::npos)
            slash = relative.size();
        const std::string part(relative.substr(pos, slash - pos));
        pos = slash + 1;
        if (part.empty() || part == ".")
            continue;
        const Listing& names = atBase ? baseListing() : listing(current);
        atBase = false;
        if (names.names.contains(part)) {
            current /= platform::pathFromUtf8(part);
            continue;
        }
        const auto it = names.byFolded.find(part);
        if (it == names.byFolded.end())
            return false;
        current /= platform::pathFromUtf8(it->second);
    }
    std::error_code ec;
    if (!fs::is_regular_file(current, ec))
        return false;
    out = current;
    return true;
}

const Files::Listing& Files::baseListing()
{
    if (m_baseListing == nullptr)
        m_baseListing = &listing(m_base);
    return *m_baseListing;
}

// A directory's names, read once.
const Files::Listing& Files::listing(const fs::path& dir)
{
    const std::string key = platform::pathToUtf8(dir);
    const auto known = m_listings.find(key);
    if (known != m_listings.end())
        return known->second;
    if (m_listings.size() >= kListingCache) {
        m_listings.clear();
        m_baseListing = nullptr;
    }
    Listing names;
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = platform::pathToUtf8(it->path().filename());
        names.names.insert(name);
        const auto [slot, added] = names.byFolded.try_emplace(name, name);
        if (!added && name < slot->second)
            slot->second = std::move(name);
    }
    return m_listings.emplace(key, std::move(names)).first->second;
}

} // namespace tromel::console
