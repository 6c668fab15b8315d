#include "service/network/sockets/stream_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "service/common/exception.h"

namespace ZORVIK {

namespace {

constexpr int kEventWaitMs = 500;

// The socket whose event thread is the running thread, if any. The thread
// object itself belongs to the owner's thread: the event thread may start
// calling listeners (and Close) before the owner has even stored it.
thread_local const StreamSocket* t_eventThreadOf = nullptr;

void SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) detail::ThrowNetworkError(errno);
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (::fcntl(fd, F_SETFL, wanted) < 0) detail::ThrowNetworkError(errno);
}

sockaddr_in ResolveIPv4(const SocketAddress& address) {
    const std::string ip = address.GetIpAddress();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(address.Port());
    if (::inet_pton(AF_INET, ip.c_str(), &target.sin_addr) != 1) detail::ThrowNetworkError(EINVAL);
    return target;
}

}  // namespace

StreamSocket::StreamSocket(bool eventMode) : m_buffer(100, 0), m_eventMode(eventMode) { detail::AcquireNetwork(); }

StreamSocket::~StreamSocket() {
    Close();
    detail::ReleaseNetwork();
}

bool StreamSocket::Connect(const SocketAddress& address, uint32_t timeoutMs) {
    // From a listener the descriptors could not be closed (the event thread still uses them) nor the
    // thread replaced, so the socket would lose its old descriptor and wait for itself.
    if (t_eventThreadOf == this) {
        throw Exception("A socket can't connect again from a listener of its own events",
                        ZORVIK_PLACE("ZORVIK::StreamSocket::Connect"));
    }
    Close();
    const sockaddr_in target = ResolveIPv4(address);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) detail::ThrowNetworkError(errno);
    {
        std::lock_guard<std::mutex> lock(m_handleMutex);
        m_socket = fd;
    }
    try {
        if (timeoutMs == 0) {
            int rc;
            do {
                rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0) detail::ThrowNetworkError(errno);
        } else {
            SetBlocking(fd, false);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
                if (errno != EINPROGRESS) detail::ThrowNetworkError(errno);
                pollfd wait{fd, POLLOUT, 0};
                int ready;
                do {
                    ready = ::poll(&wait, 1, static_cast<int>(timeoutMs));
                } while (ready < 0 && errno == EINTR);
                if (ready < 0) detail::ThrowNetworkError(errno);
                if (ready == 0) {
                    Close();
                    return false;
                }
                int pending = 0;
                socklen_t length = sizeof pending;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) != 0) detail::ThrowNetworkError(errno);
                if (pending != 0) detail::ThrowNetworkError(pending);
            }
            SetBlocking(fd, true);
        }
    } catch (...) {
        Close();
        throw;
    }
    if (m_eventMode) StartEventThread();
    return true;
}

void StreamSocket::Connect(const SocketAddress& address) {
    if (!Connect(address, 0)) {
        throw Exception("Ошибка подключения.", ZORVIK_PLACE("ZORVIK::StreamSocket::Connect"));
    }
}

bool StreamSocket::Probe(const SocketAddress& address) {
    try {
        StreamSocket probe(false);
        return probe.Connect(address, 100);
    } catch (...) {
        return false;
    }
}

int StreamSocket::OpenDescriptor() const {
    std::lock_guard<std::mutex> lock(m_handleMutex);
    return m_connectionEnded ? -1 : m_socket;
}

bool StreamSocket::IsOpen() const { return OpenDescriptor() >= 0; }

uint32_t StreamSocket::GetAvailableData() const {
    const int fd = OpenDescriptor();
    if (fd < 0) return 0;
    int available = 0;
    if (::ioctl(fd, FIONREAD, &available) != 0) detail::ThrowNetworkError(errno);
    return available > 0 ? static_cast<uint32_t>(available) : 0;
}

// Read and Send hold no lock while they wait: the event thread can still end the connection,
// which wakes them, and the descriptor stays valid until Close on this thread.
binary::Binary StreamSocket::Read(uint32_t size) {
    const int fd = OpenDescriptor();
    if (size == 0 || fd < 0) return binary::Binary();
    if (m_buffer.size() < size) m_buffer.resize(size);
    size_t received = 0;
    while (received < size) {
        const ssize_t got = ::recv(fd, m_buffer.data() + received, size - received, MSG_WAITALL);
        if (got < 0) {
            if (errno == EINTR) continue;
            detail::ThrowNetworkError(errno);
        }
        if (got == 0) break;  // the peer closed the connection
        received += static_cast<size_t>(got);
    }
    return binary::Binary(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(received));
}

void StreamSocket::Send(const binary::Binary& data) {
    const int fd = OpenDescriptor();
    if (data.empty() || fd < 0) return;
    size_t sent = 0;
    while (sent < data.size()) {
        // MSG_NOSIGNAL: a peer that went away is an error here, not a SIGPIPE for the process.
        const ssize_t rc = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (rc < 0) {
            if (errno == EINTR) continue;
            detail::ThrowNetworkError(errno);
        }
        sent += static_cast<size_t>(rc);
    }
}

