#include "ConsoleSyntax.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <unordered_map>

namespace tromel::console {

namespace {

unsigned char byteOf(char c)
{
    return static_cast<unsigned char>(c);
}

// The engines compare a plain char, which is signed: bytes from 0x80 are below ' '.
bool isSpace(char c)
{
    return static_cast<signed char>(c) <= ' ';
}

struct Utf8Step {
    std::size_t width;
    bool ends;
};

// How ET: Legacy reads a byte from 0x80 inside an argument: it takes the sequence's nominal
// width (whatever those bytes are) and ends the argument only when a well-formed sequence spells
// a space, a control character or a quote (overlong forms can).
Utf8Step etlegacyStep(std::string_view s, std::size_t i)
{
    const unsigned char b = byteOf(s[i]);
    const std::size_t left = s.size() - i;
    const std::size_t extra = b >= 0xC2 && b <= 0xDF ? 1
        : b >= 0xE0 && b <= 0xEF                     ? 2
        : b >= 0xF0 && b <= 0xF4                     ? 3
                                                     : 0;
    const std::size_t width = 1 + std::min(extra, left - 1);
    std::size_t need = 0;
    if ((b & 0xE0) == 0xC0)
        need = 1;
    else if (b == 0xED && left > 1 && (byteOf(s[i + 1]) & 0xA0) == 0xA0)
        return { width, false };
    else if ((b & 0xF0) == 0xE0)
        need = 2;
    else if ((b & 0xF8) == 0xF0)
        need = 3;
    else
        return { width, false };
    for (std::size_t k = 1; k <= need; ++k)
        if (i + k >= s.size() || (byteOf(s[i + k]) & 0xC0) != 0x80)
            return { width, false };
    std::uint32_t point = b;
    if (width > 1) {
        point = b & (0x7FU >> width);
        for (std::size_t k = 1; k < width; ++k)
            point = (point << 6) | (byteOf(s[i + k]) & 0x3FU);
    }
    return { width, point <= ' ' || point == '"' };
}

} // namespace

void tokenize(Dialect dialect, std::string_view s, std::vector<Token>& tokens)
{
    tokens.clear();
    const std::size_t n = s.size();
    const auto at = [&](std::size_t k) { return k < n ? s[k] : '\0'; };
    const bool afterColonIsText = dialect != Dialect::Ioq3; // "http://" stays one argument
    const auto lineComment = [&](std::size_t k) {
        return s[k] == '/' && at(k + 1) == '/' && (!afterColonIsText || k == 0 || s[k - 1] != ':');
    };
    const auto starComment = [&](std::size_t k) { return s[k] == '/' && at(k + 1) == '*'; };
    const auto token = [&](std::size_t b, std::size_t e, std::size_t rb, std::size_t re) {
        tokens.push_back({ static_cast<std::uint16_t>(b), static_cast<std::uint16_t>(e),
            static_cast<std::uint16_t>(rb), static_cast<std::uint16_t>(re) });
    };

    std::size_t i = 0;
    for (;;) {
        for (;;) {
            while (i < n && isSpace(s[i]))
                ++i;
            if (i >= n || lineComment(i))
                return;
            if (!starComment(i))
                break;
            // "/*/" closes at once: the search starts on the '*'.
            const std::size_t close = s.find("*/", i + 1);
            if (close == std::string_view::npos)
                return;
            i = close + 2;
        }
        if (s[i] == '"') {
            const std::size_t close = std::min(s.find('"', i + 1), n);
            token(i + 1, close, i, std::min(close + 1, n));
            if (close >= n)
                return;
            i = close + 1;
            continue;
        }
        const std::size_t begin = i;
        while (i < n) {
            if (dialect == Dialect::EtLegacy && byteOf(s[i]) >= 0x80) {
                const Utf8Step step = etlegacyStep(s, i);
                if (step.ends)
                    break;
                i += step.width;
                continue;
            }
            if (isSpace(s[i]) || s[i] == '"' || lineComment(i) || starComment(i))
                break;
            ++i;
        }
        token(begin, i, begin, i);
        if (i >= n)
            return;
    }
}

std::string folded(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), foldCase);
    return out;
}

std::size_t FoldedHash::operator()(std::string_view s) const noexcept
{
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : s) {
        h ^= byteOf(foldCase(c));
        h *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(h);
}

