// Tests of the traffic ring: fitting, refusing, giving way, and entries that wrap around its end.
#include "Kestrelon2/common/aPacketLog.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> _bytes(uint8_t length, uint8_t first)
{
    std::vector<uint8_t> data(length);
    for (uint8_t i = 0; i < length; i++) {
        data[i] = static_cast<uint8_t>(first + i);
    }
    return data;
}

// Takes the oldest entry or fails the test.
std::vector<uint8_t> _take(aPacketLog* log, uint8_t expectedType)
{
    uint8_t buffer[255];
    size_t length = sizeof(buffer);
    uint8_t type = 0;
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, buffer), aErrNone);
    EXPECT_EQ(type, expectedType);
    return std::vector<uint8_t>(buffer, buffer + length);
}

TEST(APacketLog, EntryMustLeaveOneByteFree)
{
    aPacketLog* log = aPacketLog_Create(16);
    ASSERT_NE(log, nullptr);
    const std::vector<uint8_t> thirteen = _bytes(13, 1);
    const std::vector<uint8_t> fourteen = _bytes(14, 1);
    EXPECT_EQ(aPacketLog_Put(log, 1, 14, fourteen.data()), aErrOverrun);
    EXPECT_EQ(aPacketLog_Put(log, 1, 13, thirteen.data()), aErrNone);
    EXPECT_EQ(_take(log, 1), thirteen);
    aPacketLog_Destroy(&log);
    EXPECT_EQ(log, nullptr);
    EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
}

TEST(APacketLog, OldEntriesGiveWayAndWrappedEntriesReadBackWhole)
{
    aPacketLog* log = aPacketLog_Create(16);
    ASSERT_NE(log, nullptr);
    // Seven-byte entries (5 data bytes): the third cannot fit beside two, so the first goes, and
    // from then on entries straddle the end of the ring.
    for (uint8_t round = 0; round < 10; round++) {
        SCOPED_TRACE(round);
        const std::vector<uint8_t> data = _bytes(5, static_cast<uint8_t>(round * 10));
        ASSERT_EQ(aPacketLog_Put(log, static_cast<uint8_t>(round), 5, data.data()), aErrNone);
    }
    EXPECT_EQ(_take(log, 8), _bytes(5, 80));
    EXPECT_EQ(_take(log, 9), _bytes(5, 90));
    uint8_t type = 0;
    size_t length = 0;
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, nullptr), aErrNotFound);
    aPacketLog_Destroy(&log);
}

TEST(APacketLog, TooSmallBufferKeepsTheEntry)
{
    aPacketLog* log = aPacketLog_Create(64);
    ASSERT_NE(log, nullptr);
    const std::vector<uint8_t> data = _bytes(10, 7);
    ASSERT_EQ(aPacketLog_Put(log, 3, 10, data.data()), aErrNone);
    uint8_t small[4];
    size_t length = sizeof(small);
    uint8_t type = 0;
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, small), aErrOverrun);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(_take(log, 3), data);
    aPacketLog_Destroy(&log);
}

TEST(APacketLog, RefusesNullArguments)
{
    EXPECT_EQ(aPacketLog_Create(0), nullptr);
    EXPECT_EQ(aPacketLog_Put(nullptr, 1, 0, nullptr), aErrParam);
    aPacketLog* log = aPacketLog_Create(8);
    EXPECT_EQ(aPacketLog_Put(log, 1, 2, nullptr), aErrParam);
    EXPECT_EQ(aPacketLog_Put(log, 1, 0, nullptr), aErrNone);
    uint8_t type = 0;
    size_t length = 0;
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, nullptr), aErrNone);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(aPacketLog_Get(log, nullptr, &length, nullptr), aErrParam);
    aPacketLog_Destroy(&log);
}

} // namespace