void StreamSocket::AddListener(std::shared_ptr<iSocketListener> listener) {
    m_listeners.push_back(std::move(listener));
}

void StreamSocket::EndConnection() {
    std::lock_guard<std::mutex> lock(m_handleMutex);
    if (m_socket >= 0 && !m_connectionEnded) {
        // Wakes a Read or Send waiting on another thread; one that starts later fails with EPIPE or
        // finds the connection ended, and never reaches a file opened since.
        ::shutdown(m_socket, SHUT_RDWR);
        m_connectionEnded = true;
    }
}

void StreamSocket::CloseHandles() {
    std::lock_guard<std::mutex> lock(m_handleMutex);
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
    m_connectionEnded = false;
    if (m_stopEvent >= 0) {
        ::close(m_stopEvent);
        m_stopEvent = -1;
    }
}

void StreamSocket::Close() {
    if (t_eventThreadOf == this) {
        EndConnection();  // the thread is still running; the owner's Close or the destructor closes the rest
        return;
    }
    if (m_eventThread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_handleMutex);
            if (m_stopEvent >= 0) {
                const uint64_t one = 1;
                [[maybe_unused]] const ssize_t rc = ::write(m_stopEvent, &one, sizeof one);
            }
            // Ends the connection now, as closing a socket does, so that a listener
            // waiting in Read or Send returns instead of holding up the join; the
            // descriptor itself stays reserved until the thread is gone.
            if (m_socket >= 0) ::shutdown(m_socket, SHUT_RDWR);
        }
        // The thread is joined before its descriptors are closed, so it never
        // polls a descriptor number that has been closed or reused.
        m_eventThread.join();
    }
    CloseHandles();
}

void StreamSocket::StartEventThread() {
    {
        std::lock_guard<std::mutex> lock(m_handleMutex);
        if (m_stopEvent < 0) {
            m_stopEvent = ::eventfd(0, EFD_CLOEXEC);
            if (m_stopEvent < 0) detail::ThrowNetworkError(errno);
        }
    }
    m_eventThread = std::thread(&StreamSocket::ThreadFunc, this);
}

void StreamSocket::ThreadFunc() {
    t_eventThreadOf = this;
    auto notify = [this](void (iSocketListener::*operation)()) {
        for (auto& listener : m_listeners) (listener.get()->*operation)();
    };
    std::string errorText;
    bool failed = false;
    try {
        // A connected socket reports connect and then write readiness once, as a
        // Windows socket event would.
        notify(&iSocketListener::OnConnect);
        notify(&iSocketListener::OnWrite);
        // After a read event the socket is left out of the wait until the next
        // quiet period when the listeners leave the data unread, so that
        // level-triggered readiness does not spin; the time-out reports it again.
        bool inputReported = false;
        for (;;) {
            int socketFd, stopFd;
            {
                std::lock_guard<std::mutex> lock(m_handleMutex);
                socketFd = m_connectionEnded ? -1 : m_socket;
                stopFd = m_stopEvent;
            }
            if (socketFd < 0 || stopFd < 0) break;
            pollfd waits[2] = {{inputReported ? -1 : socketFd, POLLIN | POLLRDHUP, 0}, {stopFd, POLLIN, 0}};
            const int ready = ::poll(waits, 2, kEventWaitMs);
            if (ready < 0) {
                if (errno == EINTR) continue;
                detail::ThrowNetworkError(errno);
            }
            if (ready == 0) {
                inputReported = false;
                if (GetAvailableData() > 0) notify(&iSocketListener::OnRead);
                continue;
            }
            if (waits[1].revents & POLLIN) break;
            if (waits[0].revents & (POLLERR | POLLNVAL)) {
                int pending = 0;
                socklen_t length = sizeof pending;
                ::getsockopt(socketFd, SOL_SOCKET, SO_ERROR, &pending, &length);
                detail::ThrowNetworkError(pending != 0 ? pending : EIO);
            }
            const uint32_t available = GetAvailableData();
            if (available > 0) {
                notify(&iSocketListener::OnRead);
                inputReported = GetAvailableData() == available;
                continue;
            }
            // Readable with nothing to read: the peer closed the connection.
            notify(&iSocketListener::OnClose);
            break;
        }
    } catch (const NetworkException& e) {
        failed = true;
        errorText = e.what();
    } catch (...) {
        failed = true;
        errorText = "Unknown error!";
    }
    try {
        if (failed) {
            for (auto& listener : m_listeners) listener->OnError(errorText);
        }
        notify(&iSocketListener::OnClose);
    } catch (...) {
        // A listener's failure must not escape the thread.
    }
    EndConnection();
}

}  // namespace ZORVIK
