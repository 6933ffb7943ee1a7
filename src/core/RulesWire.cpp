// How the rules reach the clients. Both engines pack them into one short string; a rule that does
// not fit, or that the packing changes, is enforced as the client reads it, or not at all.

#include "RulesServer.h"
#include "RulesSource.h"
#include "RulesText.h"

#include <unordered_map>

namespace tromel::rules {

namespace {

// ET: Legacy's rules string is an info string of at most 1023 bytes (MAX_INFO_STRING).
constexpr std::size_t kInfoString = 1024;
// RtCW Pro's client reads the connect packet as one line of at most 1023 bytes.
constexpr std::size_t kPacketLine = 1023;
constexpr std::string_view kListCommand = "getRestrictedList ";
// The server copies its list into a buffer of BIG_INFO_STRING bytes.
constexpr std::size_t kListBuffer = 8191;

// strtok: the pieces between separators, empty ones left out.
std::vector<std::string_view> pieces(std::string_view text, char separator)
{
    std::vector<std::string_view> out;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find(separator, pos), text.size());
        if (end > pos)
            out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

// SVC_EQUAL 0 to SVC_WITHOUTBITS 10; ET: Legacy has no "not equal".
int legacyModeNumber(RuleMode mode)
{
    const int n = static_cast<int>(mode);
    return n > static_cast<int>(RuleMode::Equal) ? n - 1 : n;
}

// SVC_NONE 0, then SVC_EQUAL 1 to SVC_WITHOUTBITS 12 in RuleMode's order.
int rtcwModeNumber(RuleMode mode)
{
    return static_cast<int>(mode) + 1;
}

bool sameRule(const Rule& a, const Rule& b)
{
    return a.name == b.name && a.mode == b.mode && a.value1 == b.value1 && a.value2 == b.value2;
}

} // namespace

std::vector<Rule> legacyClientRules(const std::vector<ServerRule>& table, Warnings& warnings)
{
    std::vector<std::string> entries(table.size());
    std::vector<bool> sent(table.size());
    std::size_t length = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Rule& rule = table[i].rule;
        std::string& entry = entries[i];
        entry = std::to_string(legacyModeNumber(rule.mode)) + ' ' + rule.name + ' ' + rule.value1;
        if (!rule.value2.empty())
            entry += ' ' + rule.value2;
        const std::size_t piece = 3 + std::to_string(i).size() + entry.size(); // "\V<i>\<entry>"
        if (entry.find_first_of("\\;\"") != std::string::npos)
            warnings.add(
                rule.line, "ET: Legacy cannot send a rule holding \\, ; or \" to clients: not enforced");
        else if (length + piece >= kInfoString)
            warnings.add(
                rule.line, "past the 1023 bytes of rules that ET: Legacy sends to clients: not enforced");
        else
            length += piece, sent[i] = true;
    }
    if (!table.empty() && length + 3 + std::to_string(table.size()).size() >= kInfoString) {
        warnings.add(table.back().rule.line,
            "the rules fill the string ET: Legacy sends to clients, leaving no room for their count: none is "
            "enforced");
        return {};
    }

    // The client cuts each entry at spaces: mode, name, first and second value.
    std::vector<Rule> rules;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!sent[i])
            continue;
        const Rule& rule = table[i].rule;
        const std::vector<std::string_view> words = pieces(entries[i], ' ');
        if (words.size() < 3) {
            warnings.add(rule.line,
                "an empty cvar or value makes ET: Legacy clients stop with an error: not enforced");
            continue;
        }
        Rule client = rule;
        client.name = words[1];
        client.value1 = words[2];
        client.value2 = words.size() > 3 ? words[3] : std::string_view {};
        if (!sameRule(client, rule))
            warnings.add(rule.line, "clients read it as " + ruleText(client));
        rules.push_back(std::move(client));
    }
    return rules;
}

