// Start-up of the program qxw (its help text, then exit) beside the start of a
// process that does nothing (/bin/true), both spawned and waited for alike.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Runs path with one argument (or none), its output thrown away; true when it
// ran and exited.
bool Run(const char* path, const char* argument) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(path), const_cast<char*>(argument), nullptr};
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, path, &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
}

void Spawn(benchmark::State& state, const char* path, const char* argument) {
    for (auto _ : state) {
        if (!Run(path, argument)) {
            state.SkipWithError("the program did not run");
            break;
        }
    }
}

void BM_QxwHelp(benchmark::State& state) { Spawn(state, ZORVIK_QXW_PATH, "-h"); }
void BM_ProcessStart(benchmark::State& state) { Spawn(state, "/bin/true", nullptr); }

}  // namespace

BENCHMARK(BM_QxwHelp)->UseRealTime();
BENCHMARK(BM_ProcessStart)->UseRealTime();
