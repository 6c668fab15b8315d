// Runs the built qxw program as a user would: in a directory of the test's
// choice, with arguments and environment, standard input closed or a
// pseudo-terminal, bounded in time and killed by its process id when late.
// Also the small file helpers the qxw tests share.
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
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "service/common/filesystem.h"
#include "support/file_text.h"

namespace ZORVIK::test {

// The program sits in the build directory, one level above the test programs.
inline std::string QxwPath() {
    if (const char* given = std::getenv("ZORVIK_QXW")) return given;
    return filesystem::FormatPath(filesystem::GetModulePath(), "%d%p") + "../qxw";
}

// How the program runs besides its arguments.
struct QxwRunOptions {
    // A limit on the size of each file it writes (RLIMIT_FSIZE), with SIGXFSZ
    // ignored so that a write past it fails with EFBIG as on a full disk. 0: none.
    uint64_t fileSizeLimit = 0;
    // When the tests run as root, the program runs as the user nobody, so that
    // file permissions apply to it.
    bool unprivileged = false;
    int timeoutMs = 30000;
};

struct QxwRun {
    int exitCode = -1;  // -1: killed after the time-out or by a signal
    std::string out;
    std::string err;
};

namespace detail {

// Everything the child needs, built before the fork: after it only
// async-signal-safe calls are made (the test process has other threads).
class PreparedExec {
public:
    // QXW_CONFIG only when the test gives it, so the caller's own value never leaks in.
    PreparedExec(const std::vector<std::string>& args, std::string directory,
                 const std::map<std::string, std::string>& environment, const QxwRunOptions& options = {})
        : m_program(QxwPath()), m_directory(std::move(directory)), m_options(options) {
        m_args.push_back(m_program);
        m_args.insert(m_args.end(), args.begin(), args.end());
        std::map<std::string, std::string> variables = environment;
        variables.emplace("NO_COLOR", "1");
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            if (name != "QXW_CONFIG" && variables.count(name) == 0) m_environment.push_back(text);
        }
        for (const auto& [name, value] : variables) m_environment.push_back(name + "=" + value);
        for (std::string& arg : m_args) m_argv.push_back(arg.data());
        m_argv.push_back(nullptr);
        for (std::string& variable : m_environment) m_envp.push_back(variable.data());
        m_envp.push_back(nullptr);
    }

    [[noreturn]] void Exec() const {
        if (::chdir(m_directory.c_str()) != 0) ::_exit(126);
        if (m_options.fileSizeLimit != 0) {
            const rlimit limit{m_options.fileSizeLimit, m_options.fileSizeLimit};
            if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(125);
        }
        constexpr uid_t Nobody = 65534;
        if (m_options.unprivileged && ::getuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            ::_exit(125);
        ::execve(m_program.c_str(), m_argv.data(), m_envp.data());
        ::_exit(127);
    }

private:
    std::string m_program;
    std::string m_directory;
    QxwRunOptions m_options;
    std::vector<std::string> m_args;
    std::vector<std::string> m_environment;
    std::vector<char*> m_argv;
    std::vector<char*> m_envp;
};

inline int WaitExit(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        ::usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace detail

// Standard input is /dev/null; standard output and error are collected in
// unnamed temporary files, read once the program has ended.
inline QxwRun RunQxw(const std::vector<std::string>& args, const std::string& directory,
                     const std::map<std::string, std::string>& environment = {}, const QxwRunOptions& options = {}) {
    const detail::PreparedExec exec(args, directory, environment, options);
    FILE* const files[2] = {std::tmpfile(), std::tmpfile()};
    if (files[0] == nullptr || files[1] == nullptr) return {};
    const int outFd = ::fileno(files[0]);
    const int errFd = ::fileno(files[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        exec.Exec();
    }
    QxwRun run;
    run.exitCode =
        detail::WaitExit(pid, std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs));
    std::string* sinks[2] = {&run.out, &run.err};
    for (int i = 0; i < 2; ++i) {
        std::rewind(files[i]);
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, files[i])) > 0;)
            sinks[i]->append(buffer, count);
        std::fclose(files[i]);
    }
    return run;
}

// qxw on a pseudo-terminal, for the reader menu: the test reads what the
// program shows and types keys.
class QxwOnTerminal {
public:
    QxwOnTerminal(const std::vector<std::string>& args, const std::string& directory,
                  const std::map<std::string, std::string>& environment = {}) {
        const detail::PreparedExec exec(args, directory, environment);
        m_pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid == 0) exec.Exec();
    }
    ~QxwOnTerminal() {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) ::close(m_master);
    }
    QxwOnTerminal(const QxwOnTerminal&) = delete;
    QxwOnTerminal& operator=(const QxwOnTerminal&) = delete;

    bool Started() const { return m_pid > 0; }

    // Reads the screen until text appears (true) or timeoutMs passes.
    bool WaitFor(const std::string& text, int timeoutMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_screen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(100))
                return m_screen.find(text) != std::string::npos;
        }
        return true;
    }
    void Type(const std::string& keys) {
        if (::write(m_master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
            m_screen += "<typing failed>";
    }
    // Reads the rest of the screen and the exit code (-1 on time-out).
    int Finish(int timeoutMs = 20000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline && ReadSome(100)) {
        }
        m_reaped = true;
        return detail::WaitExit(m_pid, deadline);
    }
    const std::string& Screen() const { return m_screen; }

private:
    // False once the terminal is closed (the program ended).
    bool ReadSome(int timeoutMs) {
        pollfd fd{m_master, POLLIN, 0};
        const int ready = ::poll(&fd, 1, timeoutMs);
        if (ready == 0) return true;
        char buffer[4096];
        const ssize_t count = ready > 0 ? ::read(m_master, buffer, sizeof buffer) : -1;
        if (count <= 0) return false;
        m_screen.append(buffer, static_cast<size_t>(count));
        return true;
    }

    pid_t m_pid = -1;
    int m_master = -1;
    bool m_reaped = false;
    std::string m_screen;
};

}  // namespace ZORVIK::test
