#include "support/derim_server.h"

namespace ZORVIK::test {

DerimServer::DerimServer(Responder responder)
    : m_responder(std::move(responder)), m_server([this](int fd) { Serve(fd); }) {}

std::vector<DerimServer::Request> DerimServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

binary::Binary DerimServer::Reply(uint8_t type, const binary::Binary& body) {
    binary::Binary wire{type, static_cast<uint8_t>(body.size() >> 24), static_cast<uint8_t>(body.size() >> 16),
                        static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
    return wire + body;
}

DerimServer::Responder DerimServer::Card(const binary::Binary& atr,
                                         std::function<binary::Binary(const binary::Binary&)> apdu) {
    return [atr, apdu](const Request& request) {
        switch (request.type) {
            case 0:
            case 1: return Reply(request.type, atr);
            case 2: return Reply(2, binary::Binary());
            default: return Reply(3, apdu(request.data));
        }
    };
}

void DerimServer::Serve(int fd) {
    for (;;) {
        const binary::Binary header = LoopbackServer::ReadUpTo(fd, 5, 2000);
        if (header.size() != 5) return;
        const size_t length = size_t{header[1]} << 24 | size_t{header[2]} << 16 | size_t{header[3]} << 8 | header[4];
        Request request{header[0], LoopbackServer::ReadUpTo(fd, length, 2000)};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        const binary::Binary reply = m_responder(request);
        if (reply.empty()) return;
        LoopbackServer::SendAll(fd, reply);
    }
}

}  // namespace ZORVIK::test
