// A TCP peer named by host and port, resolved on demand; and the process-wide
// count of socket users that the address and the socket keep while they live.
#pragma once

#include <cstdint>
#include <string>

namespace ZORVIK {

// The number of living addresses and sockets (the network layer is "started"
// while it is above zero; POSIX needs no start-up, the count stays observable).
int32_t NetworkUseCount();

namespace detail {
void AcquireNetwork();
void ReleaseNetwork();
// Throws the network error "Ошибка (code: %0X): %s" for errno value code.
[[noreturn]] void ThrowNetworkError(int code);
}  // namespace detail

class SocketAddress {
public:
    SocketAddress(std::string host, uint16_t port);
    SocketAddress(const SocketAddress& other);
    SocketAddress& operator=(const SocketAddress& other) = default;
    ~SocketAddress();

    const std::string& Host() const { return m_host; }
    uint16_t Port() const { return m_port; }
    // The host's IPv4 address in text form (or IPv6 text form when that is what resolves).
    std::string GetIpAddress() const;

private:
    std::string m_host;
    uint16_t m_port;
};

}  // namespace ZORVIK
