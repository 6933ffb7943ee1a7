#include "AuditCommand.h"

#include "Cli.h"
#include "Json.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <optional>
#include <ostream>
#include <thread>

namespace tromel::cli {

namespace {

// A file's audit, or the exception that stopped it.
struct Outcome {
    AuditResult result;
    std::exception_ptr failure;
};

// Audits files on several threads, a batch at a time, and hands the outcomes over in input order,
// so that output starts early and memory holds one batch of results. Threads that cannot be
// started leave their share to the others, this one included.
template <typename Emit>
void auditInOrder(
    const std::vector<std::string>& files, const AuditList& list, Dialect dialect, unsigned jobs, Emit&& emit)
{
    constexpr std::size_t kBatch = 64;
    if (jobs == 0)
        jobs = std::max(1U, std::thread::hardware_concurrency());
    std::vector<Outcome> outcomes;
    for (std::size_t first = 0; first < files.size(); first += kBatch) {
        const std::size_t count = std::min(kBatch, files.size() - first);
        outcomes.assign(count, Outcome {});
        std::atomic<std::size_t> next { 0 };
        const auto work = [&]() noexcept {
            for (std::size_t i = next++; i < count; i = next++) {
                try {
                    outcomes[i].result = auditConfig(files[first + i], list, dialect);
                } catch (...) {
                    outcomes[i].failure = std::current_exception();
                }
            }
        };
        std::vector<std::thread> helpers;
        try {
            const std::size_t wanted = std::min<std::size_t>(jobs, count) - 1;
            helpers.reserve(wanted);
            while (helpers.size() < wanted)
                helpers.emplace_back(work);
        } catch (const std::exception&) {
            // Fewer threads than asked for.
        }
        work();
        for (std::thread& t : helpers)
            t.join();
        for (std::size_t i = 0; i < count; ++i)
            emit(first + i, outcomes[i]);
    }
}

std::string whyFailed(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "could not be audited: out of memory";
    } catch (const std::exception& e) {
        return std::string("could not be audited: ") + e.what();
    } catch (...) {
        return "could not be audited";
    }
}

// Each finding stays on one line whatever bytes its command or paths hold.
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
    return oneLine(file) + ':' + std::to_string(line) + ':' + std::to_string(column);
}

const char* dialectNote(const AuditFinding& f)
{
    return f.oldDialectOnly ? " [older engines only]" : f.newDialectOnly ? " [newer engines only]" : "";
}

const char* dialectName(Dialect d)
{
    return d == Dialect::Old ? "old" : d == Dialect::New ? "new" : "both";
}

void writeFinding(std::string& buffer, const CvarList& list, const AuditResult& r, const AuditFinding& f)
{
    buffer += position(r.paths[f.path], f.line, f.column);
    buffer += ": ";
    buffer += list.names[f.index];
    buffer += " (";
    buffer += f.form;
    buffer += "): ";
    buffer += oneLine(f.command);
    const char* separator = " [via ";
    for (const AuditStep* s : r.route(f)) {
        buffer += separator;
        buffer += s->form;
        buffer += " at " + position(r.paths[s->path], s->line, s->column);
        separator = ", ";
    }
    if (f.via != kNoStep)
        buffer += ']';
    buffer += dialectNote(f);
    buffer += '\n';
}

nlohmann::ordered_json findingJson(const CvarList& list, const AuditResult& r, const AuditFinding& f)
{
    nlohmann::ordered_json via = nlohmann::ordered_json::array();
    for (const AuditStep* s : r.route(f))
        via.push_back({ { "form", s->form }, { "file", pathToUtf8(r.paths[s->path]) }, { "line", s->line },
            { "column", s->column }, { "command", toUtf8Latin1(s->command) } });
    return { { "file", pathToUtf8(r.paths[f.path]) }, { "line", f.line }, { "column", f.column },
        { "name", toUtf8Latin1(list.names[f.index]) }, { "index", f.index }, { "form", f.form },
        { "setter", f.setter }, { "command", toUtf8Latin1(f.command) }, { "via", std::move(via) },
        { "oldDialectOnly", f.oldDialectOnly }, { "newDialectOnly", f.newDialectOnly } };
}

bool isEmpty(const AuditResult& r)
{
    return r.file.error == FileError::Empty || r.file.error == FileError::NoLines;
}

