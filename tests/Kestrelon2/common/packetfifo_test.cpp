// Tests of the packet queues: handles, order, capacity, filtered and windowed reads, draining, and concurrent use.
#include "Kestrelon2/common/packetfifo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <latch>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct PacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};
using Packet = std::unique_ptr<aPacket, PacketDeleter>;

// A packet to module `address` whose first data bytes are the tag, high byte first.
Packet makePacket(uint8_t address, uint16_t tag)
{
    const uint8_t data[] = {static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag), 0x5A};
    return Packet(aPacket_CreateWithData(address, sizeof(data), data));
}

uint16_t tagOf(const aPacket* packet)
{
    return static_cast<uint16_t>(packet->data[0] << 8 | packet->data[1]);
}

// Owns one queue for the length of a test.
struct Fifo {
    aPacketFifoHandle handle = aPacketFifo_Create();
    ~Fifo() { aPacketFifo_Destroy(&handle); }
};

void put(aPacketFifoHandle handle, uint8_t address, uint16_t tag)
{
    Packet packet = makePacket(address, tag);
    ASSERT_EQ(aErrNone, aPacketFifo_Put(handle, packet.get()));
}

// Empties the queue with Get and lists what came out as (address, tag) pairs.
std::vector<std::pair<uint8_t, uint16_t>> takeAll(aPacketFifoHandle handle)
{
    std::vector<std::pair<uint8_t, uint16_t>> taken;
    while (Packet packet{aPacketFifo_Get(handle)}) {
        taken.emplace_back(packet->address, tagOf(packet.get()));
    }
    return taken;
}

long msSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

int selectAll(const aPacket*, void*)
{
    return 1;
}

int selectNone(const aPacket*, void*)
{
    return 0;
}

// Selects packets to one module and records every packet it is offered. Runs under the queue's
// lock; the test thread reads the record only through waitForCalls or after the reader is done.
struct RecordingFilter {
    uint8_t wanted = 0;
    std::vector<uint16_t> offered;
    std::mutex lock;
    std::condition_variable called;

    static int select(const aPacket* packet, void* ref)
    {
        auto* self = static_cast<RecordingFilter*>(ref);
        {
            std::lock_guard<std::mutex> hold(self->lock);
            self->offered.push_back(tagOf(packet));
        }
        self->called.notify_all();
        return packet->address == self->wanted;
    }

    bool waitForCalls(size_t count)
    {
        std::unique_lock<std::mutex> hold(lock);
        return called.wait_for(hold, std::chrono::seconds(5),
                               [&] { return offered.size() >= count; });
    }
};

// A windowed read that is (most likely) already waiting when the packet it wants is put.
Packet awaitFirstAcrossAPut(aPacketFifoHandle handle, uint8_t address, uint16_t tag)
{
    RecordingFilter filter;
    filter.wanted = address;
    Packet got;
    std::thread reader([&] {
        got.reset(aPacketFifo_AwaitFirst(handle, RecordingFilter::select, &filter, 5000));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    put(handle, address, tag);
    reader.join();
    return got;
}

TEST(PacketFifo, HandlesCountFromOneInAFreshProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            aPacketFifoHandle handles[3];
            for (auto& handle : handles) {
                handle = aPacketFifo_Create();
            }
            aPacketFifoHandle middle = handles[1];
            aPacketFifo_Destroy(&middle);
            const aPacketFifoHandle next = aPacketFifo_Create();
            std::fprintf(stderr, "handles %llu %llu %llu %llu\n",
                         static_cast<unsigned long long>(handles[0]),
                         static_cast<unsigned long long>(handles[1]),
                         static_cast<unsigned long long>(handles[2]),
                         static_cast<unsigned long long>(next));
            std::exit(0);
        },
        testing::ExitedWithCode(0), "handles 1 2 3 4\n");
}

TEST(PacketFifo, HandlesIncreaseAndAreNeverReused)
{
    std::vector<aPacketFifoHandle> handles;
    for (int i = 0; i < 3; i++) {
        handles.push_back(aPacketFifo_Create());
    }
    ASSERT_NE(0u, handles[0]);
    EXPECT_EQ(handles[0] + 1, handles[1]);
    EXPECT_EQ(handles[1] + 1, handles[2]);

    aPacketFifoHandle destroyed = handles[1];
    ASSERT_EQ(aErrNone, aPacketFifo_Destroy(&destroyed));
    EXPECT_EQ(0u, destroyed);
    const aPacketFifoHandle after = aPacketFifo_Create();
    EXPECT_GT(after, handles[2]);

    destroyed = handles[1];
    EXPECT_EQ(aErrNotFound, aPacketFifo_Destroy(&destroyed));
    EXPECT_EQ(0u, destroyed);
    handles[1] = after;
    for (auto& handle : handles) {
        EXPECT_EQ(aErrNone, aPacketFifo_Destroy(&handle));
    }
}

