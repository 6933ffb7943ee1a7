#include "AuditChecker.h"

#include "Audit.h"
#include "CvarList.h"

namespace tromel {

namespace {

std::string dialectNames(console::DialectSet dialects)
{
    std::string out;
    for (const console::Dialect d : dialects.members()) {
        if (!out.empty())
            out += ", ";
        out += console::dialectName(d);
    }
    return out;
}

void writeDialects(FieldWriter& out, console::DialectSet dialects)
{
    out.beginList("dialects");
    for (const console::Dialect d : dialects.members())
        out.text({}, console::dialectName(d), Encoding::Latin1);
    out.end();
}

// "FILE:LINE:COL: NAME (FORM): COMMAND [via FORM at FILE:LINE:COL, ...] [DIALECTS only] [possible]",
// the dialects named when some audited ones do not run it.
class FindingRecord final : public Record {
public:
    FindingRecord(const CvarList& list, console::DialectSet audited, const AuditFinding& finding)
        : m_list(list)
        , m_audited(audited)
        , m_finding(finding)
    {
    }

    void text(std::string& out) const override
    {
        const AuditFinding& f = m_finding;
        out += position(f.path, f.line, f.column);
        out += ": ";
        out += oneLine(m_list.names[f.index]);
        out += " (";
        out += f.form;
        out += "): ";
        out += oneLine(f.command);
        const char* separator = " [via ";
        for (std::size_t k = 0; k < f.via.size(); ++k) {
            const AuditHop& h = f.via[k];
            out += separator;
            if (f.hiddenHops > 0 && k == f.via.size() / 2)
                out += std::string("... ") + std::to_string(f.hiddenHops) + " more, ";
            out += std::string(h.form) + " at " + position(h.path, h.line, h.column);
            separator = ", ";
        }
        if (!f.via.empty())
            out += ']';
        if (!(f.dialects == m_audited))
            out += " [" + dialectNames(f.dialects) + " only]";
        if (f.possible)
            out += " [possible]";
    }

    void fields(FieldWriter& out) const override
    {
        const AuditFinding& f = m_finding;
        writePosition(out, f.path, f.line, f.column);
        out.text("name", m_list.names[f.index], Encoding::Latin1);
        out.number("index", f.index);
        out.text("form", f.form, Encoding::Latin1);
        out.text("setter", f.setter, Encoding::Latin1);
        out.text("command", f.command, Encoding::Latin1);
        if (f.value)
            out.text("value", *f.value, Encoding::Latin1);
        else
            out.null("value");
        out.beginList("via");
        for (const AuditHop& h : f.via) {
            out.beginObject({});
            out.text("form", h.form, Encoding::Latin1);
            writePosition(out, h.path, h.line, h.column);
            out.text("command", h.command, Encoding::Latin1);
            out.end();
        }
        out.end();
        if (f.hiddenHops > 0)
            out.number("hiddenHops", f.hiddenHops);
        if (!(f.dialects == m_audited))
            writeDialects(out, f.dialects);
        out.boolean("onKeyPress", f.onKeyPress);
        out.boolean("possible", f.possible);
    }

private:
    const CvarList& m_list;
    console::DialectSet m_audited;
    const AuditFinding& m_finding;
};

class WarningRecord final : public Record {
public:
    WarningRecord(console::DialectSet audited, const AuditWarning& warning)
        : m_audited(audited)
        , m_warning(warning)
    {
    }
    void text(std::string& out) const override
    {
        out += position(m_warning.path, m_warning.line, m_warning.column);
        out += ": warning: ";
        out += oneLine(m_warning.message);
        if (!(m_warning.dialects == m_audited))
            out += " [" + dialectNames(m_warning.dialects) + " only]";
    }
    void fields(FieldWriter& out) const override
    {
        writePosition(out, m_warning.path, m_warning.line, m_warning.column);
        out.text("message", m_warning.message, Encoding::Name);
        if (!(m_warning.dialects == m_audited))
            writeDialects(out, m_warning.dialects);
    }

private:
    console::DialectSet m_audited;
    const AuditWarning& m_warning;
};

class ToReport final : public AuditSink {
public:
    ToReport(const CvarList& list, console::DialectSet audited, FileReport& report)
        : m_list(list)
        , m_audited(audited)
        , m_report(report)
    {
    }
    void finding(const AuditFinding& f) override { m_report.finding(FindingRecord(m_list, m_audited, f)); }
    void warning(const AuditWarning& w) override { m_report.warning(WarningRecord(m_audited, w)); }
    bool cancelled() const override { return m_report.cancelled(); }

private:
    const CvarList& m_list;
    console::DialectSet m_audited;
    FileReport& m_report;
};

} // namespace

AuditChecker::AuditChecker(const CvarList& list, console::DialectSet dialects)
    : m_list(list)
    , m_watch(list.names)
    , m_dialects(dialects)
{
}

AuditChecker::~AuditChecker() = default;

FileStatus AuditChecker::check(const std::string& path, FileReport& report, unsigned) const
{
    ToReport out(m_list, m_dialects, report);
    return audit(path, m_watch, m_dialects, out);
}

void AuditChecker::jsonHeader(FieldWriter& out) const
{
    out.text("dialect", console::dialectSetName(m_dialects), Encoding::Latin1);
}

} // namespace tromel
