#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>

namespace tromel {
struct CvarList;
}

namespace tromel::cli {

/// Each byte becomes the character of the same code (Latin-1), encoded as UTF-8: valid for any bytes.
std::string toUtf8Latin1(std::string_view bytes);

/// Valid UTF-8 is kept as it is; any byte that is not part of valid UTF-8 is taken as Latin-1.
std::string pathToUtf8(std::string_view path);

/// The list as JSON reports describe it: path, version, date (null for a list without header) and count.
nlohmann::ordered_json listJson(const std::string& path, const CvarList& list);

} // namespace tromel::cli
