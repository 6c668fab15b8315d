// A direct-network card server on 127.0.0.1 for tests: reads request packages
// (type, big-endian length, data), records them and answers each with the
// reply that the test's responder builds.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "service/common/binary.h"
#include "support/loopback_server.h"

namespace ZORVIK::test {

class DerimServer {
public:
    struct Request {
        uint8_t type;
        binary::Binary data;
    };
    // Returns the whole reply as sent on the wire; an empty reply closes the connection.
    using Responder = std::function<binary::Binary(const Request&)>;

    explicit DerimServer(Responder responder);
    uint16_t Port() const { return m_server.Port(); }
    std::vector<Request> Requests() const;
    int Connections() const { return m_server.ConnectionsServed(); }

    // Header (type, big-endian length of body) and body.
    static binary::Binary Reply(uint8_t type, const binary::Binary& body);
    // A card behind the server: ATR 3B 00 for power-on and reset, and for a command
    // the body "SW1 SW2 data" that the card model gives for it.
    static Responder Card(const binary::Binary& atr, std::function<binary::Binary(const binary::Binary&)> apdu);

private:
    void Serve(int fd);

    Responder m_responder;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    LoopbackServer m_server;  // last: it starts serving once everything else is built
};

}  // namespace ZORVIK::test
