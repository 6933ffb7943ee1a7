#include "AuditCommand.h"

#include "Json.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <thread>

namespace tromel::cli {

namespace {

constexpr const char* kProgram = "tromel-check";

// Audits files on several threads, a batch at a time, and hands the results over in input order,
// so that output starts early and memory holds one batch of results.
template <typename Emit>
void auditInOrder(
    const std::vector<std::string>& files, const AuditList& list, Dialect dialect, unsigned jobs, Emit&& emit)
{
    constexpr std::size_t kBatch = 64;
    if (jobs == 0)
        jobs = std::max(1U, std::thread::hardware_concurrency());
    std::vector<AuditResult> results;
    for (std::size_t first = 0; first < files.size(); first += kBatch) {
        const std::size_t count = std::min(kBatch, files.size() - first);
        results.assign(count, AuditResult {});
        std::atomic<std::size_t> next { 0 };
        const auto work = [&] {
            for (std::size_t i = next++; i < count; i = next++)
                results[i] = auditConfig(files[first + i], list, dialect);
        };
        std::vector<std::thread> helpers;
        for (std::size_t t = 1; t < std::min<std::size_t>(jobs, count); ++t)
            helpers.emplace_back(work);
        work();
        for (std::thread& t : helpers)
            t.join();
        for (std::size_t i = 0; i < count; ++i)
            emit(first + i, results[i]);
    }
}

// Each finding stays on one line whatever bytes its command holds.
std::string oneLine(std::string_view text)
{
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; },
        ' ');
    return out;
}

std::string position(const std::string& file, std::uint64_t line, std::uint64_t column)
{
    return file + ':' + std::to_string(line) + ':' + std::to_string(column);
}

const char* dialectNote(const AuditFinding& f)
{
    return f.oldDialectOnly ? " [older engines only]" : f.newDialectOnly ? " [newer engines only]" : "";
}

const char* dialectName(Dialect d)
{
    return d == Dialect::Old ? "old" : d == Dialect::New ? "new" : "both";
}

void writeFinding(std::string& buffer, const CvarList& list, const AuditFinding& f)
{
    buffer += position(f.file, f.line, f.column);
    buffer += ": ";
    buffer += list.names[f.index];
    buffer += " (";
    buffer += f.form;
    buffer += "): ";
    buffer += oneLine(f.command);
    for (std::size_t i = 0; i < f.via.size(); ++i) {
        buffer += i == 0 ? " [via " : ", ";
        buffer += f.via[i].form + " at " + position(f.via[i].file, f.via[i].line, f.via[i].column);
    }
    if (!f.via.empty())
        buffer += ']';
    buffer += dialectNote(f);
    buffer += '\n';
}

nlohmann::ordered_json findingJson(const CvarList& list, const AuditFinding& f)
{
    nlohmann::ordered_json via = nlohmann::ordered_json::array();
    for (const AuditStep& s : f.via)
        via.push_back({ { "form", s.form }, { "file", pathToUtf8(s.file) }, { "line", s.line },
            { "column", s.column }, { "command", toUtf8Latin1(s.command) } });
    return { { "file", pathToUtf8(f.file) }, { "line", f.line }, { "column", f.column },
        { "name", toUtf8Latin1(list.names[f.index]) }, { "index", f.index }, { "form", f.form },
        { "setter", f.setter }, { "command", toUtf8Latin1(f.command) }, { "via", std::move(via) },
        { "oldDialectOnly", f.oldDialectOnly }, { "newDialectOnly", f.newDialectOnly } };
}

bool isEmpty(const AuditResult& r)
{
    return r.file.error == FileError::Empty || r.file.error == FileError::NoLines;
}

nlohmann::ordered_json fileJson(const CvarList& list, const std::string& path, const AuditResult& r)
{
    nlohmann::ordered_json file { { "path", pathToUtf8(path) } };
    if (isEmpty(r)) {
        file["warning"] = describe(r.file);
        return file;
    }
    if (!r) {
        file["error"] = describe(r.file);
        return file;
    }
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const AuditFinding& f : r.findings)
        findings.push_back(findingJson(list, f));
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    for (const AuditWarning& w : r.warnings)
        warnings.push_back({ { "file", pathToUtf8(w.file) }, { "line", w.line }, { "column", w.column },
            { "message", pathToUtf8(w.message) } });
    file["findings"] = std::move(findings);
    file["total"] = r.findings.size();
    file["warnings"] = std::move(warnings);
    return file;
}

} // namespace

int runAudit(const AuditRequest& request, std::ostream& out, std::ostream& err)
{
    const CvarList& list = *request.list;
    const bool json = request.format == OutputFormat::Json;
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    std::string text;
    std::size_t total = 0;
    bool anyError = false;

    auditInOrder(request.files, AuditList(list), request.dialect, request.jobs,
        [&](std::size_t i, const AuditResult& r) {
            const std::string& path = request.files[i];
            if (isEmpty(r)) {
                err << kProgram << ": warning: " << path << ": " << describe(r.file)
                    << ", nothing to check\n";
            } else if (!r) {
                anyError = true;
                err << kProgram << ": " << path << ": " << describe(r.file) << '\n';
            }
            for (const AuditWarning& w : r.warnings)
                err << position(w.file, w.line, w.column) << ": warning: " << w.message << '\n';
            total += r.findings.size();
            if (json) {
                files.push_back(fileJson(list, path, r));
                return;
            }
            for (const AuditFinding& f : r.findings) {
                writeFinding(text, list, f);
                if (text.size() >= (1 << 16)) {
                    out << text;
                    text.clear();
                }
            }
        });

    if (json) {
        nlohmann::ordered_json doc { { "list", listJson(request.listPath, list) },
            { "dialect", dialectName(request.dialect) }, { "files", std::move(files) }, { "total", total } };
        out << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    } else {
        out << text << "Total: " << total << (total == 1 ? " finding" : " findings") << '\n';
    }
    out.flush();
    return anyError ? 2 : total > 0 ? 1 : 0;
}

} // namespace tromel::cli
