// Tests of link specifiers and of a running link's pipes: heartbeats, user filters, sync, pooled writes and the packet log.
#include "Kestrelon2/common/aLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/module/PtyEndpoint.h"
#include "sim/module/VirtualModule.h"
#include "tests/support/PtyPeer.h"

namespace {

TEST(ALinkSpec, CreateCopyDestroy)
{
    linkSpec* spec = aLinkSpec_Create(kLinkTypeSerial);
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->type, kLinkTypeSerial);
    spec->serialNumber = 0x40F5849A;
    spec->baudRate = 115200;
    std::strcpy(spec->portName, "/dev/ttyUSB0");
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(spec);
    for (size_t i = 28 + sizeof("/dev/ttyUSB0"); i < sizeof(linkSpec); ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }

    linkSpec* copy = aLinkSpec_Copy(*spec);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, spec, sizeof(linkSpec)), 0);

    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(&copy), aErrNone);
}

TEST(ALinkSpec, PortNameOverlaysThePort)
{
    linkSpec spec{};
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&spec.ipAddress) - reinterpret_cast<uint8_t*>(&spec), 24);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&spec.baudRate) - reinterpret_cast<uint8_t*>(&spec), 24);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&spec.ipPort) - reinterpret_cast<uint8_t*>(&spec), 28);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(spec.portName) - reinterpret_cast<uint8_t*>(&spec), 28);
}

using Bytes = std::vector<uint8_t>;

// Waits up to the limit for the link to report the status.
bool _reaches(aLinkId id, aLinkStatus status, std::chrono::milliseconds limit = std::chrono::seconds(2))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (aLink_GetStatus(id) != status) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A serial link at 115200 baud whose far end the test plays byte by byte. The link opens by
// asking for routing (AF 01 01); that is read off before each test begins.
class ALinkPipes : public ::testing::Test {
protected:
    void SetUp() override
    {
        id_ = aLink_CreateSerial(0x5EED0101, peer_.path().c_str(), 115200);
        ASSERT_NE(id_, 0u);
        ASSERT_EQ(peer_.receive(3), (Bytes{0xAF, 0x01, 0x01}));
    }
    void TearDown() override { aLink_Destroy(&id_); }

    void put(const Bytes& wire)
    {
        aPacket* packet = aPacket_CreateWithData(wire[0], wire[1], wire.data() + 2);
        ASSERT_EQ(aLink_PutPacket(id_, packet), aErrNone);
        aPacket_Destroy(&packet);
    }

    static Bytes wireOf(const aPacket* packet)
    {
        Bytes wire = {packet->address, packet->dataSize};
        wire.insert(wire.end(), packet->data, packet->data + packet->dataSize);
        return wire;
    }

    bool reaches(aLinkStatus status) { return _reaches(id_, status); }

    PtyPeer peer_;
    aLinkId id_ = 0;
};

TEST_F(ALinkPipes, CarriesPacketsBothWays)
{
    EXPECT_EQ(aLink_GetStatus(id_), kLinkRunning);
    put({0x02, 0x03, 0x05, 0x40, 0x20});
    EXPECT_EQ(peer_.receive(5), (Bytes{0x02, 0x03, 0x05, 0x40, 0x20}));

    peer_.send({0x02, 0x04, 0x03, 0x08, 0x00, 0x1B, 0x02, 0x00});
    aPacket* packet = aLink_AwaitPacket(id_, 2000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(wireOf(packet), (Bytes{0x02, 0x04, 0x03, 0x08, 0x00, 0x1B}));
    aPacket_Destroy(&packet);
    // The empty packet that followed is a packet like any other.
    packet = aLink_AwaitPacket(id_, 2000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(wireOf(packet), (Bytes{0x02, 0x00}));
    aPacket_Destroy(&packet);
    EXPECT_EQ(aLink_Start(id_), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id_), kLinkRunning);
}

TEST_F(ALinkPipes, AnswersHeartbeatsItself)
{
    const struct {
        uint8_t beat;
        uint8_t answer;
    } cases[] = {{0x00, 0x02}, {0x01, 0x03}, {0xFF, 0x01}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.beat);
        peer_.send({0x02, 0x02, 0x00, c.beat});
        EXPECT_EQ(peer_.receive(4), (Bytes{0x02, 0x02, 0x00, c.answer}));
    }
    EXPECT_EQ(aLink_GetPacket(id_), nullptr);
}

