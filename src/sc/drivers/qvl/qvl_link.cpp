#include "sc/drivers/qvl/qvl_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace ZORVIK {

namespace {

constexpr const char* ModelAddress = "127.0.0.1";
constexpr auto AfterCharacter = std::chrono::milliseconds(50);

// The process-wide connection; -1 until the first connect.
int g_socket = -1;

void PutLe16(binary::Binary& message, size_t offset, uint16_t value) {
    message[offset] = static_cast<uint8_t>(value);
    message[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t GetLe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

uint64_t GetLe64(const uint8_t* bytes) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

binary::Binary BuildHostMessage(uint16_t size, uint16_t command) {
    binary::Binary message(size, 0);  // reserved bytes and model time stay 0
    PutLe16(message, 0, size);
    PutLe16(message, 2, QvlLink::HostMessage);
    PutLe16(message, QvlLink::HeaderSize, command);
    return message;
}

void PrintTimeStamp(std::FILE* out) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&now, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(out, "\n%s: ", text);
}

[[noreturn]] void Fail(const char* what, int error) {
    std::fflush(stdout);
    std::fprintf(stderr, "\nERR %d: %s\n", error, what);
    QvlLink::Exit(QvlLink::ExitSocketFailure);
}

void Send(const binary::Binary& message) {
    if (g_socket < 0) return;
    const ssize_t sent = ::send(g_socket, message.data(), message.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(message.size())) Fail("Send error", sent < 0 ? errno : 0);
}

// Exactly count bytes, or the process ends.
void ReceiveAll(uint8_t* buffer, size_t count) {
    size_t received = 0;
    while (received < count) {
        const ssize_t got = ::recv(g_socket, buffer + received, count - received, MSG_WAITALL);
        if (got > 0) {
            received += static_cast<size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            Fail("Recv error", got < 0 ? errno : 0);
        }
    }
}

}  // namespace

uint8_t QvlLink::ParityBit(uint8_t data) {
    uint8_t ones = 0;
    for (uint8_t rest = data; rest != 0; rest &= static_cast<uint8_t>(rest - 1)) ++ones;
    return ones & 1;
}

binary::Binary QvlLink::ResetMessage() { return BuildHostMessage(HeaderSize + 2, ResetCommand); }

binary::Binary QvlLink::CharacterMessage(uint8_t data) {
    binary::Binary message = BuildHostMessage(HeaderSize + 4, CharacterCommand);
    message[HeaderSize + 2] = data;
    message[HeaderSize + 3] = ParityBit(data);
    return message;
}

bool QvlLink::IsConnected() { return g_socket >= 0; }

void QvlLink::Connect(uint16_t port) {
    if (g_socket >= 0) return;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail("Socket error", errno);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, ModelAddress, &address.sin_addr);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        Fail("Connect error", error);
    }
    g_socket = fd;
    PrintTimeStamp(stdout);
    std::printf("Connected to %s: port %hu, socket %d\n", ModelAddress, port, fd);
}

void QvlLink::Close() {
    if (g_socket >= 0) ::close(g_socket);
    g_socket = -1;
}

void QvlLink::SendReset() { Send(ResetMessage()); }

void QvlLink::SendCharacter(uint8_t data) {
    Send(CharacterMessage(data));
    std::this_thread::sleep_for(AfterCharacter);
}

uint8_t QvlLink::ReceiveCharacter() {
    uint8_t character = 0;
    const auto receive = [](uint8_t* buffer, size_t count) {
        ReceiveAll(buffer, count);
        return true;
    };
    switch (ReadModelMessages(receive, stdout, character)) {
        case ModelRead::Character: return character;
        case ModelRead::Busy: Exit(ExitBusy);
        default: Fail("Recv error", EPROTO);
    }
}

QvlLink::ModelRead QvlLink::ReadModelMessages(const std::function<bool(uint8_t*, size_t)>& receive, std::FILE* trace,
                                              uint8_t& character) {
    for (;;) {
        uint8_t header[HeaderSize];
        if (!receive(header, sizeof header)) return ModelRead::Closed;
        const uint16_t size = GetLe16(header);
        const uint16_t packetId = GetLe16(header + 2);
        const uint64_t modelTime = GetLe64(header + 8);
        if (trace != nullptr) {
            PrintTimeStamp(trace);
            std::fprintf(trace, "RECV < size: %u pid: %x time: %llu ", static_cast<unsigned>(size),
                         static_cast<unsigned>(packetId), static_cast<unsigned long long>(modelTime));
        }
        if (packetId == ServerBusy) {
            if (trace != nullptr) {
                std::fprintf(trace, "\nServer BUSY at model time %llu\n", static_cast<unsigned long long>(modelTime));
            }
            return ModelRead::Busy;
        }
        // A size smaller than its own header leaves no way to find the next message.
        if (size < HeaderSize) return ModelRead::Malformed;
        binary::Binary payload(size - HeaderSize);
        if (!receive(payload.data(), payload.size())) return ModelRead::Closed;
        // Only a card character answers the read; anything else is passed over.
        if (packetId != ModelMessage || payload.size() < 2) continue;
        const uint16_t subType = GetLe16(payload.data());
        if (subType == CardCharacter) {
            if (payload.size() < 3) return ModelRead::Malformed;
            if (trace != nullptr) std::fprintf(trace, "%.2x ", payload[2]);
            character = payload[2];
            return ModelRead::Character;
        }
        if (subType == IsoClock && payload.size() >= 10 && trace != nullptr) {
            std::fprintf(trace, "ISO_CLK: %llu", static_cast<unsigned long long>(GetLe64(payload.data() + 2)));
        }
    }
}

void QvlLink::Exit(int code) {
    Close();
    std::fflush(stdout);
    std::fflush(stderr);
    // As the process would be terminated: no destructors of other objects run,
    // since the link may fail in the middle of any of them.
    std::_Exit(code);
}

}  // namespace ZORVIK
