#include "Cli.h"

#include "AuditChecker.h"
#include "CvarList.h"
#include "Inputs.h"
#include "PlainChecker.h"
#include "Rules.h"
#include "RulesChecker.h"
#include "Runner.h"
#include "Sinks.h"
#include "Version.h"
#include "platform/NativeFile.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

namespace tromel::cli {

namespace {

struct Options {
    std::string listPath;
    std::string format = "text";
    bool info = false;
    bool audit = false;
    std::string dialect = "any";
    std::string rulesPath;
    std::string engine;
    std::string map;
    bool showUnset = false;
    unsigned jobs = 0;
    std::vector<std::string> inputs;
};

constexpr int kUsage = 2;
// A flag's text in the help: nothing, rather than the options it needs or excludes.
constexpr const char* kFlag = " ";

// Standard output and standard error for a run. Output that cannot be written is an error the run
// must stop at; its cause is kept for the message.
class Streams final : public Destination {
public:
    Streams(std::ostream& out, std::ostream& err)
        : m_out(out)
        , m_err(err)
    {
        m_progress = &err == &std::cerr && platform::standardErrorIsTerminal();
    }
    ~Streams() override { clearProgress(); }
    Streams(const Streams&) = delete;
    Streams& operator=(const Streams&) = delete;

    bool out(std::string_view bytes) override
    {
        errno = 0;
        m_out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return check();
    }

    bool err(std::string_view bytes) override
    {
        clearProgress();
        m_err.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return true;
    }

    // "files done / total", on a terminal, once the work has taken more than a moment.
    void progress(std::size_t done, std::size_t total) override
    {
        if (!m_progress || total < 2)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_start < std::chrono::milliseconds(500) || now - m_last < std::chrono::milliseconds(100))
            return;
        m_last = now;
        m_shown = true;
        m_err << '\r' << kProgram << ": " << done << '/' << total << " files" << std::flush;
    }

    /// Everything written so far, flushed; false on a write error.
    bool flush()
    {
        errno = 0;
        m_out.flush();
        return check();
    }

    /// The message for the first write error.
    std::string writeError() const
    {
        return std::string(kProgram) + ": write error: "
            + (m_errno != 0 ? std::generic_category().message(m_errno)
                            : std::string("the output was refused"))
            + '\n';
    }

private:
    bool check()
    {
        if (m_out)
            return true;
        if (m_errno == 0)
            m_errno = errno;
        return false;
    }

    void clearProgress()
    {
        if (m_shown)
            m_err << "\r\033[K" << std::flush;
        m_shown = false;
    }

