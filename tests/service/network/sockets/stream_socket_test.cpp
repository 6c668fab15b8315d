#include "service/network/sockets/stream_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "service/common/exception.h"
#include "support/loopback_server.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoopbackServer;
using namespace std::chrono_literals;

size_t OpenDescriptorCount() {
    size_t count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST(SocketAddress, ResolvesLoopbackAndRefusesUnknownHosts) {
    EXPECT_EQ(SocketAddress("127.0.0.1", 1).GetIpAddress(), "127.0.0.1");
    EXPECT_EQ(SocketAddress("localhost", 1).GetIpAddress(), "127.0.0.1");
    try {
        SocketAddress("no-such-host.invalid", 1).GetIpAddress();
        FAIL();
    } catch (const NetworkException& e) {
        // The resolver's code as a positive number: EAI_NONAME (-2), or EAI_AGAIN
        // (-3) where no name server can be asked.
        const std::string text = e.what();
        EXPECT_TRUE(text == "Ошибка (code: 2): Name or service not known" ||
                    text == "Ошибка (code: 3): Temporary failure in name resolution")
            << text;
        EXPECT_EQ(e.ErrorCode(), 0);
    }
}

TEST(StreamSocket, UseCountFollowsLivingObjects) {
    const int32_t base = NetworkUseCount();
    auto address = std::make_unique<SocketAddress>("127.0.0.1", 1);
    auto first = std::make_unique<StreamSocket>();
    auto second = std::make_unique<StreamSocket>();
    EXPECT_EQ(NetworkUseCount(), base + 3);
    first.reset();
    address.reset();
    EXPECT_EQ(NetworkUseCount(), base + 1);
    second.reset();
    EXPECT_EQ(NetworkUseCount(), base);
}

TEST(StreamSocket, ProbeOfAClosedPortIsQuickAndLeavesNothingOpen) {
    const SocketAddress address("127.0.0.1", test::UnusedLoopbackPort());
    const size_t descriptors = OpenDescriptorCount();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(StreamSocket::Probe(address));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);

    LoopbackServer server([](int) {});
    EXPECT_TRUE(StreamSocket::Probe(SocketAddress("127.0.0.1", server.Port())));
}

TEST(StreamSocket, ProbeWhereNothingAnswersEndsAfterItsTimeOutAndLeavesNothingOpen) {
    const test::SilentLoopbackListener silent;
    const SocketAddress address("127.0.0.1", silent.Port());
    const size_t descriptors = OpenDescriptorCount();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(StreamSocket::Probe(address));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 90ms);  // the wait ran out rather than failing early
    EXPECT_LT(elapsed, 500ms);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);

    StreamSocket socket;
    EXPECT_FALSE(socket.Connect(address, 50));
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(StreamSocket, RefusedBlockingConnectThrowsTheNetworkErrorText) {
    StreamSocket socket;
    try {
        socket.Connect(SocketAddress("127.0.0.1", test::UnusedLoopbackPort()));
        FAIL();
    } catch (const NetworkException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Ошибка (code: 6F): ", 0), 0u) << e.what();  // ECONNREFUSED
    }
    EXPECT_FALSE(socket.IsOpen());
}

TEST(StreamSocket, ReadsExactlyAcrossSplitDeliveries) {
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, Binary("0102"));
        std::this_thread::sleep_for(30ms);
        LoopbackServer::SendAll(fd, Binary("030405"));
        std::this_thread::sleep_for(30ms);
        LoopbackServer::SendAll(fd, Binary("06"));
    });
    StreamSocket socket;
    ASSERT_TRUE(socket.Connect(SocketAddress("127.0.0.1", server.Port()), 1000));
    EXPECT_TRUE(socket.Read(0).empty());
    EXPECT_EQ(socket.Read(5), Binary("0102030405"));
    // The peer closes after one more byte: the read returns what came.
    EXPECT_EQ(socket.Read(4), Binary("06"));
    EXPECT_TRUE(socket.Read(1).empty());
}

TEST(StreamSocket, SendsAllBytesAndNothingForEmptyData) {
    Binary received;
    LoopbackServer server([&](int fd) { received = LoopbackServer::ReadUpTo(fd, 1 << 20, 500); });
    {
        StreamSocket socket;
        socket.Connect(SocketAddress("127.0.0.1", server.Port()));
        socket.Send(Binary());
        Binary big(300000, 0xA5);
        big[0] = 0x01;
        socket.Send(big);
    }
    while (server.ConnectionsServed() == 0) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(received.size(), 300000u);
    EXPECT_EQ(received[0], 0x01);
}

