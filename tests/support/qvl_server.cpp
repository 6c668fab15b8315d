#include "support/qvl_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "sc/drivers/qvl/qvl_link.h"
#include "sc/exchange/protocol_t1.h"

namespace ZORVIK::test {

namespace {

using binary::Binary;

constexpr int ReadTimeoutMs = 10000;

Binary Le(uint64_t value, size_t bytes) {
    Binary out;
    for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

uint16_t Le16(const Binary& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

// A message from the model: size, packet id, four reserved bytes, model time, payload.
Binary ModelMessage(uint16_t packetId, uint64_t modelTime, const Binary& payload) {
    return Le(QvlLink::HeaderSize + payload.size(), 2) + Le(packetId, 2) + Le(0, 4) + Le(modelTime, 8) + payload;
}

}  // namespace

QvlServer::QvlServer(CardApplication application, Options options)
    : m_application(std::move(application)), m_options(std::move(options)) {
    m_server = std::make_unique<LoopbackServer>([this](int fd) { Serve(fd); });
}

void QvlServer::Serve(int fd) {
    std::unique_ptr<T0CardModel> card;
    Binary beforeReset;
    uint64_t modelTime = 1000;
    size_t messages = 0;
    auto sendCharacter = [&](uint8_t character) {
        if (m_options.chatter) {
            LoopbackServer::SendAll(
                fd, ModelMessage(QvlLink::ModelMessage, modelTime, Binary{QvlLink::IsoClock, 0} + Le(modelTime, 8)));
            LoopbackServer::SendAll(fd, ModelMessage(0x1234, modelTime, Binary{0xAA, 0xBB, 0xCC}));
        }
        LoopbackServer::SendAll(
            fd, ModelMessage(QvlLink::ModelMessage, ++modelTime, Binary{QvlLink::CardCharacter, 0, character}));
    };
    for (;;) {
        const Binary header = LoopbackServer::ReadUpTo(fd, QvlLink::HeaderSize, ReadTimeoutMs);
        if (header.size() < QvlLink::HeaderSize || Le16(header, 0) < QvlLink::HeaderSize) return;
        const size_t size = Le16(header, 0) - QvlLink::HeaderSize;
        const Binary payload = LoopbackServer::ReadUpTo(fd, size, ReadTimeoutMs);
        if (payload.size() != size) return;
        const uint16_t command = payload.size() >= 2 ? Le16(payload, 0) : 0;
        {
            std::lock_guard lock(m_mutex);
            m_seen.messages.push_back(header + payload);
        }
        if (m_options.busy) {
            LoopbackServer::SendAll(fd, ModelMessage(QvlLink::ServerBusy, modelTime, {}));
            return;
        }
        if (m_options.closeAfter != 0 && ++messages >= m_options.closeAfter) return;
        if (Le16(header, 2) != QvlLink::HostMessage) continue;

        if (command == QvlLink::ResetCommand) {
            card = std::make_unique<T0CardModel>(m_application);
            {
                std::lock_guard lock(m_mutex);
                m_seen.cardInput.emplace_back();
            }
            for (const uint8_t character : m_options.atr) sendCharacter(character);
            continue;
        }
        if (command != QvlLink::CharacterCommand || payload.size() < 4) continue;
        const uint8_t character = payload[2];
        {
            std::lock_guard lock(m_mutex);
            m_seen.parityErrors += payload[3] != QvlLink::ParityBit(character) ? 1 : 0;
            if (card) m_seen.cardInput.back().push_back(character);
        }
        if (!card) {
            // Before the first reset only a T=1 S(WTX request) gets an answer.
            beforeReset.push_back(character);
            if (m_options.answerWtx && beforeReset.size() == 5 && beforeReset[1] == 0xC3) {
                Binary answer{0x00, 0xE3, 0x01, beforeReset[3]};
                answer.push_back(Protocol_T1::CalcLrc(answer.data(), answer.size()));
                for (const uint8_t byte : answer) sendCharacter(byte);
                beforeReset.clear();
            }
            continue;
        }
        card->SendBytes(&character, 1);
        for (uint8_t answer = 0; card->ReceiveByte(answer);) sendCharacter(answer);
    }
}

QvlServer::Seen QvlServer::Observed() const {
    std::lock_guard lock(m_mutex);
    return m_seen;
}

QvlPortRefuser::QvlPortRefuser() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(m_fd);
        throw std::runtime_error("no loopback port to hold");
    }
    m_port = ntohs(address.sin_port);
}

QvlPortRefuser::~QvlPortRefuser() { ::close(m_fd); }

}  // namespace ZORVIK::test
