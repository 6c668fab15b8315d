#include "support/vpcd_card.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"
#include "support/loopback_server.h"

namespace ZORVIK::test {

using binary::Binary;

const char* const VpcdCardModel::AtrT0 = "3B 02 14 50";
const char* const VpcdCardModel::AtrT1 = "3B 80 01 81";
const char* const VpcdCardModel::AtrBoth = "3B 80 80 01 01";
const char* const VpcdCardModel::Aid = "F0 5A 4F 52 56 49 4B 01";
const char* const VpcdCardModel::Fci = "6F 0F 84 08 F0 5A 4F 52 56 49 4B 01 A5 03 88 01 01";
const char* const VpcdCardModel::DataObject = "01 02 03 04 05 06 07 08";

Binary VpcdCardModel::Process(const Binary& frame) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.push_back(frame);
    if (frame.size() != 1) return Execute(frame);
    if (frame[0] == 4) return m_atr;
    m_pending.clear();
    m_envelope.clear();
    return {};
}

std::vector<Binary> VpcdCardModel::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

Binary VpcdCardModel::Pend(const Binary& data) {
    m_pending = data;
    // ISO/IEC 7816-4, 5.3.4: 61xx, xx bytes still available (00: 256 or more).
    return Binary{0x61, static_cast<uint8_t>(data.size() >= 256 ? 0 : data.size())};
}

Binary VpcdCardModel::Execute(const Binary& bytes) {
    CApdu command;
    try {
        command.DecodeCanonical(bytes);  // ISO/IEC 7816-4, 5.1: TPDUs of T=0 decode as APDUs too
    } catch (const Exception&) {
        return Binary("67 00");
    }
    if (command.ins == 0xC0) {  // GET RESPONSE: at most Ne (256 without Le) of what waits
        if (m_pending.empty()) return Binary("69 85");
        const size_t take = std::min<size_t>(command.ne == 0 ? 256 : command.ne, m_pending.size());
        Binary part = binary::Slice(m_pending, 0, static_cast<uint32_t>(take));
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(take));
        if (m_pending.empty()) return part + Binary("90 00");
        return part + Binary{0x61, static_cast<uint8_t>(m_pending.size() >= 256 ? 0 : m_pending.size())};
    }
    m_pending.clear();
    if (command.ins == 0xC2) {  // ENVELOPE: pieces of a command, then an empty one that runs it
        if (!command.data.empty()) {
            m_envelope += command.data;
            return Binary("90 00");
        }
        Binary answer = Execute(m_envelope);
        m_envelope.clear();
        if (answer.size() <= 2) return answer;
        answer.resize(answer.size() - 2);
        return Pend(answer);
    }
    Binary data;
    if (command.ins == 0xA4 && command.p1 == 0x04) {  // SELECT by DF name
        if (command.data != Binary(Aid)) return Binary("6A 82");
        data = Binary(Fci);
    } else if (command.ins == 0xB0) {  // READ BINARY, offset in P1 (bits 7..1) and P2
        const uint32_t offset = static_cast<uint32_t>(command.p1 & 0x7F) << 8 | command.p2;
        if (offset >= FileSize) return Binary("6B 00");
        for (uint32_t i = offset; i < std::min(offset + command.ne, FileSize); ++i)
            data.push_back(static_cast<uint8_t>(i));
    } else if (command.ins == 0xCA) {  // GET DATA
        if (command.p1 != 0x01 || command.p2 != 0x01) return Binary("6A 88");
        data = Binary(DataObject);
        // ISO/IEC 7816-3, 10.3.3: a wrong Le is answered with 6Cxx, xx the exact length.
        if (command.ne != data.size()) return Binary{0x6C, static_cast<uint8_t>(data.size())};
    } else if (command.ins == 0xEE) {  // echo of the command data
        data = command.data;
    } else {
        return Binary("6D 00");
    }
    if (command.ne == 0 && !m_t1 && !data.empty()) return Pend(data);
    data.resize(std::min<size_t>(data.size(), command.ne));
    return data + Binary("90 00");
}

bool VpcdCard::Insert(uint16_t port) {
    Remove();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // vpcd accepts only while pcscd polls the slot (every 400 ms): try for two seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(m_fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_thread = std::thread(&VpcdCard::Serve, this);
    return true;
}

void VpcdCard::Remove() {
    if (!m_thread.joinable()) return;
    ::shutdown(m_fd, SHUT_RDWR);
    m_thread.join();
    ::close(m_fd);
}

void VpcdCard::Serve() {
    constexpr int FrameTimeoutMs = 5000;
    const int one = 1;
    for (;;) {
        // vpcd writes a frame's length and its payload apart, without TCP_NODELAY:
        // an immediate ACK keeps Nagle's algorithm from holding the payload back
        // for the peer's delayed-ACK time (40 ms).
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const Binary header = LoopbackServer::ReadUpTo(m_fd, 2, -1);
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const size_t length = header.size() == 2 ? binary::NumCast<uint16_t>(header) : 0;
        const Binary payload = LoopbackServer::ReadUpTo(m_fd, length, FrameTimeoutMs);
        if (length == 0 || payload.size() < length) break;  // vpcd closed the link, or Remove shut it down
        const Binary answer = m_model.Process(payload);
        if (!answer.empty()) LoopbackServer::SendAll(m_fd, binary::NumToBinary(answer.size(), 2) + answer);
    }
}

}  // namespace ZORVIK::test
