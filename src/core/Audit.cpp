#include "Audit.h"

#include "ConsoleFiles.h"

#include <map>
#include <memory>
#include <tuple>

namespace tromel {

using namespace console;

namespace {

// Places already reported: one bit per byte of each file, in blocks made as places come, so that a
// config with few findings costs next to nothing.
class PlaceBits {
public:
    bool test(Place p) const
    {
        const std::size_t block = p.offset / kBlock;
        if (p.file >= m_files.size() || block >= m_files[p.file].size() || !m_files[p.file][block])
            return false;
        const std::size_t bit = p.offset % kBlock;
        return (m_files[p.file][block][bit / 64] >> (bit % 64) & 1) != 0;
    }
    void set(Place p)
    {
        const std::size_t block = p.offset / kBlock;
        if (m_files.size() <= p.file)
            m_files.resize(p.file + 1);
        auto& blocks = m_files[p.file];
        if (blocks.size() <= block)
            blocks.resize(block + 1);
        if (!blocks[block])
            blocks[block] = std::make_unique<std::uint64_t[]>(kBlock / 64);
        const std::size_t bit = p.offset % kBlock;
        blocks[block][bit / 64] |= std::uint64_t { 1 } << (bit % 64);
    }

private:
    static constexpr std::size_t kBlock = std::size_t { 1 } << 16;
    std::vector<std::vector<std::unique_ptr<std::uint64_t[]>>> m_files;
};

constexpr unsigned kReported = 1U << 31;

using WarningKey = std::tuple<std::uint32_t, std::uint64_t, std::string>;

// What several dialect readings share: the places each reading found, those already reported,
// the warnings each gave (by dialect bits; a few only, warnings are not findings).
struct Passes {
    Files& files;
    AuditSink& sink;
    std::vector<Dialect> dialects;
    std::vector<PlaceBits> found; // by dialect index; filled by a first, silent reading
    PlaceBits reported;
    std::map<WarningKey, unsigned> warned; // dialect indexes that gave it; bit 31: reported
    std::size_t moreWarnings = 0;
};

class Pass final : public Observer {
public:
    Pass(Passes& passes, std::size_t dialect, bool silent)
        : m_passes(passes)
        , m_dialect(dialect)
        , m_silent(silent)
    {
    }

    void set(const SetEvent& e) override
    {
        Passes& all = m_passes;
        if (m_silent) {
            all.found[m_dialect].set(e.place);
            return;
        }
        if (all.reported.test(e.place))
            return;
        all.reported.set(e.place);
        AuditFinding f;
        f.dialects = DialectSet::of(all.dialects[m_dialect]);
        for (std::size_t k = m_dialect + 1; k < all.dialects.size(); ++k)
            if (all.found[k].test(e.place))
                f.dialects = f.dialects.with(all.dialects[k]);
        f.path = all.files.path(e.place.file);
        std::tie(f.line, f.column) = all.files.lineColumn(e.place);
        f.setter = setterName(e.setter);
        f.command = e.command;
        if (e.value)
            f.value = std::string(*e.value);
        f.onKeyPress = e.onKeyPress;
        f.possible = e.possible;
        route(*e.route, f);
        for (const std::uint32_t entry : e.entries) {
            f.index = entry;
            all.sink.finding(f);
        }
    }

    void warning(const Warning& w) override
    {
        Passes& all = m_passes;
        const auto known = all.warned.find({ w.place.file, w.place.offset, w.message });
        if (known == all.warned.end() && all.warned.size() >= kWarningsShown) {
            all.moreWarnings += m_silent ? 0 : 1;
            return;
        }
        unsigned& bits = known != all.warned.end() ? known->second
                                                   : all.warned[{ w.place.file, w.place.offset, w.message }];
        if (m_silent || (bits & kReported) != 0) {
            bits |= 1U << m_dialect;
            return;
        }
        bits |= kReported;
        AuditWarning out;
        out.path = all.files.path(w.place.file);
        std::tie(out.line, out.column) = all.files.lineColumn(w.place);
        out.message = w.message;
        out.dialects = DialectSet::of(all.dialects[m_dialect]);
        for (std::size_t k = m_dialect + 1; k < all.dialects.size(); ++k)
            if (bits & (1U << k))
                out.dialects = out.dialects.with(all.dialects[k]);
        all.sink.warning(out);
    }

    bool cancelled() const override { return m_passes.sink.cancelled(); }

private:
    void route(const Route& r, AuditFinding& f)
    {
        std::vector<Hop> hops;
        r.hops(hops, kRouteHops / 2, kRouteHops / 2);
        f.hiddenHops = r.size() - hops.size();
        for (const Hop& hop : hops) {
            AuditHop& h = f.via.emplace_back();
            h.form = hopName(hop.kind);
            h.path = m_passes.files.path(hop.place.file);
            std::tie(h.line, h.column) = m_passes.files.lineColumn(hop.place);
            h.command = hop.command;
        }
        f.form = f.via.empty() ? f.setter : f.via.front().form;
    }

    Passes& m_passes;
    std::size_t m_dialect;
    bool m_silent;
};

// The readings that come later in reporting order go first, silently, so that each reported
// place knows every dialect that runs it; then each reading reports what no earlier one did.
FileStatus auditFiles(
    Files& files, const Watch& watch, DialectSet dialects, AuditSink& sink, const Limits& limits)
{
    Passes passes { files, sink, dialects.members(), {}, {}, {}, 0 };
    passes.found.resize(passes.dialects.size());
    for (std::size_t k = 1; k < passes.dialects.size(); ++k) {
        Pass silent(passes, k, true);
        if (run(files, watch, passes.dialects[k], silent, limits) == RunEnd::Cancelled)
            return { FileError::Cancelled, 0 };
    }
    for (std::size_t k = 0; k < passes.dialects.size(); ++k) {
        Pass out(passes, k, false);
        if (run(files, watch, passes.dialects[k], out, limits) == RunEnd::Cancelled)
            return { FileError::Cancelled, 0 };
    }
    if (passes.moreWarnings > 0)
        sink.warning({ files.path(0), 1, 1, warningsNotShown(passes.moreWarnings), dialects });
    return {};
}

} // namespace

FileStatus auditText(std::string text, const std::string& path, const Watch& watch, DialectSet dialects,
    AuditSink& sink, const Limits& limits)
{
    Files files;
    if (const FileStatus status = files.openText(path, std::move(text)); !status)
        return status;
    return auditFiles(files, watch, dialects, sink, limits);
}

FileStatus audit(
    const std::string& path, const Watch& watch, DialectSet dialects, AuditSink& sink, const Limits& limits)
{
    Files files;
    if (const FileStatus status = files.open(path); !status)
        return status;
    return auditFiles(files, watch, dialects, sink, limits);
}

} // namespace tromel
