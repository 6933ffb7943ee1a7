#pragma once

// Runs tromel-check: its code in this process, or the real program as a user or a script does, on
// POSIX systems and on Windows, over one folder of inputs that every test here shares.

#include "Cli.h"
#include "TestSupport.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace tromel::testing {

struct Outcome {
    int status = -1; // exit status; 128 + signal when killed, 128 + 14 when it ran too long
    std::string out;
    std::string err;
};

struct Launch {
    std::vector<std::string> args;
    std::string cwd {}; // empty: the test's own
    bool asNobody = false; // POSIX only
    std::string stdinPath {}; // empty: the null device
    std::string stdoutPath {}; // empty: captured; "closed": no standard output at all
};

// tromel-check in the build tree: TROMEL_BIN_DIR, else the bin folder beside this test's folder.
inline std::string checkBinary()
{
#if defined(_WIN32)
    const std::string name = "tromel-check.exe";
#else
    const std::string name = "tromel-check";
#endif
    if (const char* dir = std::getenv("TROMEL_BIN_DIR"))
        return utf8(platform::pathFromUtf8(dir) / name);
    return utf8(platform::pathFromUtf8(platform::programDirectory("")).parent_path() / "bin" / name);
}

inline std::string slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

#if defined(_WIN32)

namespace detail {

inline std::wstring wide(const std::string& utf8Text)
{
    return platform::pathFromUtf8(utf8Text).native();
}

// One argument as the C runtime splits a command line: quotes around it, backslashes doubled
// before a quote.
inline void appendQuoted(std::wstring& line, const std::wstring& arg)
{
    line += L" \"";
    std::size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        line.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        line += c;
    }
    line.append(2 * slashes, L'\\');
    line += L'"';
}

