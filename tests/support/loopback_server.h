// A TCP server on 127.0.0.1 for tests: accepts connections one after another
// on its own thread and hands each to a handler; stopped and joined on destruction.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "service/common/binary.h"

namespace ZORVIK::test {

class LoopbackServer {
public:
    // Handler gets the connected descriptor; the server closes it afterwards.
    using Handler = std::function<void(int fd)>;

    // port 0 takes an ephemeral port.
    explicit LoopbackServer(Handler handler, uint16_t port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return m_port; }
    int ConnectionsServed() const { return m_served.load(); }

    // Helpers for handlers; all bounded in time.
    static void SendAll(int fd, const binary::Binary& data);
    // Up to count bytes, fewer when the peer closes or timeoutMs passes without data.
    static binary::Binary ReadUpTo(int fd, size_t count, int timeoutMs);

private:
    void AcceptLoop();

    Handler m_handler;
    int m_listenFd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
uint16_t UnusedLoopbackPort();

// A port on 127.0.0.1 that neither accepts nor refuses: a listener with a backlog
// of 0 whose one queue place is taken by a connection of its own, so the kernel
// drops further SYNs and a connect waits unanswered, as with a host that is down.
class SilentLoopbackListener {
public:
    SilentLoopbackListener();
    ~SilentLoopbackListener();
    SilentLoopbackListener(const SilentLoopbackListener&) = delete;
    SilentLoopbackListener& operator=(const SilentLoopbackListener&) = delete;

    uint16_t Port() const { return m_port; }

private:
    int m_listenFd = -1;
    int m_fillerFd = -1;
    uint16_t m_port = 0;
};

}  // namespace ZORVIK::test
