// Tests of TcpEndpoint against a plain client socket: bytes both ways, heartbeats, injected bytes, replaced and reset connections, prompt stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "sim/module/TcpEndpoint.h"
#include "tests/support/WireBytes.h"

namespace {

using ksim::Bytes;
using namespace std::chrono_literals;

// A plain blocking client socket, closed on destruction.
class Client {
public:
    explicit Client(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
    }
    ~Client() { close(fd_); }

    bool connected() const { return connected_; }

    bool Send(const Bytes& bytes) const { return WriteBytes(fd_, bytes); }

    // Exactly `count` bytes, or fewer when the limit runs out or the connection ends; `error`
    // gets the errno of a failed read (0 for none or end of stream).
    Bytes Read(size_t count, std::chrono::milliseconds limit = 2000ms, int* error = nullptr) const
    {
        return ReadBytes(fd_, count, limit, error);
    }

private:
    int fd_;
    bool connected_ = false;
};

ksim::ModuleConfig Config(uint32_t heartbeatMs = 0)
{
    ksim::ModuleConfig config;
    config.heartbeatMs = heartbeatMs;
    return config;
}

TEST(TcpEndpoint, AnswersTheHostOverTheConnection)
{
    ksim::VirtualModule module(Config());
    ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
    ASSERT_NE(endpoint.port(), 0);
    Client client(endpoint.port());
    ASSERT_TRUE(client.connected());
    // Two requests in one segment, the second split across two.
    ASSERT_TRUE(client.Send({0xAD, 0x00, 0x02, 0x03, 0x03}));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(client.Send({0x49, 0x20}));
    EXPECT_EQ(client.Read(11), (Bytes{0x02, 0x00, 0x02, 0x07, 0x03, 0x09, 0x00, 0x5E, 0xED, 0x00, 0x01}));
    EXPECT_TRUE(module.awaitReceived([](const Bytes& wire) { return wire == Bytes{0x02, 0x03, 0x03, 0x49, 0x20}; }, 0ms));
    EXPECT_EQ(endpoint.connectionsAccepted(), 1u);

    endpoint.inject({0x03});
    EXPECT_EQ(client.Read(1), (Bytes{0x03}));
}

TEST(TcpEndpoint, SendsHeartbeatsAtTheIntervalUntilTheHostTurnsThemOff)
{
    ksim::VirtualModule module(Config(50));
    ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
    Client client(endpoint.port());
    ASSERT_TRUE(client.connected());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Read(4), (Bytes{0x02, 0x02, 0x00, 0x00}));
    const auto first = std::chrono::steady_clock::now() - start;
    EXPECT_GE(first, 40ms);
    EXPECT_LE(first, 500ms);
    // Ten more, about 500 ms; the replies the host sends are taken silently.
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(client.Read(4), (Bytes{0x02, 0x02, 0x00, 0x00}));
        ASSERT_TRUE(client.Send({0x02, 0x02, 0x00, 0x02}));
    }
    const auto eleven = std::chrono::steady_clock::now() - start;
    EXPECT_GE(eleven, 500ms);
    EXPECT_LE(eleven, 1500ms);
    EXPECT_TRUE(module.awaitReceived([](const Bytes& wire) { return wire == Bytes{0x02, 0x02, 0x00, 0x02}; }, 2s));

    // Heartbeat interval 0 over the system entity; what still comes is at most one beat
    // already on its way, then the set's answer, then nothing.
    ASSERT_TRUE(client.Send({0x02, 0x04, 0x03, 0x83, 0x20, 0x00}));
    const Bytes beat{0x02, 0x02, 0x00, 0x00};
    Bytes answer;
    for (int i = 0; i < 3 && (answer.empty() || answer == beat); ++i) {
        answer = client.Read(4);
    }
    const Bytes rest = client.Read(2);
    answer.insert(answer.end(), rest.begin(), rest.end());
    EXPECT_EQ(answer, (Bytes{0x02, 0x04, 0x03, 0xC3, 0x00, 0x00}));
    EXPECT_EQ(client.Read(1, 300ms), Bytes{});
}

TEST(TcpEndpoint, ResetAbortsTheConnectionAndTheNextOneIsServed)
{
    ksim::VirtualModule module(Config());
    ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
    {
        Client client(endpoint.port());
        ASSERT_TRUE(client.Send({0xAD, 0x00}));
        ASSERT_EQ(client.Read(2), (Bytes{0x02, 0x00}));
        endpoint.resetConnections();
        int error = 0;
        EXPECT_EQ(client.Read(1, 2000ms, &error), Bytes{});
        EXPECT_EQ(error, ECONNRESET);
    }
    Client again(endpoint.port());
    ASSERT_TRUE(again.Send({0xAD, 0x00}));
    EXPECT_EQ(again.Read(2), (Bytes{0x02, 0x00}));
    EXPECT_EQ(endpoint.connectionsAccepted(), 2u);
    endpoint.resetConnections();
    endpoint.resetConnections(); // nothing left to reset: returns at once
}

TEST(TcpEndpoint, ANewConnectionReplacesTheOldOne)
{
    ksim::VirtualModule module(Config());
    ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
    Client first(endpoint.port());
    ASSERT_TRUE(first.Send({0xAD, 0x00}));
    ASSERT_EQ(first.Read(2), (Bytes{0x02, 0x00}));
    ASSERT_TRUE(first.Send({0x02, 0x03})); // half a packet, which the new connection must not inherit
    Client second(endpoint.port());
    // The old connection ends: in order, or reset when its last bytes were still unread.
    int error = -1;
    EXPECT_EQ(first.Read(1, 2000ms, &error), Bytes{});
    EXPECT_TRUE(error == 0 || error == ECONNRESET) << error;
    ASSERT_TRUE(second.Send({0xAD, 0x00}));
    EXPECT_EQ(second.Read(2), (Bytes{0x02, 0x00}));
    EXPECT_EQ(endpoint.connectionsAccepted(), 2u);
}

TEST(TcpEndpoint, StopsPromptlyWithAHostConnected)
{
    ksim::VirtualModule module(Config(2000));
    auto endpoint = std::make_unique<ksim::TcpEndpoint>(module, "127.0.0.1", 0);
    Client client(endpoint->port());
    ASSERT_TRUE(client.Send({0xAD, 0x00}));
    ASSERT_EQ(client.Read(2), (Bytes{0x02, 0x00}));
    const auto start = std::chrono::steady_clock::now();
    endpoint.reset();
    EXPECT_LE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(client.Read(1, 1000ms), Bytes{});
}

TEST(TcpEndpoint, RefusesWhatItCannotListenOn)
{
    ksim::VirtualModule module(Config());
    ksim::TcpEndpoint taken(module, "127.0.0.1", 0);
    const struct {
        std::string address;
        uint16_t port;
        const char* message;
    } cases[] = {
        {"localhost", 0, "cannot listen on localhost: not an IPv4 address"},
        {"::1", 0, "cannot listen on ::1: not an IPv4 address"},
        {"127.0.0.1", taken.port(), "cannot listen on 127.0.0.1:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        try {
            ksim::TcpEndpoint endpoint(module, c.address, c.port);
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
        }
    }
}

} // namespace
