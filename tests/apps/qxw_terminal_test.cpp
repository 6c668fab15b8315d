// qxw in a terminal: the reader menu of a run on a pseudo-terminal of its own,
// where a signal that ends or stops the run while a key is awaited must leave
// the terminal's mode as the run found it. Each run is bounded in time and
// killed by its process id when late.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "service/common/binary.h"
#include "service/common/filesystem.h"
#include "support/derim_server.h"
#include "support/processes.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Patience = std::chrono::seconds(20);  // sanitizer builds start slowly

// The session leader stands for a job-control shell: qxw runs in a process
// group of its own in front of the terminal, whose parent is in the session
// (the kernel drops the stops of a group without one). Only async-signal-safe
// calls: the test process has other threads. Reports qxw's process id, then
// each wait status up to its end.
[[noreturn]] void RunSession(int terminal, int report, char* const* argv, char* const* environment, const char* dir) {
    if (::setsid() < 0 || ::ioctl(terminal, TIOCSCTTY, 0) != 0) ::_exit(125);
    const pid_t qxw = ::fork();
    if (qxw == 0) {
        ::setpgid(0, 0);
        ::signal(SIGTTOU, SIG_IGN);  // taking the front from behind would stop it
        ::tcsetpgrp(terminal, ::getpid());
        // Whatever the test runner ignores (nohup), the run starts with the default actions.
        for (const int signal : {SIGTTOU, SIGINT, SIGTERM, SIGHUP, SIGTSTP}) ::signal(signal, SIG_DFL);
        for (int fd = 0; fd < 3; ++fd) ::dup2(terminal, fd);
        if (::chdir(dir) == 0) ::execve(argv[0], argv, environment);
        ::_exit(127);
    }
    int status = 0;
    if (::write(report, &qxw, sizeof qxw) != sizeof qxw) ::_exit(1);
    while (::waitpid(qxw, &status, WUNTRACED) == qxw && ::write(report, &status, sizeof status) == sizeof status) {
        if (!WIFSTOPPED(status)) ::_exit(0);
    }
    ::_exit(1);
}

// qxw -reader=#? with a network reader beside the simulated card, so that the
// menu waits for a key.
class MenuInTerminal {
public:
    explicit MenuInTerminal(uint16_t derimPort) {
        const char* given = std::getenv("ZORVIK_QXW");
        std::vector<std::string> strings{given ? given : filesystem::FormatPath(filesystem::GetModulePath(), "%d%p")};
        if (given == nullptr) strings[0] += "../qxw";  // in the build directory, above the test programs
        strings.insert(strings.end(), {"-reader=#?", "-f=0", "-derimdirect_port=" + std::to_string(derimPort)});
        strings.insert(strings.end(), {"", "NO_COLOR=1"});
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string(*entry).rfind("QXW_CONFIG=", 0) != 0) strings.push_back(*entry);
        }
        std::vector<char*> pointers;  // the four arguments, a null, the environment from [5], a null
        for (std::string& text : strings) pointers.push_back(text.empty() ? nullptr : text.data());
        pointers.push_back(nullptr);
        const std::string dir = test::TestDir();
        int report[2] = {-1, -1};
        if (::openpty(&m_master, &m_terminal, nullptr, nullptr, nullptr) != 0 || ::pipe2(report, O_CLOEXEC) != 0)
            return;
        for (const int fd : {m_master, m_terminal}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::tcgetattr(m_terminal, &m_before);
        m_leader = ::fork();
        if (m_leader == 0) RunSession(m_terminal, report[1], pointers.data(), pointers.data() + 5, dir.c_str());
        ::close(report[1]);
        m_report = report[0];
        if (!Next(m_pid)) m_pid = -1;
    }
    ~MenuInTerminal() {
        if (!m_ended) Send(SIGKILL);
        if (m_leader > 0) test::WaitForChild(m_leader, Clock::now() + Patience);
        for (const int fd : {m_master, m_terminal, m_report}) ::close(fd);
    }

    // Sends signal to qxw by its process id, if it was started.
    void Send(int signal) const {
        if (m_pid > 0) ::kill(m_pid, signal);
    }
    void Type(const std::string& keys) { EXPECT_EQ(::write(m_master, keys.data(), keys.size()), ssize_t(keys.size())); }
    termios Mode() const {
        termios mode{};
        ::tcgetattr(m_terminal, &mode);
        return mode;
    }
    bool ModeIsAsBefore() const {
        const termios now = Mode();
        return now.c_iflag == m_before.c_iflag && now.c_oflag == m_before.c_oflag && now.c_cflag == m_before.c_cflag &&
               now.c_lflag == m_before.c_lflag && std::ranges::equal(now.c_cc, m_before.c_cc);
    }
    bool Shows(const std::string& text) {
        return Until([&] { return m_output.find(text) != std::string::npos; });
    }
    bool KeyModeIsOn() {
        return Until([&] { return (Mode().c_lflag & (ICANON | ECHO)) == 0; });
    }
    bool MenuAwaitsKey() { return Shows("Интерактивный выбор") && KeyModeIsOn(); }
    // qxw's next wait status: its stop or its end; it is killed when late.
    int NextStatus() {
        int status = -1;
        if (!Next(status)) {
            Send(SIGKILL);
            Next(status);
        }
        m_ended = m_ended || !WIFSTOPPED(status);
        return status;
    }
    const std::string& Output() const { return m_output; }

