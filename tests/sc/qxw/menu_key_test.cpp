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
        ASSERT_EQ(::dup2(m_slave, STDIN_FILENO), STDIN_FILENO);
    }
    void TearDown() override {
        ::dup2(m_savedStdin, STDIN_FILENO);
        for (const int fd : {m_savedStdin, m_slave, m_master}) ::close(fd);
    }
    void Type(const std::string& keys) const {
        ASSERT_EQ(::write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
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

// Typed while the key is awaited: no Enter follows, nothing may echo, and the
// terminal's mode comes back afterwards.
TEST_F(PseudoTerminalInput, KeyIsReadWithoutEchoAndWithoutLineEndAndTheModeIsRestored) {
    const termios before = Mode();
    ASSERT_NE(before.c_lflag & ECHO, 0u);
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    std::thread typist([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        Type("xM2m");  // keys outside the allowed ones are skipped
    });
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("rRqQ01m"), 'm');
    typist.join();
    pollfd echo{m_master, POLLIN, 0};
    EXPECT_EQ(::poll(&echo, 1, 100), 0);
    EXPECT_EQ(Mode().c_lflag, before.c_lflag);
    EXPECT_EQ(Mode().c_cc[VMIN], before.c_cc[VMIN]);
}

TEST_F(PseudoTerminalInput, CarriageReturnCountsAsLineFeedAndClosedInputIsAnError) {
    termios mode = Mode();
    // Without the terminal's own CR-to-LF mapping the byte arrives as CR.
    mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
    ASSERT_EQ(::tcsetattr(m_slave, TCSANOW, &mode), 0);
    Type("a\r");
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("qQ\n"), '\n');
    // A closed console input ends the wait with an error instead of waiting for ever.
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, STDIN_FILENO);
    ::close(devNull);
    EXPECT_THROW(CardServiceFactory::ReadMenuKey("qQ"), Exception);
}

}  // namespace
}  // namespace ZORVIK
