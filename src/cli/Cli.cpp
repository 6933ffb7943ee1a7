#include "Cli.h"

#include "AuditCommand.h"
#include "CvarList.h"
#include "Json.h"
#include "MFileOp.h"
#include "Report.h"
#include "Scanner.h"
#include "Version.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace tromel::cli {

namespace {

struct Options {
    std::string listPath;
    std::string format = "text";
    bool info = false;
    bool audit = false;
    std::string dialect = "both";
    unsigned jobs = 0;
    std::vector<std::string> inputs;
};

bool hasCfgExtension(const fs::path& p)
{
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".cfg";
}

struct Inputs {
    std::vector<std::string> files;
    bool anyDirectory = false;
    bool anyError = false; // a folder that could not be read, or held no config
};

// Appends the *.cfg files below dir. Links to folders are not followed, so a link loop cannot trap
// the walk; a folder that cannot be read is named, never skipped in silence.
void walkDirectory(const fs::path& dir, std::vector<std::string>& found, bool& anyError, std::ostream& err)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        err << kProgram << ": " << dir.string() << ": " << ec.message() << '\n';
        anyError = true;
        return;
    }
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc) && !it->is_symlink(typeEc))
            walkDirectory(it->path(), found, anyError, err);
        else if (hasCfgExtension(it->path()) && it->is_regular_file(typeEc))
            found.push_back(it->path().string());
    }
    if (ec) {
        err << kProgram << ": " << dir.string() << ": " << ec.message() << '\n';
        anyError = true;
    }
}

// Replaces each directory by the *.cfg files below it, in sorted order.
Inputs expandInputs(const std::vector<std::string>& args, std::ostream& err)
{
    Inputs inputs;
    for (const std::string& arg : args) {
        std::error_code ec;
        if (!fs::is_directory(fs::path(arg), ec)) {
            inputs.files.push_back(arg);
            continue;
        }
        inputs.anyDirectory = true;
        std::vector<std::string> found;
        walkDirectory(arg, found, inputs.anyError, err);
        if (found.empty()) {
            err << kProgram << ": " << arg << ": no .cfg files found\n";
            inputs.anyError = true;
        }
        std::sort(found.begin(), found.end());
        inputs.files.insert(inputs.files.end(), found.begin(), found.end());
    }
    return inputs;
}

// Scans files on every core; results are handed over in input order. The thread that takes the
// results is one of the jobs: while the next result is not ready it scans a file itself rather
// than sleep. A lone file is cut into parts for the cores instead.
class ParallelScan {
public:
    ParallelScan(const std::vector<std::string>& files, const Matcher& matcher, unsigned jobs)
        : m_files(files)
        , m_matcher(matcher)
        , m_results(files.size())
        , m_threadsPerFile(files.size() == 1 ? jobs : 1)
    {
        const unsigned helpers
            = std::max(1U, std::min<unsigned>(jobs, static_cast<unsigned>(files.size()))) - 1;
        try {
            for (unsigned w = 0; w < helpers; ++w)
                m_threads.emplace_back([this] {
                    while (scanNext()) { }
                });
        } catch (const std::system_error&) {
            // Fewer threads than asked for: the taking thread scans whatever is left.
        }
    }
    ~ParallelScan()
    {
        m_next = m_files.size();
        for (auto& t : m_threads)
            t.join();
    }
    ParallelScan(const ParallelScan&) = delete;
    ParallelScan& operator=(const ParallelScan&) = delete;

    ScanResult take(std::size_t i)
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_next >= m_files.size())
                    m_ready.wait(lock, [&] { return m_results[i].has_value(); });
                if (m_results[i]) {
                    ScanResult r = std::move(*m_results[i]);
                    m_results[i].reset();
                    return r;
                }
            }
            scanNext();
        }
    }

private:
    bool scanNext()
    {
        const std::size_t i = m_next.fetch_add(1);
        if (i >= m_files.size())
            return false;
        ScanResult r = CheckConfig(m_files[i], m_matcher, m_threadsPerFile);
        {
            std::lock_guard lock(m_mutex);
            m_results[i] = std::move(r);
        }
        m_ready.notify_all();
        return true;
    }

    const std::vector<std::string>& m_files;
    const Matcher& m_matcher;
    std::vector<std::optional<ScanResult>> m_results;
    unsigned m_threadsPerFile;
    std::atomic<std::size_t> m_next { 0 };
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::vector<std::thread> m_threads;
};

