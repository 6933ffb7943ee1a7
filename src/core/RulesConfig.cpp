// ET: Legacy's .config files, read as its game code reads them: tokens of the script lexer, an
// init block and map blocks whose `command` entries go to the server console.

#include "RulesSource.h"

#include "RulesText.h"

namespace tromel::rules {

namespace {

// The lexer refuses longer strings: MAX_TOKEN less the quotes and the terminator.
constexpr std::size_t kMaxString = 1020;

bool isWordChar(char c)
{
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c == '.';
}

struct Token {
    std::string text;
    std::uint64_t line = 0;
};

class Lexer {
public:
    explicit Lexer(std::string_view text)
        : m_text(text)
    {
    }

    /// The next token; false at the end, or at a malformed string (then error() says why).
    bool next(Token& token);
    const std::string& error() const { return m_error; }
    std::uint64_t line() const { return m_line; }

private:
    char at(std::size_t k) const { return k < m_text.size() ? m_text[k] : '\0'; }
    bool skipBlank();
    bool readString(std::string& out);
    bool readEscape(std::string& out);
    bool fail(std::string message)
    {
        m_error = std::move(message);
        return false;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    std::uint64_t m_line = 1;
    std::string m_error;
};

// Blanks (bytes up to ' ' as a signed char), "//" and "/* */" comments; false at the end.
bool Lexer::skipBlank()
{
    for (;;) {
        while (
            m_pos < m_text.size() && static_cast<signed char>(m_text[m_pos]) <= ' ' && m_text[m_pos] != '\0')
            m_line += m_text[m_pos++] == '\n';
        if (at(m_pos) == '/' && at(m_pos + 1) == '/') {
            while (m_pos < m_text.size() && m_text[m_pos] != '\n')
                ++m_pos;
        } else if (at(m_pos) == '/' && at(m_pos + 1) == '*') {
            const std::size_t close = m_text.find("*/", m_pos + 2);
            const std::size_t end = close == std::string_view::npos ? m_text.size() : close + 2;
            for (; m_pos < end; ++m_pos)
                m_line += m_text[m_pos] == '\n';
        } else {
            return m_pos < m_text.size() && m_text[m_pos] != '\0';
        }
    }
}

bool Lexer::next(Token& token)
{
    if (!m_error.empty() || !skipBlank())
        return false;
    token.line = m_line;
    token.text.clear();
    const char c = m_text[m_pos];
    if (c == '"')
        return readString(token.text);
    if (!isWordChar(c)) {
        token.text = c;
        ++m_pos;
        return true;
    }
    while (m_pos < m_text.size() && isWordChar(m_text[m_pos]))
        token.text += m_text[m_pos++];
    return true;
}

// A quoted string with C escapes; strings with only blanks and comments between are one.
bool Lexer::readString(std::string& out)
{
    for (;;) {
        ++m_pos;
        for (;;) {
            const char c = at(m_pos);
            if (m_pos >= m_text.size() || c == '\0')
                return fail("missing closing quote");
            if (c == '\n')
                return fail("line break inside a string");
            if (c == '"')
                break;
            if (c == '\\') {
                if (!readEscape(out))
                    return false;
            } else {
                out += c;
                ++m_pos;
            }
            if (out.size() > kMaxString)
                return fail("string longer than " + std::to_string(kMaxString) + " bytes");
        }
        ++m_pos;
        const std::size_t pos = m_pos;
        const std::uint64_t line = m_line;
        if (!skipBlank() || m_text[m_pos] != '"') {
            m_pos = pos;
            m_line = line;
            return true;
        }
    }
}

bool Lexer::readEscape(std::string& out)
{
    static constexpr std::string_view kFrom = "\\nrtvbfa'\"?";
    static constexpr std::string_view kTo = "\\\n\r\t\v\b\f\a'\"?";
    const char c = at(++m_pos);
    if (const std::size_t k = kFrom.find(c); c != '\0' && k != std::string_view::npos) {
        out += kTo[k];
        ++m_pos;
        return true;
    }
    const bool hex = c == 'x';
    if (!hex && (c < '0' || c > '9'))
        return fail(std::string("unknown escape \\") + c);
    m_pos += hex ? 1 : 0;
    // Hex takes every letter, as the lexer does ('g' is 16); values above 255 give 255.
    int value = 0;
    for (char d = at(m_pos); hex ? isWordChar(d) && d != '_' && d != '.' : d >= '0' && d <= '9';
         d = at(++m_pos)) {
        const int digit = d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10;
        value = std::min(hex ? value * 16 + digit : value * 10 + digit, 256);
    }
    out += static_cast<char>(std::min(value, 255));
    return true;
}

class ConfigReader {
public:
    ConfigReader(std::string_view text, std::string_view map, std::vector<SourceNote>& notes)
        : m_lexer(text)
        , m_map(map)
        , m_notes(notes)
    {
    }

