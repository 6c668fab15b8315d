#include "support/processes.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace ZORVIK::test {

ChildEnd WaitForChild(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    ChildEnd end;
    while (::waitpid(pid, &end.status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &end.status, 0);
            end.killed = true;
            break;
        }
        ::usleep(1000);
    }
    return end;
}

int RunTogether(int count, const std::function<void(int)>& body, std::chrono::milliseconds limit) {
    // Every process waits for the end of this pipe, which comes when the test
    // closes its writing side after the last fork.
    int start[2];
    if (::pipe(start) != 0) return 0;
    std::vector<pid_t> children;
    for (int index = 0; index < count; ++index) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(start[1]);
            char byte = 0;
            while (::read(start[0], &byte, 1) > 0) {
            }
            int code = 0;
            try {
                body(index);
            } catch (...) {
                code = 1;
            }
            ::_exit(code);  // no atexit handler nor stream of the test runs twice
        }
        if (pid > 0) children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);
    int passed = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (const pid_t pid : children) {
        const int status = WaitForChild(pid, deadline).status;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) ++passed;
    }
    return passed;
}

}  // namespace ZORVIK::test
