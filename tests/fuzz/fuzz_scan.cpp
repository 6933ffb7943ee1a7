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

    const fuzz::ListAndConfig input = fuzz::listAndConfig(data);
    fuzz::requireSameFindings(input.config, input.list, plan);
    return 0;
}
