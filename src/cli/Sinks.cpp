#include "Sinks.h"

#include "Cli.h"
#include "CvarList.h"
#include "Encoding.h"

#include <nlohmann/json.hpp>

#include <atomic>

namespace tromel::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kWriteAt = std::size_t { 64 } << 10; // bytes gathered before they are written
constexpr std::size_t kWarningsKept = 10000; // per file in the JSON document; the rest are counted

std::string fileMessage(std::string_view path, const FileStatus& status)
{
    const std::string where = std::string(kProgram) + ": ";
    if (status.nothingToCheck())
        return where + "warning: " + oneLine(path) + ": " + describe(status) + ", nothing to check\n";
    return where + oneLine(path) + ": " + describe(status) + '\n';
}

class TextFileSink final : public FileSink {
public:
    TextFileSink(const Checker& checker, std::string path, bool severalFiles)
        : m_checker(checker)
        , m_path(std::move(path))
        , m_severalFiles(severalFiles)
    {
    }

    void finding(const Record& record, Output& out) override
    {
        begin(out);
        record.text(m_buffer);
        m_buffer += '\n';
        if (m_buffer.size() >= kWriteAt)
            flush(out);
    }

    void note(const Record& record, Output& out) override { finding(record, out); }

    void warning(const Record& record, Output& out) override
    {
        flush(out);
        std::string line;
        record.text(line);
        line += '\n';
        out.err(line);
    }

    void end(const FileStatus& status, std::uint64_t findings, Output& out) override
    {
        if (status) {
            begin(out);
            m_checker.textReportEnd(m_buffer, findings);
        }
        flush(out);
        if (!status)
            out.err(fileMessage(m_path, status));
    }

private:
    void begin(Output& out)
    {
        if (m_begun)
            return;
        m_begun = true;
        if (m_checker.textReportsApart())
            out.gap("\n");
        m_checker.textReportBegin(m_buffer, m_path, m_severalFiles);
    }

    void flush(Output& out)
    {
        out.out(m_buffer);
        m_buffer.clear();
    }

    const Checker& m_checker;
    std::string m_path;
    bool m_severalFiles;
    bool m_begun = false;
    std::string m_buffer;
};

class TextSink final : public Sink {
public:
    TextSink(const Checker& checker, bool severalFiles)
        : m_checker(checker)
        , m_severalFiles(severalFiles)
    {
    }
    void begin(Output&) override { }
    std::unique_ptr<FileSink> file(std::size_t, const std::string& path) override
    {
        return std::make_unique<TextFileSink>(m_checker, path, m_severalFiles);
    }
    void end(std::uint64_t total, Output& out) override
    {
        std::string summary;
        m_checker.textSummary(summary, total);
        out.out(summary);
    }

private:
    const Checker& m_checker;
    bool m_severalFiles;
};

// Builds a JSON value from a record's fields.
class JsonBuilder final : public FieldWriter {
public:
    void number(std::string_view key, std::uint64_t value) override { put(key, value); }
    void boolean(std::string_view key, bool value) override { put(key, value); }
    void text(std::string_view key, std::string_view value, Encoding encoding) override
    {
        put(key, encoding == Encoding::Latin1 ? latin1ToUtf8(value) : nameToUtf8(value));
    }
    void null(std::string_view key) override { put(key, nullptr); }
    void beginObject(std::string_view key) override { m_stack.push_back(&put(key, Json::object())); }
    void beginList(std::string_view key) override { m_stack.push_back(&put(key, Json::array())); }
    void end() override
    {
        if (m_stack.size() > 1)
            m_stack.pop_back();
    }

    Json take()
    {
        Json out = std::move(m_root);
        m_root = Json::object();
        m_stack.assign(1, &m_root);
        return out;
    }

private:
    Json& put(std::string_view key, Json value)
    {
        Json& top = *m_stack.back();
        if (top.is_array()) {
            top.push_back(std::move(value));
            return top.back();
        }
        Json& slot = top[std::string(key)];
        slot = std::move(value);
        return slot;
    }

    Json m_root = Json::object();
    std::vector<Json*> m_stack { &m_root };
};

Json fieldsOf(const Record& record)
{
    JsonBuilder builder;
    record.fields(builder);
    return builder.take();
}

// nlohmann's dump(2) of value, laid out as if it stood depth levels deep in a larger document.
std::string dumpAt(const Json& value, std::size_t depth)
{
    const std::string text = value.dump(2, ' ', false, Json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        out += c;
        if (c == '\n') // strings in JSON hold no raw line break
            out.append(2 * depth, ' ');
    }
    return out;
}

