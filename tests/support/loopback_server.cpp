#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace ZORVIK::test {

namespace {

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A TCP socket bound to 127.0.0.1:port and, with a backlog, listening; closed again when a step fails.
int BindLoopback(uint16_t port, int backlog = -1) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = LoopbackAddress(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0)) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error("cannot bind 127.0.0.1:" + std::to_string(port) + ": " + std::to_string(error));
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace

LoopbackServer::LoopbackServer(Handler handler, uint16_t port)
    : m_handler(std::move(handler)), m_listenFd(BindLoopback(port, 8)), m_port(BoundPort(m_listenFd)) {
    m_thread = std::thread(&LoopbackServer::AcceptLoop, this);
}

LoopbackServer::~LoopbackServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

void LoopbackServer::AcceptLoop() {
    while (!m_stop) {
        pollfd wait{m_listenFd, POLLIN, 0};
        if (::poll(&wait, 1, 20) <= 0) continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        try {
            m_handler(fd);
        } catch (...) {
            // A failing handler ends only its own connection.
        }
        ::close(fd);
        ++m_served;
    }
}

void LoopbackServer::SendAll(int fd, const binary::Binary& data) {
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t rc = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (rc < 0 && errno != EINTR) return;
        if (rc > 0) sent += static_cast<size_t>(rc);
    }
}

binary::Binary LoopbackServer::ReadUpTo(int fd, size_t count, int timeoutMs) {
    binary::Binary result;
    uint8_t buffer[4096];
    for (pollfd wait{fd, POLLIN, 0}; result.size() < count && ::poll(&wait, 1, timeoutMs) > 0;) {
        const ssize_t got = ::recv(fd, buffer, std::min(count - result.size(), sizeof buffer), 0);
        if (got <= 0) break;
        result.insert(result.end(), buffer, buffer + got);
    }
    return result;
}

uint16_t UnusedLoopbackPort() {
    const int fd = BindLoopback(0);
    const uint16_t port = BoundPort(fd);
    ::close(fd);
    return port;
}

SilentLoopbackListener::SilentLoopbackListener() : m_listenFd(BindLoopback(0, 0)), m_port(BoundPort(m_listenFd)) {
    // The filler completes its handshake at once on loopback and is never accepted.
    const sockaddr_in address = LoopbackAddress(m_port);
    m_fillerFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fillerFd < 0 || ::connect(m_fillerFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        if (m_fillerFd >= 0) ::close(m_fillerFd);
        ::close(m_listenFd);
        throw std::runtime_error("cannot fill the queue of 127.0.0.1:" + std::to_string(m_port) + ": " +
                                 std::to_string(error));
    }
}

SilentLoopbackListener::~SilentLoopbackListener() {
    ::close(m_fillerFd);
    ::close(m_listenFd);
}

}  // namespace ZORVIK::test