    std::ostream& m_out;
    std::ostream& m_err;
    int m_errno = 0;
    bool m_progress = false;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_last {};
};

// Writes text that is all of a command's output (help, version, info), then answers its status.
int writeAll(Streams& streams, std::ostream& err, std::string_view text, int status)
{
    if (streams.out(text) && streams.flush())
        return status;
    err << streams.writeError();
    return 2;
}

int usageError(std::ostream& err, const std::string& message)
{
    err << kProgram << ": " << message << '\n' << "Try '" << kProgram << " --help' for more information.\n";
    return kUsage;
}

std::string infoText(const CvarList& list)
{
    return "Version: " + (list.hasHeader ? list.version : std::string("unknown")) + '\n'
        + "Date: " + (list.hasHeader ? list.date : std::string("unknown")) + '\n'
        + "Cvars: " + std::to_string(list.count()) + '\n';
}

// The list to check against, or the exit status when there is none to use.
int loadList(const std::string& listPath, CvarList& list, std::ostream& err)
{
    ListResult loaded = LoadCvars(listPath);
    if (!loaded) {
        if (loaded.error == ListError::NotFound)
            err << kProgram << ": cvars.ini not found. (looked at " << oneLine(listPath) << ": "
                << describe(loaded.file) << ")\n";
        else
            err << kProgram << ": " << oneLine(listPath) << ": " << loaded.message << '\n';
        return 2;
    }
    list = std::move(loaded.list);
    if (list.count() == 0)
        err << kProgram << ": warning: " << oneLine(listPath)
            << ": list has no names: nothing can be found\n";
    return 0;
}

// Checks the inputs in one mode; jsonSink makes the JSON format's sink.
template <typename MakeJsonSink>
int checkFiles(
    const Options& opt, const Checker& checker, MakeJsonSink jsonSink, Streams& streams, std::ostream& err)
{
    const Inputs inputs = expandInputs(opt.inputs, err);
    if (inputs.files.empty())
        return 2;
    const std::unique_ptr<Sink> sink = opt.format == "json"
        ? jsonSink()
        : makeTextSink(checker, inputs.files.size() > 1 || inputs.anyDirectory);
    const RunSummary summary = runChecks(inputs.files, checker, *sink, streams, opt.jobs);
    if (summary.writeFailed || !streams.flush()) {
        err << streams.writeError();
        return 2;
    }
    return summary.anyError || inputs.anyError ? 2 : summary.anyFound ? 1 : 0;
}

int checkAgainstList(const Options& opt, const std::string& listPath, const CvarList& list, Streams& streams,
    std::ostream& err)
{
    std::unique_ptr<Checker> checker;
    if (opt.audit)
        checker = std::make_unique<AuditChecker>(list, *console::parseDialects(opt.dialect));
    else
        checker = std::make_unique<PlainChecker>(list);
    return checkFiles(
        opt, *checker, [&] { return makeJsonSink(*checker, listPath, list); }, streams, err);
}

// Rules mode: the server's rules file instead of a list.
int checkAgainstRules(const Options& opt, Streams& streams, std::ostream& err)
{
    RulesOptions options;
    options.engine = ruleEngineFromName(opt.engine);
    options.map = opt.map;
    const RulesResult loaded = loadRules(opt.rulesPath, options);
    const std::string where = std::string(kProgram) + ": " + oneLine(opt.rulesPath);
    if (loaded.error == RulesError::TooLarge) {
        err << where << ": larger than " << (kMaxRulesFileBytes >> 10) << " KiB: not a file of rules\n";
        return 2;
    }
    if (!loaded) {
        err << where << ": " << describe(loaded.file) << '\n';
        return 2;
    }
    for (const RulesWarning& w : loaded.warnings)
        err << where << ':' << w.line << ": warning: " << oneLine(w.message) << '\n';
    if (loaded.engineGuessed && loaded.rules.engine() == RuleEngine::EtLegacy)
        err << kProgram << ": note: " << oneLine(opt.rulesPath)
            << ": read as ET: Legacy rules; --engine rtcwpro reads them as RtCW Pro's\n";
    if (loaded.rules.rules().empty())
        err << kProgram << ": warning: " << oneLine(opt.rulesPath) << ": no rules: nothing can be broken\n";
    const RulesChecker checker(loaded.rules, opt.rulesPath, opt.showUnset);
    return checkFiles(
        opt, checker, [&] { return makeJsonSink(checker); }, streams, err);
}

CLI::Option* describeRulesOptions(CLI::App& app, Options& opt, CLI::Option* audit)
{
    CLI::Option* rules = app.add_option("--rules", opt.rulesPath,
                                "Instead of a list: a server's cvar rules (server config, RtCW Pro rules "
                                "or ET: Legacy .config); report each value a config gives that breaks one")
                             ->option_text("FILE")
                             ->excludes(audit);
    app.add_option("--engine", opt.engine, "With --rules: whose rules they are (default: from the file)")
        ->check(CLI::IsMember({ "etlegacy", "rtcwpro", "punkbuster" }))
        ->option_text("etlegacy|rtcwpro|punkbuster")
        ->needs(rules);
    app.add_option("--map", opt.map, "With --rules: the map whose own rules also count (.config files)")
        ->option_text("NAME")
        ->needs(rules);
    app.add_flag(
           "--show-unset", opt.showUnset, "With --rules: also list the ruled cvars a config leaves unset")
        ->option_text(kFlag)
        ->needs(rules);
    return rules;
}

void describeOptions(CLI::App& app, Options& opt)
{
    // "/x" is a path on every system, never an option, Windows included.
    app.allow_windows_style_options(false);
    app.get_formatter()->column_width(28);
    app.add_option("--list", opt.listPath, "Forbidden-cvar list (default: cvars.ini beside the program)")
        ->option_text("PATH");
    app.add_option("--format", opt.format, "Output format")
        ->check(CLI::IsMember({ "text", "json" }))
        ->option_text("text|json");
    app.add_flag("--info", opt.info, "Print the list's version, date and number of cvars")
        ->option_text(kFlag);
    CLI::Option* audit = app.add_flag("--audit", opt.audit,
                                "Read configs as the game's console does and report every command that "
                                "can set a listed cvar")
                             ->option_text(kFlag);
    CLI::Option* dialect
        = app.add_option("--dialect", opt.dialect,
                 "With --audit: the engines whose console to model (default: any of them), or several joined "
                 "by ','")
              ->check(CLI::Validator(
                  [](const std::string& text) {
                      return console::parseDialects(text) ? std::string() : "not a dialect: " + text;
                  },
                  "DIALECT"))
              ->option_text("ioq3|etlegacy|et|any")
              ->needs(audit);
    describeRulesOptions(app, opt, audit)
        ->excludes(dialect)
        ->excludes(app.get_option("--list"))
        ->excludes(app.get_option("--info"));
    app.add_option("-j,--jobs", opt.jobs, "Files checked at once (default: one per core)")
        ->check(CLI::Range(1U, 1024U))
        ->option_text("N");
    app.set_version_flag("--version", std::string(kProgram) + " (Tromel Rimbolt) " + kVersionShort);
    app.add_option(
           "inputs", opt.inputs, "Config files, or directories searched for *.cfg; - is standard input")
        ->option_text("FILE|DIR|-...");
    app.footer("Exit status: 0 if no forbidden cvar was found (no rule broken), 1 if any was, 2 on a usage\n"
               "error, an unusable list or rules file, a file that could not be read, or output that could\n"
               "not be written.");
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options opt;
    CLI::App app { "Checks game config files against a list of forbidden cvars.\n"
                   "Reports every line that sets a listed cvar (a line holding \" NAME \" and \"set\").",
        kProgram };
    describeOptions(app, opt);
    Streams streams(out, err);

    std::vector<std::string> rest(args.size() > 1 ? args.begin() + 1 : args.end(), args.end());
    std::reverse(rest.begin(), rest.end()); // CLI11 takes the arguments last-first
    try {
        app.parse(rest);
    } catch (const CLI::CallForHelp&) {
        return writeAll(streams, err, app.help(), 0);
    } catch (const CLI::CallForVersion&) {
        return writeAll(streams, err, app.version() + '\n', 0);
    } catch (const CLI::ParseError& e) {
        return usageError(err, e.what());
    }
    if (app.count("--list") != 0 && opt.listPath.empty())
        return usageError(err, "--list: the path is empty");
    if (app.count("--rules") != 0 && opt.rulesPath.empty())
        return usageError(err, "--rules: the path is empty");
    if (opt.inputs.empty() && !opt.info)
        return usageError(err, "no config file given");
    if (!opt.rulesPath.empty())
        return checkAgainstRules(opt, streams, err);

    const std::string listPath = opt.listPath.empty()
        ? platform::pathToUtf8(
            platform::pathFromUtf8(platform::programDirectory(args.empty() ? std::string() : args[0]))
            / "cvars.ini")
        : opt.listPath;
    CvarList list;
    if (const int status = loadList(listPath, list, err); status != 0)
        return status;

    if (opt.info && opt.inputs.empty())
        return writeAll(streams, err, opt.format == "json" ? listJson(listPath, list) : infoText(list), 0);
    if (opt.info && opt.format == "text" && !streams.out(infoText(list) + '\n')) {
        err << streams.writeError();
        return 2;
    }
    return checkAgainstList(opt, listPath, list, streams, err);
}

} // namespace tromel::cli
