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
        m_seen.commands.push_back(command);
        return application(command);
    };
    termios raw{};
    ::cfmakeraw(&raw);
    char name[128] = {};
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
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

SerialReaderEmulator::Seen SerialReaderEmulator::Observed() const {
    std::lock_guard lock(m_mutex);
    Seen seen = m_seen;
    seen.t1Blocks = m_t1->received;
    return seen;
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
            const binary::Binary payload = binary::Slice(m_input, 3, length);
            m_seen.packets.push_back(binary::Binary{m_input[0]} + payload);
            m_input.erase(m_input.begin(), m_input.begin() + 3 + length);
            OnPacket(m_seen.packets.back()[0], payload);
        }
    }
}

void SerialReaderEmulator::OnPacket(uint8_t type, const binary::Binary& payload) {
    if (type == TypePresence && m_options.answerPresence) Answer(TypePresence, {});
    if (type == TypeControl && payload.size() == 1 && payload[0] <= 1) {  // power-on or warm reset
        m_powered = true;
        m_ppsWindow = true;
        m_t0 = std::make_unique<T0CardModel>(m_application);
        if (m_options.silentCard) m_t0->silentAfter = 0;
        m_t1->Reset();
        // The ATR in two packets, so that the host has to join them.
        const auto split = static_cast<uint32_t>(m_options.atr.size() / 2);
        Answer(TypeCardBytes, binary::Slice(m_options.atr, 0, split));
        Answer(TypeCardBytes, binary::Slice(m_options.atr, split, static_cast<uint32_t>(m_options.atr.size()) - split));
    }
    // The firmware ignores what it does not know, and card bytes while the card is off.
    if (type != TypeCardBytes || !m_powered) return;
    if (m_ppsWindow && !payload.empty() && payload[0] == Ppss) {
        m_ppsWindow = false;
        // Mismatch: another PPS1 (with its PCK), the card does not take the transmission parameters.
        binary::Binary answer = payload;
        if (m_options.pps == PpsAnswer::Mismatch) {
            answer[2] ^= 1;
            answer.back() ^= 1;
        }
        if (m_options.pps != PpsAnswer::Silent) Answer(TypeCardBytes, answer);
        return;
    }
    m_ppsWindow = false;
    iByteLink& card = m_options.card == CardKind::T1 ? static_cast<iByteLink&>(*m_t1) : *m_t0;
    card.SendBytes(payload.data(), static_cast<uint32_t>(payload.size()));
    binary::Binary answer;
    for (uint8_t byte = 0; card.ReceiveByte(byte);) answer.push_back(byte);
    if (!answer.empty()) Answer(TypeCardBytes, answer);
}

// Injected bytes first; the packets are small, so that the blocking writes end at once.
void SerialReaderEmulator::Answer(uint8_t type, const binary::Binary& payload) {
    m_injected.push_back(binary::Binary{type} + binary::NumToBinary(payload.size(), 2) + payload);
    for (; !m_injected.empty(); m_injected.pop_front()) {
        for (size_t written = 0; written < m_injected.front().size();) {
            const ssize_t put =
                ::write(m_master, m_injected.front().data() + written, m_injected.front().size() - written);
            if (put < 0 && errno != EINTR) return;
            written += put > 0 ? static_cast<size_t>(put) : 0;
        }
    }
}

}  // namespace ZORVIK::test
