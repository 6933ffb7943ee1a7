// Audit mode against a plain model of the console (ReferenceConsole.h), on configs built from the
// pieces that make consoles differ: quotes, ';', comments, line breaks, bytes from 0x80, commands
// longer than the cut, binds, vstr, exec. Each dialect's reading must report the same sets (place,
// entries, setter, value, key press, possible) as the model; when either runs out of budget, the
// model's names must still be among audit's. The default reading must be the union of the
// dialects', each place marked with the dialects that run it.
//
// Input: byte 0 picks the command buffer's size, each further byte a piece of the config.

#include "Audit.h"
#include "ConsoleFiles.h"
#include "FuzzSupport.h"
#include "ReferenceConsole.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace {

using namespace tromel;

using console::Dialect;

const std::vector<std::string> kNames
    = { "", "r_picmip", "cg_fov", "a", "B", "cpm", "com_maxfps", "cl_x y", "R_PICMIP" };

const std::vector<std::string> kPieces = { "seta ", "set ", "sets ", "setu ", "r_picmip", "cg_fov",
    "R_PicMip", " ", "\t", "5", "0", ";", "\"", "//", "/*", "*/", "/*/", "\n", "\r", "\r\n", "\xa0",
    "\xc2\xa0", "\xe0\x80\xa0", "\xef\xbb\xbf", "\xff", "vstr ", "a", "b", "B", "set a ", "set b \"",
    "bind x ", "bind 0x78 ", "bind ESCAPE ", "bind RIGHTALT ", "bind x \"+attack;", "+vstr a b", "exec s1",
    "execq s2", "exec main", "exec loop", "exec big", "exec Sub\\S1", "wait", "wait -1", "wait 0", "echo ",
    "echo vstr a", "toggle ", "cycle ", "reset ", "unset ", "unbind x", "unbindall", "http://", ":",
    " unsafe", "cpm ", "cl_activeAction ", std::string(1000, 'x'), std::string(500, 'y'), "\"cl_x y\" 1", "x",
    "\0", "1", "print ", "\"\"", "/", "*" };

const std::map<std::string, std::string> kFiles
    = { { "s1.cfg", "r_picmip 5" }, { "s2.cfg", "/*" }, { "s3.cfg", "vstr a\ncg_fov 1" },
          { "loop.cfg", "exec loop\nr_picmip 2" }, { "big.cfg", std::string(5000, ';') + "cg_fov 3" } };

const std::filesystem::path& folder()
{
    static const std::filesystem::path dir = [] {
        auto path
            = std::filesystem::temp_directory_path() / ("tromel-fuzz-audit-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        for (const auto& [name, text] : kFiles)
            std::ofstream(path / name, std::ios::binary) << text;
        return path;
    }();
    return dir;
}

struct Removal {
    ~Removal()
    {
        std::error_code ec;
        std::filesystem::remove_all(folder(), ec);
    }
} removeAtExit;

// The sets one reading reports, as the plain model does.
class Recorder final : public console::Observer {
public:
    void set(const console::SetEvent& e) override
    {
        fuzz::require(e.route != nullptr && e.entries.size() > 0, "a set without route or entries");
        found.insert({ e.place.file, e.place.offset,
            std::vector<std::uint32_t>(e.entries.begin(), e.entries.end()), static_cast<int>(e.setter),
            e.value ? std::optional<std::string>(*e.value) : std::nullopt, e.onKeyPress, e.possible });
    }
    void warning(const console::Warning&) override { }
    std::set<reference::Found> found;
};

std::set<std::uint32_t> entriesOf(const std::set<reference::Found>& found)
{
    std::set<std::uint32_t> out;
    for (const auto& f : found)
        out.insert(std::get<2>(f).begin(), std::get<2>(f).end());
    return out;
}

class Places final : public AuditSink {
public:
    void finding(const AuditFinding& f) override
    {
        fuzz::require(!f.dialects.empty(), "a finding no dialect runs");
        fuzz::require(seen.emplace(std::make_tuple(f.path, f.line, f.column, f.index), f.dialects).second,
            "a place is reported twice");
    }
    void warning(const AuditWarning&) override { }
    std::map<std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint32_t>, console::DialectSet> seen;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    static constexpr std::size_t kBuffers[] = { 256, 1100, 4096, 131072 };
    const std::size_t capacity = kBuffers[bytes[0] % 4];
    std::string config;
    for (std::size_t i = 1; i < size; ++i)
        config += kPieces[bytes[i] % kPieces.size()];
    if (config.empty())
        return 0;
    const std::string path = (folder() / "main.cfg").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << config;

    const console::Watch watch(kNames);
    const console::Limits limits { capacity, 1 << 17, 0 };
    reference::Folder model;
    for (const auto& [name, text] : kFiles)
        model.files[console::folded(name)] = text;
    model.root = "main.cfg";

    std::map<Dialect, std::set<std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint32_t>>>
        byDialect;
    bool exact = true;
    for (const Dialect d : { Dialect::EtLegacy, Dialect::Ioq3, Dialect::Et }) {
        console::Files files;
        if (!files.openText(path, config))
            return 0; // line breaks alone: nothing to run
        Recorder audit;
        const console::RunEnd end = console::run(files, watch, d, audit, limits);
        reference::Console plain(d, watch, model, capacity, 1 << 16);
        plain.run(config);
        if (!plain.gaveUp && end == console::RunEnd::Finished)
            fuzz::require(audit.found == plain.found, "audit and the plain model differ");
        else if (!plain.gaveUp) {
            const auto mine = entriesOf(audit.found);
            for (const std::uint32_t e : entriesOf(plain.found))
                fuzz::require(mine.count(e) == 1, "audit past its budget misses a name the model sets");
        }
        exact = exact && end == console::RunEnd::Finished;
        for (const auto& f : audit.found) {
            const console::Place place { std::get<1>(f), std::get<0>(f) };
            const auto [line, column] = files.lineColumn(place);
            for (const std::uint32_t e : std::get<2>(f))
                byDialect[d].insert({ files.path(place.file), line, column, e });
        }
    }
    if (!exact)
        return 0;
    Places any;
    auditText(config, path, watch, console::DialectSet::all(), any, limits);
    // Place by place: the dialects that run it, and the entries they set there.
    std::map<std::tuple<std::string, std::uint64_t, std::uint64_t>, console::DialectSet> dialectsAt;
    std::set<std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint32_t>> entries;
    for (const auto& [d, places] : byDialect)
        for (const auto& [file, line, column, entry] : places) {
            auto& set = dialectsAt[{ file, line, column }];
            set = set.with(d);
            entries.insert({ file, line, column, entry });
        }
    std::set<std::tuple<std::string, std::uint64_t, std::uint64_t>> reported;
    for (const auto& [key, dialects] : any.seen) {
        const auto& [file, line, column, entry] = key;
        const auto it = dialectsAt.find({ file, line, column });
        fuzz::require(it != dialectsAt.end() && entries.count(key) == 1,
            "the default reading reports what no dialect runs");
        fuzz::require(it->second == dialects, "a finding's dialects are wrong");
        reported.insert({ file, line, column });
    }
    fuzz::require(reported.size() == dialectsAt.size(), "the default reading misses a place a dialect runs");
    return 0;
}
