#include "sc/drivers/iso/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace ZORVIK {

namespace {

constexpr speed_t SpeedCodes[] = {B300, B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};

// Waits until fd is ready for the events; timeoutMs 0 waits without limit.
// The wait restarts after a signal with the time that is left.
bool WaitFor(int fd, short events, uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs != 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, wait);
        if (ready > 0) return (entry.revents & (events | POLLHUP | POLLERR)) != 0;
        if (ready == 0 || errno != EINTR) return false;
    }
}

}  // namespace

SerialPort::~SerialPort() { Close(); }

std::string SerialPort::DevicePath(const std::string& name) {
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

bool SerialPort::Open(const std::string& name, uint32_t baudIndex, uint32_t framing) {
    Close();
    if (baudIndex >= std::size(SpeedCodes) || framing > Framing7E1) return false;
    const int fd = ::open(DevicePath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios mode{};
    bool configured = ::ioctl(fd, TIOCEXCL) == 0 && ::tcgetattr(fd, &mode) == 0;
    if (configured) {
        ::cfmakeraw(&mode);
        mode.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        mode.c_cflag |= CLOCAL | CREAD | (framing == Framing8N1 ? CS8 : (CS7 | PARENB));
        mode.c_cc[VMIN] = 0;
        mode.c_cc[VTIME] = 0;
        configured = ::cfsetispeed(&mode, SpeedCodes[baudIndex]) == 0 &&
                     ::cfsetospeed(&mode, SpeedCodes[baudIndex]) == 0 && ::tcsetattr(fd, TCSANOW, &mode) == 0;
    }
    if (!configured) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_timeoutMs = 1;
    m_hasLookAhead = false;
    return true;
}

void SerialPort::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_hasLookAhead = false;
}

bool SerialPort::ReadByte(uint8_t& byte) {
    if (m_hasLookAhead) {
        m_hasLookAhead = false;
        byte = m_lookAhead;
        return true;
    }
    if (m_fd < 0) return false;
    for (;;) {
        if (!WaitFor(m_fd, POLLIN, m_timeoutMs)) return false;
        const ssize_t got = ::read(m_fd, &byte, 1);
        if (got == 1) return true;
        // A spurious wake-up reads nothing; anything else ends the read.
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        return false;
    }
}

bool SerialPort::ReadWithTimeout(uint8_t& byte, uint32_t timeoutMs) {
    m_timeoutMs = timeoutMs;
    return ReadByte(byte);
}

bool SerialPort::ReadByteTimed(uint8_t& byte, bool consume, uint32_t timeoutMs) {
    if (!ReadWithTimeout(byte, timeoutMs)) return false;
    if (!consume) {
        m_lookAhead = byte;
        m_hasLookAhead = true;
    }
    return true;
}

bool SerialPort::WriteByte(uint8_t byte) { return WriteAll(&byte, 1); }

bool SerialPort::Write(const binary::Binary& bytes) { return WriteAll(bytes.data(), bytes.size()); }

bool SerialPort::WriteAll(const uint8_t* data, size_t size) {
    if (m_fd < 0) return false;
    // A write that the device does not take within this time fails, as the
    // write time-outs of a serial port would make it.
    const uint32_t timeoutMs = 50 + 10 * static_cast<uint32_t>(size);
    size_t written = 0;
    while (written < size) {
        const ssize_t put = ::write(m_fd, data + written, size - written);
        if (put > 0) {
            written += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return false;
        if (!WaitFor(m_fd, POLLOUT, timeoutMs)) return false;
    }
    return true;
}

}  // namespace ZORVIK