private:
    // Reads what the program shows until done() or the deadline.
    template <typename Done>
    bool Until(Done done) {
        const auto deadline = Clock::now() + Patience;
        for (pollfd shown{m_master, POLLIN, 0}; !done(); shown.revents = 0) {
            if (Clock::now() > deadline) return false;
            char buffer[512];
            const ssize_t count = ::poll(&shown, 1, 20) > 0 ? ::read(m_master, buffer, sizeof buffer) : 0;
            if (count > 0) m_output.append(buffer, size_t(count));
        }
        return true;
    }
    bool Next(int& value) {
        pollfd report{m_report, POLLIN, 0};
        return Until([&] { return ::poll(&report, 1, 0) > 0; }) &&
               ::read(m_report, &value, sizeof value) == ssize_t(sizeof value);
    }

    int m_master = -1, m_terminal = -1, m_report = -1;
    pid_t m_leader = -1, m_pid = -1;
    bool m_ended = false;
    termios m_before{};
    std::string m_output;
};

class QxwTerminal : public ::testing::Test {
protected:
    // Only connected to, by the menu's look for readers.
    test::DerimServer m_server{[](const test::DerimServer::Request&) { return binary::Binary(); }};
};

TEST_F(QxwTerminal, SignalAtTheReaderMenuEndsTheRunWithTheTerminalModeBack) {
    const struct {
        const char* name;
        int signal;
        const char* key;  // typed on the terminal; none: sent by kill to the process id
    } cases[] = {{"Ctrl-C", SIGINT, "\x03"}, {"SIGTERM", SIGTERM, nullptr}, {"SIGHUP", SIGHUP, nullptr}};
    for (const auto& row : cases) {
        MenuInTerminal menu(m_server.Port());
        ASSERT_TRUE(menu.MenuAwaitsKey()) << row.name << menu.Output();
        if (row.key != nullptr) {
            menu.Type(row.key);
        } else {
            menu.Send(row.signal);
        }
        const int status = menu.NextStatus();
        EXPECT_TRUE(menu.ModeIsAsBefore()) << row.name;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << row.name << " status " << status;
    }
}

// Ctrl-Z stops the run with the terminal's mode back; continued, the menu
// takes its key mode again and the next key chooses.
TEST_F(QxwTerminal, StopGivesTheTerminalBackAndContinueTakesTheKeyModeAgain) {
    MenuInTerminal menu(m_server.Port());
    ASSERT_TRUE(menu.MenuAwaitsKey()) << menu.Output();
    menu.Type("\x1a");
    const int stopped = menu.NextStatus();
    ASSERT_TRUE(WIFSTOPPED(stopped) && WSTOPSIG(stopped) == SIGTSTP) << stopped;
    EXPECT_TRUE(menu.ModeIsAsBefore());
    menu.Send(SIGCONT);
    ASSERT_TRUE(menu.KeyModeIsOn());
    menu.Type("m");
    EXPECT_TRUE(menu.Shows("Выбран reader = #OSM")) << menu.Output();
    const int ended = menu.NextStatus();
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0) << ended;
    EXPECT_TRUE(menu.ModeIsAsBefore());
}

}  // namespace
}  // namespace ZORVIK
