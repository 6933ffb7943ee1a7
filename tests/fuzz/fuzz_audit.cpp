// Audit mode on any bytes: nothing crashes, hangs or leaks, every hop a finding names exists, and
// the default reading is exactly the union of the two dialects' readings, each finding marked
// with the dialect that does not run it.
//
// Input: NAMES ["\n%%\n" CONFIG], as fuzz::listAndConfig reads it.

#include "Audit.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <map>
#include <tuple>

namespace {

using Key = std::tuple<std::uint32_t, std::uint64_t, std::uint64_t, std::uint32_t>; // place, list index

// The findings by place, after checking what every result must hold.
std::map<Key, const tromel::AuditFinding*> checked(const tromel::AuditResult& r, const tromel::CvarList& list)
{
    using tromel::fuzz::require;
    const tromel::FileError e = r.file.error;
    require(static_cast<bool>(r) || e == tromel::FileError::Empty || e == tromel::FileError::NoLines,
        "a buffer audit failed");
    for (std::size_t s = 0; s < r.steps.size(); ++s) {
        require(r.steps[s].outer == tromel::kNoStep || r.steps[s].outer < s,
            "a hop comes before the one that ran it");
        require(r.steps[s].path < r.paths.size(), "a hop is in no file");
    }
    std::map<Key, const tromel::AuditFinding*> byPlace;
    for (const tromel::AuditFinding& f : r.findings) {
        require(f.index >= 1 && f.index < list.names.size(), "a finding names no list entry");
        require(f.path < r.paths.size() && f.line >= 1 && f.column >= 1, "a finding has no place");
        require(f.via == tromel::kNoStep || f.via < r.steps.size(), "a finding's hop does not exist");
        require(byPlace.emplace(Key { f.path, f.line, f.column, f.index }, &f).second,
            "a finding is reported twice");
    }
    return byPlace;
}

// Each hop to f as "FORM PATH:LINE:COL COMMAND", outermost first.
std::vector<std::string> hops(const tromel::AuditResult& r, const tromel::AuditFinding& f)
{
    std::vector<std::string> out;
    for (const tromel::AuditStep* s : r.route(f))
        out.push_back(std::string(s->form) + ' ' + r.paths[s->path] + ':' + std::to_string(s->line) + ':'
            + std::to_string(s->column) + ' ' + s->command);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace tromel;
    using fuzz::require;
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const fuzz::ListAndConfig input = fuzz::listAndConfig(data);
    const std::string_view config = input.config;
    const CvarList& list = input.list;
    const AuditList table(list);
    // exec looks in a folder that does not exist, so that nothing but the input is read.
    const std::string path = "/nonexistent-tromel-fuzz/main.cfg";
    const AuditResult olderResult = auditBuffer(config, path, table, Dialect::Old);
    const AuditResult newerResult = auditBuffer(config, path, table, Dialect::New);
    const AuditResult bothResult = auditBuffer(config, path, table, Dialect::Both);
    const auto older = checked(olderResult, list);
    const auto newer = checked(newerResult, list);
    const auto both = checked(bothResult, list);

    for (const auto& one : { older, newer })
        for (const auto& [key, f] : one)
            require(!f->oldDialectOnly && !f->newDialectOnly, "a one-dialect reading marks a finding");
    std::size_t inEither = older.size();
    for (const auto& [key, f] : newer)
        inEither += older.count(key) == 0 ? 1 : 0;
    require(both.size() == inEither, "the default reading is not the union of the dialects");
    for (const auto& [key, f] : both) {
        const bool inOlder = older.count(key) != 0;
        const bool inNewer = newer.count(key) != 0;
        require(inOlder || inNewer, "the default reading finds what neither dialect finds");
        require(
            f->oldDialectOnly == !inNewer && f->newDialectOnly == !inOlder, "a finding is marked wrongly");
        const AuditResult& sameResult = inNewer ? newerResult : olderResult;
        const AuditFinding& same = *(inNewer ? newer : older).at(key);
        require(f->command == same.command && f->form == same.form && f->setter == same.setter
                && hops(bothResult, *f) == hops(sameResult, same),
            "the default reading reports a finding differently");
    }
    return 0;
}
