#include "service/log/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "service/common/exception.h"
#include "service/common/signal_takeover.h"

namespace ZORVIK::terminal {

namespace {

constexpr int IntensityBit = 0x08;
constexpr int StepMilliseconds = 100;

// Windows orders the colour bits blue, green, red (0x01, 0x02, 0x04); ANSI
// numbers its colours red 1, green 2, blue 4.
int AnsiColourIndex(int bits) { return ((bits & 0x04) ? 1 : 0) | ((bits & 0x02) ? 2 : 0) | ((bits & 0x01) ? 4 : 0); }

int AnsiCode(int nibble, int normalBase, int brightBase) {
    return ((nibble & IntensityBit) ? brightBase : normalBase) + AnsiColourIndex(nibble);
}

// The signals that end a run from the terminal or by kill, and those of job
// control: while a key is awaited each of them gives the terminal its mode back.
constexpr int KeyWaitSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT};

// What the handler reads. Both modes are complete before the handler is
// installed, and it is removed before they change again.
termios g_givenMode{};                     // the terminal's own mode, given back on a signal
termios g_keyMode{};                       // non-canonical, without echo
std::atomic<bool> g_keyModeWanted{false};  // a key is awaited: a continued run takes g_keyMode again
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads the flags");

// A terminal in front of another process group belongs to the job in front,
// and tcsetattr from the background would stop this process (SIGTTOU). A
// terminal that is not the controlling one has no process group in front.
bool InBackground() {
    const pid_t front = ::tcgetpgrp(STDIN_FILENO);
    return front >= 0 && front != ::getpgrp();
}

void SetMode(const termios& mode) {
    if (!InBackground()) ::tcsetattr(STDIN_FILENO, TCSANOW, &mode);
}

// Only async-signal-safe calls: tcgetpgrp, getpgrp, tcsetattr, and sigaction,
// sigprocmask and raise in the signal helpers. Ctrl-Z stops the run with the
// terminal given back and the continued run takes the key mode again, as
// full-screen console programs do; a run continued in the background leaves
// the terminal alone until it is brought to the front (SIGCONT again).
void GiveTerminalBack(int signal) {
    const int savedErrno = errno;
    if (signal != SIGCONT) {
        SetMode(g_givenMode);
        if (signal != SIGTSTP) {
            signals::RaiseWithDefaultAction(signal);  // the run ends as this handler returns
            return;
        }
        // Returns once the process is continued, or at once where the kernel
        // discards the stop (a process group without a job-control shell).
        signals::StopWithDefaultAction(signal);
    }
    if (g_keyModeWanted.load()) SetMode(g_keyMode);
    errno = savedErrno;
}

// Puts the terminal of standard input into non-canonical mode without echo
// while it lives, and gives its mode back however the wait ends: on return,
// by an exception, or by a signal (where the program leaves that signal's
// action to the default). One key wait at a time, as the terminal is one.
class KeyMode {
public:
    KeyMode() {
        termios saved{};
        if (::tcgetattr(STDIN_FILENO, &saved) != 0) return;  // not a terminal: read as it comes
        g_givenMode = saved;
        g_keyMode = saved;
        g_keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        g_keyMode.c_cc[VMIN] = 1;
        g_keyMode.c_cc[VTIME] = 0;
        g_keyModeWanted.store(true);
        m_takeover.emplace(KeyWaitSignals, GiveTerminalBack);
        // TCSANOW keeps keys typed before the prompt; TCSAFLUSH would drop them.
        m_active = ::tcsetattr(STDIN_FILENO, TCSANOW, &g_keyMode) == 0;
    }
    ~KeyMode() {
        if (!m_takeover) return;
        g_keyModeWanted.store(false);
        SetMode(g_givenMode);
        // The mode is back before the signals take their own actions again.
        m_takeover.reset();
    }
    KeyMode(const KeyMode&) = delete;
    KeyMode& operator=(const KeyMode&) = delete;
    bool Active() const { return m_active; }

private:
    std::optional<signals::SignalTakeover> m_takeover;
    bool m_active = false;
};

}  // namespace

bool IsOpen(std::FILE* stream) {
    if (stream == nullptr) return false;
    const int fd = fileno(stream);
    return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

bool WantsColour(std::FILE* stream) {
    if (stream == nullptr) return false;
    const int fd = fileno(stream);
    if (fd < 0 || isatty(fd) != 1) return false;
    const char* noColour = std::getenv("NO_COLOR");
    return noColour == nullptr || noColour[0] == '\0';
}

std::string SgrForAttribute(int32_t attribute) {
    const int foreground = attribute & 0x0F;
    const int background = (attribute >> 4) & 0x0F;
    std::string text = "\x1b[0;";
    text += std::to_string(AnsiCode(foreground, 30, 90));
    if (background != 0) {
        text += ';';
        text += std::to_string(AnsiCode(background, 40, 100));
    }
    text += 'm';
    return text;
}

bool WriteAll(std::FILE* stream, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) return false;
    return std::fflush(stream) == 0;
}

bool IsInteractive() { return isatty(STDIN_FILENO) == 1; }

void WaitForKey(int32_t seconds) {
    if (seconds <= 0 || !IsInteractive()) return;
    KeyMode keyMode;
    if (!keyMode.Active()) return;
    tcflush(STDIN_FILENO, TCIFLUSH);
    pollfd input{STDIN_FILENO, POLLIN, 0};
    for (int64_t step = 0; step < int64_t{seconds} * 10; ++step) {
        if (poll(&input, 1, StepMilliseconds) > 0 && (input.revents & POLLIN)) {
            char key = 0;
            if (read(STDIN_FILENO, &key, 1) < 0) {
                // Nothing to consume after all; the wait is over either way.
            }
            return;
        }
    }
}

char ReadKey() {
    KeyMode keyMode;
    char key = 0;
    ssize_t count = 0;
    do {
        count = ::read(STDIN_FILENO, &key, 1);
    } while (count < 0 && errno == EINTR);
    if (count != 1)
        throw Exception("Консольный ввод закрыт: ожидаемая клавиша не может быть прочитана",
                        ZORVIK_PLACE("ZORVIK::terminal::ReadKey"));
    return key == '\r' ? '\n' : key;
}

}  // namespace ZORVIK::terminal
