// Tests of the link table: ids, use counts, creation over TCP and serial lines to the virtual module, reconnection and reset.
#include "Kestrelon2/common/aLink.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "sim/module/PtyEndpoint.h"
#include "sim/module/TcpEndpoint.h"
#include "sim/module/VirtualModule.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSerial = 0x40F5849A;

ksim::ModuleConfig _config()
{
    ksim::ModuleConfig config;
    config.serialNumber = kSerial;
    config.moduleAddress = 2;
    return config;
}

uint32_t _loopback()
{
    return htonl(INADDR_LOOPBACK);
}

int _serialAnswer(const aPacket* packet, void*)
{
    return packet->dataSize == 7 && packet->data[0] == 0x03 && packet->data[1] == 0x09;
}

// Asks the module on the link for its serial number with a raw system-entity get (03 49 20);
// 0 when no answer comes.
uint32_t _serialNumberOver(aLinkId id)
{
    const uint8_t request[] = {0x03, 0x49, 0x20};
    aPacket* packet = aPacket_CreateWithData(0x02, sizeof(request), request);
    const aErr put = aLink_PutPacket(id, packet);
    aPacket_Destroy(&packet);
    if (put != aErrNone) {
        return 0;
    }
    packet = aLink_AwaitFirst(id, _serialAnswer, nullptr, 2000);
    if (packet == nullptr) {
        return 0;
    }
    const uint32_t serial = static_cast<uint32_t>(packet->data[3]) << 24 | static_cast<uint32_t>(packet->data[4]) << 16 |
                            static_cast<uint32_t>(packet->data[5]) << 8 | packet->data[6];
    EXPECT_EQ(packet->data[2], 0x00);
    aPacket_Destroy(&packet);
    return serial;
}

aErr _idleGet(uint8_t*, void*)
{
    return aErrNotReady;
}

aErr _discardWrite(const uint8_t*, size_t, void*)
{
    return aErrNone;
}

aErr _discardPut(const uint8_t*, void*)
{
    return aErrNone;
}

aLinkId _ownStreamLink()
{
    return aLink_Create(aStream_Create(_idleGet, _discardPut, _discardWrite, nullptr, nullptr));
}

TEST(ALinkTable, IdsCountUpAndAreNeverReused)
{
    aLinkId first = _ownStreamLink();
    aLinkId second = _ownStreamLink();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(aLink_Destroy(&first), aErrNone);
    EXPECT_EQ(first, 0u);
    aLinkId third = _ownStreamLink();
    EXPECT_EQ(third, second + 1);
    aLink_Destroy(&second);
    aLink_Destroy(&third);
}

TEST(ALinkTable, DestroyOfUnknownIdClearsIt)
{
    aLinkId unknown = 0x7FFFFFF0;
    EXPECT_EQ(aLink_Destroy(&unknown), aErrParam);
    EXPECT_EQ(unknown, 0u);
    EXPECT_EQ(aLink_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aLink_Reset(0x7FFFFFF0), aErrParam);
    EXPECT_EQ(aLink_Init(0x7FFFFFF0, nullptr), 0u);
    EXPECT_EQ(aLink_Create(nullptr), 0u);
}

TEST(ALinkTable, ResetOfALinkOverTheCallersStreamLeavesItStopped)
{
    aLinkId id = _ownStreamLink();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), kLinkRunning);
    // Nothing is known from which to make the caller's stream again.
    EXPECT_EQ(aLink_Reset(id), aErrParam);
    EXPECT_EQ(aLink_GetStatus(id), kLinkNoStream);
    EXPECT_EQ(aLink_GetPacket(id), nullptr);
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

class ALinkTcp : public ::testing::Test {
protected:
    ksim::VirtualModule module_{_config()};
    ksim::TcpEndpoint endpoint_{module_, "127.0.0.1", 0};
};

TEST_F(ALinkTcp, SecondCreateSharesTheLinkUntilTheLastDestroy)
{
    aLinkId first = aLink_CreateTCPIP(_loopback(), endpoint_.port());
    ASSERT_NE(first, 0u);
    aLinkId second = aLink_CreateTCPIP(_loopback(), endpoint_.port());
    EXPECT_EQ(second, first);
    const aLinkId kept = first;
    EXPECT_EQ(aLink_Destroy(&first), aErrNone);
    EXPECT_EQ(aLink_GetStatus(kept), kLinkRunning);
    EXPECT_EQ(_serialNumberOver(kept), kSerial);
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(kept), kLinkNoStream);
}

TEST_F(ALinkTcp, StartAsksForRoutingAndTheModuleAnswers)
{
    aLinkId id = aLink_CreateTCPIP(_loopback(), endpoint_.port());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), kLinkRunning);
    EXPECT_EQ(_serialNumberOver(id), kSerial);
    EXPECT_TRUE(module_.routed());
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

