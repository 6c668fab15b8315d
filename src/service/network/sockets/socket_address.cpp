#include "service/network/sockets/socket_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "service/common/exception.h"
#include "service/common/printf.h"

namespace ZORVIK {

namespace {

std::atomic<int32_t> g_networkUses{0};

// The network error: the failure's code in hex and the system's text for it.
[[noreturn]] void ThrowCodeAndText(unsigned code, const std::string& text, const SourcePlace& place) {
    throw NetworkException(SafePrintf("Ошибка (code: %0X): %s", code, text.c_str()), 0, place);
}

}  // namespace

int32_t NetworkUseCount() { return g_networkUses.load(); }

namespace detail {

void AcquireNetwork() { ++g_networkUses; }
void ReleaseNetwork() { --g_networkUses; }

void ThrowNetworkError(int code) {
    std::string text = std::strerror(code);
    if (text.size() > 200) text.resize(200);
    ThrowCodeAndText(static_cast<unsigned>(code), text, ZORVIK_PLACE("ZORVIK::StreamSocket"));
}

}  // namespace detail

SocketAddress::SocketAddress(std::string host, uint16_t port) : m_host(std::move(host)), m_port(port) {
    detail::AcquireNetwork();
}

SocketAddress::SocketAddress(const SocketAddress& other) : m_host(other.m_host), m_port(other.m_port) {
    detail::AcquireNetwork();
}

SocketAddress::~SocketAddress() { detail::ReleaseNetwork(); }

std::string SocketAddress::GetIpAddress() const {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::SocketAddress::GetIpAddress");
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(m_port);
    const int rc = ::getaddrinfo(m_host.c_str(), port.c_str(), &hints, &found);
    if (rc == EAI_SYSTEM) detail::ThrowNetworkError(errno);
    if (rc != 0) {
        // The resolver's codes are negative (EAI_NONAME is -2): shown as positive numbers.
        ThrowCodeAndText(static_cast<unsigned>(-rc), ::gai_strerror(rc), place);
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(found, &::freeaddrinfo);
    char text[INET6_ADDRSTRLEN] = {};
    if (found->ai_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return text;
    }
    if (found->ai_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
        if (::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text) == nullptr) detail::ThrowNetworkError(errno);
        return text;
    }
    throw NetworkException("Неизвестный тип адреса.", 0, place);
}

}  // namespace ZORVIK
