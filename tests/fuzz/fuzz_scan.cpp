// The scan, differentially: the scanner's findings and line count, from one buffer and from a
// stream cut into fuzz-chosen pieces, equal those of the plain nested-loop rule, also for lists
// shaped to make a scan slow or wrong.
//
// Input: PLAN '\n' NAMES ["\n%%\n" CONFIG]. PLAN's first byte picks the list's shape, its bytes
// give the piece sizes; NAMES are the list's names, one per line (CR, LF or both, as a list file
// has them); CONFIG is the rest. Without the "%%" line, the names' own text is the config.

#include "FuzzSupport.h"

#include <cstdint>
#include <string>

namespace {

using tromel::CvarList;

std::string repeated(std::string_view bytes, std::size_t size)
{
    std::string out;
    while (out.size() < size)
        out += bytes.empty() ? std::string_view("p") : bytes;
    out.resize(size);
    return out;
}

// The first few bytes 0x01 of the config become what the shape makes of the first name.
std::string expand(std::string_view config, const std::string& marker)
{
    std::string out;
    int left = 8;
    for (const char c : config) {
        if (c == '\x01' && left-- > 0)
            out += marker;
        else
            out += c;
    }
    return out;
}

// Shapes 0 to 3 leave the list as it is.
void shape(unsigned kind, CvarList& list, std::string& config)
{
    const std::vector<std::string> names(list.names.begin() + 1, list.names.end());
    const std::string first = names.empty() ? "a" : names.front();
    switch (kind) {
    case 4: // names of spaces only, and names with leading, inner and trailing spaces
        for (std::size_t n = 1; n <= 20; ++n)
            list.names.push_back(std::string(n, ' '));
        for (const std::string& name : names) {
            list.names.push_back(name + " ");
            list.names.push_back(" " + name);
            list.names.push_back(name + "  " + name);
        }
        break;
    case 5: // "a", "a a", "a a a"... of the first name
        for (std::string step = first; list.names.size() < names.size() + 40; step += " " + first)
            list.names.push_back(step);
        config = expand(config, repeated(first + " ", 30 * (first.size() + 1)));
        break;
    case 6: // names that share a 60-byte prefix, many of them
    case 7: { // names of 5,000 bytes
        const std::string prefix = repeated(first, kind == 6 ? 60 : 5000);
        list.names.resize(1);
        for (const std::string& name : names)
            list.names.push_back(prefix + name);
        for (int i = 0; kind == 6 && i < 300; ++i)
            list.names.push_back(prefix + std::to_string(i));
        config = expand(config, prefix);
        break;
    }
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace tromel;
    std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const std::size_t planEnd = data.find('\n');
    if (planEnd == std::string_view::npos)
        return 0;
    const std::string_view plan = data.substr(0, planEnd);
    data.remove_prefix(planEnd + 1);

    fuzz::ListAndConfig input = fuzz::listAndConfig(data);
    std::string config(input.config);
    shape(plan.empty() ? 0 : static_cast<unsigned char>(plan[0]) % 8, input.list, config);
    fuzz::requireSameFindings(config, input.list, plan);
    return 0;
}
