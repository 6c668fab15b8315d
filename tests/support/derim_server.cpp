#include "support/derim_server.h"

namespace ZORVIK::test {

DerimServer::DerimServer(Responder responder)
    : m_responder(std::move(responder)), m_server([this](int fd) { Serve(fd); }) {}

std::vector<DerimServer::Request> DerimServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

binary::Binary DerimServer::Reply(uint8_t type, const binary::Binary& body) {
    return binary::Binary{type} + binary::NumToBinary(body.size(), 4) + body;
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
        Request request{header[0],
                        LoopbackServer::ReadUpTo(fd, binary::NumCast<uint32_t>(binary::Slice(header, 1, 4)), 2000)};
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
