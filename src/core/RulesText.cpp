#include "RulesText.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace tromel::rules {

namespace {

bool isCSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isDigit(char c, bool hex)
{
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// The C string after its leading blanks and sign, as strtod and strtol skip them.
std::string_view afterSign(std::string_view text, bool& negative)
{
    text = cString(text);
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    return text.substr(i);
}

// The C library answers infinity or zero where from_chars only says "out of range"; which one
// follows from where the first significant digit stands and the exponent.
bool aboveOne(std::string_view number, bool hex)
{
    std::int64_t position = 0;
    std::size_t i = 0;
    bool significant = false;
    for (; i < number.size() && isDigit(number[i], hex); ++i)
        if (significant || number[i] != '0') {
            significant = true;
            ++position;
        }
    if (i < number.size() && number[i] == '.')
        for (++i; i < number.size() && isDigit(number[i], hex); ++i) {
            if (significant || number[i] != '0')
                significant = true;
            else
                --position;
        }
    std::int64_t exponent = 0;
    if (i + 1 < number.size()) {
        const bool negative = number[i + 1] == '-';
        for (i += number[i + 1] == '-' || number[i + 1] == '+' ? 2 : 1; i < number.size(); ++i)
            exponent = std::min<std::int64_t>(exponent * 10 + (number[i] - '0'), 1'000'000'000);
        exponent = negative ? -exponent : exponent;
    }
    return position * (hex ? 4 : 1) + exponent > 0;
}

template <typename Real> Real readMagnitude(std::string_view text, bool hex)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return 0;
    Real value = 0;
    const auto format = hex ? std::chars_format::hex : std::chars_format::general;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, format);
    if (ec == std::errc::result_out_of_range) {
        const std::string_view number(text.data(), static_cast<std::size_t>(end - text.data()));
        return aboveOne(number, hex) ? std::numeric_limits<Real>::infinity() : Real(0);
    }
    return ec == std::errc() ? value : Real(0);
}

template <typename Real> Real parseReal(std::string_view text)
{
    bool negative = false;
    text = afterSign(text, negative);
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')
        && (isDigit(text[2], true) || (text[2] == '.' && text.size() > 3 && isDigit(text[3], true)));
    const Real value = hex ? readMagnitude<Real>(text.substr(2), true) : readMagnitude<Real>(text, false);
    return negative ? -value : value;
}

} // namespace

float parseFloat(std::string_view text)
{
    return parseReal<float>(text);
}

double parseDouble(std::string_view text)
{
    return parseReal<double>(text);
}

std::int32_t parseInt(std::string_view text)
{
    bool negative = false;
    text = afterSign(text, negative);
    std::size_t i = 0;
    constexpr std::int64_t kLimit = std::int64_t { std::numeric_limits<std::int32_t>::max() } + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && isDigit(text[i], false); ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
    const std::int64_t value = negative ? -magnitude : std::min(magnitude, kLimit - 1);
    return static_cast<std::int32_t>(value);
}

bool looksNumeric(std::string_view text)
{
    text = cString(text);
    if (text.empty())
        return false;
    for (const char c : text)
        if (!isDigit(c, false) && c != '.' && c != '-')
            return false;
    return true;
}

std::string formatFixed(double value)
{
    // The widest double in fixed notation has 309 integer digits.
    char buffer[400];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (text.size() < 8)
        text.insert(0, 8 - text.size(), ' ');
    return text;
}

bool equalsFolded(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return foldAscii(x) == foldAscii(y);
    });
}

std::string folded(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = foldAscii(c);
    return out;
}

std::string formatWrapped(std::int64_t value)
{
    return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

} // namespace tromel::rules
