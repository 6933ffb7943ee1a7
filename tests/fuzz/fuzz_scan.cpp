// The scan, differentially: the engine's findings, from one buffer and from a stream cut into
// fuzz-chosen pieces, equal those of the plain nested-loop rule.
//
// Input: PLAN '\n' NAMES ["\n%%\n" CONFIG]. PLAN's bytes give the piece sizes; NAMES are the list's
// names, one per line (CR, LF or both, as a list file has them); CONFIG is the rest. Without the
// "%%" line, the names' own text is the config.

#include "FuzzSupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace tromel;
    std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const std::size_t planEnd = data.find('\n');
    if (planEnd == std::string_view::npos)
        return 0;
    const std::string_view plan = data.substr(0, planEnd);
    data.remove_prefix(planEnd + 1);

    const std::size_t split = data.find("\n%%\n");
    const std::string_view names = data.substr(0, split);
    const std::string_view config = split == std::string_view::npos ? data : data.substr(split + 4);

    CvarList list;
    list.hasHeader = true;
    forEachLine(names, [&](std::string_view name) { list.names.emplace_back(name); });
    fuzz::requireSameFindings(config, list, plan);
    return 0;
}
