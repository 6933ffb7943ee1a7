#pragma once

// How each engine's console reads bytes: the tokenizer that cuts a command line into arguments,
// name comparison, key names, and the C library's number reading that cvar commands use.

#include "Console.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tromel::console {

struct Token {
    std::uint16_t begin = 0; // the argument's bytes, quotes excluded
    std::uint16_t end = 0;
    std::uint16_t rawBegin = 0; // as written, quotes included
    std::uint16_t rawEnd = 0;
};

/// Cmd_TokenizeString: whitespace is any byte up to ' ' and, as char is signed, any byte from
/// 0x80; "//" ends the line (ET engines: not right after ':'), "/* */" is skipped; a quote opens
/// an argument up to the next quote. ET: Legacy keeps UTF-8 sequences inside an argument.
void tokenize(Dialect dialect, std::string_view line, std::vector<Token>& tokens);

/// ASCII-only case folding, as the console compares command and cvar names.
inline char foldCase(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline bool equalsFolded(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}
std::string folded(std::string_view s);

struct FoldedHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
};
struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return equalsFolded(a, b); }
};

/// Key_StringToKeynum then Key_SetBinding's bounds: the key a bind names, or -1 when it names
/// none (so the bind does nothing).
int keyNumber(Dialect dialect, std::string_view name);
/// The number of keys (unbindall clears them all).
int keyCount(Dialect dialect);
/// False for keys whose binding never runs when pressed (escape, the console key, key 0).
bool runsOnPress(Dialect dialect, int key);
bool runsOnRelease(Dialect dialect, int key);

/// What atof and atoi make of a value: the longest number at its start, after white space.
double readFloat(std::string_view text);
int readInt(std::string_view text);
/// (int) of a float, as x86 makes it of one that does not fit.
int truncated(double value);
/// What cycle sets: current moved by |step| (1 when larger than the range) from start towards
/// end, wrapping round past it.
int cycled(int current, int start, int end, int step);

} // namespace tromel::console
