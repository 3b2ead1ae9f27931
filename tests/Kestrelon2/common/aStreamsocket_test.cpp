// Tests of the TCP stream against a loopback peer: bytes both ways, reconnecting after resets and closes, a full buffer and waiting.
#include "Kestrelon2/common/aStreamsocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/WireBytes.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// The module's side: a listener on 127.0.0.1 at a port of the OS's choosing.
class Listener {
public:
    explicit Listener(int receiveBuffer = 0)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_GE(fd, 0);
        if (receiveBuffer > 0) {
            // Inherited by the accepted connections, before the window is agreed.
            EXPECT_EQ(setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer)), 0);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = kLoopback;
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(listen(fd, 8), 0);
        socklen_t size = sizeof(address);
        EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
        port = ntohs(address.sin_port);
    }

    ~Listener() { close(); }

    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void close()
    {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    // The next connection, or -1 when none comes within the time.
    int accept(int msTimeout = 2000) const
    {
        pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, msTimeout) != 1) {
            return -1;
        }
        return ::accept(fd, nullptr, nullptr);
    }

    uint16_t port = 0;

private:
    int fd = -1;
};

void sendAll(int peer, const Bytes& bytes)
{
    ASSERT_EQ(send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

Bytes receive(int peer, size_t count, int msTimeout = 2000)
{
    return ReadBytes(peer, count, std::chrono::milliseconds(msTimeout));
}

// Closing with linger 0 sends a reset instead of an orderly close.
void resetAndClose(int peer)
{
    const linger abort = {1, 0};
    ASSERT_EQ(setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort)), 0);
    close(peer);
}

class ASocketStream : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (stream != nullptr) {
            EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
        }
        for (int peer : peers) {
            close(peer);
        }
    }

    void connect(const Listener& listener)
    {
        ASSERT_EQ(aStream_CreateSocket(kLoopback, listener.port, &stream), aErrNone);
        ASSERT_NE(stream, nullptr);
    }

    int acceptPeer(const Listener& listener)
    {
        const int peer = listener.accept();
        if (peer >= 0) {
            peers.push_back(peer);
        }
        return peer;
    }

    void forget(int peer) { std::erase(peers, peer); }

    Bytes readStream(size_t count) { return ReadStream(stream, count); }

    aErr get(uint8_t* byte) { return stream->getProc(byte, stream->procRef); }

    aStream* stream = nullptr;
    std::vector<int> peers;
};

TEST_F(ASocketStream, CarriesBytesBothWays)
{
    Listener listener;
    connect(listener);
    const int peer = acceptPeer(listener);
    ASSERT_GE(peer, 0);

    uint8_t byte = 0;
    EXPECT_EQ(get(&byte), aErrNotReady);

    const Bytes toHost = {0x00, 0xFF, 'a', 0x0D, 0x0A};
    sendAll(peer, toHost);
    EXPECT_EQ(readStream(toHost.size()), toHost);

    const Bytes block = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(aStream_Write(stream, block.data(), block.size()), aErrNone);
    const uint8_t single = 0x42;
    ASSERT_EQ(aStream_Write(stream, &single, 1), aErrNone);
    Bytes expected = block;
    expected.push_back(single);
    EXPECT_EQ(receive(peer, expected.size()), expected);
}

TEST_F(ASocketStream, CreationFailsWithoutAPeerOrWithABadPort)
{
    uint16_t closedPort = 0;
    {
        Listener gone;
        closedPort = gone.port;
    }
    const struct {
        uint32_t port;
        const char* what;
    } cases[] = {{closedPort, "closed port"}, {closedPort + 0x10000u, "port beyond 16 bits"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        aStream* out = reinterpret_cast<aStream*>(&out);
        EXPECT_EQ(aStream_CreateSocket(kLoopback, c.port, &out), aErrResource);
        EXPECT_EQ(out, nullptr);
    }
    Listener listener;
    EXPECT_EQ(aStream_CreateSocket(kLoopback, listener.port, nullptr), aErrResource);
}

TEST_F(ASocketStream, WriteAfterAResetReconnectsAndSendsEveryByte)
{
    Listener listener;
    connect(listener);
    const int first = listener.accept();
    ASSERT_GE(first, 0);
    resetAndClose(first);

    const Bytes bytes = {'x', 'y', 'z'};
    EXPECT_EQ(aStream_Write(stream, bytes.data(), bytes.size()), aErrNone);
    const int second = acceptPeer(listener);
    ASSERT_GE(second, 0);
    EXPECT_EQ(receive(second, 3), bytes);
}

TEST_F(ASocketStream, GetAfterAResetReconnects)
{
    Listener listener;
    connect(listener);
    const int first = listener.accept();
    ASSERT_GE(first, 0);
    resetAndClose(first);

    uint8_t byte = 0;
    EXPECT_EQ(get(&byte), aErrNotReady);
    const int second = acceptPeer(listener);
    ASSERT_GE(second, 0);
    sendAll(second, {'q'});
    EXPECT_EQ(readStream(1), Bytes{'q'});
}

// Bytes written after the peer closed in order would vanish into a connection nobody reads;
// they must reach a new connection instead.
TEST_F(ASocketStream, WriteAfterAnOrderlyCloseGoesToANewConnection)
{
    Listener listener;
    connect(listener);
    const int first = listener.accept();
    ASSERT_GE(first, 0);
    close(first);
    EXPECT_EQ(aStream_Wait(stream, 100), aErrNotReady);

    uint8_t byte = 0;
    EXPECT_EQ(get(&byte), aErrNotReady);
    const Bytes bytes = {'a', 'b', 'c'};
    EXPECT_EQ(aStream_Write(stream, bytes.data(), bytes.size()), aErrNone);
    const int second = acceptPeer(listener);
    ASSERT_GE(second, 0);
    EXPECT_EQ(receive(second, 3), bytes);
}

TEST_F(ASocketStream, WriteIntoAFullBufferGivesUpBusyAfterTenRetries)
{
    Listener listener(4096);
    connect(listener);
    ASSERT_GE(acceptPeer(listener), 0); // never reads

    // Far more than the send and receive buffers of a loopback connection can hold.
    const Bytes flood(32u << 20, 0x55);
    const auto start = Clock::now();
    EXPECT_EQ(aStream_Write(stream, flood.data(), flood.size()), aErrBusy);
    const long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 500);
    EXPECT_LT(elapsed, 3000);
}

