// Tests of the socket calls' result codes against a loopback peer: each state of the connection gives the code the stream acts on.
#include "Kestrelon2/unix/unix_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

class ASocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(listener, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = kLoopback;
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(listen(listener, 4), 0);
        socklen_t size = sizeof(address);
        ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
        port = ntohs(address.sin_port);
    }

    void TearDown() override
    {
        if (client != aSOCKET_NONE) {
            aSocket_Close(&client);
        }
        for (int fd : {peer, listener}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    // A connected, readied client socket and the peer's end of it.
    void connectPair()
    {
        ASSERT_EQ(aSocket_OpenTCP(&client), aErrNone);
        ASSERT_EQ(aSocket_Connect(client, {kLoopback, port}, 1000), aErrNone);
        ASSERT_EQ(aSocket_SetStreamOptions(client), aErrNone);
        pollfd entry = {listener, POLLIN, 0};
        ASSERT_EQ(poll(&entry, 1, 2000), 1);
        peer = accept(listener, nullptr, nullptr);
        ASSERT_GE(peer, 0);
    }

    void closePeer(bool reset)
    {
        if (reset) {
            const linger abort = {1, 0};
            ASSERT_EQ(setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort)), 0);
        }
        close(peer);
        peer = -1;
        // Let the close reach the client before it is looked at.
        ASSERT_EQ(aSocket_WaitReadable(client, 2000), aErrNone);
    }

    int listener = -1;
    int peer = -1;
    int client = aSOCKET_NONE;
    uint16_t port = 0;
};

TEST_F(ASocket, PeekAndReceiveTellTheConnectionStatesApart)
{
    const struct {
        const char* state;
        std::function<void()> arrange;
        aErr expected;
    } cases[] = {
        {"idle", [] {}, aErrNotReady},
        {"byte waiting", [this] {
             ASSERT_EQ(send(peer, "k", 1, 0), 1);
             ASSERT_EQ(aSocket_WaitReadable(client, 2000), aErrNone);
         }, aErrNone},
        {"closed in order", [this] { closePeer(false); }, aErrEOF},
        {"reset", [this] { closePeer(true); }, aErrConnection},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        connectPair();
        c.arrange();
        const aErr peeked = aSocket_PeekByte(client);
        EXPECT_EQ(peeked, c.expected);
        uint8_t byte = 0;
        // A reset is reported once; the socket then reads as closed.
        EXPECT_EQ(aSocket_ReceiveByte(client, &byte), peeked == aErrConnection ? aErrEOF : peeked);
        if (peeked == aErrNone) {
            EXPECT_EQ(byte, 'k');
        }
        ASSERT_EQ(aSocket_Close(&client), aErrNone);
        EXPECT_EQ(client, aSOCKET_NONE);
        if (peer >= 0) {
            close(peer);
            peer = -1;
        }
    }
}

TEST_F(ASocket, ConnectRefusedIsAConnectionError)
{
    close(listener);
    listener = -1;
    ASSERT_EQ(aSocket_OpenTCP(&client), aErrNone);
    EXPECT_EQ(aSocket_Connect(client, {kLoopback, port}, 1000), aErrConnection);
}

TEST_F(ASocket, ConnectGivesUpOnAPeerThatNeverAnswers)
{
    // A listener whose queue is full drops further connection requests unanswered, as a host
    // that has gone would.
    ASSERT_EQ(listen(listener, 0), 0);
    std::vector<int> queued;
    aErr result = aErrNone;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 8 && result == aErrNone; i++) {
        int waiting = aSOCKET_NONE;
        ASSERT_EQ(aSocket_OpenTCP(&waiting), aErrNone);
        start = std::chrono::steady_clock::now();
        result = aSocket_Connect(waiting, {kLoopback, port}, 300);
        queued.push_back(waiting);
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, aErrConnection);
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(2));
    for (int& fd : queued) {
        aSocket_Close(&fd);
    }
}

TEST_F(ASocket, SendReportsAGonePeerAsAConnectionError)
{
    connectPair();
    closePeer(true);
    size_t sent = 99;
    const uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(aSocket_Send(client, data, sizeof(data), &sent), aErrConnection);
    EXPECT_EQ(sent, 99u);
}

TEST_F(ASocket, RefusesMissingPointersAndAClosedSocket)
{
    EXPECT_EQ(aSocket_OpenTCP(nullptr), aErrParam);
    EXPECT_EQ(aSocket_ReceiveByte(0, nullptr), aErrParam);
    EXPECT_EQ(aSocket_Send(0, nullptr, 1, nullptr), aErrParam);
    EXPECT_EQ(aSocket_Close(nullptr), aErrParam);
    int none = aSOCKET_NONE;
    EXPECT_EQ(aSocket_Close(&none), aErrParam);
    EXPECT_EQ(aSocket_WaitReadable(aSOCKET_NONE, 10), aErrParam);
}

} // namespace