TEST(PacketFifo, ConcurrentCreatesGiveDistinctHandles)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 50;
    std::vector<std::vector<aPacketFifoHandle>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&made, t] {
            for (int i = 0; i < kPerThread; i++) {
                made[t].push_back(aPacketFifo_Create());
                if (i % 2 == 1) {
                    aPacketFifoHandle older = made[t][i - 1];
                    aPacketFifo_Destroy(&older);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<aPacketFifoHandle> distinct;
    for (int t = 0; t < kThreads; t++) {
        for (int i = 0; i < kPerThread; i++) {
            EXPECT_NE(0u, made[t][i]);
            EXPECT_TRUE(distinct.insert(made[t][i]).second) << made[t][i] << " issued twice";
            if (i > 0) {
                EXPECT_GT(made[t][i], made[t][i - 1]);
            }
            aPacketFifoHandle handle = made[t][i];
            EXPECT_EQ(i % 2 == 0 ? aErrNotFound : aErrNone, aPacketFifo_Destroy(&handle));
        }
    }
}

TEST(PacketFifo, UnknownHandleIsRefusedEverywhere)
{
    aPacketFifoHandle gone = aPacketFifo_Create();
    const aPacketFifoHandle stale = gone;
    ASSERT_EQ(aErrNone, aPacketFifo_Destroy(&gone));
    Packet packet = makePacket(4, 1);

    for (aPacketFifoHandle handle : {aPacketFifoHandle{0}, stale}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(aErrParam, aPacketFifo_Put(handle, packet.get()));
        EXPECT_EQ(0u, aPacketFifo_GetLength(handle));
        EXPECT_EQ(nullptr, aPacketFifo_Get(handle));
        EXPECT_EQ(nullptr, aPacketFifo_GetFirst(handle, selectAll, nullptr));
        EXPECT_EQ(0u, aPacketFifo_DrainPackets(handle, selectAll, nullptr));
        const auto start = Clock::now();
        EXPECT_EQ(nullptr, aPacketFifo_Await(handle, 10000));
        EXPECT_EQ(nullptr, aPacketFifo_AwaitFirst(handle, selectAll, nullptr, 10000));
        EXPECT_LT(msSince(start), 1000);
        aPacketFifoHandle copy = handle;
        EXPECT_EQ(aErrNotFound, aPacketFifo_Destroy(&copy));
        EXPECT_EQ(0u, copy);
    }
    EXPECT_EQ(aErrParam, aPacketFifo_Destroy(nullptr));
}

struct RefusedPut {
    std::string name;
    std::function<Packet()> make; // null packet when the function yields null
};

TEST(PacketFifo, PutRefusesBadPackets)
{
    const std::vector<RefusedPut> cases = {
        {"null packet", [] { return Packet(); }},
        {"wrong check value",
         [] {
             Packet packet = makePacket(4, 1);
             packet->check = aPACKET_CHECK ^ 1;
             return packet;
         }},
        {"cleared check value",
         [] {
             Packet packet = makePacket(4, 1);
             packet->check = 0;
             return packet;
         }},
        {"length beyond the data buffer",
         [] {
             Packet packet = makePacket(4, 1);
             packet->dataSize = aPACKET_MAX_DATA + 1;
             return packet;
         }},
    };
    Fifo fifo;
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.name);
        Packet packet = refused.make();
        EXPECT_EQ(aErrParam, aPacketFifo_Put(fifo.handle, packet.get()));
        EXPECT_EQ(0u, aPacketFifo_GetLength(fifo.handle));
        if (packet != nullptr) {
            packet->check = aPACKET_CHECK; // let the deleter release it
        }
    }
    put(fifo.handle, 4, 7);
    EXPECT_EQ((std::vector<std::pair<uint8_t, uint16_t>>{{4, 7}}), takeAll(fifo.handle));
}