Json listObject(const std::string& listPath, const CvarList& list)
{
    const auto header
        = [&](const std::string& value) { return list.hasHeader ? Json(nameToUtf8(value)) : Json(); };
    return { { "path", nameToUtf8(listPath) }, { "version", header(list.version) },
        { "date", header(list.date) }, { "count", list.count() } };
}

class JsonFileSink final : public FileSink {
public:
    JsonFileSink(std::size_t index, const std::string& path)
        : m_path(path)
    {
        m_buffer = (index == 0 ? "\n    {\n      \"path\": " : ",\n    {\n      \"path\": ")
            + dumpAt(nameToUtf8(path), 3);
    }

    void finding(const Record& record, Output& out) override
    {
        m_buffer += m_findingsOpen ? ",\n        " : ",\n      \"findings\": [\n        ";
        m_findingsOpen = true;
        m_buffer += dumpAt(fieldsOf(record), 4);
        if (m_buffer.size() >= kWriteAt) {
            out.out(m_buffer);
            m_buffer.clear();
        }
    }

    void warning(const Record& record, Output& out) override
    {
        std::string line;
        record.text(line);
        line += '\n';
        out.err(line);
        if (m_warnings.size() < kWarningsKept)
            m_warnings.push_back(fieldsOf(record));
        else
            ++m_warningsLeftOut;
    }

    // A checker makes few: one per rule at most.
    void note(const Record& record, Output&) override { m_notes.push_back(fieldsOf(record)); }

    void end(const FileStatus& status, std::uint64_t findings, Output& out) override
    {
        if (m_findingsOpen)
            m_buffer += "\n      ]";
        if (status) {
            if (!m_findingsOpen)
                m_buffer += ",\n      \"findings\": []";
            field("total", findings);
            field("warnings", m_warnings);
            if (m_warningsLeftOut != 0)
                field("warningsLeftOut", m_warningsLeftOut);
            if (!m_notes.empty())
                field("notes", m_notes);
        } else {
            field(status.nothingToCheck() ? "warning" : "error", describe(status));
        }
        m_buffer += "\n    }";
        out.out(m_buffer);
        m_buffer.clear();
        if (!status)
            out.err(fileMessage(m_path, status));
    }

private:
    void field(const char* key, const Json& value)
    {
        m_buffer += ",\n      \"";
        m_buffer += key;
        m_buffer += "\": " + dumpAt(value, 3);
    }

    std::string m_path;
    std::string m_buffer;
    bool m_findingsOpen = false;
    Json m_warnings = Json::array();
    std::uint64_t m_warningsLeftOut = 0;
    Json m_notes = Json::array();
};

class JsonSink final : public Sink {
public:
    JsonSink(const Checker& checker, Json list)
        : m_checker(checker)
        , m_list(std::move(list))
    {
    }

    void begin(Output& out) override
    {
        Json fields = Json::object();
        if (!m_list.is_null())
            fields["list"] = m_list;
        JsonBuilder builder;
        m_checker.jsonHeader(builder);
        fields.update(builder.take());
        std::string head = "{\n";
        for (const auto& [key, value] : fields.items())
            head += "  " + Json(key).dump() + ": " + dumpAt(value, 1) + ",\n";
        head += "  \"files\": [";
        out.out(head);
    }

    std::unique_ptr<FileSink> file(std::size_t index, const std::string& path) override
    {
        m_anyFile = true;
        return std::make_unique<JsonFileSink>(index, path);
    }

    void end(std::uint64_t total, Output& out) override
    {
        out.out(
            std::string(m_anyFile ? "\n  ]" : "]") + ",\n  \"total\": " + std::to_string(total) + "\n}\n");
    }

private:
    const Checker& m_checker;
    Json m_list;
    std::atomic<bool> m_anyFile { false };
};

} // namespace

std::unique_ptr<Sink> makeTextSink(const Checker& checker, bool severalFiles)
{
    return std::make_unique<TextSink>(checker, severalFiles);
}

std::unique_ptr<Sink> makeJsonSink(const Checker& checker, const std::string& listPath, const CvarList& list)
{
    return std::make_unique<JsonSink>(checker, listObject(listPath, list));
}

std::unique_ptr<Sink> makeJsonSink(const Checker& checker)
{
    return std::make_unique<JsonSink>(checker, Json());
}

std::string listJson(const std::string& listPath, const CvarList& list)
{
    return Json { { "list", listObject(listPath, list) } }.dump(2) + '\n';
}

} // namespace tromel::cli