TEST_F(ASocketStream, WaitSleepsWhileIdleAndWakesForAByte)
{
    Listener listener;
    connect(listener);
    const int peer = acceptPeer(listener);
    ASSERT_GE(peer, 0);

    const double cpuBefore = threadCpuMs();
    const auto idle = Clock::now();
    EXPECT_EQ(aStream_Wait(stream, 300), aErrNotReady);
    EXPECT_GE(msSince(idle), 295);
    EXPECT_LT(threadCpuMs() - cpuBefore, 30.0);

    std::thread sender([peer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sendAll(peer, {0x17});
    });
    const auto woken = Clock::now();
    EXPECT_EQ(aStream_Wait(stream, 5000), aErrNone);
    EXPECT_LT(msSince(woken), 2000);
    sender.join();
    uint8_t byte = 0;
    EXPECT_EQ(get(&byte), aErrNone);
    EXPECT_EQ(byte, 0x17);
}

TEST_F(ASocketStream, WaitDoesNotReturnEarlyAfterAnOrderlyClose)
{
    Listener listener;
    connect(listener);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);
    close(peer);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const double cpuBefore = threadCpuMs();
        const auto start = Clock::now();
        EXPECT_EQ(aStream_Wait(stream, 300), aErrNotReady);
        EXPECT_GE(msSince(start), 295);
        EXPECT_LT(threadCpuMs() - cpuBefore, 30.0);
        uint8_t byte = 0;
        EXPECT_EQ(get(&byte), aErrNotReady);
    }
}

TEST_F(ASocketStream, StaysDownOnceTheReconnectIsRefused)
{
    Listener listener;
    connect(listener);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);
    listener.close();
    resetAndClose(peer);

    uint8_t byte = 0;
    EXPECT_EQ(get(&byte), aErrConnection);
    const double cpuBefore = threadCpuMs();
    const auto start = Clock::now();
    EXPECT_EQ(aStream_Wait(stream, 200), aErrNotReady);
    EXPECT_GE(msSince(start), 195);
    EXPECT_LT(threadCpuMs() - cpuBefore, 30.0);
    EXPECT_EQ(get(&byte), aErrConnection);
    const uint8_t single = 1;
    EXPECT_EQ(aStream_Write(stream, &single, 1), aErrConnection);
}

// The input pipe reads while the output pipe writes, on one stream.
TEST_F(ASocketStream, OneReaderAndOneWriterShareTheStream)
{
    Listener listener;
    connect(listener);
    const int peer = acceptPeer(listener);
    ASSERT_GE(peer, 0);

    constexpr size_t kCount = 200;
    std::thread echo([peer] {
        const Bytes got = receive(peer, kCount, 5000);
        if (!got.empty()) {
            send(peer, got.data(), got.size(), MSG_NOSIGNAL);
        }
    });
    std::atomic<bool> writesOk{true};
    std::thread writer([this, &writesOk] {
        for (size_t i = 0; i < kCount; ++i) {
            const auto byte = static_cast<uint8_t>(i);
            if (aStream_Write(stream, &byte, 1) != aErrNone) {
                writesOk = false;
            }
        }
    });
    Bytes expected(kCount);
    for (size_t i = 0; i < kCount; ++i) {
        expected[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(readStream(kCount), expected);
    writer.join();
    echo.join();
    EXPECT_TRUE(writesOk);
}

} // namespace