namespace {

// Key names: runs of names numbered from `first`, and numbered families (F1 to F15...).
struct KeyRun {
    int first;
    std::string_view names;
};
struct KeyFamily {
    std::string_view prefix;
    int from;
    int to;
    int first;
};

constexpr KeyRun kCommonRuns[] = {
    { 9, "TAB" },
    { 13, "ENTER" },
    { 27, "ESCAPE" },
    { 32, "SPACE" },
    { 59, "SEMICOLON" },
    { 127, "BACKSPACE COMMAND CAPSLOCK" },
    { 131, "PAUSE UPARROW DOWNARROW LEFTARROW RIGHTARROW ALT CTRL SHIFT INS DEL PGDN PGUP HOME END" },
    { 160,
        "KP_HOME KP_UPARROW KP_PGUP KP_LEFTARROW KP_5 KP_RIGHTARROW KP_END KP_DOWNARROW KP_PGDN KP_ENTER "
        "KP_INS KP_DEL KP_SLASH KP_MINUS KP_PLUS KP_NUMLOCK KP_STAR KP_EQUALS MOUSE1 MOUSE2 MOUSE3 MOUSE4 "
        "MOUSE5 MWHEELDOWN MWHEELUP" },
};
constexpr KeyFamily kCommonFamilies[] = { { "F", 1, 12, 145 }, { "JOY", 1, 32, 185 }, { "AUX", 1, 16, 217 } };

constexpr std::string_view kSystemKeys
    = "WINDOWS COMPOSE MODE HELP PRINT SYSREQ SCROLLOCK BREAK MENU EURO UNDO ";
constexpr std::string_view kPadKeys
    = "PAD0_A PAD0_B PAD0_X PAD0_Y PAD0_BACK PAD0_GUIDE PAD0_START PAD0_LEFTSTICK_CLICK "
      "PAD0_RIGHTSTICK_CLICK PAD0_LEFTSHOULDER PAD0_RIGHTSHOULDER PAD0_DPAD_UP PAD0_DPAD_DOWN "
      "PAD0_DPAD_LEFT PAD0_DPAD_RIGHT PAD0_LEFTSTICK_LEFT PAD0_LEFTSTICK_RIGHT PAD0_LEFTSTICK_UP "
      "PAD0_LEFTSTICK_DOWN PAD0_RIGHTSTICK_LEFT PAD0_RIGHTSTICK_RIGHT PAD0_RIGHTSTICK_UP "
      "PAD0_RIGHTSTICK_DOWN PAD0_LEFTTRIGGER PAD0_RIGHTTRIGGER PAD0_MISC1 PAD0_PADDLE1 PAD0_PADDLE2 "
      "PAD0_PADDLE3 PAD0_PADDLE4 PAD0_TOUCHPAD";
constexpr std::string_view kUsKeys
    = "US_0 US_1 US_2 US_3 US_4 US_5 US_6 US_7 US_8 US_9 US_MINUS US_EQUALS US_LEFTBRACKET "
      "US_RIGHTBRACKET US_BACKSLASH US_SEMICOLON US_APOSTROPHE US_GRAVE US_COMMA US_PERIOD US_SLASH "
      "NONUSBACKSLASH ";

using KeyTable = std::unordered_map<std::string, int>;

void addRun(KeyTable& table, int first, std::string_view names)
{
    std::size_t pos = 0;
    for (int number = first; pos < names.size(); ++number) {
        std::size_t space = names.find(' ', pos);
        if (space == std::string_view::npos)
            space = names.size();
        table.emplace(folded(names.substr(pos, space - pos)), number);
        pos = space + 1;
    }
}

void addFamily(KeyTable& table, const KeyFamily& family)
{
    for (int k = family.from; k <= family.to; ++k)
        table.emplace(folded(family.prefix) + std::to_string(k), family.first + k - family.from);
}

KeyTable makeKeyTable(Dialect dialect)
{
    KeyTable table;
    for (const KeyRun& run : kCommonRuns)
        addRun(table, run.first, run.names);
    for (const KeyFamily& family : kCommonFamilies)
        addFamily(table, family);
    if (dialect == Dialect::Et)
        return table;
    addRun(table, 130, "POWER");
    addFamily(table, { "F", 13, 15, 157 });
    if (dialect == Dialect::Ioq3) {
        addFamily(table, { "WORLD_", 0, 95, 233 });
        addRun(table, 329, std::string(kSystemKeys) + std::string(kPadKeys));
    } else {
        addRun(table, 136, "LEFTALT LEFTCTRL LEFTSHIFT");
        addRun(table, 298, "RIGHTALT RIGHTCTRL RIGHTSHIFT");
        addRun(table, 233, std::string(kUsKeys) + std::string(kSystemKeys) + std::string(kPadKeys));
    }
    return table;
}

const KeyTable& keyTable(Dialect dialect)
{
    static const KeyTable tables[kDialectCount]
        = { makeKeyTable(Dialect::EtLegacy), makeKeyTable(Dialect::Ioq3), makeKeyTable(Dialect::Et) };
    return tables[static_cast<std::size_t>(dialect)];
}

int hexDigit(char c)
{
    c = foldCase(c);
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "0x" then hex digits, as the engine reads a key number; -1 when it is none.
int hexKey(Dialect dialect, std::string_view name)
{
    if (name.size() < 3 || name[0] != '0' || name[1] != 'x')
        return -1;
    if (dialect == Dialect::Et) {
        if (name.size() != 4)
            return -1;
        // ET reads lower-case digits only, and any other byte as 0.
        const auto digit = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 0;
        };
        return digit(name[2]) * 16 + digit(name[3]);
    }
    if (dialect == Dialect::EtLegacy && name.size() != 4)
        return -1;
    std::uint32_t n = 0; // an int that wraps, as the engine's does
    for (std::size_t i = 2; i < name.size(); ++i) {
        const int d = hexDigit(name[i]);
        if (d < 0)
            return -1;
        n = n * 16 + static_cast<std::uint32_t>(d);
    }
    const auto value = static_cast<std::int32_t>(n);
    return value >= 0 && value < keyCount(dialect) ? value : -1;
}

} // namespace

