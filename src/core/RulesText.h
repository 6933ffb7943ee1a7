#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text as the engines' C code handles it: numbers read and written by the C library, names
// compared without ASCII case. Text is taken as a C string: it ends at the first NUL. Nothing
// here depends on the process locale.
namespace tromel::rules {

/// strtof(text, NULL): leading blanks, a sign, then a decimal or 0x hex number, inf or nan; the
/// longest such prefix, else 0. Too large gives infinity, too small zero.
float parseFloat(std::string_view text);

/// atof(text): the same reading in double precision.
double parseDouble(std::string_view text);

/// (int) strtol(text, NULL, 10) and atoi(text) where long has 32 bits, as on Windows: leading
/// blanks, a sign, decimal digits; out-of-range values stop at the int limits.
std::int32_t parseInt(std::string_view text);

/// True for non-empty text of only digits, '.' and '-': RtCW Pro's test for a number.
bool looksNumeric(std::string_view text);

/// printf("%8.4f", value).
std::string formatFixed(double value);

/// printf("%i", value) of an int sum that wraps as the engines' does.
std::string formatWrapped(std::int64_t value);

/// ASCII-only lower case, as the engines fold names.
inline char foldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Q_stricmp(a, b) == 0.
bool equalsFolded(std::string_view a, std::string_view b);

/// The text with ASCII letters in lower case.
std::string folded(std::string_view text);

/// The text up to its first NUL, as C code sees it.
inline std::string_view cString(std::string_view text)
{
    return text.substr(0, text.find('\0'));
}

} // namespace tromel::rules
