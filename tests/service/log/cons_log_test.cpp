#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
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

// Sets or clears NO_COLOR and puts the old value back afterwards.
class NoColourEnv {
public:
    explicit NoColourEnv(const char* value) {
        if (const char* old = std::getenv("NO_COLOR")) m_old = old;
        Put(value);
    }
    ~NoColourEnv() { Put(m_old ? m_old->c_str() : nullptr); }

private:
    static void Put(const char* value) { value ? setenv("NO_COLOR", value, 1) : unsetenv("NO_COLOR"); }
    std::optional<std::string> m_old;
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

void WriteSample(iLog& log) {
    log.WriteRec(LogRecord(7, "ошибка", true));
    log.WriteRec(LogRecord(1, "debug", true));
    log.Write("plain", 0x07, false);
}

TEST(ConsLog, PipedOutputHasNoEscapesAndNeverPauses) {
    NoColourEnv colour(nullptr);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    auto sink = std::make_shared<test::RecordingLog>();
    {
        Redirect input(STDIN_FILENO, pipeFds[0]);
        Redirect output(STDOUT_FILENO, pipeFds[1]);
        ConsLog log(sink);
        log.SetPause(6, 1000);
        WriteSample(log);
    }
    close(pipeFds[1]);
    EXPECT_EQ(Drain(pipeFds[0]), "ошибка\ndebug\nplain");
    close(pipeFds[0]);
    EXPECT_EQ(sink->records.size(), 3u);
}

TEST(ConsLog, ClosedStandardOutputSilencesTheChain) {
    auto sink = std::make_shared<test::RecordingLog>();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    close(STDOUT_FILENO);
    {
        ConsLog log(sink);
        WriteSample(log);
    }
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_TRUE(sink->records.empty());
}

class ConsLogOnTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) GTEST_SKIP() << "no pseudo-terminal";
        m_slave = open(ptsname(m_master), O_RDWR | O_NOCTTY);
        ASSERT_GE(m_slave, 0);
        // Keep the bytes as written (no LF -> CR LF) and without echo.
        termios mode{};
        ASSERT_EQ(tcgetattr(m_slave, &mode), 0);
        mode.c_oflag &= static_cast<tcflag_t>(~OPOST);
        mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ASSERT_EQ(tcsetattr(m_slave, TCSANOW, &mode), 0);
    }
    void TearDown() override {
        if (m_slave >= 0) close(m_slave);
        if (m_master >= 0) close(m_master);
    }
    std::string Shown(const char* noColour) {
        NoColourEnv colour(noColour);
        {
            Redirect redirect(STDOUT_FILENO, m_slave);
            ConsLog log(nullptr);
            WriteSample(log);
        }
        return Drain(m_master);
    }

    int m_master = -1;
    int m_slave = -1;
};

TEST_F(ConsLogOnTerminal, EachRecordInItsColourUnlessNoColorIsSet) {
    // ANSI SGR: 91 bright red (0x0C), 96 bright cyan (0x0B), 37 white (0x07); 0 resets.
    const std::string coloured = "\x1b[0;91mошибка\n\x1b[0m\x1b[0;96mdebug\n\x1b[0m\x1b[0;37mplain\x1b[0m";
    EXPECT_EQ(Shown(nullptr), coloured);
    EXPECT_EQ(Shown(""), coloured);  // only a non-empty NO_COLOR counts
    EXPECT_EQ(Shown("1"), "ошибка\ndebug\nplain");
}

TEST_F(ConsLogOnTerminal, PauseDiscardsEarlyKeysWaitsForOneAndRestoresTheTerminal) {
    NoColourEnv colour("1");
    termios before{};
    ASSERT_EQ(tcgetattr(m_slave, &before), 0);
    // A line typed before the record, waiting to be read: the pause discards it.
    ASSERT_EQ(write(m_master, "early\n", 6), 6);
    pollfd typed{m_slave, POLLIN, 0};
    ASSERT_EQ(poll(&typed, 1, 5000), 1);
    // Types a key once the pause has switched the terminal to reading single keys.
    std::thread typist([this] {
        termios mode{};
        for (int i = 0; i < 1000 && tcgetattr(m_slave, &mode) == 0 && (mode.c_lflag & ICANON); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(write(m_master, "k", 1), 1);
    });
    const auto start = std::chrono::steady_clock::now();
    {
        Redirect input(STDIN_FILENO, m_slave);
        Redirect output(STDOUT_FILENO, m_slave);
        ConsLog log(nullptr);
        log.SetPause(6, 30);
        log.WriteRec(LogRecord(5, "below the pause level\n", false));
        log.WriteRec(LogRecord(6, "stop\n", false));
    }
    typist.join();
    // The key ended the wait long before the 30 s limit, and it was consumed.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(Drain(m_master), "below the pause level\nstop\nPress any key for continue\n");
    char left = 0;
    fcntl(m_slave, F_SETFL, fcntl(m_slave, F_GETFL) | O_NONBLOCK);
    EXPECT_EQ(read(m_slave, &left, 1), -1);
    termios after{};
    ASSERT_EQ(tcgetattr(m_slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
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