inline HANDLE inheritable(const std::wstring& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES sa { sizeof(sa), nullptr, TRUE };
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
        disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs tromel-check and answers its exit status; one that runs for more than a minute is ended, so
// a hang fails the test instead of stopping the suite.
inline int runAndWait(
    const Launch& launch, const std::filesystem::path& outPath, const std::filesystem::path& errPath)
{
    const std::wstring binary = detail::wide(checkBinary());

    // argv[0] without a folder: the program must find its list through the system, not argv[0].
    std::wstring line = L"tromel-check";
    for (const std::string& a : launch.args)
        detail::appendQuoted(line, detail::wide(a));
    const std::wstring cwd = detail::wide(launch.cwd);

    HANDLE in = detail::inheritable(
        launch.stdinPath.empty() ? L"NUL" : detail::wide(launch.stdinPath), GENERIC_READ, OPEN_EXISTING);
    HANDLE out = launch.stdoutPath == "closed"
        ? nullptr
        : detail::inheritable(launch.stdoutPath.empty() ? outPath.native() : detail::wide(launch.stdoutPath),
            GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = detail::inheritable(errPath.native(), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW si {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi {};
    DWORD code = static_cast<DWORD>(-1); // -1 when it could not start
    if (::CreateProcessW(binary.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
            launch.cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
        if (::WaitForSingleObject(pi.hProcess, 60000) == WAIT_TIMEOUT) {
            ::TerminateProcess(pi.hProcess, 128 + 14);
            ::WaitForSingleObject(pi.hProcess, INFINITE);
        }
        ::GetExitCodeProcess(pi.hProcess, &code);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    for (HANDLE h : { in, out, err })
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    return static_cast<int>(code);
}

} // namespace detail

#else

namespace detail {

// Runs tromel-check and answers its exit status. An alarm ends a run that blocks, so a hang fails
// the test with status 128 + SIGALRM instead of stopping the suite.
inline int runAndWait(
    const Launch& launch, const std::filesystem::path& outPath, const std::filesystem::path& errPath)
{
    constexpr int kNobody = 65534;
    const std::string binary = checkBinary();
    const std::string inPath = launch.stdinPath.empty() ? "/dev/null" : launch.stdinPath;

    std::vector<char*> argv { const_cast<char*>(binary.c_str()) };
    for (const std::string& a : launch.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Opened before the switch to nobody, who may not reach the build tree (a 0700 clone).
        const int exe = ::open(binary.c_str(), O_RDONLY | O_CLOEXEC);
        const int in = ::open(inPath.c_str(), O_RDONLY);
        const std::string outTo = launch.stdoutPath.empty() ? outPath.string() : launch.stdoutPath;
        const int out
            = launch.stdoutPath == "closed" ? 0 : ::open(outTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (exe < 0 || in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        if (launch.stdoutPath == "closed" ? ::close(1) != 0 : ::dup2(out, 1) < 0)
            ::_exit(126);
        if (!launch.cwd.empty() && ::chdir(launch.cwd.c_str()) != 0)
            ::_exit(126);
        if (launch.asNobody
            && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(125);
        ::alarm(60);
        ::fexecve(exe, argv.data(), environ);
        ::_exit(127);
    }
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace detail

#endif

// Runs tromel-check, its output captured unless launch says otherwise.
inline Outcome runCheck(const Launch& launch)
{
    const TempDir capture;
    const int status = detail::runAndWait(launch, capture.path() / "out", capture.path() / "err");
    return { status, slurp(capture.path() / "out"), slurp(capture.path() / "err") };
}

// A folder of configs, lists and rules that every run of tromel-check in these tests reads.
class CliDir : public ::testing::Test {
protected:
    CliDir()
    {
        for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>> {
                 { "cvars.ini", "Forbidden cvars 1.06-12-2026\nr_a\ncg_b\n\xE9t\xE9\n" },
                 { "a.cfg", "seta r_a 1\r\n\r\nseta \xE9t\xE9 2\nbind x cg_b\n" }, { "ok.cfg", "seta x 1\n" },
                 { "hit.cfg", "seta r_a 1\n" }, { "b.cfg", "seta cg_b 1\n" }, { "e.cfg", "\r\n" },
                 { "empty.cfg", "" }, { "crlf.cfg", "seta r_a 1\r\n\r\nseta cg_b 1" },
                 { "d/z.CFG", "seta r_a 1\n" }, { "d/sub/a.cfg", "seta cg_b 1\n" },
                 { "d/notes.txt", "seta r_a 1\n" }, { "notes/notes.txt", "seta r_a 1\n" },
                 { "bad.ini", "only two\nr_a\n" }, { "empty.ini", "only a 1.header\n" },
                 { "au.cfg", "seta r_a 1\nbind x \"CG_B 2\"\n// note; seta r_a 3\nexec nowhere\n" },
                 { "vstr.cfg", "a \"r_a 1\"\nvstr a\n" }, { "ctl.cfg", "seta r_a \"x\x01y\x7Fz\"\n" },
                 { "ad/z.cfg", "exec sub/a\n" }, { "ad/sub/a.cfg", "seta cg_b 1\n" },
                 { "locked.cfg", "seta r_a 1\n" }, { "private/x.cfg", "seta r_a 1\n" },
                 { "tree/private/x.cfg", "seta r_a 1\n" }, { "tree/t.cfg", "seta x 1\n" },
                 { "in.cfg", "seta r_a 1\nexec s1\n" }, { "s1.cfg", "seta cg_b 1\n" },
                 { "dl.cfg", "// note; seta r_a 3\nbind x \"echo // ; cg_b 1\"\n" },
                 { "server.cfg",
                     "set sv_hostname x\nsv_cvar cg_fov IN 90 120\nsv_cvar r_picmip EQ 0\n"
                     "sv_cvar snaps EQ 40\n" } })
            m_dir.write(name, bytes);
#if !defined(_WIN32)
        ::mkfifo(m_dir.path("fifo.cfg").c_str(), 0600);
        m_dir.write("new\nline\r/b.cfg", "bind x \"r_a 1\"\nexec none\n");
#endif
    }

    // "{x}" stands for the path of x.
    std::string expand(std::string text) const
    {
        for (std::size_t at; (at = text.find('{')) != std::string::npos;) {
            const std::size_t end = text.find('}', at);
            text.replace(at, end + 1 - at, m_dir.path(text.substr(at + 1, end - at - 1)));
        }
        return text;
    }

    // Exactly the text, or with a leading "~" a part of it.
    void expectText(const std::string& actual, const std::string& wanted) const
    {
        if (wanted.starts_with('~'))
            EXPECT_NE(actual.find(expand(wanted.substr(1))), std::string::npos) << actual;
        else
            EXPECT_EQ(actual, expand(wanted));
    }

    TempDir m_dir;
};

// tromel-check's code in this process, its output captured.
inline Outcome runInProcess(std::vector<std::string> args)
{
    args.insert(args.begin(), cli::kProgram);
    std::ostringstream out, err;
    const int status = cli::run(args, out, err);
    return { status, out.str(), err.str() };
}

} // namespace tromel::testing
