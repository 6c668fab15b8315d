// The menu key read from a real terminal: a pseudo-terminal stands in for the
// console as standard input.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "sc/qxw/card_service_factory.h"
#include "service/common/exception.h"

namespace ZORVIK {
namespace {

// Standard input is the slave side of a fresh pseudo-terminal while it lives.
class PseudoTerminalInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
        m_savedStdin = ::dup(STDIN_FILENO);
        ASSERT_GE(m_savedStdin, 0);
        ASSERT_EQ(::dup2(m_slave, STDIN_FILENO), STDIN_FILENO);
    }
    void TearDown() override {
        ::dup2(m_savedStdin, STDIN_FILENO);
        ::close(m_savedStdin);
        ::close(m_slave);
        ::close(m_master);
    }

    void Type(const std::string& keys) const {
        ASSERT_EQ(::write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // What the terminal sent back (its echo) within timeoutMs.
    std::string Echoed(int timeoutMs) const {
        std::string text;
        pollfd fd{m_master, POLLIN, 0};
        while (::poll(&fd, 1, timeoutMs) > 0 && (fd.revents & POLLIN) != 0) {
            char buffer[64];
            const ssize_t count = ::read(m_master, buffer, sizeof buffer);
            if (count <= 0) break;
            text.append(buffer, static_cast<size_t>(count));
        }
        return text;
    }

    termios Mode() const {
        termios mode{};
        ::tcgetattr(m_slave, &mode);
        return mode;
    }

    int m_master = -1;
    int m_slave = -1;
    int m_savedStdin = -1;
};

TEST_F(PseudoTerminalInput, KeysOutsideTheAllowedOnesAreSkippedAndCarriageReturnCountsAsLineFeed) {
    Type("xM2m");
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("rRqQ01m"), 'm');
    Type("Rq");
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("rRqQ01m"), 'R');
    ::tcflush(m_slave, TCIFLUSH);  // the q left over
    termios mode = Mode();
    // Without the terminal's own CR-to-LF mapping the byte arrives as CR.
    mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
    ASSERT_EQ(::tcsetattr(m_slave, TCSANOW, &mode), 0);
    Type("a\r");
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("qQ\n"), '\n');
}

TEST_F(PseudoTerminalInput, KeyIsReadWithoutEchoAndWithoutLineEndAndTheModeIsRestored) {
    const termios before = Mode();
    ASSERT_NE(before.c_lflag & ECHO, 0u);
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    // Typed while the key is awaited: no Enter follows, and nothing may echo.
    std::thread typist([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        Type("q");
    });
    const char key = CardServiceFactory::ReadMenuKey("qQ");
    typist.join();
    EXPECT_EQ(key, 'q');
    EXPECT_EQ(Echoed(100), "");
    const termios after = Mode();
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
}

TEST_F(PseudoTerminalInput, ClosedInputIsAnErrorInsteadOfAnEndlessWait) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    ::dup2(devNull, STDIN_FILENO);
    ::close(devNull);
    EXPECT_THROW(CardServiceFactory::ReadMenuKey("qQ"), Exception);
}

}  // namespace
}  // namespace ZORVIK
