#include "service/network/sockets/stream_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>

#include "service/common/exception.h"
#include "support/error_text.h"
#include "support/loopback_server.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoopbackServer;
using test::MessageOf;
using namespace std::chrono_literals;

// Open descriptors of this process.
auto OpenDescriptorCount() { return std::ranges::distance(std::filesystem::directory_iterator("/proc/self/fd")); }

TEST(SocketAddress, ResolvesLoopbackAndRefusesUnknownHosts) {
    EXPECT_EQ(SocketAddress("localhost", 1).GetIpAddress(), "127.0.0.1");
    EXPECT_EQ(SocketAddress("127.0.0.1", 1).GetIpAddress(), "127.0.0.1");
    try {
        SocketAddress("no-such-host.invalid", 1).GetIpAddress();
        ADD_FAILURE() << "resolved";
    } catch (const NetworkException& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(e.FullMessage().rfind("Ошибка (Network). Ошибка (code: ", 0), 0u) << e.FullMessage();
    }
    // The resolver's code as a positive number: EAI_NONAME (-2), or EAI_AGAIN (-3) where no name server can be asked.
    const std::string text = MessageOf([] { SocketAddress("no-such-host.invalid", 1).GetIpAddress(); });
    EXPECT_TRUE(text == "Ошибка (code: 2): Name or service not known" ||
                text == "Ошибка (code: 3): Temporary failure in name resolution")
        << text;
}

TEST(StreamSocket, UseCountFollowsLivingObjects) {
    const int32_t base = NetworkUseCount();
    auto address = std::make_unique<SocketAddress>("127.0.0.1", 1);
    auto copy = std::make_unique<SocketAddress>(*address);
    auto first = std::make_unique<StreamSocket>();
    auto second = std::make_unique<StreamSocket>(true);
    EXPECT_EQ(NetworkUseCount(), base + 4);
    first.reset();
    address.reset();
    EXPECT_EQ(NetworkUseCount(), base + 2);
    copy.reset();
    second.reset();
    EXPECT_EQ(NetworkUseCount(), base);
}

TEST(StreamSocket, EveryFailedConnectClosesItsSocketAtOnce) {
    const SocketAddress refusing("127.0.0.1", test::UnusedLoopbackPort());
    const test::SilentLoopbackListener silent;
    const SocketAddress unanswered("127.0.0.1", silent.Port());
    const SocketAddress unknown("no-such-host.invalid", 1);
    StreamSocket socket;
    const auto descriptors = OpenDescriptorCount();
    // Each failure is looked at before anything else could close what it left open.
    EXPECT_FALSE(socket.Connect(unanswered, 50));
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_THROW(socket.Connect(refusing, 1000), NetworkException);
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_THROW(socket.Connect(refusing), NetworkException);
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_THROW(socket.Connect(unknown, 50), NetworkException);
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_FALSE(StreamSocket::Probe(unknown));
    // A closed socket reads nothing, sends nothing and has nothing waiting.
    EXPECT_EQ(socket.GetAvailableData(), 0u);
    EXPECT_TRUE(socket.Read(5).empty());
    EXPECT_NO_THROW(socket.Send(Binary("01")));
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(StreamSocket, FailedConnectionsEndInTimeAndLeaveNothingOpen) {
    const int32_t users = NetworkUseCount();
    const SocketAddress refusing("127.0.0.1", test::UnusedLoopbackPort());
    const test::SilentLoopbackListener silent;
    const SocketAddress unanswered("127.0.0.1", silent.Port());
    const size_t descriptors = OpenDescriptorCount();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(StreamSocket::Probe(refusing));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(StreamSocket::Probe(unanswered));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 90ms);  // the wait ran out rather than failing early
    EXPECT_LT(elapsed, 500ms);
    StreamSocket socket;
    EXPECT_FALSE(socket.Connect(unanswered, 50));
    const std::string refused = MessageOf([&] { socket.Connect(refusing); });
    EXPECT_EQ(refused.rfind("Ошибка (code: 6F): ", 0), 0u) << refused;  // ECONNREFUSED
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(NetworkUseCount(), users + 3);  // the two addresses and the socket, not the probes' sockets
}

TEST(StreamSocket, ReadsExactlyAcrossSplitDeliveriesSendsAllBytesAndFailsWithoutASignalOnceThePeerLeft) {
    Binary received;
    LoopbackServer server([&](int fd) {
        received = LoopbackServer::ReadUpTo(fd, 300000, 2000);
        for (const char* piece : {"0102", "030405", "06"}) {
            LoopbackServer::SendAll(fd, Binary(piece));
            std::this_thread::sleep_for(30ms);
        }
    });
    EXPECT_TRUE(StreamSocket::Probe(SocketAddress("127.0.0.1", server.Port())));
    StreamSocket socket;
    ASSERT_TRUE(socket.Connect(SocketAddress("127.0.0.1", server.Port()), 1000));
    socket.Send(Binary());
    Binary big(300000, 0xA5);
    big[0] = 0x01;
    socket.Send(big);
    EXPECT_TRUE(socket.Read(0).empty());
    EXPECT_EQ(socket.Read(5), Binary("0102030405"));
    // The peer closes after one more byte: the read returns what came.
    EXPECT_EQ(socket.Read(4), Binary("06"));
    EXPECT_TRUE(socket.Read(1).empty());
    while (server.ConnectionsServed() < 2) std::this_thread::sleep_for(5ms);  // the probe's and ours
    EXPECT_EQ(received, big);
    EXPECT_THROW(
        for (int i = 0; i < 100; ++i) {
            socket.Send(Binary(65536, 0));
            std::this_thread::sleep_for(1ms);
        },
        NetworkException);
}

