#include "AuditChecker.h"

namespace tromel {

namespace {

std::string position(const std::string& file, std::uint64_t line, std::uint64_t column)
{
    return oneLine(file) + ':' + std::to_string(line) + ':' + std::to_string(column);
}

const char* dialectName(Dialect d)
{
    return d == Dialect::Old ? "old" : d == Dialect::New ? "new" : "both";
}

class FindingRecord final : public Record {
public:
    FindingRecord(const CvarList& list, const AuditResult& result, const AuditFinding& finding)
        : m_list(list)
        , m_result(result)
        , m_finding(finding)
    {
    }

    void text(std::string& out) const override
    {
        const AuditFinding& f = m_finding;
        out += position(m_result.paths[f.path], f.line, f.column);
        out += ": ";
        out += m_list.names[f.index];
        out += " (";
        out += f.form;
        out += "): ";
        out += oneLine(f.command);
        const char* separator = " [via ";
        for (const AuditStep* s : m_result.route(f)) {
            out += separator;
            out += s->form;
            out += " at " + position(m_result.paths[s->path], s->line, s->column);
            separator = ", ";
        }
        if (f.via != kNoStep)
            out += ']';
        out += f.oldDialectOnly ? " [older engines only]" : f.newDialectOnly ? " [newer engines only]" : "";
    }

    void fields(FieldWriter& out) const override
    {
        const AuditFinding& f = m_finding;
        out.text("file", m_result.paths[f.path], Encoding::Name);
        out.number("line", f.line);
        out.number("column", f.column);
        out.text("name", m_list.names[f.index], Encoding::Latin1);
        out.number("index", f.index);
        out.text("form", f.form, Encoding::Latin1);
        out.text("setter", f.setter, Encoding::Latin1);
        out.text("command", f.command, Encoding::Latin1);
        out.beginList("via");
        for (const AuditStep* s : m_result.route(f)) {
            out.beginObject({});
            out.text("form", s->form, Encoding::Latin1);
            out.text("file", m_result.paths[s->path], Encoding::Name);
            out.number("line", s->line);
            out.number("column", s->column);
            out.text("command", s->command, Encoding::Latin1);
            out.end();
        }
        out.end();
        out.boolean("oldDialectOnly", f.oldDialectOnly);
        out.boolean("newDialectOnly", f.newDialectOnly);
    }

private:
    const CvarList& m_list;
    const AuditResult& m_result;
    const AuditFinding& m_finding;
};

class WarningRecord final : public Record {
public:
    WarningRecord(const AuditResult& result, const AuditWarning& warning)
        : m_result(result)
        , m_warning(warning)
    {
    }
    void text(std::string& out) const override
    {
        out += position(m_result.paths[m_warning.path], m_warning.line, m_warning.column);
        out += ": warning: ";
        out += oneLine(m_warning.message);
    }
    void fields(FieldWriter& out) const override
    {
        out.text("file", m_result.paths[m_warning.path], Encoding::Name);
        out.number("line", m_warning.line);
        out.number("column", m_warning.column);
        out.text("message", m_warning.message, Encoding::Name);
    }

private:
    const AuditResult& m_result;
    const AuditWarning& m_warning;
};

} // namespace

AuditChecker::AuditChecker(const CvarList& list, Dialect dialect)
    : m_list(list)
    , m_names(list)
    , m_dialect(dialect)
{
}

AuditChecker::~AuditChecker() = default;

FileStatus AuditChecker::check(const std::string& path, FileReport& report, unsigned) const
{
    const AuditResult result = auditConfig(path, m_names, m_dialect);
    for (const AuditWarning& w : result.warnings)
        report.warning(WarningRecord(result, w));
    for (const AuditFinding& f : result.findings)
        report.finding(FindingRecord(m_list, result, f));
    return result.file;
}

void AuditChecker::jsonHeader(FieldWriter& out) const
{
    out.text("dialect", dialectName(m_dialect), Encoding::Latin1);
}

} // namespace tromel