TEST(PacketFifo, GetHandsOutCopiesOldestFirst)
{
    Fifo fifo;
    EXPECT_EQ(nullptr, aPacketFifo_Get(fifo.handle));

    Packet mine = makePacket(6, 1);
    ASSERT_EQ(aErrNone, aPacketFifo_Put(fifo.handle, mine.get()));
    mine->data[1] = 2;
    ASSERT_EQ(aErrNone, aPacketFifo_Put(fifo.handle, mine.get()));
    mine->data[1] = 3;
    EXPECT_EQ(2u, aPacketFifo_GetLength(fifo.handle));

    Packet first{aPacketFifo_Get(fifo.handle)};
    Packet second{aPacketFifo_Get(fifo.handle)};
    ASSERT_TRUE(aVALIDPACKET(first.get()));
    ASSERT_TRUE(aVALIDPACKET(second.get()));
    EXPECT_NE(mine.get(), first.get());
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(1, tagOf(first.get()));
    EXPECT_EQ(2, tagOf(second.get()));
    EXPECT_EQ(6, second->address);
    EXPECT_EQ(3, second->dataSize);
    EXPECT_EQ(0x5A, second->data[2]);
    EXPECT_EQ(nullptr, aPacketFifo_Get(fifo.handle));
    EXPECT_EQ(0u, aPacketFifo_GetLength(fifo.handle));
}

struct CapacityCase {
    size_t puts;
    size_t kept;
    uint16_t oldest; // tag of the oldest packet kept
};

TEST(PacketFifo, ThePutBeyondCapacityEmptiesTheQueue)
{
    const std::vector<CapacityCase> cases = {
        {999, 999, 0},
        {1000, 1000, 0},
        {1001, 0, 0},
        {1003, 2, 1001},
    };
    for (const auto& capacity : cases) {
        SCOPED_TRACE(capacity.puts);
        Fifo fifo;
        for (size_t i = 0; i < capacity.puts; i++) {
            put(fifo.handle, 4, static_cast<uint16_t>(i));
        }
        ASSERT_EQ(capacity.kept, aPacketFifo_GetLength(fifo.handle));
        const auto kept = takeAll(fifo.handle);
        ASSERT_EQ(capacity.kept, kept.size());
        if (!kept.empty()) {
            EXPECT_EQ(capacity.oldest, kept.front().second);
            EXPECT_EQ(capacity.puts - 1, kept.back().second);
        }
        // The emptied queue still serves windowed reads of what comes next.
        Packet next = awaitFirstAcrossAPut(fifo.handle, 8, 0xBEE);
        ASSERT_NE(nullptr, next);
        EXPECT_EQ(0xBEE, tagOf(next.get()));
    }
}

TEST(PacketFifo, WaitsWithoutAPacketTimeOut)
{
    struct Wait {
        std::string name;
        uint32_t ms;
        bool refusedPacketQueued;
        std::function<aPacket*(aPacketFifoHandle, uint32_t)> read;
    };
    const auto await = [](aPacketFifoHandle handle, uint32_t ms) {
        return aPacketFifo_Await(handle, ms);
    };
    const auto awaitFirst = [](aPacketFifoHandle handle, uint32_t ms) {
        return aPacketFifo_AwaitFirst(handle, selectNone, nullptr, ms);
    };
    const std::vector<Wait> cases = {
        {"Await 0", 0, false, await},
        {"Await 100", 100, false, await},
        {"AwaitFirst 0", 0, false, awaitFirst},
        {"AwaitFirst 100", 100, false, awaitFirst},
        {"AwaitFirst 100 over a refused packet", 100, true, awaitFirst},
    };
    for (const auto& wait : cases) {
        SCOPED_TRACE(wait.name);
        Fifo fifo;
        if (wait.refusedPacketQueued) {
            put(fifo.handle, 2, 1);
        }
        const auto start = Clock::now();
        Packet got{wait.read(fifo.handle, wait.ms)};
        const long elapsed = msSince(start);
        EXPECT_EQ(nullptr, got);
        EXPECT_GE(elapsed, static_cast<long>(wait.ms));
        EXPECT_LT(elapsed, static_cast<long>(wait.ms) + 500);
    }
}

TEST(PacketFifo, AwaitReturnsAPacketPutDuringTheWait)
{
    Fifo fifo;
    const auto start = Clock::now();
    std::thread producer([&fifo] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        put(fifo.handle, 4, 9);
    });
    Packet got{aPacketFifo_Await(fifo.handle, 10000)};
    producer.join();
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(9, tagOf(got.get()));
    EXPECT_LT(msSince(start), 2000);
}

