#include "RulesSource.h"

#include "RulesText.h"

#include <algorithm>

namespace tromel::rules {

namespace {

// The command buffer hands the tokenizer at most this many bytes; the byte after them is lost.
constexpr std::size_t kMaxCommandLine = 1023;
// fgets(line, 256, file): each read stops after 255 bytes or a line break.
constexpr std::size_t kRtcwLineBytes = 255;

// Bytes that a UTF-8 lead byte claims, as ET: Legacy's Q_UTF8_Width counts them.
std::size_t utf8Width(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t more = lead >= 0xC2 && lead <= 0xDF ? 1
        : lead >= 0xE0 && lead <= 0xEF                    ? 2
        : lead >= 0xF0 && lead <= 0xF4                    ? 3
                                                          : 0;
    return std::min(1 + more, text.size() - i);
}

bool isBlank(char c)
{
    return static_cast<signed char>(c) <= ' ';
}

// Line breaks in text[from, to) for numbering: LF, CRLF and a lone CR each end a line.
std::uint64_t countBreaks(std::string_view text, std::size_t from, std::size_t to)
{
    std::uint64_t breaks = 0;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++breaks;
    return breaks;
}

// Where the command buffer ends the command that starts at pos: the index of the byte that ends
// it (a separator, the '/' closing a comment, or the end). The comment flags carry on.
std::size_t commandEnd(std::string_view text, std::size_t pos, bool& inStar, bool& inSlash)
{
    int quotes = 0;
    std::size_t i = pos;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            ++quotes;
        if (!(quotes & 1)) {
            if (i + 1 < text.size()) {
                const char d = text[i + 1];
                if (!inStar && c == '/' && d == '/') {
                    inSlash = true;
                } else if (!inSlash && c == '/' && d == '*') {
                    inStar = true;
                } else if (inStar && c == '*' && d == '/') {
                    inStar = false;
                    return i + 1;
                }
            }
            if (!inSlash && !inStar && c == ';')
                return i;
        }
        if (!inStar && (c == '\n' || c == '\r')) {
            inSlash = false;
            return i;
        }
    }
    return i;
}

} // namespace

std::vector<std::string> tokenize(std::string_view line, Flavour flavour)
{
    line = cString(line);
    const bool legacy = flavour == Flavour::EtLegacy;
    const std::size_t maxTokens = legacy ? 256 : 1024;
    const std::size_t n = line.size();
    const auto at = [&](std::size_t k) { return k < n ? line[k] : '\0'; };
    // ET: Legacy lets "http://" through: "//" right after ':' starts no comment there.
    const auto lineComment = [&](std::size_t k) {
        return line[k] == '/' && at(k + 1) == '/' && !(legacy && k > 0 && line[k - 1] == ':');
    };
    const auto blockComment = [&](std::size_t k) { return line[k] == '/' && at(k + 1) == '*'; };

    std::vector<std::string> args;
    std::size_t i = 0;
    while (args.size() < maxTokens) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i >= n || lineComment(i))
            break;
        if (blockComment(i)) {
            const std::size_t close = line.find("*/", i + 1);
            if (close == std::string_view::npos)
                break;
            i = close + 2;
            continue;
        }
        if (line[i] == '"') {
            const std::size_t close = std::min(line.find('"', i + 1), n);
            args.emplace_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        std::string& arg = args.emplace_back();
        while (i < n) {
            const char c = line[i];
            // ET: Legacy reads bytes above 127 as characters, RtCW Pro as blanks.
            const bool ends = legacy ? static_cast<unsigned char>(c) <= ' ' : isBlank(c);
            if (ends || c == '"' || lineComment(i) || blockComment(i))
                break;
            const std::size_t width = legacy ? utf8Width(line, i) : 1;
            arg.append(line.substr(i, width));
            i += width;
        }
    }
    return args;
}

void ConsoleText::add(std::string_view text, std::uint64_t line)
{
    m_pieces.push_back({ m_text.size(), line });
    m_text.append(text);
}

void ConsoleText::run(const CommandSink& sink) const
{
    const std::string_view text = m_text;
    bool inStar = false;
    bool inSlash = false;
    std::size_t piece = 0;
    std::size_t counted = 0;
    std::uint64_t line = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (piece < m_pieces.size() && m_pieces[piece].offset <= pos) {
            counted = m_pieces[piece].offset;
            line = m_pieces[piece].line;
            ++piece;
        }
        line += countBreaks(text, counted, pos);
        counted = pos;
        const std::size_t end = commandEnd(text, pos, inStar, inSlash);
        const std::size_t length = std::min(end - pos, kMaxCommandLine);
        std::vector<std::string> args = tokenize(text.substr(pos, length), Flavour::EtLegacy);
        if (!args.empty())
            sink(args, line);
        pos += length + 1;
    }
}

void readRtcwLines(std::string_view text, const CommandSink& sink)
{
    std::uint64_t line = 1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lineEnd = text.find('\n', pos);
        const std::size_t end
            = std::min(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1, pos + kRtcwLineBytes);
        const std::string_view chunk = text.substr(pos, end - pos);
        std::vector<std::string> args = tokenize(chunk, Flavour::Rtcw);
        if (!args.empty())
            sink(args, line);
        line += countBreaks(text, pos, end);
        pos = end;
    }
}

bool isLegacyConfig(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t i = text.find_first_not_of(" \t", pos);
        const std::size_t next = text.find('\n', pos);
        pos = next == std::string_view::npos ? text.size() : next + 1;
        if (i == std::string_view::npos || text.size() - i < 8)
            continue;
        std::string word(text.substr(i, 7));
        std::transform(word.begin(), word.end(), word.begin(), [](char c) { return c | 0x20; });
        i = text.find_first_not_of(" \t", i + 7);
        if (word == "command" && i != std::string_view::npos && i > 0 && isBlank(text[i - 1])
            && text[i] == '"')
            return true;
    }
    return false;
}

} // namespace tromel::rules
