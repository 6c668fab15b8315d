#include "support/serial_reader_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace ZORVIK::test {

namespace {

constexpr uint8_t TypeCardBytes = 1;
constexpr uint8_t TypeDebug = 2;
constexpr uint8_t TypeControl = 3;
constexpr uint8_t TypePresence = 4;
constexpr uint8_t Ppss = 0xFF;

binary::Binary Frame(uint8_t type, const binary::Binary& payload) {
    binary::Binary packet{type, static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
    return packet + payload;
}

binary::Binary Drain(iByteLink& card) {
    binary::Binary out;
    uint8_t byte = 0;
    while (card.ReceiveByte(byte)) out.push_back(byte);
    return out;
}

}  // namespace

SerialReaderEmulator::SerialReaderEmulator(CardApplication application, Options options)
    : m_options(std::move(options)), m_application(std::move(application)) {
    termios raw{};
    ::cfmakeraw(&raw);
    char name[128] = {};
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        throw std::runtime_error("openpty failed: " + std::to_string(errno));
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_portPath = name;
    m_t1 = std::make_unique<T1CardModel>(m_application, m_options.edcLength);
    m_t1->faults = m_options.t1Faults;
    m_thread = std::thread([this] { Run(); });
}

SerialReaderEmulator::~SerialReaderEmulator() {
    m_stop = true;
    m_thread.join();
    ::close(m_master);
    ::close(m_slave);
}

void SerialReaderEmulator::InjectBeforeNextAnswer(const binary::Binary& raw) {
    std::lock_guard lock(m_mutex);
    m_injected.push_back(raw);
}

void SerialReaderEmulator::SendNow(const binary::Binary& raw) {
    std::lock_guard lock(m_mutex);
    Write(raw);
}

std::vector<SerialReaderEmulator::Packet> SerialReaderEmulator::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<binary::Binary> SerialReaderEmulator::PpsRequests() const {
    std::lock_guard lock(m_mutex);
    return m_ppsRequests;
}

std::vector<binary::Binary> SerialReaderEmulator::T0Headers() const {
    std::lock_guard lock(m_mutex);
    std::vector<binary::Binary> headers = m_t0Headers;
    if (m_t0) headers.insert(headers.end(), m_t0->headers.begin(), m_t0->headers.end());
    return headers;
}

std::vector<binary::Binary> SerialReaderEmulator::T1Blocks() const {
    std::lock_guard lock(m_mutex);
    return m_t1->received;
}

int SerialReaderEmulator::T1Resynchs() const {
    std::lock_guard lock(m_mutex);
    return m_t1->resynchs;
}

std::vector<CApdu> SerialReaderEmulator::Commands() const {
    std::lock_guard lock(m_mutex);
    if (m_options.card == CardKind::T1) return m_t1->commands;
    std::vector<CApdu> commands = m_t0Commands;
    if (m_t0) commands.insert(commands.end(), m_t0->commands.begin(), m_t0->commands.end());
    return commands;
}

binary::Binary SerialReaderEmulator::DebugPacket(uint16_t line, const std::string& file, const std::string& text) {
    binary::Binary payload{static_cast<uint8_t>(line >> 8), static_cast<uint8_t>(line)};
    payload.insert(payload.end(), file.begin(), file.end());
    payload.push_back(0);
    payload.insert(payload.end(), text.begin(), text.end());
    payload.push_back(0);
    return Frame(TypeDebug, payload);
}

void SerialReaderEmulator::Run() {
    while (!m_stop) {
        pollfd entry{m_master, POLLIN, 0};
        if (::poll(&entry, 1, 10) <= 0 || (entry.revents & POLLIN) == 0) {
            // With the host's side closed the master reports a hang-up; wait for the next open.
            if (entry.revents != 0) ::usleep(2000);
            continue;
        }
        uint8_t buffer[512];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0) continue;
        std::lock_guard lock(m_mutex);
        m_input.insert(m_input.end(), buffer, buffer + got);
        while (m_input.size() >= 3) {
            const size_t length = static_cast<size_t>(m_input[1]) << 8 | m_input[2];
            if (m_input.size() < 3 + length) break;
            const uint8_t type = m_input[0];
            const binary::Binary payload(m_input.begin() + 3,
                                         m_input.begin() + 3 + static_cast<std::ptrdiff_t>(length));
            m_input.erase(m_input.begin(), m_input.begin() + 3 + static_cast<std::ptrdiff_t>(length));
            m_received.push_back({type, payload});
            OnPacket(type, payload);
        }
    }
}

