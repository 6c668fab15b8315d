// Runs the built qxw program as a user would: in a directory of the test's
// choice, with arguments and environment, standard input closed or a
// pseudo-terminal, bounded in time and killed by its process id when late.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "service/common/filesystem.h"
#include "support/file_text.h"

namespace ZORVIK::test {

// How the program runs besides its arguments.
struct QxwRunOptions {
    // A limit on the size of each file it writes (RLIMIT_FSIZE), with SIGXFSZ
    // ignored so that a write past it fails with EFBIG as on a full disk. 0: none.
    uint64_t fileSizeLimit = 0;
    // When the tests run as root, the program runs as the user nobody, so that
    // file permissions apply to it.
    bool unprivileged = false;
};

struct QxwRun {
    int exitCode = -1;  // -1: killed after the time-out or by a signal
    std::string out;    // with a terminal: the screen
    std::string err;
};

// Starts the program (on a pseudo-terminal when terminal is set: its master
// side), everything the child needs built before the fork, since after it only
// async-signal-safe calls are made (the test process has other threads).
// QXW_CONFIG reaches the program only when the environment given here has it.
inline pid_t StartQxw(const std::vector<std::string>& args, const std::string& directory,
                      const std::map<std::string, std::string>& environment, const QxwRunOptions& options,
                      int* terminal, int outFd, int errFd) {
    // The program sits in the build directory, one level above the test programs.
    const char* given = std::getenv("ZORVIK_QXW");
    std::vector<std::string> strings{given ? given
                                           : filesystem::FormatPath(filesystem::GetModulePath(), "%d%p") + "../qxw"};
    strings.insert(strings.end(), args.begin(), args.end());
    const size_t argCount = strings.size();
    std::map<std::string, std::string> variables = environment;
    variables.emplace("NO_COLOR", "1");
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (name != "QXW_CONFIG" && variables.count(name) == 0) strings.push_back(text);
    }
    for (const auto& [name, value] : variables) strings.push_back(name + "=" + value);
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.insert(pointers.begin() + static_cast<std::ptrdiff_t>(argCount), nullptr);
    pointers.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = terminal != nullptr ? ::forkpty(terminal, nullptr, nullptr, nullptr) : ::fork();
    if (pid != 0) {
        ::close(devNull);
        return pid;
    }
    if (terminal == nullptr && (::dup2(devNull, 0) < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0)) ::_exit(125);
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    if (options.fileSizeLimit != 0 && (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0))
        ::_exit(125);
    constexpr uid_t Nobody = 65534;
    if (options.unprivileged && ::getuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
        ::_exit(125);
    ::execve(pointers[0], pointers.data(), pointers.data() + argCount + 1);
    ::_exit(127);
}

// The exit code, or -1 when the program ran past the deadline (then killed) or died of a signal.
inline int WaitExit(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        ::usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Standard input is /dev/null; standard output and error are collected in
// unnamed temporary files, read once the program has ended (within 30 s).
inline QxwRun RunQxw(const std::vector<std::string>& args, const std::string& directory,
                     const std::map<std::string, std::string>& environment = {}, const QxwRunOptions& options = {}) {
    FILE* const files[2] = {std::tmpfile(), std::tmpfile()};
    const pid_t pid = StartQxw(args, directory, environment, options, nullptr, ::fileno(files[0]), ::fileno(files[1]));
    QxwRun run;
    run.exitCode = WaitExit(pid, std::chrono::steady_clock::now() + std::chrono::seconds(30));
    for (const auto& [file, sink] : {std::pair{files[0], &run.out}, std::pair{files[1], &run.err}}) {
        std::rewind(file);
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) sink->append(buffer, count);
        std::fclose(file);
    }
    return run;
}

// qxw on a pseudo-terminal, for the reader menu: the test reads what the
// program shows and types keys.
class QxwOnTerminal {
public:
    QxwOnTerminal(const std::vector<std::string>& args, const std::string& directory)
        : m_pid(StartQxw(args, directory, {}, {}, &m_master, -1, -1)) {}
    ~QxwOnTerminal() {
        if (m_pid > 0) WaitExit(m_pid, {});
        ::close(m_master);
    }
    QxwOnTerminal(const QxwOnTerminal&) = delete;
    QxwOnTerminal& operator=(const QxwOnTerminal&) = delete;

    // Reads the screen until text appears (true) or 10 s pass.
    bool WaitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_run.out.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline && ReadSome()) {
        }
        return m_run.out.find(text) != std::string::npos;
    }
    void Type(const std::string& keys) {
        if (::write(m_master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
            m_run.out += "<typing failed>";
    }
    // The rest of the screen and the exit code, within 20 s.
    const QxwRun& Finish() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline && ReadSome()) {
        }
        m_run.exitCode = WaitExit(m_pid, deadline);
        m_pid = -1;
        return m_run;
    }
    const std::string& Screen() const { return m_run.out; }

private:
    // False once the terminal is closed (the program ended).
    bool ReadSome() {
        pollfd fd{m_master, POLLIN, 0};
        const int ready = ::poll(&fd, 1, 100);
        char buffer[4096];
        const ssize_t count = ready > 0 ? ::read(m_master, buffer, sizeof buffer) : ready == 0 ? 0 : -1;
        if (count > 0) m_run.out.append(buffer, static_cast<size_t>(count));
        return ready == 0 || count > 0;
    }

    int m_master = -1;
    pid_t m_pid;
    QxwRun m_run;
};

}  // namespace ZORVIK::test