struct FilterCalls {
    std::atomic<int> calls{0};
    int answer = 0;
};

int _recordingFilter(const aPacket*, void* ref)
{
    auto* filter = static_cast<FilterCalls*>(ref);
    filter->calls++;
    return filter->answer;
}

TEST_F(ALinkPipes, UserFilterConsumesOnlyWhenItAnswersOne)
{
    const struct {
        int answer;
        bool queued;
    } cases[] = {{0, true}, {1, false}, {2, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        FilterCalls filter;
        filter.answer = c.answer;
        ASSERT_EQ(aLink_InstallUserPacketFilter(id_, _recordingFilter, &filter), aErrNone);
        peer_.send({0x02, 0x03, 0x05, 0x40, 0x20});
        aPacket* packet = aLink_AwaitPacket(id_, c.queued ? 2000 : 300);
        EXPECT_EQ(packet != nullptr, c.queued);
        aPacket_Destroy(&packet);
        ASSERT_EQ(aLink_InstallUserPacketFilter(id_, nullptr, nullptr), aErrNone);
        EXPECT_EQ(filter.calls.load(), 1);
    }
}

TEST_F(ALinkPipes, FramingErrorResynchronises)
{
    const Bytes burst = {0xAD, 0x00, 0xAD, 0x00, 0xAD, 0x00, 0xAD, 0x00, 0xAD, 0x00, 0xAD, 0x00};
    // A first byte that no packet can start with: the link sends a burst of sync packets and
    // waits for a module address, 0, the same address, 0.
    peer_.send({0x03});
    EXPECT_EQ(peer_.receive(burst.size()), burst);
    EXPECT_TRUE(reaches(kLinkSyncing));
    // An address, 0, then a different address: no sync.
    peer_.send({0x04, 0x00, 0x06, 0x00});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(aLink_GetStatus(id_), kLinkSyncing);
    peer_.send({0x04, 0x00, 0x04, 0x00});
    EXPECT_TRUE(reaches(kLinkRunning));

    // In step again, packets flow.
    peer_.send({0x04, 0x01, 0x17});
    aPacket* packet = nullptr;
    for (int i = 0; i < 20 && packet == nullptr; i++) {
        packet = aLink_AwaitPacket(id_, 200);
        if (packet != nullptr && packet->dataSize == 0) {
            aPacket_Destroy(&packet); // a late answer to the burst
        }
    }
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(wireOf(packet), (Bytes{0x04, 0x01, 0x17}));
    aPacket_Destroy(&packet);
}

TEST_F(ALinkPipes, SyncFindsTheModuleAndEmptiesTheQueues)
{
    std::atomic<bool> answering{true};
    std::thread module([&] {
        // Answers every AD 00 with an empty packet from address 6.
        while (answering) {
            const Bytes got = peer_.receive(2, std::chrono::milliseconds(50));
            if (got == Bytes{0xAD, 0x00}) {
                peer_.send({0x06, 0x00});
            }
        }
    });
    peer_.send({0x06, 0x01, 0x55});
    EXPECT_EQ(aLink_Sync(id_), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id_), kLinkRunning);
    answering = false;
    module.join();
    EXPECT_EQ(aLink_GetPacket(id_), nullptr);
}

TEST_F(ALinkPipes, SyncWithoutAnswerGivesUp)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aLink_Sync(id_), aErrNotReady);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(aLink_GetStatus(id_), kLinkSyncing);
}

int _moduleFour(const aPacket* packet, void*)
{
    return packet->address == 0x04;
}

