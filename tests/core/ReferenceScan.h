#pragma once

// The matching rule written as plainly as possible: every line against every name with find().
// The engine is checked against this on generated and fuzzed inputs.

#include "CvarList.h"
#include "MFileOp.h"
#include "Scanner.h"

#include <string_view>
#include <vector>

namespace tromel::reference {

inline std::vector<Finding> scan(std::string_view data, const CvarList& list)
{
    std::vector<Finding> out;
    std::uint64_t j = 0;
    forEachLine(data, [&](std::string_view line) {
        const std::string text(line);
        for (std::size_t k = 0; k < list.names.size(); ++k) {
            const std::string& name = list.names[k];
            if (!name.empty() && text.find(" " + name + " ") != std::string::npos
                && text.find("set") != std::string::npos)
                out.push_back({ j, static_cast<std::uint32_t>(k) });
        }
        ++j;
    });
    return out;
}

} // namespace tromel::reference
