// Runs the built qxw program as a user would: in a directory of the test's
// choice, with arguments, environment and the keys typed on standard input,
// bounded in time and killed by its process id when late.
#pragma once

#include <fcntl.h>
#include <grp.h>
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
    std::string input = {};  // standard input: these keys, then its end
    // A limit on the size of each file it writes (RLIMIT_FSIZE), with SIGXFSZ
    // ignored so that a write past it fails with EFBIG as on a full disk. 0: none.
    uint64_t fileSizeLimit = 0;
    // When the tests run as root, the program runs as the user nobody, so that
    // file permissions apply to it.
    bool unprivileged = false;
};

struct QxwRun {
    int exitCode = -1;  // -1: killed after 30 s or by a signal
    std::string out;
    std::string err;
};

// Standard input, output and error are unnamed temporary files, the latter two
// read once the program has ended; QXW_CONFIG reaches the program only when
// the environment given here has it. Everything the child needs is built before
// the fork: after it only async-signal-safe calls are made (the test process
// has other threads).
inline QxwRun RunQxw(const std::vector<std::string>& args, const std::string& directory,
                     const QxwRunOptions& options = {}, const std::map<std::string, std::string>& environment = {}) {
    // The program sits in the build directory, one level above the test programs.
    const char* given = std::getenv("ZORVIK_QXW");
    std::vector<std::string> strings{given ? given
                                           : filesystem::FormatPath(filesystem::GetModulePath(), "%d%p") + "../qxw"};
    strings.insert(strings.end(), args.begin(), args.end());
    const size_t argCount = strings.size();
    // The given variables come first: the program's getenv finds the first of equal names.
    for (const auto& [name, value] : environment) strings.push_back(name + "=" + value);
    strings.push_back("NO_COLOR=1");
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string(*entry).rfind("QXW_CONFIG=", 0) != 0) strings.push_back(*entry);
    }
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.insert(pointers.begin() + static_cast<std::ptrdiff_t>(argCount), nullptr);
    pointers.push_back(nullptr);
    FILE* const files[3] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
    std::fputs(options.input.c_str(), files[0]);
    std::rewind(files[0]);
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int fd = 0; fd < 3; ++fd) ::dup2(::fileno(files[fd]), fd);
        if (::chdir(directory.c_str()) != 0) ::_exit(126);
        if (options.fileSizeLimit != 0 &&
            (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0))
            ::_exit(125);
        constexpr uid_t Nobody = 65534;
        if (options.unprivileged && ::getuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            ::_exit(125);
        ::execve(pointers[0], pointers.data(), pointers.data() + argCount + 1);
        ::_exit(127);
    }
    QxwRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::usleep(10000);
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (const auto& [file, sink] : {std::pair{files[1], &run.out}, std::pair{files[2], &run.err}}) {
        std::rewind(file);
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) sink->append(buffer, count);
    }
    for (FILE* file : files) std::fclose(file);
    return run;
}

}  // namespace ZORVIK::test
