#pragma once

#include <string>
#include <string_view>

namespace tromel {

/// Each byte as the character of the same code (Latin-1), in UTF-8: valid for any bytes. Configs
/// and lists are read this way, a character per byte.
std::string latin1ToUtf8(std::string_view bytes);

/// Names of files and the list's header: kept when they are valid UTF-8, else read as
/// Windows-1252, the code page the game's players mostly write in.
std::string nameToUtf8(std::string_view bytes);

/// True when bytes are valid UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

} // namespace tromel
