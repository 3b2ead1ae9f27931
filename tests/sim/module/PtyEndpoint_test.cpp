// Tests of PtyEndpoint through its slave side, opened as a host opens a serial port: raw bytes both ways, injected bytes, heartbeats only while attached.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "sim/module/Packet.h"
#include "sim/module/PtyEndpoint.h"
#include "tests/support/WireBytes.h"

namespace {

using ksim::Bytes;
using namespace std::chrono_literals;

// The host's side of the line, opened as it is, without changing any setting.
class Line {
public:
    explicit Line(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Line()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool Send(const Bytes& bytes) const { return WriteBytes(fd_, bytes); }

    Bytes Read(size_t count, std::chrono::milliseconds limit = 2000ms) const { return ReadBytes(fd_, count, limit); }

private:
    int fd_;
};

ksim::ModuleConfig Config(uint32_t heartbeatMs = 0)
{
    ksim::ModuleConfig config;
    config.heartbeatMs = heartbeatMs;
    return config;
}

TEST(PtyEndpoint, PassesEveryByteUnalteredBothWays)
{
    ksim::VirtualModule module(Config());
    ksim::PtyEndpoint endpoint(module);
    ASSERT_EQ(endpoint.path().rfind("/dev/pts/", 0), 0u) << endpoint.path();
    Line line(endpoint.path());
    ASSERT_TRUE(line.isOpen());
    termios settings{};
    ASSERT_EQ(tcgetattr(line.fd(), &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u) << "the line is raw before the host sets anything";

    ASSERT_TRUE(line.Send({0xAD, 0x00}));
    EXPECT_EQ(line.Read(2), (Bytes{0x02, 0x00}));
    // Bytes a cooked line would translate, swallow or act on: CR, LF, ^C, DEL, XON, XOFF, ^D, ^Z, NUL, 0xFF.
    const Bytes awkward{0x17, 0x0D, 0x0A, 0x03, 0x7F, 0x11, 0x13, 0x04, 0x1A, 0x00, 0xFF, 0x1C};
    const Bytes request = ksim::Packet{0x02, awkward}.wire();
    ASSERT_TRUE(line.Send(request));
    EXPECT_EQ(line.Read(request.size()), request);
    EXPECT_EQ(line.Read(1, 100ms), Bytes{}) << "nothing echoed";

    endpoint.inject({0x03});
    EXPECT_EQ(line.Read(1), (Bytes{0x03}));
}

TEST(PtyEndpoint, SendsHeartbeatsOnlyWhileAHostHoldsTheLine)
{
    ksim::VirtualModule module(Config(50));
    ksim::PtyEndpoint endpoint(module);
    // Nobody attached: beats would pile up in the line for the next host; none may.
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(endpoint.attached());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Line line(endpoint.path());
        ASSERT_TRUE(line.isOpen());
        EXPECT_EQ(line.Read(1, 20ms), Bytes{}) << "nothing stale on the line";
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(line.Read(4), (Bytes{0x02, 0x02, 0x00, 0x00}));
        }
        EXPECT_TRUE(endpoint.attached());
        // Half a packet left behind must not spoil the next host's first request.
        ASSERT_TRUE(line.Send({0x02, 0x05, 0x03}));
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(endpoint.attached());
    Line line(endpoint.path());
    ASSERT_TRUE(line.Send({0xAD, 0x00}));
    Bytes got = line.Read(2);
    if (got == Bytes{0x02, 0x02}) { // a heartbeat came first
        line.Read(2);
        got = line.Read(2);
    }
    EXPECT_EQ(got, (Bytes{0x02, 0x00}));
}

} // namespace