// "files done / total" on a terminal, shown only once the work has taken more than a moment.
class Progress {
public:
    Progress(std::ostream& err, std::size_t total)
        : m_err(err)
        , m_total(total)
        , m_start(std::chrono::steady_clock::now())
    {
#if !defined(_WIN32)
        m_enabled = &err == &std::cerr && ::isatty(STDERR_FILENO) && total > 1;
#endif
    }
    ~Progress()
    {
        if (m_shown)
            m_err << "\r\033[K" << std::flush;
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void done(std::size_t count)
    {
        if (!m_enabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_start < std::chrono::milliseconds(500) || now - m_last < std::chrono::milliseconds(100))
            return;
        m_last = now;
        m_shown = true;
        m_err << '\r' << kProgram << ": " << count << '/' << m_total << " files" << std::flush;
    }
    void clear()
    {
        if (m_shown)
            m_err << "\r\033[K" << std::flush;
        m_shown = false;
    }

private:
    std::ostream& m_err;
    std::size_t m_total;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_last {};
    bool m_enabled = false;
    bool m_shown = false;
};

void writeTextReport(std::ostream& out, const CvarList& list, const std::vector<Finding>& findings)
{
    std::string buffer;
    buffer.reserve(1 << 16);
    for (const Finding& f : findings) {
        buffer += findingItem(list, f);
        buffer += '\n';
        if (buffer.size() >= (1 << 16)) {
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            buffer.clear();
        }
    }
    buffer += " \n";
    buffer += totalItem(findings.size());
    buffer += '\n';
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
}

void writeInfo(std::ostream& out, const CvarList& list)
{
    out << "Version: " << (list.hasHeader ? list.version : "unknown") << '\n'
        << "Date: " << (list.hasHeader ? list.date : "unknown") << '\n'
        << "Cvars: " << list.count() << '\n';
}

std::string fileMessage(const std::string& path, const FileStatus& status)
{
    return std::string(kProgram) + ": " + path + ": " + describe(status);
}

int scanFiles(const Options& opt, const std::string& listPath, const CvarList& list,
    const std::vector<std::string>& files, bool headers, std::ostream& out, std::ostream& err)
{
    const Matcher matcher(list);
    // With several files, one more than the cores: the thread that writes the report checks files
    // too, and the extra one keeps every core busy while it writes or waits on the output.
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    const unsigned jobs = opt.jobs ? opt.jobs : cores + (files.size() > 1 ? 1 : 0);
    ParallelScan scan(files, matcher, jobs);
    Progress progress(err, files.size());
    const bool json = opt.format == "json";

    nlohmann::ordered_json fileArray = nlohmann::ordered_json::array();
    bool anyFound = false;
    bool anyError = false;
    bool printedReport = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& path = files[i];
        const ScanResult r = scan.take(i);
        progress.done(i + 1);
        const bool empty = r.file.error == FileError::Empty || r.file.error == FileError::NoLines;
        if (!r && !empty) {
            anyError = true;
            progress.clear();
            err << fileMessage(path, r.file) << '\n';
        } else if (empty) {
            progress.clear();
            err << kProgram << ": warning: " << path << ": " << describe(r.file) << ", nothing to check\n";
        }
        anyFound = anyFound || (r && !r.findings.empty());

        if (json) {
            nlohmann::ordered_json f;
            f["path"] = pathToUtf8(path);
            if (r) {
                nlohmann::ordered_json findings = nlohmann::ordered_json::array();
                for (const Finding& finding : r.findings)
                    findings.push_back(
                        { { "line", finding.line }, { "name", toUtf8Latin1(list.names[finding.index]) } });
                f["findings"] = std::move(findings);
                f["total"] = r.findings.size();
            } else if (empty) {
                f["warning"] = describe(r.file);
            } else {
                f["error"] = describe(r.file);
            }
            fileArray.push_back(std::move(f));
        } else if (r) {
            if (printedReport)
                out << '\n';
            if (headers)
                out << "==> " << path << " <==\n";
            writeTextReport(out, list, r.findings);
            printedReport = true;
        }
    }
    progress.clear();
    if (json) {
        nlohmann::ordered_json doc;
        doc["list"] = listJson(listPath, list);
        doc["files"] = std::move(fileArray);
        out << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    }
    out.flush();
    return anyError ? 2 : anyFound ? 1 : 0;
}

} // namespace

