#include "sc/qxw/console_key.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "service/common/exception.h"

namespace ZORVIK::console {

namespace {

// Puts the terminal into non-canonical mode without echo for one read and
// brings its mode back however the read ends.
class RawModeGuard {
public:
    explicit RawModeGuard(int fd) : m_fd(fd) {
        m_active = ::tcgetattr(fd, &m_saved) == 0;
        if (!m_active) return;
        termios raw = m_saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        // TCSANOW keeps keys typed before the prompt; TCSAFLUSH would drop them.
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    ~RawModeGuard() {
        if (m_active) ::tcsetattr(m_fd, TCSANOW, &m_saved);
    }
    RawModeGuard(const RawModeGuard&) = delete;
    RawModeGuard& operator=(const RawModeGuard&) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

}  // namespace

char ReadKey() {
    RawModeGuard guard(STDIN_FILENO);
    char key = 0;
    ssize_t count = 0;
    do {
        count = ::read(STDIN_FILENO, &key, 1);
    } while (count < 0 && errno == EINTR);
    if (count != 1)
        throw Exception("Консольный ввод закрыт: ожидаемая клавиша не может быть прочитана",
                        ZORVIK_PLACE("ZORVIK::console::ReadKey"));
    return key == '\r' ? '\n' : key;
}

}  // namespace ZORVIK::console