TEST(StreamSocket, SendAfterPeerLeftIsAnErrorNotASignal) {
    LoopbackServer server([](int) {});
    StreamSocket socket;
    socket.Connect(SocketAddress("127.0.0.1", server.Port()));
    while (server.ConnectionsServed() == 0) std::this_thread::sleep_for(5ms);
    EXPECT_THROW(
        {
            for (int i = 0; i < 100; ++i) {
                socket.Send(Binary(65536, 0));
                std::this_thread::sleep_for(1ms);
            }
        },
        NetworkException);
}

class RecordingListener : public iSocketListener {
public:
    explicit RecordingListener(StreamSocket* socket = nullptr, bool closeOnRead = false)
        : m_socket(socket), m_closeOnRead(closeOnRead) {}
    void OnConnect() override { Add("connect"); }
    void OnRead() override {
        if (m_socket) {
            const Binary data = m_socket->Read(m_socket->GetAvailableData());
            Add("read " + binary::ToHex(data));
            if (m_closeOnRead) m_socket->Close();  // closing from the event thread itself
        } else {
            Add("read");
        }
    }
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
    StreamSocket* m_socket;
    bool m_closeOnRead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

TEST(StreamSocketEvents, ReportsConnectReadAndPeerCloseTwice) {
    LoopbackServer server([](int fd) {
        std::this_thread::sleep_for(20ms);
        LoopbackServer::SendAll(fd, Binary("A1B2"));
        std::this_thread::sleep_for(50ms);
    });
    StreamSocket socket(true);
    auto listener = std::make_shared<RecordingListener>(&socket);
    socket.AddListener(listener);
    socket.Connect(SocketAddress("127.0.0.1", server.Port()));
    const auto events = listener->WaitFor(5);
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "write", "read A1 B2", "close", "close"}));
    socket.Close();
}

TEST(StreamSocketEvents, UnreadDataIsReportedAgainAfterAQuietPeriod) {
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, Binary("01"));
        LoopbackServer::ReadUpTo(fd, 1, 2000);
    });
    StreamSocket socket(true);
    auto listener = std::make_shared<RecordingListener>();
    socket.AddListener(listener);
    socket.Connect(SocketAddress("127.0.0.1", server.Port()));
    const auto events = listener->WaitFor(4);
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[2], "read");
    EXPECT_EQ(events[3], "read");
    socket.Close();
    EXPECT_FALSE(socket.IsOpen());
}

TEST(StreamSocketEvents, CloseFromTheEventThreadDoesNotDeadlock) {
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, Binary("55"));
        LoopbackServer::ReadUpTo(fd, 1, 1000);
    });
    StreamSocket socket(true);
    auto listener = std::make_shared<RecordingListener>(&socket, true);
    socket.AddListener(listener);
    socket.Connect(SocketAddress("127.0.0.1", server.Port()));
    const auto events = listener->WaitFor(4);
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "write", "read 55", "close"}));
    for (int i = 0; i < 100 && socket.IsOpen(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(StreamSocketEvents, CloseWakesAListenerWaitingInRead) {
    // The peer sends one byte of a longer message and then keeps silent for 3 s.
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, Binary("01"));
        LoopbackServer::ReadUpTo(fd, 1, 3000);
    });
    class WaitingReader : public RecordingListener {
    public:
        explicit WaitingReader(StreamSocket* socket) : m_waiting(socket) {}
        void OnRead() override {
            m_waiting->Read(4);  // blocks until 4 bytes came or the connection ends
            RecordingListener::OnRead();
        }

    private:
        StreamSocket* m_waiting;
    };
    StreamSocket socket(true);
    auto listener = std::make_shared<WaitingReader>(&socket);
    socket.AddListener(listener);
    socket.Connect(SocketAddress("127.0.0.1", server.Port()));
    listener->WaitFor(2);                // connect, write
    std::this_thread::sleep_for(100ms);  // the event thread is now inside Read
    const auto start = std::chrono::steady_clock::now();
    socket.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(socket.IsOpen());
}

}  // namespace
}  // namespace ZORVIK
