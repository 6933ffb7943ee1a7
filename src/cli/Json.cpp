#include "Json.h"

#include "CvarList.h"

#include <nlohmann/json.hpp>

namespace tromel::cli {

namespace {

void appendLatin1(std::string& out, unsigned char c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Length of the valid UTF-8 sequence at s[i], or 0.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    if (b(i + 1) < lo || b(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF)
            return 0;
    return len;
}

} // namespace

std::string toUtf8Latin1(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        appendLatin1(out, static_cast<unsigned char>(c));
    return out;
}

std::string pathToUtf8(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t len = utf8Length(path, i);
        if (len == 0) {
            appendLatin1(out, static_cast<unsigned char>(path[i]));
            ++i;
        } else {
            out.append(path.substr(i, len));
            i += len;
        }
    }
    return out;
}

nlohmann::ordered_json listJson(const std::string& path, const CvarList& list)
{
    const auto text = [&](const std::string& value) {
        return list.hasHeader ? nlohmann::ordered_json(toUtf8Latin1(value)) : nlohmann::ordered_json();
    };
    return { { "path", pathToUtf8(path) }, { "version", text(list.version) }, { "date", text(list.date) },
        { "count", list.count() } };
}

} // namespace tromel::cli
