// The hardware model for tests: a server on a port of 127.0.0.1 that the system
// hands out, speaking the QVL link's messages (16-byte little-endian header) and
// modelling a T=0 card character by character, checking the parity bit of every
// character it gets.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "service/common/binary.h"
#include "support/loopback_server.h"
#include "support/t0_card_model.h"

namespace ZORVIK::test {

class QvlServer {
public:
    struct Options {
        binary::Binary atr{0x3B, 0x02, 0x14, 0x50};
        bool busy = false;       // answer the first message with "server busy"
        bool chatter = false;    // an ISO clock message and a foreign message before every character
        bool answerWtx = false;  // answer an S(WTX request) that arrives before the first reset
        size_t closeAfter = 0;   // close the connection once this many host messages came (0: never)
    };

    // What the model has seen: the host's messages, whole; the characters whose
    // parity bit did not make them even; the characters the card got, one run per reset.
    struct Seen {
        std::vector<binary::Binary> messages;
        int parityErrors = 0;
        std::vector<binary::Binary> cardInput;
    };

    QvlServer(CardApplication application, Options options);
    uint16_t Port() const { return m_server->Port(); }
    Seen Observed() const;

private:
    void Serve(int fd);

    CardApplication m_application;
    Options m_options;
    mutable std::mutex m_mutex;
    Seen m_seen;
    std::unique_ptr<LoopbackServer> m_server;  // last: serves once everything else is built
};

// Holds a port of 127.0.0.1 bound but not listening, so that a connect to it is
// refused and no other server can take the port meanwhile.
class QvlPortRefuser {
public:
    QvlPortRefuser();
    uint16_t Port() const { return m_port; }
    ~QvlPortRefuser();
    QvlPortRefuser(const QvlPortRefuser&) = delete;
    QvlPortRefuser& operator=(const QvlPortRefuser&) = delete;

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

}  // namespace ZORVIK::test