TEST_F(ALinkTcp, ReconnectsAfterTheModuleResetsTheConnection)
{
    aLinkId id = aLink_CreateTCPIP(_loopback(), endpoint_.port());
    ASSERT_NE(id, 0u);
    ASSERT_EQ(_serialNumberOver(id), kSerial);
    endpoint_.resetConnections();
    // The reset is noticed at the next read or write, which connects again.
    uint32_t serial = 0;
    for (int attempt = 0; attempt < 5 && serial == 0; attempt++) {
        serial = _serialNumberOver(id);
    }
    EXPECT_EQ(serial, kSerial);
    EXPECT_EQ(endpoint_.connectionsAccepted(), 2u);
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

int _takeEverything(const aPacket*, void*)
{
    return 1;
}

TEST_F(ALinkTcp, ResetReconnectsUnderTheSameIdWithoutTheFilter)
{
    aLinkId id = aLink_CreateTCPIP(_loopback(), endpoint_.port());
    ASSERT_NE(id, 0u);
    ASSERT_EQ(aLink_InstallUserPacketFilter(id, _takeEverything, nullptr), aErrNone);
    EXPECT_EQ(_serialNumberOver(id), 0u);
    ASSERT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), kLinkRunning);
    EXPECT_EQ(_serialNumberOver(id), kSerial);
    EXPECT_EQ(endpoint_.connectionsAccepted(), 2u);
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

TEST(ALinkTcpFailure, ClosedPortLeavesNothingBehind)
{
    uint16_t port = 0;
    {
        ksim::VirtualModule module(_config());
        ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
        port = endpoint.port();
    }
    EXPECT_EQ(aLink_CreateTCPIP(_loopback(), port), 0u);
    // A failed create leaves no entry that a later create could hand out.
    ksim::VirtualModule module(_config());
    ksim::TcpEndpoint endpoint(module, "127.0.0.1", 0);
    aLinkId id = aLink_CreateTCPIP(_loopback(), endpoint.port());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(_serialNumberOver(id), kSerial);
    aLink_Destroy(&id);
}

class ALinkSerial : public ::testing::Test {
protected:
    ksim::VirtualModule module_{_config()};
    ksim::PtyEndpoint endpoint_{module_};
};

TEST_F(ALinkSerial, OnlyTheListedBaudRatesOpen)
{
    const struct {
        uint32_t baud;
        bool opens;
    } cases[] = {{14400, false}, {0, false}, {2400, true}, {115200, true}, {230400, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        aLinkId id = aLink_CreateSerial(kSerial, endpoint_.path().c_str(), c.baud);
        EXPECT_EQ(id != 0, c.opens);
        if (id != 0) {
            EXPECT_EQ(aLink_GetStatus(id), kLinkRunning);
            EXPECT_EQ(_serialNumberOver(id), kSerial);
            EXPECT_EQ(aLink_Destroy(&id), aErrNone);
        }
    }
    EXPECT_EQ(aLink_CreateSerial(kSerial, "/dev/kestrelon-no-such-line", 115200), 0u);
    EXPECT_EQ(aLink_CreateSerial(kSerial, nullptr, 115200), 0u);
}

TEST_F(ALinkSerial, SameSerialNumberSharesTheLink)
{
    aLinkId first = aLink_CreateSerial(kSerial, endpoint_.path().c_str(), 115200);
    ASSERT_NE(first, 0u);
    aLinkId second = aLink_CreateSerial(kSerial, "/dev/ignored-when-shared", 9600);
    EXPECT_EQ(second, first);
    aLink_Destroy(&first);
    EXPECT_EQ(aLink_GetStatus(second), kLinkRunning);
    aLink_Destroy(&second);
}

TEST_F(ALinkSerial, ResetOpensTheLineAgain)
{
    aLinkId id = aLink_CreateSerial(kSerial, endpoint_.path().c_str(), 115200);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), kLinkRunning);
    EXPECT_EQ(_serialNumberOver(id), kSerial);
    aLink_Destroy(&id);
}

TEST(ALinkTransports, SerialNumberEqualToAnAddressGetsItsOwnLink)
{
    // 127.0.0.1 in network order, read as a serial number.
    const uint32_t collides = _loopback();
    ksim::VirtualModule networked(_config());
    ksim::TcpEndpoint tcp(networked, "127.0.0.1", 0);
    ksim::ModuleConfig config = _config();
    config.serialNumber = collides;
    ksim::VirtualModule wired(config);
    ksim::PtyEndpoint pty(wired);

    aLinkId overTcp = aLink_CreateTCPIP(_loopback(), tcp.port());
    ASSERT_NE(overTcp, 0u);
    aLinkId overSerial = aLink_CreateSerial(collides, pty.path().c_str(), 115200);
    ASSERT_NE(overSerial, 0u);
    EXPECT_NE(overSerial, overTcp);
    EXPECT_EQ(_serialNumberOver(overSerial), collides);
    EXPECT_EQ(_serialNumberOver(overTcp), kSerial);
    aLink_Destroy(&overSerial);
    aLink_Destroy(&overTcp);
}

} // namespace