std::string programDirectory(const std::string& argv0)
{
    std::error_code ec;
#if defined(__linux__)
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path().string();
#endif
    const fs::path p = fs::absolute(fs::path(argv0), ec);
    return ec ? std::string(".") : p.parent_path().string();
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options opt;
    CLI::App app { "Checks game config files against a list of forbidden cvars.\n"
                   "Reports every line that sets a listed cvar (a line holding \" NAME \" and \"set\").",
        kProgram };
    app.get_formatter()->column_width(28);
    app.add_option("--list", opt.listPath, "Forbidden-cvar list (default: cvars.ini beside the program)")
        ->option_text("PATH");
    app.add_option("--format", opt.format, "Output format")
        ->check(CLI::IsMember({ "text", "json" }))
        ->option_text("text|json");
    app.add_flag("--info", opt.info, "Print the list's version, date and number of cvars");
    app.add_flag("--audit", opt.audit,
        "Read configs as the game's console does and report every command that can set a listed cvar");
    app.add_option("--dialect", opt.dialect, "With --audit: console dialect to model")
        ->check(CLI::IsMember({ "both", "old", "new" }))
        ->option_text("both|old|new");
    app.add_option("-j,--jobs", opt.jobs, "Files checked at once (default: one per core, plus one)")
        ->check(CLI::Range(1U, 1024U))
        ->option_text("N");
    app.set_version_flag("--version", std::string(kProgram) + " (Tromel Rimbolt) " + kVersionShort);
    app.add_option("inputs", opt.inputs, "Config files, or directories searched for *.cfg")
        ->option_text("FILE|DIR...");
    app.footer("Exit status: 0 if no forbidden cvar was found, 1 if any was, 2 on a usage error,\n"
               "an unusable list, or a file that could not be read.");

    std::vector<std::string> rest(args.size() > 1 ? args.begin() + 1 : args.end(), args.end());
    std::reverse(rest.begin(), rest.end()); // CLI11 takes the arguments last-first
    try {
        app.parse(rest);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        out << app.version() << '\n';
        return 0;
    } catch (const CLI::ParseError& e) {
        err << kProgram << ": " << e.what() << '\n'
            << "Try '" << kProgram << " --help' for more information.\n";
        return 2;
    }
    if (opt.inputs.empty() && !opt.info) {
        err << kProgram << ": no config file given\n"
            << "Usage: " << kProgram << " [--list PATH] [--format text|json] [--info] FILE|DIR...\n"
            << "Try '" << kProgram << " --help' for more information.\n";
        return 2;
    }

    const std::string listPath = opt.listPath.empty()
        ? (fs::path(programDirectory(args.empty() ? std::string() : args[0])) / "cvars.ini").string()
        : opt.listPath;
    const ListResult loaded = LoadCvars(listPath);
    if (!loaded) {
        if (loaded.error == ListError::NotFound)
            err << kProgram << ": cvars.ini not found. (looked at " << listPath << ": "
                << describe(loaded.file) << ")\n";
        else
            err << kProgram << ": " << listPath << ": " << loaded.message << '\n';
        return 2;
    }
    const CvarList& list = loaded.list;

    if (opt.info) {
        if (opt.format == "json" && opt.inputs.empty()) {
            out << nlohmann::ordered_json { { "list", listJson(listPath, list) } }.dump(2) << '\n';
            return 0;
        }
        if (opt.format == "text") {
            writeInfo(out, list);
            if (opt.inputs.empty())
                return 0;
            out << '\n';
        }
    }

    const Inputs inputs = expandInputs(opt.inputs, err);
    const std::vector<std::string>& files = inputs.files;
    if (files.empty())
        return 2;

    if (opt.audit) {
        AuditRequest request;
        request.list = &list;
        request.listPath = listPath;
        request.files = files;
        request.jobs = opt.jobs;
        request.format = opt.format == "json" ? OutputFormat::Json : OutputFormat::Text;
        request.dialect = opt.dialect == "old" ? Dialect::Old
            : opt.dialect == "new"             ? Dialect::New
                                               : Dialect::Both;
        return std::max(runAudit(request, out, err), inputs.anyError ? 2 : 0);
    }
    const int status
        = scanFiles(opt, listPath, list, files, files.size() > 1 || inputs.anyDirectory, out, err);
    return std::max(status, inputs.anyError ? 2 : 0);
}

} // namespace tromel::cli
