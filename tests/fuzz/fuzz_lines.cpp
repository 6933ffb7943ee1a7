// Line splitting: LineList, forEachLine and the line count of LineScanner agree with a plain
// byte-by-byte splitter on any bytes.

#include "FuzzSupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace tromel;
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const std::vector<std::string> expected = fuzz::plainLines(data);

    const LineList lines { std::string(data) };
    fuzz::require(lines.toStrings() == expected, "LineList differs from the plain splitter");

    std::size_t seen = 0;
    forEachLine(data, [&](std::string_view line) {
        fuzz::require(
            seen < expected.size() && line == expected[seen], "forEachLine differs from the plain splitter");
        ++seen;
    });
    fuzz::require(seen == expected.size(), "forEachLine missed lines");

    // Pieces cut where the data says, so that breaks and CR LF pairs fall on every kind of seam.
    CvarList list;
    list.names.push_back("x");
    std::uint64_t counted = 0;
    fuzz::feed(Matcher(list), data, data.substr(0, 8), counted);
    fuzz::require(counted == expected.size(), "LineScanner counts lines differently");
    return 0;
}