TEST_F(ALinkPipes, AwaitFirstLeavesOtherPacketsQueued)
{
    EXPECT_EQ(aLink_AwaitFirst(id_, _moduleFour, nullptr, 0), nullptr);
    peer_.send({0x02, 0x00, 0x04, 0x01, 0x11, 0x06, 0x00});
    aPacket* packet = aLink_AwaitFirst(id_, _moduleFour, nullptr, 2000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(wireOf(packet), (Bytes{0x04, 0x01, 0x11}));
    aPacket_Destroy(&packet);
    for (const uint8_t address : {0x02, 0x06}) {
        packet = aLink_AwaitPacket(id_, 2000);
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(packet->address, address);
        aPacket_Destroy(&packet);
    }
}

TEST_F(ALinkPipes, PacketLogRecordsBothDirections)
{
    EXPECT_EQ(aLink_PacketDebug_Disable(id_), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id_, aLINK_PACKETLOG_MAX + 1), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id_, 4096), aErrNone);
    ASSERT_EQ(aLink_PacketDebug_Enable(id_), aErrNone);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(id_, 8192), aErrBusy);

    put({0x02, 0x03, 0x05, 0x40, 0x20});
    EXPECT_EQ(peer_.receive(5).size(), 5u);
    peer_.send({0x02, 0x01, 0x17});
    aPacket* packet = aLink_AwaitPacket(id_, 2000);
    ASSERT_NE(packet, nullptr);
    aPacket_Destroy(&packet);
    const uint8_t mark[] = "START";
    EXPECT_EQ(aLink_PacketDebug_Write(id_, 3, sizeof(mark), mark), aErrNone);

    std::vector<std::pair<uint8_t, Bytes>> entries;
    uint8_t buffer[64];
    uint8_t type = 0;
    size_t length = sizeof(buffer);
    while (aLink_PacketDebug_Read(id_, &type, &length, buffer) == aErrNone) {
        entries.emplace_back(type, Bytes(buffer, buffer + length));
        length = sizeof(buffer);
    }
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (std::pair<uint8_t, Bytes>{1, {0x02, 0x03, 0x05, 0x40, 0x20}}));
    EXPECT_EQ(entries[1], (std::pair<uint8_t, Bytes>{2, {0x02, 0x01, 0x17}}));
    EXPECT_EQ(entries[2].first, 3);
    EXPECT_EQ(aLink_PacketDebug_Disable(id_), aErrNone);
}

// The same over a serial line to the virtual module, which keeps its own record of what came.
class ALinkToVirtualModule : public ::testing::Test {
protected:
    static ksim::ModuleConfig config()
    {
        ksim::ModuleConfig config;
        config.serialNumber = 0x5EED0102;
        config.moduleAddress = 4;
        config.heartbeatMs = 50;
        return config;
    }

    void SetUp() override
    {
        id_ = aLink_CreateSerial(0x5EED0102, endpoint_.path().c_str(), 115200);
        ASSERT_NE(id_, 0u);
    }
    void TearDown() override { aLink_Destroy(&id_); }

    bool moduleReceives(const Bytes& wire)
    {
        return module_.awaitReceived([&](const Bytes& got) { return got == wire; }, std::chrono::seconds(3));
    }

    ksim::VirtualModule module_{config()};
    ksim::PtyEndpoint endpoint_{module_};
    aLinkId id_ = 0;
};

TEST_F(ALinkToVirtualModule, AnswersTheModulesHeartbeats)
{
    EXPECT_TRUE(moduleReceives({0x04, 0x02, 0x00, 0x02}));
    EXPECT_EQ(aLink_GetPacket(id_), nullptr);
}

TEST_F(ALinkToVirtualModule, FramingErrorIsMendedByASyncWithTheModule)
{
    ASSERT_TRUE(moduleReceives({0xAF, 0x01, 0x01}));
    module_.clearReceived();
    endpoint_.inject({0x03});
    // The link answers a burst of six sync packets; the module's answers bring it back in step.
    EXPECT_TRUE(module_.awaitReceived([](const Bytes& got) { return got == Bytes{0xAD, 0x00}; },
                                      std::chrono::seconds(3)));
    EXPECT_TRUE(_reaches(id_, kLinkRunning));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<Bytes> got = module_.received();
    EXPECT_GE(std::count(got.begin(), got.end(), Bytes{0xAD, 0x00}), 6);
}