// nlohmann's dump(2) of value, laid out as if it were depth levels deep in a larger document.
std::string dumpAt(const nlohmann::ordered_json& value, std::size_t depth)
{
    const std::string text = value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out += c;
        if (c == '\n') // strings in JSON hold no raw line break
            out.append(2 * depth, ' ');
    }
    return out;
}

// The JSON document written as it goes, laid out as one dump(2) of the whole would be, so that
// memory holds the JSON of one finding, not of the whole report.
class JsonReport {
public:
    JsonReport(std::ostream& out, const AuditRequest& request)
        : m_out(out)
    {
        m_out << "{\n  \"list\": " << dumpAt(listJson(request.listPath, *request.list), 1)
              << ",\n  \"dialect\": \"" << dialectName(request.dialect) << "\",\n  \"files\": [";
    }

    void file(const CvarList& list, const std::string& path, const Outcome& outcome)
    {
        m_out << (m_files++ == 0 ? "\n" : ",\n") << "    {\n      \"path\": " << dumpAt(pathToUtf8(path), 3);
        const AuditResult& r = outcome.result;
        if (outcome.failure)
            field("error", whyFailed(outcome.failure));
        else if (isEmpty(r))
            field("warning", describe(r.file));
        else if (!r)
            field("error", describe(r.file));
        else
            findings(list, r);
        m_out << "\n    }";
    }

    void finish(std::size_t total)
    {
        m_out << (m_files == 0 ? "]" : "\n  ]") << ",\n  \"total\": " << total << "\n}\n";
    }

private:
    void field(const char* key, const nlohmann::ordered_json& value)
    {
        m_out << ",\n      \"" << key << "\": " << dumpAt(value, 3);
    }

    void findings(const CvarList& list, const AuditResult& r)
    {
        m_out << ",\n      \"findings\": [";
        for (std::size_t i = 0; i < r.findings.size(); ++i)
            m_out << (i == 0 ? "\n        " : ",\n        ")
                  << dumpAt(findingJson(list, r, r.findings[i]), 4);
        m_out << (r.findings.empty() ? "]" : "\n      ]");
        field("total", r.findings.size());
        nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
        for (const AuditWarning& w : r.warnings)
            warnings.push_back({ { "file", pathToUtf8(r.paths[w.path]) }, { "line", w.line },
                { "column", w.column }, { "message", pathToUtf8(w.message) } });
        field("warnings", warnings);
    }

    std::ostream& m_out;
    std::size_t m_files = 0;
};

} // namespace

int runAudit(const AuditRequest& request, std::ostream& out, std::ostream& err)
{
    const CvarList& list = *request.list;
    std::optional<JsonReport> json;
    if (request.format == OutputFormat::Json)
        json.emplace(out, request);
    std::string text;
    std::size_t total = 0;
    bool anyError = false;

    auditInOrder(request.files, AuditList(list), request.dialect, request.jobs,
        [&](std::size_t i, const Outcome& outcome) {
            const AuditResult& r = outcome.result;
            const std::string path = oneLine(request.files[i]);
            if (outcome.failure) {
                anyError = true;
                err << kProgram << ": " << path << ": " << whyFailed(outcome.failure) << '\n';
            } else if (isEmpty(r)) {
                err << kProgram << ": warning: " << path << ": " << describe(r.file)
                    << ", nothing to check\n";
            } else if (!r) {
                anyError = true;
                err << kProgram << ": " << path << ": " << describe(r.file) << '\n';
            }
            for (const AuditWarning& w : r.warnings)
                err << position(r.paths[w.path], w.line, w.column) << ": warning: " << oneLine(w.message)
                    << '\n';
            total += r.findings.size();
            if (json) {
                json->file(list, request.files[i], outcome);
                return;
            }
            for (const AuditFinding& f : r.findings) {
                writeFinding(text, list, r, f);
                if (text.size() >= (1 << 16)) {
                    out << text;
                    text.clear();
                }
            }
        });

    if (json) {
        json->finish(total);
    } else {
        out << text << "Total: " << total << (total == 1 ? " finding" : " findings") << '\n';
    }
    out.flush();
    return anyError ? 2 : total > 0 ? 1 : 0;
}

} // namespace tromel::cli
