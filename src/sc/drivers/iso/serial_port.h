// A serial port over termios for the serial-port reader: raw 8N1 or 7E1 framing
// at one of nine baud rates, byte reads bounded in time with poll, and a
// one-byte look-ahead.
#pragma once

#include <cstdint>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK {

class SerialPort {
public:
    static constexpr uint32_t Framing8N1 = 0;
    static constexpr uint32_t Framing7E1 = 1;

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // A port name without '/' names a device under /dev/ ("CNCB0" is /dev/CNCB0).
    static std::string DevicePath(const std::string& name);

    // Opens the device for exclusive use at the rate of baudIndex 0 to 8 (300,
    // 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 Bd); false when it cannot
    // be opened or configured, or baudIndex or framing is out of range.
    bool Open(const std::string& name, uint32_t baudIndex, uint32_t framing);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // One byte with the time-out last set (1 ms after Open); the look-ahead
    // byte first when one is held.
    bool ReadByte(uint8_t& byte);
    // Sets the time-out (0: wait without limit) and reads one byte.
    bool ReadWithTimeout(uint8_t& byte, uint32_t timeoutMs);
    // As ReadWithTimeout; without consume the byte stays as look-ahead.
    bool ReadByteTimed(uint8_t& byte, bool consume, uint32_t timeoutMs);
    // Write everything or fail: false on a closed port, an error of the device,
    // or when the device does not take the bytes within the write time-out
    // (50 ms plus 10 ms a byte).
    bool WriteByte(uint8_t byte);
    bool Write(const binary::Binary& bytes);

private:
    bool WriteAll(const uint8_t* data, size_t size);

    int m_fd = -1;
    uint32_t m_timeoutMs = 1;
    bool m_hasLookAhead = false;
    uint8_t m_lookAhead = 0;
};

}  // namespace ZORVIK
