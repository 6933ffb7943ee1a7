#include "Pipeline.h"

#include <algorithm>

namespace tromel {

void Checker::textReportBegin(std::string&, std::string_view, bool) const
{
}

void Checker::textReportEnd(std::string&, std::uint64_t) const
{
}

void Checker::textSummary(std::string& out, std::uint64_t total) const
{
    out += "Total: " + std::to_string(total) + (total == 1 ? " finding\n" : " findings\n");
}

void Checker::jsonHeader(FieldWriter&) const
{
}

std::string position(std::string_view path, std::uint64_t line, std::uint64_t column)
{
    return oneLine(path) + ':' + std::to_string(line) + ':' + std::to_string(column);
}

void writePosition(FieldWriter& out, std::string_view path, std::uint64_t line, std::uint64_t column)
{
    out.text("file", path, Encoding::Name);
    out.number("line", line);
    out.number("column", column);
}

std::string oneLine(std::string_view text)
{
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; },
        ' ');
    return out;
}

} // namespace tromel
