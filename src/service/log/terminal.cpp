#include "service/log/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

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

// Restores the terminal mode saved at construction.
class RawInput {
public:
    RawInput() {
        m_active = tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (!m_active) return;
        termios raw = m_saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        m_active = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawInput() {
        if (m_active) tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    RawInput(const RawInput&) = delete;
    RawInput& operator=(const RawInput&) = delete;
    bool Active() const { return m_active; }

private:
    termios m_saved{};
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
    RawInput raw;
    if (!raw.Active()) return;
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

}  // namespace ZORVIK::terminal