// A socket in event mode, connected to a server that sends first after 20 ms and then waits waitMs for one
// byte before it closes (with a reset when asked). It listens to its own socket and records the events in
// order, a read event with what onRead returns.
class EventSocket : public iSocketListener {
public:
    using ReadAction = std::function<std::string(StreamSocket&)>;
    EventSocket(const char* first, int waitMs, ReadAction onRead = {}, bool reset = false)
        : m_onRead(std::move(onRead)), m_server([=](int fd) {
              std::this_thread::sleep_for(20ms);
              LoopbackServer::SendAll(fd, Binary(first));
              LoopbackServer::ReadUpTo(fd, 1, waitMs);
              const linger abort{1, 0};  // closing sends a reset instead of the orderly end
              if (reset) ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
          }) {
        socket.AddListener(std::shared_ptr<iSocketListener>(this, [](iSocketListener*) {}));
        socket.Connect(SocketAddress("127.0.0.1", m_server.Port()));
    }
    void OnConnect() override { Add("connect"); }
    void OnRead() override { Add("read" + (m_onRead ? m_onRead(socket) : std::string())); }
    void OnWrite() override { Add("write"); }
    void OnClose() override { Add("close"); }
    void OnError(const std::string& text) override { Add("error " + text); }

    std::vector<std::string> WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, 3s, [&] { return m_events.size() >= count; });
        return m_events;
    }

private:
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
        m_changed.notify_all();
    }
    ReadAction m_onRead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
    LoopbackServer m_server;

public:
    StreamSocket socket{true};  // last, so that its event thread ends before anything it reports to
};

std::string ReadAll(StreamSocket& socket) { return " " + binary::ToHex(socket.Read(socket.GetAvailableData())); }

TEST(StreamSocketEvents, ReportsConnectReadAndPeerCloseTwice) {
    EventSocket events("A1B2", 50, ReadAll);
    EXPECT_EQ(events.WaitFor(5), (std::vector<std::string>{"connect", "write", "read A1 B2", "close", "close"}));
}

TEST(StreamSocketEvents, AResetConnectionIsReportedAsAnErrorWithItsTextThenAClose) {
    EventSocket events("A1", 100, ReadAll, true);
    EXPECT_EQ(events.WaitFor(5),
              (std::vector<std::string>{"connect", "write", "read A1",
                                        "error Ошибка (code: 68): Connection reset by peer", "close"}));  // ECONNRESET
    for (int i = 0; i < 100 && events.socket.IsOpen(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(events.socket.IsOpen());
}

TEST(StreamSocketEvents, AListenersOwnFailureEndsTheThreadAsAnUnknownError) {
    EventSocket events("55", 1000, [](StreamSocket&) -> std::string {
        throw Exception("listener failed", SourcePlace());  // only network errors carry their text
    });
    EXPECT_EQ(events.WaitFor(4), (std::vector<std::string>{"connect", "write", "error Unknown error!", "close"}));
    for (int i = 0; i < 100 && events.socket.IsOpen(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(events.socket.IsOpen());
}

TEST(StreamSocketEvents, UnreadDataIsReportedAgainAfterAQuietPeriod) {
    EventSocket events("01", 2000);
    const auto reported = events.WaitFor(4);
    ASSERT_GE(reported.size(), 4u);
    EXPECT_EQ(reported[2], "read");
    EXPECT_EQ(reported[3], "read");
}

TEST(StreamSocketEvents, CloseFromTheEventThreadDoesNotDeadlock) {
    EventSocket events("55", 1000, [](StreamSocket& socket) {
        const std::string data = ReadAll(socket);
        socket.Close();
        return data;
    });
    EXPECT_EQ(events.WaitFor(4), (std::vector<std::string>{"connect", "write", "read 55", "close"}));
    for (int i = 0; i < 100 && events.socket.IsOpen(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(events.socket.IsOpen());
}

TEST(StreamSocketEvents, SendsWhileThePeerLeavesNeverUseADescriptorTheEventThreadGaveUp) {
    // The peer closes once the first bytes of ours arrive; the event thread then ends the connection while
    // this thread is in Send.
    EventSocket events("0102030405", 1000, ReadAll);
    ASSERT_EQ(events.WaitFor(3), (std::vector<std::string>{"connect", "write", "read 01 02 03 04 05"}));
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (events.socket.IsOpen() && std::chrono::steady_clock::now() < deadline) {
        try {
            events.socket.Send(Binary(1024, 0x5A));
        } catch (const NetworkException&) {  // the peer is gone: EPIPE or ECONNRESET
        }
    }
    ASSERT_FALSE(events.socket.IsOpen());
    EXPECT_NO_THROW(events.socket.Send(Binary("01")));
    // The socket and its stop event keep their numbers until Close on this thread, so that no file
    // opened meanwhile is given one of them.
    const auto open = OpenDescriptorCount();
    events.socket.Close();
    EXPECT_EQ(OpenDescriptorCount(), open - 2);
}

TEST(StreamSocketEvents, CloseWakesAListenerWaitingInRead) {
    // The peer sends one byte of a longer message and then keeps silent for 3 s.
    EventSocket events("01", 3000, [](StreamSocket& socket) {
        socket.Read(4);  // blocks until 4 bytes came or the connection ends
        return std::string();
    });
    events.WaitFor(2);                   // connect, write
    std::this_thread::sleep_for(100ms);  // the event thread is now inside Read
    const auto start = std::chrono::steady_clock::now();
    events.socket.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(events.socket.IsOpen());
}

}  // namespace
}  // namespace ZORVIK
