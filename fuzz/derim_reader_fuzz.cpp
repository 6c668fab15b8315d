// Arbitrary bytes as the card server of the direct network reader: a server
// on a loopback port takes the reader's connection and sends the input as its
// replies (length headers and bodies), then ends its side. The reader powers
// on, exchanges commands and resets until the first failure; every reply is
// taken or refused with our error, and no read waits beyond the server's end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "sc/drivers/derimdirect/derimdirect_reader.h"
#include "service/common/exception.h"

namespace {

// The listening socket, made once; its port is chosen by the system.
int Listener(uint16_t& port) {
    static uint16_t listenerPort = 0;
    static const int listener = [] {
        std::signal(SIGPIPE, SIG_IGN);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            __builtin_trap();
        }
        listenerPort = ntohs(address.sin_port);
        return fd;
    }();
    port = listenerPort;
    return listener;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint16_t port = 0;
    const int listener = Listener(port);
    int connection = -1;
    // The server's side: every reply at once, then the end of its stream.
    std::thread server([&] {
        connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) return;
        for (size_t sent = 0; sent < size;) {
            const ssize_t count = ::send(connection, data + sent, size - sent, MSG_NOSIGNAL);
            if (count <= 0) break;
            sent += static_cast<size_t>(count);
        }
        ::shutdown(connection, SHUT_WR);
    });
    {
        ZORVIK::DerimDirect_Reader reader("127.0.0.1", port);
        try {
            ZORVIK::ATR atr;
            reader.PowerOn(atr);
            ZORVIK::RApdu response;
            reader.Command(ZORVIK::CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
            reader.Command(ZORVIK::CApdu(0x00, 0xA4, 0x04, 0x00, ZORVIK::binary::Binary(5, 0xA0), 256), response);
            reader.Reset(atr);
            reader.Command(ZORVIK::CApdu(0x80, 0xCA, 0x9F, 0x7F, 0), response);
        } catch (const ZORVIK::Exception&) {
            // One connection per input: the reader would connect anew after a failure.
        }
        server.join();
        // An abortive close leaves no connection waiting out its time on either side.
        if (connection >= 0) {
            const linger abort{1, 0};
            ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            ::close(connection);
        }
    }
    return 0;
}
