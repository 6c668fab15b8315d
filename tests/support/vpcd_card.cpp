#include "support/vpcd_card.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "support/loopback_server.h"

namespace ZORVIK::test {

using binary::Binary;

const char* const VpcdCardModel::AtrT0 = "3B 02 14 50";
const char* const VpcdCardModel::AtrT1 = "3B 80 01 81";
const char* const VpcdCardModel::AtrBoth = "3B 80 80 01 01";
const char* const VpcdCardModel::Aid = "F0 5A 4F 52 56 49 4B 01";
const char* const VpcdCardModel::Fci = "6F 0F 84 08 F0 5A 4F 52 56 49 4B 01 A5 03 88 01 01";
const char* const VpcdCardModel::DataObject = "01 02 03 04 05 06 07 08";

namespace {

// A command decoded by the length rules of ISO/IEC 7816-4, 5.1.
struct Decoded {
    bool valid = false;
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    Binary data;
    uint32_t ne = 0;  // 0: no Le field
    bool hasLe = false;
};

Decoded Decode(const Binary& c) {
    Decoded d;
    const size_t n = c.size();
    if (n < 4) return d;
    d.cla = c[0];
    d.ins = c[1];
    d.p1 = c[2];
    d.p2 = c[3];
    if (n == 4) {
        d.valid = true;
    } else if (n == 5) {
        d.hasLe = true;
        d.ne = c[4] == 0 ? 256 : c[4];
        d.valid = true;
    } else if (c[4] != 0) {
        const size_t lc = c[4];
        if (n == 5 + lc || n == 6 + lc) {
            d.data.assign(c.begin() + 5, c.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
            if (n == 6 + lc) {
                d.hasLe = true;
                d.ne = c[n - 1] == 0 ? 256 : c[n - 1];
            }
            d.valid = true;
        }
    } else if (n == 7) {
        d.hasLe = true;
        const uint32_t le = static_cast<uint32_t>(c[5]) << 8 | c[6];
        d.ne = le == 0 ? 65536 : le;
        d.valid = true;
    } else if (n > 7) {
        const size_t lc = static_cast<size_t>(c[5]) << 8 | c[6];
        if (lc != 0 && (n == 7 + lc || n == 9 + lc)) {
            d.data.assign(c.begin() + 7, c.begin() + 7 + static_cast<std::ptrdiff_t>(lc));
            if (n == 9 + lc) {
                d.hasLe = true;
                const uint32_t le = static_cast<uint32_t>(c[n - 2]) << 8 | c[n - 1];
                d.ne = le == 0 ? 65536 : le;
            }
            d.valid = true;
        }
    }
    return d;
}

Binary Status(uint8_t sw1, uint8_t sw2) { return Binary{sw1, sw2}; }

Binary WithStatus(Binary data, uint8_t sw1, uint8_t sw2) {
    data.push_back(sw1);
    data.push_back(sw2);
    return data;
}

}  // namespace

VpcdCardModel::VpcdCardModel(Binary atr) : m_atr(std::move(atr)) {}

void VpcdCardModel::Control(uint8_t code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (code) {
        case 0: ++m_powerOffs; break;
        case 1: ++m_powerOns; break;
        case 2: ++m_resets; break;
        default: return;
    }
    m_pending.clear();
    m_envelope.clear();
}

std::vector<Binary> VpcdCardModel::Commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

Binary VpcdCardModel::Process(const Binary& command) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(command);
    return Execute(command);
}

Binary VpcdCardModel::Pend(const Binary& data) {
    m_pending = data;
    // ISO/IEC 7816-4, 5.3.4: 61xx, xx bytes still available (00: 256 or more).
    return Status(0x61, static_cast<uint8_t>(data.size() >= 256 ? 0 : data.size()));
}

Binary VpcdCardModel::Execute(const Binary& command) {
    const Decoded c = Decode(command);
    if (!c.valid) return Status(0x67, 0x00);
    const Binary noData;
    switch (c.ins) {
        case 0xA4: {  // SELECT by DF name
            if (c.p1 != 0x04) return Status(0x6A, 0x86);
            if (c.data != Binary(Aid)) return Status(0x6A, 0x82);
            const Binary fci(Fci);
            // Without Le (a case-4 command over T=0) the FCI waits for GET RESPONSE.
            if (!c.hasLe) return m_t1 ? Status(0x90, 0x00) : Pend(fci);
            return WithStatus(Slice(fci, 0, std::min<uint32_t>(c.ne, static_cast<uint32_t>(fci.size()))), 0x90, 0x00);
        }
        case 0xC0: {  // GET RESPONSE
            if (m_pending.empty()) return Status(0x69, 0x85);
            const uint32_t take = std::min<uint32_t>(c.hasLe ? c.ne : 256, static_cast<uint32_t>(m_pending.size()));
            Binary part = Slice(m_pending, 0, take);
            m_pending.erase(m_pending.begin(), m_pending.begin() + take);
            if (m_pending.empty()) return WithStatus(part, 0x90, 0x00);
            return WithStatus(part, 0x61, static_cast<uint8_t>(m_pending.size() >= 256 ? 0 : m_pending.size()));
        }
        case 0xB0: {  // READ BINARY, offset in P1 (bits 7..1) and P2
            const uint32_t offset = static_cast<uint32_t>(c.p1 & 0x7F) << 8 | c.p2;
            if (offset >= FileSize) return Status(0x6B, 0x00);
            const uint32_t wanted = c.hasLe ? c.ne : 256;
            const uint32_t take = std::min(wanted, FileSize - offset);
            Binary data(take);
            for (uint32_t i = 0; i < take; ++i) data[i] = static_cast<uint8_t>(offset + i);
            // ISO/IEC 7816-4: 6282, end of file reached before Ne bytes were read.
            return take < wanted ? WithStatus(data, 0x62, 0x82) : WithStatus(data, 0x90, 0x00);
        }
        case 0xCA: {  // GET DATA
            if (c.p1 != 0x01 || c.p2 != 0x01) return Status(0x6A, 0x88);
            const Binary object(DataObject);
            // ISO/IEC 7816-3, 10.3.3: wrong Le, 6Cxx gives the exact length.
            if (c.ne != object.size()) return Status(0x6C, static_cast<uint8_t>(object.size()));
            return WithStatus(object, 0x90, 0x00);
        }
        case 0xEE: {  // echo of the command data
            if (!c.hasLe) return c.data.empty() || m_t1 ? Status(0x90, 0x00) : Pend(c.data);
            return WithStatus(Slice(c.data, 0, std::min<uint32_t>(c.ne, static_cast<uint32_t>(c.data.size()))), 0x90,
                              0x00);
        }
        case 0xC2: {  // ENVELOPE (ISO/IEC 7816-4, 7.6.2): pieces, then an empty one
            if (!c.data.empty()) {
                m_envelope += c.data;
                return Status(0x90, 0x00);
            }
            const Binary inner = std::move(m_envelope);
            m_envelope.clear();
            Binary answer = Execute(inner);
            if (answer.size() <= 2) return answer;
            answer.resize(answer.size() - 2);
            return Pend(answer);
        }
        default: return Status(0x6D, 0x00);
    }
}

// ---------------------------------------------------------------------------

VpcdCard::VpcdCard(const char* atrHex) : m_model(Binary(atrHex)) {}

VpcdCard::~VpcdCard() { Remove(); }

bool VpcdCard::Insert(uint16_t port) {
    Remove();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // vpcd accepts only while pcscd polls the slot (every 400 ms): try for two seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_fd = fd;
    m_stop = false;
    m_connected = true;
    m_thread = std::thread(&VpcdCard::Serve, this);
    return true;
}

void VpcdCard::Remove() {
    if (!m_thread.joinable()) return;
    m_stop = true;
    ::shutdown(m_fd, SHUT_RDWR);
    m_thread.join();
    ::close(m_fd);
    m_fd = -1;
    m_connected = false;
}

void VpcdCard::Serve() {
    constexpr int kFrameTimeoutMs = 5000;
    while (!m_stop) {
        pollfd wait{m_fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, 100);
        if (ready < 0) break;
        if (ready == 0) continue;
        // vpcd writes a frame's length and its payload apart, without TCP_NODELAY:
        // an immediate ACK keeps Nagle's algorithm from holding the payload back
        // for the peer's delayed-ACK time (40 ms).
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const Binary header = LoopbackServer::ReadUpTo(m_fd, 2, kFrameTimeoutMs);
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        if (header.size() < 2) break;  // vpcd closed the link
        const size_t length = static_cast<size_t>(header[0]) << 8 | header[1];
        const Binary payload = LoopbackServer::ReadUpTo(m_fd, length, kFrameTimeoutMs);
        if (payload.size() < length) break;
        Binary answer;
        if (length == 1) {
            // vpcd's control codes: 0 power off, 1 power on, 2 reset, 4 ATR request.
            if (payload[0] != 4) {
                m_model.Control(payload[0]);
                continue;
            }
            answer = m_model.Atr();
        } else {
            answer = m_model.Process(payload);
        }
        // A frame carries at most 65,535 bytes; a longer answer could not be framed.
        if (answer.size() > 0xFFFF) answer = Binary{0x6F, 0x00};
        Binary frame{static_cast<uint8_t>(answer.size() >> 8), static_cast<uint8_t>(answer.size())};
        frame += answer;
        LoopbackServer::SendAll(m_fd, frame);
    }
    m_connected = false;
}

}  // namespace ZORVIK::test
