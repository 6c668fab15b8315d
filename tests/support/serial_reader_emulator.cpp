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
constexpr uint8_t TypeControl = 3;
constexpr uint8_t TypePresence = 4;
constexpr uint8_t Ppss = 0xFF;

}  // namespace

SerialReaderEmulator::SerialReaderEmulator(const CardApplication& application, Options options)
    : m_options(std::move(options)) {
    // Every command either card runs is recorded, under the lock that OnPacket holds.
    m_application = [this, application](const CApdu& command) {
        m_commands.push_back(command);
        return application(command);
    };
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
    m_t1 = std::make_unique<T1CardModel>(m_application);
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

std::vector<binary::Binary> SerialReaderEmulator::T1Blocks() const {
    std::lock_guard lock(m_mutex);
    return m_t1->received;
}

std::vector<CApdu> SerialReaderEmulator::Commands() const {
    std::lock_guard lock(m_mutex);
    return m_commands;
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
            const uint32_t length = binary::NumCast<uint16_t>(binary::Slice(m_input, 1, 2));
            if (m_input.size() < 3 + length) break;
            m_received.push_back({m_input[0], binary::Slice(m_input, 3, length)});
            m_input.erase(m_input.begin(), m_input.begin() + 3 + length);
            OnPacket(m_received.back().type, m_received.back().payload);
        }
    }
}

void SerialReaderEmulator::OnPacket(uint8_t type, const binary::Binary& payload) {
    if (type == TypeControl && payload.size() == 1 && payload[0] <= 1) PowerUp();
    if (type == TypePresence && m_options.answerPresence) Answer(TypePresence, {});
    // The firmware ignores what it does not know, and card bytes while the card is off.
    if (type != TypeCardBytes || !m_powered) return;
    if (m_ppsWindow && !payload.empty() && payload[0] == Ppss) {
        m_ppsWindow = false;
        if (m_options.pps == PpsAnswer::Echo) Answer(TypeCardBytes, payload);
        if (m_options.pps == PpsAnswer::Mismatch) {
            // Another PPS1 (with its PCK): the card does not take the transmission parameters.
            binary::Binary other = payload;
            other[2] ^= 1;
            other.back() ^= 1;
            Answer(TypeCardBytes, other);
        }
        return;
    }
    m_ppsWindow = false;
    iByteLink& card = m_options.card == CardKind::T1 ? static_cast<iByteLink&>(*m_t1) : *m_t0;
    card.SendBytes(payload.data(), static_cast<uint32_t>(payload.size()));
    binary::Binary answer;
    for (uint8_t byte = 0; card.ReceiveByte(byte);) answer.push_back(byte);
    if (!answer.empty()) Answer(TypeCardBytes, answer);
}

void SerialReaderEmulator::PowerUp() {
    m_powered = true;
    m_ppsWindow = true;
    m_t0 = std::make_unique<T0CardModel>(m_application);
    if (m_options.silentCard) m_t0->silentAfter = 0;
    m_t1->Reset();
    // The ATR in two packets, so that the host has to join them.
    const binary::Binary& atr = m_options.atr;
    const auto split = static_cast<uint32_t>(atr.size() / 2);
    Answer(TypeCardBytes, binary::Slice(atr, 0, split));
    Answer(TypeCardBytes, binary::Slice(atr, split, static_cast<uint32_t>(atr.size()) - split));
}

void SerialReaderEmulator::Answer(uint8_t type, const binary::Binary& payload) {
    for (; !m_injected.empty(); m_injected.pop_front()) Write(m_injected.front());
    Write(binary::Binary{type} + binary::NumToBinary(payload.size(), 2) + payload);
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