TEST(ALinkOperations, UnknownIdsAreRefused)
{
    const aLinkId unknown = 0x7FFFFFF0;
    aPacket* packet = aPacket_Create();
    uint8_t type = 0;
    size_t length = 0;
    EXPECT_EQ(aLink_GetStatus(unknown), kLinkNoStream);
    EXPECT_EQ(aLink_GetPacket(unknown), nullptr);
    EXPECT_EQ(aLink_AwaitPacket(unknown, 10), nullptr);
    EXPECT_EQ(aLink_AwaitFirst(unknown, _moduleFour, nullptr, 10), nullptr);
    EXPECT_EQ(aLink_DrainPackets(unknown, _moduleFour, nullptr), 0u);
    EXPECT_EQ(aLink_PutPacket(unknown, packet), aErrParam);
    EXPECT_EQ(aLink_InstallUserPacketFilter(unknown, nullptr, nullptr), aErrParam);
    EXPECT_EQ(aLink_EnablePooledPackets(unknown, true), aErrParam);
    EXPECT_EQ(aLink_Start(unknown), aErrParam);
    EXPECT_EQ(aLink_Sync(unknown), aErrParam);
    EXPECT_EQ(aLink_ForceRoute(unknown, 1), aErrNotFound);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(unknown, 0), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Enable(unknown), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Disable(unknown), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Read(unknown, &type, &length, nullptr), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_Write(unknown, 3, 0, nullptr), aErrParam);
    aPacket_Destroy(&packet);
}

// A transport whose writes the test can hold up, recording the size of each.
struct GatedWrites {
    std::mutex guard;
    std::condition_variable changed;
    bool hold = false;
    bool blocked = false;
    std::vector<size_t> sizes;
};

aErr _gatedWrite(const uint8_t*, size_t length, void* ref)
{
    auto* gate = static_cast<GatedWrites*>(ref);
    std::unique_lock<std::mutex> lock(gate->guard);
    gate->blocked = gate->hold;
    gate->changed.notify_all();
    gate->changed.wait_for(lock, std::chrono::seconds(5), [&] { return !gate->hold; });
    gate->blocked = false;
    gate->sizes.push_back(length);
    gate->changed.notify_all();
    return aErrNone;
}

aErr _gatedPut(const uint8_t* byte, void* ref)
{
    return _gatedWrite(byte, 1, ref);
}

aErr _idleGet(uint8_t*, void*)
{
    return aErrNotReady;
}

aErr _idleWait(uint32_t ms, void*)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return aErrNotReady;
}

TEST(ALinkPooled, FillsWritesOf4096BytesAtMost)
{
    GatedWrites gate;
    aStream* stream = aStream_Create(_idleGet, _gatedPut, _gatedWrite, nullptr, &gate);
    ASSERT_NE(stream, nullptr);
    aStream_SetWaitProc(stream, _idleWait);
    aLinkId id = aLink_Create(stream);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(aLink_EnablePooledPackets(id, true), aErrNone);
    uint8_t data[28] = {0x50};
    aPacket* packet = aPacket_CreateWithData(0x02, sizeof(data), data);
    {
        std::unique_lock<std::mutex> lock(gate.guard);
        ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(5), [&] { return gate.sizes.size() == 1; }));
        gate.hold = true;
    }
    // The pipe takes the first packet and is held in its write while 200 more are queued.
    ASSERT_EQ(aLink_PutPacket(id, packet), aErrNone);
    {
        std::unique_lock<std::mutex> lock(gate.guard);
        ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(5), [&] { return gate.blocked; }));
    }
    for (int i = 0; i < 200; i++) {
        ASSERT_EQ(aLink_PutPacket(id, packet), aErrNone);
    }
    {
        std::unique_lock<std::mutex> lock(gate.guard);
        gate.hold = false;
        gate.changed.notify_all();
        ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(5), [&] { return gate.sizes.size() == 4; }));
        EXPECT_EQ(gate.sizes, (std::vector<size_t>{3, 30, 4080, 1920}));
    }
    aPacket_Destroy(&packet);
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

} // namespace