TEST(PacketFifo, GetFirstTakesTheOldestSelectedAndKeepsTheRest)
{
    Fifo fifo;
    put(fifo.handle, 2, 0);
    put(fifo.handle, 4, 1);
    put(fifo.handle, 6, 2);
    put(fifo.handle, 4, 3);

    RecordingFilter filter;
    filter.wanted = 4;
    Packet got{aPacketFifo_GetFirst(fifo.handle, RecordingFilter::select, &filter)};
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(1, tagOf(got.get()));
    EXPECT_EQ((std::vector<uint16_t>{0, 1}), filter.offered);

    filter.wanted = 8;
    EXPECT_EQ(nullptr, aPacketFifo_GetFirst(fifo.handle, RecordingFilter::select, &filter));
    EXPECT_EQ(nullptr, aPacketFifo_GetFirst(fifo.handle, nullptr, nullptr));
    EXPECT_EQ((std::vector<std::pair<uint8_t, uint16_t>>{{2, 0}, {6, 2}, {4, 3}}),
              takeAll(fifo.handle));
}

TEST(PacketFifo, AwaitFirstOffersEachPacketOnce)
{
    Fifo fifo;
    put(fifo.handle, 2, 0);
    put(fifo.handle, 6, 1);

    RecordingFilter filter;
    filter.wanted = 4;
    Packet got;
    std::thread reader([&] {
        got.reset(aPacketFifo_AwaitFirst(fifo.handle, RecordingFilter::select, &filter, 10000));
    });
    ASSERT_TRUE(filter.waitForCalls(2));
    // One refused arrival at a time, so the reader wakes and scans once per packet.
    constexpr uint16_t kRefused = 10;
    for (uint16_t tag = 2; tag < 2 + kRefused; tag++) {
        put(fifo.handle, 8, tag);
        ASSERT_TRUE(filter.waitForCalls(tag + 1u));
    }
    put(fifo.handle, 4, 2 + kRefused);
    reader.join();

    ASSERT_NE(nullptr, got);
    EXPECT_EQ(4, got->address);
    EXPECT_EQ(2 + kRefused, tagOf(got.get()));
    std::vector<uint16_t> everyTagOnce;
    std::vector<std::pair<uint8_t, uint16_t>> left = {{2, 0}, {6, 1}};
    for (uint16_t tag = 0; tag <= 2 + kRefused; tag++) {
        everyTagOnce.push_back(tag);
        if (tag >= 2 && tag < 2 + kRefused) {
            left.emplace_back(8, tag);
        }
    }
    EXPECT_EQ(everyTagOnce, filter.offered);
    EXPECT_EQ(left, takeAll(fifo.handle));
}

TEST(PacketFifo, AwaitFirstTakesAnAlreadyQueuedPacketAtOnce)
{
    Fifo fifo;
    put(fifo.handle, 2, 0);
    put(fifo.handle, 4, 1);
    put(fifo.handle, 4, 2);
    RecordingFilter filter;
    filter.wanted = 4;
    const auto start = Clock::now();
    Packet got{aPacketFifo_AwaitFirst(fifo.handle, RecordingFilter::select, &filter, 10000)};
    EXPECT_LT(msSince(start), 1000);
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(1, tagOf(got.get()));
    EXPECT_EQ((std::vector<uint16_t>{0, 1}), filter.offered);
    EXPECT_EQ(nullptr, aPacketFifo_AwaitFirst(fifo.handle, nullptr, nullptr, 0));
}

struct DrainCase {
    std::string name;
    uint8_t wanted; // 0 selects every packet
    size_t drained;
    std::vector<std::pair<uint8_t, uint16_t>> left;
};

int selectModuleOrAll(const aPacket* packet, void* ref)
{
    auto* calls = static_cast<std::pair<uint8_t, size_t>*>(ref);
    calls->second++;
    return calls->first == 0 || packet->address == calls->first;
}