int keyCount(Dialect dialect)
{
    return dialect == Dialect::Ioq3 ? 372 : dialect == Dialect::EtLegacy ? 301 : 256;
}

int keyNumber(Dialect dialect, std::string_view name)
{
    if (name.empty())
        return -1;
    if (name.size() == 1)
        return byteOf(name[0]) >= 0x80 ? -1 : byteOf(foldCase(name[0]));
    if (const int hex = hexKey(dialect, name); hex >= 0)
        return hex;
    const KeyTable& table = keyTable(dialect);
    const auto it = table.find(folded(name));
    return it == table.end() ? -1 : it->second;
}

bool runsOnRelease(Dialect dialect, int key)
{
    if (key == 0)
        return false;
    switch (dialect) {
    case Dialect::Et:
        return key != '`' && key != '~';
    case Dialect::Ioq3:
        return key != 371;
    case Dialect::EtLegacy:
        return key != 297;
    }
    return true;
}

bool runsOnPress(Dialect dialect, int key)
{
    return key != 27 && runsOnRelease(dialect, key);
}

namespace {

// Where a number starts, after white space and a sign; true for a minus.
bool skipToDigits(std::string_view text, std::size_t& i)
{
    i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        return text[i++] == '-';
    return false;
}

} // namespace

double readFloat(std::string_view text)
{
    std::size_t i = 0;
    const bool negative = skipToDigits(text, i);
    const std::string_view rest = text.substr(i);
    double value = 0;
    if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X'))
        std::from_chars(rest.data() + 2, rest.data() + rest.size(), value, std::chars_format::hex);
    else
        std::from_chars(rest.data(), rest.data() + rest.size(), value);
    return negative ? -value : value;
}

int readInt(std::string_view text)
{
    std::size_t i = 0;
    const bool negative = skipToDigits(text, i);
    // strtol saturates at the long's range; atoi then keeps the low 32 bits.
    std::int64_t value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) {
            saturated = true;
            continue;
        }
        value = value * 10 + (text[i] - '0');
    }
    if (saturated)
        value
            = negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    else if (negative)
        value = -value;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

int truncated(double value)
{
    if (!std::isfinite(value) || std::fabs(value) >= 2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<int>(value);
}

int cycled(int current, int start, int end, int step)
{
    // int arithmetic that wraps, as the engines' does
    const auto wrap = [](long long v) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
    };
    long long s = std::llabs(static_cast<long long>(step));
    if (std::llabs(static_cast<long long>(end) - start) < s)
        s = 1;
    long long value = current;
    if (end < start) {
        value -= s;
        if (value < end)
            value = start - (s - (static_cast<long long>(current) - end + 1));
    } else {
        value += s;
        if (value > end)
            value = start + (s - (static_cast<long long>(end) - current + 1));
    }
    return wrap(value);
}

} // namespace tromel::console
