// Several processes doing their work at the same moment, for tests of what
// processes share: one log file appended to by many runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>

namespace ZORVIK::test {

// Forks count processes, lets them all start body(index) at once (when every
// one of them exists) and waits for them. A process ends with 0, or with 1 when
// body throws; one still running after the limit is killed by its process id.
// Returns the number of processes that ended with 0. body must not return to
// the test's own code: each process ends with _exit when body is done.
// How a child process ended: its waitpid status, and whether it was still
// running at the deadline and was killed (SIGKILL, by its process id).
struct ChildEnd {
    int status = 0;
    bool killed = false;
};
// Waits for the child pid until deadline, then kills it.
ChildEnd WaitForChild(pid_t pid, std::chrono::steady_clock::time_point deadline);

int RunTogether(int count, const std::function<void(int)>& body,
                std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace ZORVIK::test
