#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "service/log/log.h"
#include "service/log/recording_log.h"
#include "service/log/terminal.h"

namespace ZORVIK {
namespace {

// Puts a descriptor in place of standard input or output for the life of the object.
class Redirect {
public:
    Redirect(int stream, int target) : m_stream(stream), m_saved((std::fflush(stdout), dup(stream))) {
        dup2(target, stream);
    }
    ~Redirect() {
        std::fflush(stdout);
        dup2(m_saved, m_stream);
        close(m_saved);
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;

private:
    int m_stream;
    int m_saved;
};

std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    pollfd input{fd, POLLIN, 0};
    while (poll(&input, 1, 200) > 0 && (input.revents & POLLIN)) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) break;
        text.append(buffer, static_cast<size_t>(count));
    }
    return text;
}

TEST(ConsLog, OnATerminalRecordsAreColouredAndThePauseWaitsForOneKeyThenRestoresTheTerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal";
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    // Keep the bytes as written (no LF -> CR LF) and without echo.
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_oflag &= static_cast<tcflag_t>(~OPOST);
    before.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    // A line typed before the record, waiting to be read: the pause discards it.
    ASSERT_EQ(write(master, "early\n", 6), 6);
    pollfd typed{slave, POLLIN, 0};
    ASSERT_EQ(poll(&typed, 1, 5000), 1);
    // Types a key once the pause has switched the terminal to reading single keys.
    std::thread typist([&] {
        termios mode{};
        for (int i = 0; i < 1000 && tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ICANON); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(write(master, "k", 1), 1);
    });
    const auto start = std::chrono::steady_clock::now();
    {
        Redirect input(STDIN_FILENO, slave);
        Redirect output(STDOUT_FILENO, slave);
        ConsLog log(nullptr);
        log.SetPause(6, 30);
        log.WriteRec(LogRecord(1, "below the pause level", true));
        log.WriteRec(LogRecord(7, "stop", true));
        // Only a non-empty NO_COLOR turns the colours off.
        setenv("NO_COLOR", "", 1);
        EXPECT_TRUE(terminal::WantsColour(stdout));
        setenv("NO_COLOR", "1", 1);
        EXPECT_FALSE(terminal::WantsColour(stdout));
        unsetenv("NO_COLOR");
    }
    typist.join();
    // The key ended the wait long before the 30 s limit, and it was consumed.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    // ANSI SGR 96 bright cyan (0x0B), 91 bright red (0x0C); 0 resets.
    EXPECT_EQ(Drain(master),
              "\x1b[0;96mbelow the pause level\n\x1b[0m\x1b[0;91mstop\n\x1b[0mPress any key for continue\n");
    char left = 0;
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    EXPECT_EQ(read(slave, &left, 1), -1);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(slave);
    close(master);
}

TEST(TerminalColours, WindowsAttributesBecomeAnsiSgr) {
    // Windows: 0x01 blue, 0x02 green, 0x04 red, 0x08 intensity; ANSI: 30 + (red 1, green 2, blue 4), bright 90 +.
    const std::pair<int32_t, const char*> cases[] = {
        {0x00, "\x1b[0;30m"}, {0x01, "\x1b[0;34m"}, {0x02, "\x1b[0;32m"},    {0x04, "\x1b[0;31m"},
        {0x0B, "\x1b[0;96m"}, {0x0E, "\x1b[0;93m"}, {0x1F, "\x1b[0;97;44m"}, {0xC0, "\x1b[0;30;101m"},
    };
    for (const auto& [attribute, sgr] : cases) EXPECT_EQ(terminal::SgrForAttribute(attribute), sgr) << attribute;
}

}  // namespace
}  // namespace ZORVIK