void SerialReaderEmulator::OnPacket(uint8_t type, const binary::Binary& payload) {
    switch (type) {
        case TypeControl:
            if (payload.size() == 1 && payload[0] <= 1) PowerUp();
            return;
        case TypePresence:
            if (m_options.answerPresence) Answer(TypePresence, {});
            return;
        case TypeCardBytes: break;
        default: return;  // the firmware ignores what it does not know
    }
    if (!m_powered) return;
    if (m_ppsWindow && !payload.empty() && payload[0] == Ppss) {
        m_ppsWindow = false;
        m_ppsRequests.push_back(payload);
        if (m_options.pps == PpsAnswer::Echo) Answer(TypeCardBytes, payload);
        if (m_options.pps == PpsAnswer::Mismatch) {
            // The card confirms the protocol but not the transmission parameters.
            binary::Binary refused = payload;
            if (refused.size() == 4) refused = binary::Binary{Ppss, static_cast<uint8_t>(refused[1] & 0x0F), 0, 0};
            refused.back() = 0;
            for (size_t i = 0; i + 1 < refused.size(); ++i) refused.back() ^= refused[i];
            Answer(TypeCardBytes, refused);
        }
        return;
    }
    m_ppsWindow = false;
    iByteLink& card = m_options.card == CardKind::T1 ? static_cast<iByteLink&>(*m_t1) : *m_t0;
    card.SendBytes(payload.data(), static_cast<uint32_t>(payload.size()));
    const binary::Binary answer = Drain(card);
    if (!answer.empty()) Answer(TypeCardBytes, answer);
}

void SerialReaderEmulator::PowerUp() {
    m_powered = true;
    m_ppsWindow = true;
    if (m_t0) {
        m_t0Headers.insert(m_t0Headers.end(), m_t0->headers.begin(), m_t0->headers.end());
        m_t0Commands.insert(m_t0Commands.end(), m_t0->commands.begin(), m_t0->commands.end());
    }
    m_t0 = std::make_unique<T0CardModel>(m_application);
    if (m_options.silentCard) m_t0->silentAfter = 0;
    m_t1->Reset();
    if (!m_options.answerPowerOn) return;
    // The ATR in two packets, so that the host has to join them.
    const binary::Binary& atr = m_options.atr;
    const size_t split = atr.size() / 2;
    Answer(TypeCardBytes, binary::Binary(atr.begin(), atr.begin() + static_cast<std::ptrdiff_t>(split)));
    Write(Frame(TypeCardBytes, binary::Binary(atr.begin() + static_cast<std::ptrdiff_t>(split), atr.end())));
}

void SerialReaderEmulator::Answer(uint8_t type, const binary::Binary& payload) {
    while (!m_injected.empty()) {
        Write(m_injected.front());
        m_injected.pop_front();
    }
    Write(Frame(type, payload));
}

void SerialReaderEmulator::Write(const binary::Binary& raw) {
    size_t written = 0;
    while (written < raw.size()) {
        const ssize_t put = ::write(m_master, raw.data() + written, raw.size() - written);
        if (put > 0) {
            written += static_cast<size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd entry{m_master, POLLOUT, 0};
            ::poll(&entry, 1, 10);
        }
    }
}

}  // namespace ZORVIK::test