namespace {

struct RtcwList {
    std::string text;
    std::vector<std::pair<std::size_t, std::size_t>> starts; // offset in text, index in the table
};

// The server lists its rules newest first, leaving out those with an unknown mode.
RtcwList rtcwServerList(const std::vector<ServerRule>& table)
{
    RtcwList list;
    for (std::size_t i = table.size(); i-- > 0;) {
        if (!table[i].active)
            continue;
        const Rule& rule = table[i].rule;
        list.starts.emplace_back(list.text.size(), i);
        list.text += rule.name + '\\' + std::to_string(rtcwModeNumber(rule.mode)) + '\\' + rule.value1 + '\\'
            + (rule.value2.empty() ? "@" : rule.value2) + '|';
    }
    return list;
}

// What the client's Cmd_Args() gives for the connect packet that carries the list: one line of
// at most 1023 bytes, '%' and bytes above 127 made '.', then tokenized and joined by spaces.
std::string rtcwReceived(std::string_view list)
{
    std::string line
        = (std::string(kListCommand) + std::string(list.substr(0, kListBuffer))).substr(0, kPacketLine);
    for (char& c : line)
        if (c == '%' || static_cast<unsigned char>(c) > 127)
            c = '.';
    const std::vector<std::string> args = tokenize(line, Flavour::Rtcw);
    std::string data;
    for (std::size_t i = 1; i < args.size(); ++i)
        data += (i > 1 ? " " : "") + args[i];
    return data;
}

struct ClientRule {
    Rule rule;
    bool checks = false; // false for a mode number the client does not know
    std::size_t offset = 0; // of its entry in the received text
};

// Cvar_RestBuildList: entries between '|', fields between '\\', a later entry on a name replacing
// the earlier; "@" stands for an empty second value.
std::vector<ClientRule> rtcwClientRead(const std::string& data)
{
    std::vector<ClientRule> client;
    std::unordered_map<std::string, std::size_t> byName;
    for (const std::string_view entry : pieces(data, '|')) {
        const std::vector<std::string_view> fields = pieces(entry, '\\');
        const auto field
            = [&](std::size_t k) { return k < fields.size() ? std::string(fields[k]) : std::string(); };
        const std::string name = field(0);
        if (name.find_first_of("\";/") != std::string::npos)
            continue;
        const int type = parseInt(field(1));
        const bool known = type >= 1 && type <= rtcwModeNumber(RuleMode::WithoutBits);
        ClientRule read { { RuleEngine::RtcwPro, name,
                              known ? static_cast<RuleMode>(type - 1) : RuleMode::Equal, field(2),
                              field(3) == "@" ? std::string() : field(3), {}, 0 },
            known, static_cast<std::size_t>(entry.data() - data.data()) };
        const auto [it, added] = byName.emplace(folded(name), client.size());
        if (added)
            client.push_back(std::move(read));
        else
            client[it->second] = std::move(read);
    }
    return client;
}

// The server rule whose entry holds offset; where the packing changed the text before it, the
// one that held that offset before.
const ServerRule* rtcwSource(const RtcwList& list, std::size_t offset, const std::vector<ServerRule>& table)
{
    if (list.starts.empty())
        return nullptr;
    std::size_t k = 0;
    while (k + 1 < list.starts.size() && list.starts[k + 1].first <= offset)
        ++k;
    return &table[list.starts[k].second];
}

} // namespace

std::vector<Rule> rtcwClientRules(const std::vector<ServerRule>& table, Warnings& warnings)
{
    const RtcwList list = rtcwServerList(table);
    const std::string data = rtcwReceived(list.text);
    std::vector<ClientRule> client = rtcwClientRead(data);
    std::unordered_map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < client.size(); ++i)
        byName.emplace(folded(client[i].rule.name), i);

    // Each rule the server sends, as its clients hold it.
    std::vector<Rule> rules;
    std::vector<bool> used(client.size());
    for (const ServerRule& entry : table) {
        if (!entry.active)
            continue;
        const auto it = byName.find(folded(entry.rule.name));
        if (it == byName.end()) {
            warnings.add(
                entry.rule.line, "past the 1023 bytes of rules that RtCW Pro clients read: not enforced");
            continue;
        }
        used[it->second] = true;
        ClientRule& read = client[it->second];
        read.rule.command = entry.rule.command;
        read.rule.line = entry.rule.line;
        if (!read.checks)
            warnings.add(entry.rule.line, "clients read it with an unknown mode: not enforced");
        else if (!sameRule(read.rule, entry.rule))
            warnings.add(entry.rule.line, "clients read it as " + ruleText(read.rule));
        if (read.checks)
            rules.push_back(std::move(read.rule));
    }
    // Rules that only the packing makes: a cut entry, a value holding '|'.
    for (std::size_t i = 0; i < client.size(); ++i) {
        const ServerRule* source = rtcwSource(list, client[i].offset, table);
        if (used[i] || !client[i].checks || client[i].rule.name.empty() || !source)
            continue;
        client[i].rule.command = source->rule.command;
        client[i].rule.line = source->rule.line;
        warnings.add(source->rule.line,
            "RtCW Pro clients also read " + ruleText(client[i].rule) + " out of this rule");
        rules.push_back(std::move(client[i].rule));
    }
    return rules;
}

} // namespace tromel::rules
