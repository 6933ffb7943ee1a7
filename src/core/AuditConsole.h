#pragma once

#include "Audit.h"

#include <cstddef>
#include <string_view>
#include <vector>

// The game console's reading of command text: the command buffer cuts text into command lines,
// the tokenizer cuts a line into arguments.
namespace tromel::console {

/// A command line is cut after this many bytes; the rest runs as a new command.
inline constexpr std::size_t kMaxCommandLine = 1023;

struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

class CommandSplitter {
public:
    /// dialect is Old or New.
    CommandSplitter(std::string_view text, Dialect dialect);

    /// The next command line, as offsets into text; false when the text is used up.
    bool next(Span& line);

private:
    std::string_view m_text;
    bool m_splitInLineComment;
    std::size_t m_pos = 0;
};

struct Token {
    std::size_t begin = 0; // the argument's bytes, quotes excluded
    std::size_t end = 0;
    std::size_t rawBegin = 0; // as written, quotes included
    std::size_t rawEnd = 0;
};

/// Splits text[line.begin, line.end) into arguments; offsets are into text.
void tokenize(std::string_view text, Span line, std::vector<Token>& tokens);

inline bool isSeparator(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

/// ASCII-only case folding, as the console compares command and cvar names.
inline char foldCase(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool equalsFolded(std::string_view a, std::string_view b) noexcept;

struct FoldedHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
};
struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return equalsFolded(a, b); }
};

} // namespace tromel::console