TEST(PacketFifo, DrainRemovesTheSelectedAndKeepsTheOrderOfTheRest)
{
    const std::vector<DrainCase> cases = {
        {"everything", 0, 6, {}},
        {"module 4", 4, 3, {{2, 0}, {6, 2}, {2, 4}}},
        {"the oldest", 2, 2, {{4, 1}, {6, 2}, {4, 3}, {4, 5}}},
        {"nothing", 10, 0, {{2, 0}, {4, 1}, {6, 2}, {4, 3}, {2, 4}, {4, 5}}},
    };
    for (const auto& drain : cases) {
        SCOPED_TRACE(drain.name);
        Fifo fifo;
        const uint8_t addresses[] = {2, 4, 6, 4, 2, 4};
        for (uint16_t tag = 0; tag < 6; tag++) {
            put(fifo.handle, addresses[tag], tag);
        }
        std::pair<uint8_t, size_t> calls{drain.wanted, 0};
        EXPECT_EQ(drain.drained, aPacketFifo_DrainPackets(fifo.handle, selectModuleOrAll, &calls));
        EXPECT_EQ(6u, calls.second);
        EXPECT_EQ(drain.left.size(), aPacketFifo_GetLength(fifo.handle));

        // A windowed read after the drain still sees what is put afterwards.
        Packet later = awaitFirstAcrossAPut(fifo.handle, 12, 99);
        ASSERT_NE(nullptr, later);
        EXPECT_EQ(99, tagOf(later.get()));
        EXPECT_EQ(drain.left, takeAll(fifo.handle));
    }
    Fifo fifo;
    put(fifo.handle, 2, 0);
    EXPECT_EQ(0u, aPacketFifo_DrainPackets(fifo.handle, nullptr, nullptr));
    EXPECT_EQ(1u, aPacketFifo_GetLength(fifo.handle));
}

