// A TCP client: connect with an optional time-out, probe, exact reads, sends,
// and an optional event thread that reports network events to listeners.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/common/binary.h"
#include "service/network/sockets/socket_address.h"

namespace ZORVIK {

// A byte transport: read exactly size bytes (fewer only at end of stream), send all bytes.
class iTransport {
public:
    virtual binary::Binary Read(uint32_t size) = 0;
    virtual void Send(const binary::Binary& data) = 0;
    virtual ~iTransport() = default;
};

// Told about network events by the event thread of a socket in event mode.
class iSocketListener {
public:
    virtual void OnConnect() = 0;
    virtual void OnRead() = 0;
    virtual void OnWrite() = 0;
    virtual void OnClose() = 0;
    virtual void OnError(const std::string& text) = 0;
    virtual ~iSocketListener() = default;
};

class StreamSocket : public iTransport {
public:
    explicit StreamSocket(bool eventMode = false);
    ~StreamSocket() override;
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // With timeoutMs 0 a failure throws; otherwise false when the time runs out.
    bool Connect(const SocketAddress& address, uint32_t timeoutMs);
    // Blocking connect; a failure throws "Ошибка подключения." or the network error.
    void Connect(const SocketAddress& address);
    // Whether a server answers within 100 ms; never throws.
    static bool Probe(const SocketAddress& address);

    bool IsOpen() const;
    uint32_t GetAvailableData() const;
    binary::Binary Read(uint32_t size) override;
    void Send(const binary::Binary& data) override;
    void Close();

    // Listeners are registered before Connect; the event thread calls them in order.
    void AddListener(std::shared_ptr<iSocketListener> listener);

private:
    void StartEventThread();
    void ThreadFunc();
    // Taken under the lock: the socket while the connection is open, else -1.
    int OpenDescriptor() const;
    void EndConnection();
    void CloseHandles();

    int m_socket = -1;
    // The event thread (on its own end, or by a listener's Close) only ends the connection
    // and sets this; the descriptors are closed by Close on the owner's thread after the
    // join, so no thread is left using a number that another file could then be given.
    bool m_connectionEnded = false;
    binary::Binary m_buffer;
    bool m_eventMode;
    int m_stopEvent = -1;  // eventfd that tells the event thread to end
    std::vector<std::shared_ptr<iSocketListener>> m_listeners;
    std::thread m_eventThread;
    mutable std::mutex m_handleMutex;
};

}  // namespace ZORVIK