    ConsoleText read();

private:
    bool readBlock(std::string_view onlyOnMap);
    bool skipTokens(int count);
    void stop(const Token& token, std::string message)
    {
        m_notes.push_back({ token.line, "ET: Legacy stops reading the config here: " + std::move(message) });
        m_stopped = true;
    }

    Lexer m_lexer;
    std::string_view m_map;
    std::vector<SourceNote>& m_notes;
    ConsoleText m_console;
    bool m_stopped = false;
};

ConsoleText ConfigReader::read()
{
    Token token;
    while (!m_stopped && m_lexer.next(token)) {
        if (equalsFolded(token.text, "configname") || equalsFolded(token.text, "version")
            || equalsFolded(token.text, "signature")) {
            skipTokens(1);
        } else if (equalsFolded(token.text, "init")) {
            readBlock({});
        } else if (equalsFolded(token.text, "map")) {
            Token name;
            m_lexer.next(name);
            const bool applies = equalsFolded(name.text, "default") || equalsFolded(name.text, m_map);
            readBlock(applies ? std::string_view {} : std::string_view(name.text));
        } else if (!equalsFolded(token.text, "public")) {
            stop(token, "unknown \"" + token.text + "\"");
        }
    }
    if (!m_lexer.error().empty())
        m_notes.push_back({ m_lexer.line(), "ET: Legacy stops reading the config here: " + m_lexer.error() });
    return std::move(m_console);
}

// The settings block after init or map NAME; onlyOnMap names the map when it runs on another map.
bool ConfigReader::readBlock(std::string_view onlyOnMap)
{
    Token token;
    m_lexer.next(token); // the opening brace, which the server takes on trust
    while (m_lexer.next(token)) {
        if (token.text.starts_with('}'))
            return true;
        const bool command = equalsFolded(token.text, "command");
        if (!onlyOnMap.empty()) {
            Token text;
            if (!command || !m_lexer.next(text))
                continue;
            const std::vector<std::string> args = tokenize(text.text, Flavour::EtLegacy);
            if (!args.empty() && isRuleWord(args[0]))
                m_notes.push_back(
                    { token.line, "runs on map " + std::string(onlyOnMap) + " only: " + text.text });
            if (text.text.starts_with('}'))
                return true;
        } else if (command) {
            Token text;
            if (!m_lexer.next(text))
                return false;
            m_console.add(text.text + '\n', token.line);
        } else if (equalsFolded(token.text, "set") || equalsFolded(token.text, "setl")) {
            skipTokens(2);
        } else if (equalsFolded(token.text, "mapscripthash")) {
            skipTokens(1);
        } else {
            stop(token, "unknown \"" + token.text + "\" in a block");
            return false;
        }
    }
    return true;
}

bool ConfigReader::skipTokens(int count)
{
    Token token;
    for (int i = 0; i < count; ++i)
        if (!m_lexer.next(token))
            return false;
    return true;
}

} // namespace

bool isRuleWord(std::string_view word)
{
    for (const std::string_view rule : { "sv_cvar", "sv_cvarempty", "pb_sv_cvar", "pb_sv_cvarempty" })
        if (equalsFolded(word, rule))
            return true;
    return false;
}

ConsoleText readLegacyConfig(std::string_view text, std::string_view map, std::vector<SourceNote>& notes)
{
    return ConfigReader(text, map, notes).read();
}

} // namespace tromel::rules