TEST(PacketFifo, DestroyWakesEveryWaiterWithNull)
{
    struct Waiter {
        std::string name;
        bool windowed;
    };
    const std::vector<Waiter> cases = {{"Await", false}, {"AwaitFirst", true}};
    constexpr int kWaiters = 3;
    for (const auto& waiter : cases) {
        SCOPED_TRACE(waiter.name);
        aPacketFifoHandle handle = aPacketFifo_Create();
        const aPacketFifoHandle target = handle;
        if (waiter.windowed) {
            put(handle, 2, 0);
        }
        RecordingFilter filter;
        filter.wanted = 4;
        std::atomic<int> returnedNull{0};
        std::atomic<long> slowest{0};
        Clock::time_point destroyedAt;
        std::mutex destroyedLock;
        std::vector<std::thread> threads;
        for (int i = 0; i < kWaiters; i++) {
            threads.emplace_back([&, target] {
                Packet got{waiter.windowed ? aPacketFifo_AwaitFirst(target, RecordingFilter::select,
                                                                     &filter, 20000)
                                           : aPacketFifo_Await(target, 20000)};
                if (got == nullptr) {
                    returnedNull++;
                }
                std::lock_guard<std::mutex> hold(destroyedLock);
                slowest = std::max(slowest.load(), msSince(destroyedAt));
            });
        }
        if (waiter.windowed) {
            // A waiter that has been offered the packet waits with the queue's lock released,
            // so the destroy below reaches waiters that are asleep.
            ASSERT_TRUE(filter.waitForCalls(kWaiters));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        {
            std::lock_guard<std::mutex> hold(destroyedLock);
            destroyedAt = Clock::now();
            EXPECT_EQ(aErrNone, aPacketFifo_Destroy(&handle));
        }
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(0u, handle);
        EXPECT_EQ(kWaiters, returnedNull.load());
        EXPECT_LT(slowest.load(), 2000);
    }
}

struct TrafficCase {
    std::string name;
    int producers;
    int plainReaders;    // take any packet with Await
    int windowedReaders; // take packets of producers 0, 2, 4, ... with AwaitFirst
};

// Producer p sends to module 2 * (p + 1).
uint8_t producerModule(int producer)
{
    return static_cast<uint8_t>(2 * (producer + 1));
}

int producerOf(uint8_t module)
{
    return module / 2 - 1;
}

int selectEvenProducer(const aPacket* packet, void*)
{
    return producerOf(packet->address) % 2 == 0;
}

// Everything one reader took, in the order it took it.
struct Taken {
    std::vector<std::pair<uint8_t, uint16_t>> packets;
};

TEST(PacketFifo, ProducersAndReadersExchangeEveryPacketOnceInOrder)
{
    // Fewer packets in all than the capacity, so however the threads are scheduled nothing
    // overflows and every packet must arrive.
    constexpr uint16_t kTotal = 960;
    const std::vector<TrafficCase> cases = {
        {"one to one", 1, 1, 0},
        {"four producers, a plain and a windowed reader", 4, 1, 1},
        {"three producers, three plain readers", 3, 3, 0},
        {"two producers, a plain and two windowed readers", 2, 1, 2},
    };
    for (const auto& traffic : cases) {
        SCOPED_TRACE(traffic.name);
        const uint16_t perProducer = static_cast<uint16_t>(kTotal / traffic.producers);
        const size_t total = static_cast<size_t>(perProducer) * traffic.producers;
        aPacketFifoHandle handle = aPacketFifo_Create();
        const aPacketFifoHandle target = handle;

        std::mutex countLock;
        std::condition_variable allTaken;
        size_t takenCount = 0;
        const int readers = traffic.plainReaders + traffic.windowedReaders;
        std::vector<Taken> taken(readers);
        std::vector<std::thread> threads;
        for (int r = 0; r < readers; r++) {
            const bool windowed = r >= traffic.plainReaders;
            threads.emplace_back([&, r, windowed, target] {
                for (;;) {
                    Packet got{windowed
                                   ? aPacketFifo_AwaitFirst(target, selectEvenProducer, nullptr, 5000)
                                   : aPacketFifo_Await(target, 5000)};
                    if (got == nullptr) {
                        return;
                    }
                    taken[r].packets.emplace_back(got->address, tagOf(got.get()));
                    std::lock_guard<std::mutex> hold(countLock);
                    if (++takenCount == total) {
                        allTaken.notify_all();
                    }
                }
            });
        }
        for (int p = 0; p < traffic.producers; p++) {
            threads.emplace_back([target, p, perProducer] {
                for (uint16_t tag = 0; tag < perProducer; tag++) {
                    put(target, producerModule(p), tag);
                }
            });
        }
        {
            std::unique_lock<std::mutex> hold(countLock);
            EXPECT_TRUE(allTaken.wait_for(hold, std::chrono::seconds(10),
                                          [&] { return takenCount == total; }));
        }
        // The readers are left waiting on an empty queue; destroying it releases them.
        EXPECT_EQ(aErrNone, aPacketFifo_Destroy(&handle));
        for (auto& thread : threads) {
            thread.join();
        }

        std::vector<std::vector<int>> seen(traffic.producers, std::vector<int>(perProducer, 0));
        for (int r = 0; r < readers; r++) {
            std::vector<int> lastTag(traffic.producers, -1);
            for (const auto& [address, tag] : taken[r].packets) {
                const int producer = producerOf(address);
                ASSERT_GE(producer, 0);
                ASSERT_LT(producer, traffic.producers);
                ASSERT_LT(tag, perProducer);
                if (r >= traffic.plainReaders) {
                    EXPECT_EQ(0, producer % 2) << "windowed reader took producer " << producer;
                }
                EXPECT_GT(static_cast<int>(tag), lastTag[producer])
                    << "reader " << r << " took producer " << producer << " out of order";
                lastTag[producer] = tag;
                seen[producer][tag]++;
            }
        }
        for (int p = 0; p < traffic.producers; p++) {
            for (uint16_t tag = 0; tag < perProducer; tag++) {
                ASSERT_EQ(1, seen[p][tag]) << "producer " << p << " packet " << tag;
            }
        }
    }
}

// Owns a queue that is destroyed only while the process exits.
struct DestroyedAtExit {
    aPacketFifoHandle handle = 0;
    ~DestroyedAtExit()
    {
        Packet packet = makePacket(4, 1);
        aPacketFifo_Put(handle, packet.get());
        aPacketFifo_Destroy(&handle);
    }
};

TEST(PacketFifo, ExitWithQueuesInUseIsClean)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Made before any queue exists, so it is destroyed after anything the queues
            // themselves set up when first used.
            static DestroyedAtExit atExit;
            atExit.handle = aPacketFifo_Create();
            const aPacketFifoHandle forgotten = aPacketFifo_Create();
            // Each waiter has been offered a packet, so it is asleep in its wait at exit.
            std::latch waiting(2);
            for (aPacketFifoHandle handle : {atExit.handle, forgotten}) {
                put(handle, 2, 0);
                std::thread([handle, &waiting] {
                    struct CountingDown {
                        std::latch* waiting;
                        bool counted = false;
                        static int select(const aPacket*, void* ref)
                        {
                            auto* self = static_cast<CountingDown*>(ref);
                            if (!self->counted) {
                                self->counted = true;
                                self->waiting->count_down();
                            }
                            return 0;
                        }
                    } filter{&waiting};
                    aPacket* got = aPacketFifo_AwaitFirst(handle, CountingDown::select, &filter, 60000);
                    aPacket_Destroy(&got);
                }).detach();
            }
            waiting.wait();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
