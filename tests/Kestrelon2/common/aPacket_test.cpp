// Tests of the packet record: creation and copies, the UEI header accessors and the byte assembler.
#include "Kestrelon2/common/aPacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Owns one packet for the length of a test.
struct PacketHolder {
    aPacket* packet = aPacket_Create();
    ~PacketHolder() { aPacket_Destroy(&packet); }
};

std::vector<uint8_t> fullPacketBytes(uint8_t address)
{
    std::vector<uint8_t> bytes{address, aPACKET_MAX_DATA};
    for (uint8_t i = 0; i < aPACKET_MAX_DATA; i++) {
        bytes.push_back(static_cast<uint8_t>(0xA0 + i));
    }
    return bytes;
}

std::vector<aErr> accepted(size_t count)
{
    return std::vector<aErr>(count, aErrNone);
}

std::vector<aErr> then(std::vector<aErr> results, std::vector<aErr> more)
{
    results.insert(results.end(), more.begin(), more.end());
    return results;
}

std::vector<uint8_t> then(std::vector<uint8_t> bytes, std::vector<uint8_t> more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

struct AssemblyCase {
    std::string name;
    std::vector<uint8_t> bytes;   // fed one by one into a fresh packet
    std::vector<aErr> results;    // expected result of each byte
    uint8_t address;              // final state
    uint8_t dataSize;
    uint8_t byteCount;
    bool complete;
    std::vector<uint8_t> data;    // expected leading data bytes
};

const std::vector<uint8_t> kFull = fullPacketBytes(0x04);
const std::vector<uint8_t> kFullData(kFull.begin() + 2, kFull.end());

const std::vector<AssemblyCase> kAssemblyCases = {
    {"EmptyPacketCompletesAfterTwoBytes", {0x02, 0x00}, accepted(2), 0x02, 0, 2, true, {}},
    {"OneDataByte", {0x0A, 0x01, 0x5A}, accepted(3), 0x0A, 1, 3, true, {0x5A}},
    {"HighestEvenAddress", {0xFE, 0x02, 0x11, 0x22}, accepted(4), 0xFE, 2, 4, true, {0x11, 0x22}},
    {"PartialPacketIsNotComplete", {0x02, 0x03, 0x11}, accepted(3), 0x02, 3, 3, false, {0x11, 0x00, 0x00}},
    {"FullPacketOfTwentyEightBytes", kFull, accepted(30), 0x04, 28, 30, true, kFullData},
    {"OddFirstByteRefused", {0x03}, {aErrPacket}, 0, 0, 1, false, {}},
    {"ZeroFirstByteRefused", {0x00}, {aErrPacket}, 0, 0, 1, false, {}},
    {"SyncAddressRefused", {cmdSYNC, 0x00}, {aErrPacket, aErrPacket}, 0, 0, 2, false, {}},
    {"LengthAboveTwentyEightStoredButRefused", {0x02, 0x1D}, {aErrNone, aErrPacket}, 0x02, 29, 2, false, {}},
    {"DataAfterRefusedLengthRefused", {0x02, 0x1D, 0x01}, {aErrNone, aErrPacket, aErrPacket}, 0x02, 29, 3, false,
     {0x00}},
    {"ThirtyFirstByteOverruns", then(kFull, {0x77}), then(accepted(30), {aErrOverrun}), 0x04, 28, 31, false,
     kFullData},
    {"ByteAfterCompletePacketRefused", {0x04, 0x01, 0xAA, 0xBB}, then(accepted(3), {aErrPacket}), 0x04, 1, 4, false,
     {0xAA, 0x00}},
    // An empty packet already has its length; the next byte must not be taken as a new one.
    {"ByteAfterEmptyPacketRefused", {0x02, 0x00, 0x05, 0x09}, then(accepted(2), {aErrPacket, aErrPacket}), 0x02, 0, 4,
     false, {0x00}},
    // Once the first byte is refused, a following even byte must not start a misaligned packet.
    {"EvenByteAfterRefusedAddressRefused", {0x03, 0x04, 0x00}, {aErrPacket, aErrPacket, aErrPacket}, 0, 0, 3, false,
     {}},
};

class APacketAssembly : public testing::TestWithParam<AssemblyCase> {};

TEST_P(APacketAssembly, FramesBytes)
{
    const AssemblyCase& c = GetParam();
    ASSERT_EQ(c.bytes.size(), c.results.size());
    PacketHolder holder;
    ASSERT_NE(holder.packet, nullptr);
    for (size_t i = 0; i < c.bytes.size(); i++) {
        SCOPED_TRACE("byte " + std::to_string(i));
        EXPECT_EQ(aPacket_AddByte(holder.packet, c.bytes[i]), c.results[i]);
    }
    EXPECT_EQ(holder.packet->check, aPACKET_CHECK);
    EXPECT_EQ(holder.packet->address, c.address);
    EXPECT_EQ(holder.packet->dataSize, c.dataSize);
    EXPECT_EQ(holder.packet->byteCount, c.byteCount);
    EXPECT_EQ(aPacket_IsComplete(holder.packet), c.complete);
    ASSERT_LE(c.data.size(), sizeof(holder.packet->data));
    EXPECT_EQ(std::vector<uint8_t>(holder.packet->data, holder.packet->data + c.data.size()), c.data);
}

INSTANTIATE_TEST_SUITE_P(Cases, APacketAssembly, testing::ValuesIn(kAssemblyCases),
                         [](const testing::TestParamInfo<AssemblyCase>& info) { return info.param.name; });

TEST(APacket, AssemblerNeverWritesOutsideTheRecordHoweverLongItIsFed)
{
    PacketHolder holder;
    for (uint8_t byte : kFull) {
        ASSERT_EQ(aPacket_AddByte(holder.packet, byte), aErrNone);
    }
    const aPacket before = *holder.packet;
    // Far more bytes than a byte-wide count can hold: the count must not wrap back to the
    // start and place bytes in front of the data.
    for (int i = 0; i < 600; i++) {
        SCOPED_TRACE("extra byte " + std::to_string(i));
        ASSERT_EQ(aPacket_AddByte(holder.packet, 0x55), aErrOverrun);
    }
    EXPECT_EQ(holder.packet->check, before.check);
    EXPECT_EQ(holder.packet->address, before.address);
    EXPECT_EQ(holder.packet->dataSize, before.dataSize);
    EXPECT_EQ(std::memcmp(holder.packet->data, before.data, sizeof(before.data)), 0);
    EXPECT_FALSE(aPacket_IsComplete(holder.packet));
}

TEST(APacket, ResetEmptiesThePacketForTheNextAssembly)
{
    PacketHolder holder;
    for (uint8_t byte : then(kFull, {0x01})) {
        aPacket_AddByte(holder.packet, byte);
    }
    ASSERT_EQ(aPacket_Reset(holder.packet), aErrNone);
    EXPECT_EQ(holder.packet->check, aPACKET_CHECK);
    EXPECT_EQ(holder.packet->byteCount, 0);
    EXPECT_EQ(holder.packet->address, 0);
    EXPECT_EQ(holder.packet->dataSize, 0);
    const uint8_t zeros[aPACKET_MAX_DATA] = {};
    EXPECT_EQ(std::memcmp(holder.packet->data, zeros, sizeof(zeros)), 0);

    for (uint8_t byte : {0x06, 0x01, 0x42}) {
        ASSERT_EQ(aPacket_AddByte(holder.packet, byte), aErrNone);
    }
    EXPECT_TRUE(aPacket_IsComplete(holder.packet));
    EXPECT_EQ(holder.packet->address, 0x06);
    EXPECT_EQ(holder.packet->data[0], 0x42);
}

TEST(APacket, ValidityTestNeedsTheTag)
{
    PacketHolder holder;
    EXPECT_TRUE(aVALIDPACKET(holder.packet));
    EXPECT_FALSE(aVALIDPACKET(nullptr));
    holder.packet->check = 0xBEEE;
    EXPECT_FALSE(aVALIDPACKET(holder.packet));
    holder.packet->check = aPACKET_CHECK;
}

TEST(APacket, CreateGivesAZeroedLivePacket)
{
    PacketHolder holder;
    ASSERT_NE(holder.packet, nullptr);
    aPacket zeroed{};
    zeroed.check = aPACKET_CHECK;
    EXPECT_EQ(std::memcmp(holder.packet, &zeroed, sizeof(aPacket)), 0);
    EXPECT_FALSE(aPacket_IsComplete(holder.packet));
}

TEST(APacket, OperationsRefuseAnInvalidPacket)
{
    EXPECT_EQ(aPacket_AddByte(nullptr, 0x02), aErrParam);
    EXPECT_EQ(aPacket_Reset(nullptr), aErrParam);
    EXPECT_FALSE(aPacket_IsComplete(nullptr));
    EXPECT_EQ(aPacket_Copy(nullptr), nullptr);

    PacketHolder holder;
    holder.packet->check = 0;
    EXPECT_EQ(aPacket_AddByte(holder.packet, 0x02), aErrParam);
    EXPECT_EQ(holder.packet->byteCount, 0);
    EXPECT_EQ(aPacket_Reset(holder.packet), aErrParam);
    EXPECT_EQ(aPacket_Copy(holder.packet), nullptr);
    holder.packet->check = aPACKET_CHECK;
}

TEST(APacket, CreateWithDataTakesUpToTwentyEightBytes)
{
    const std::vector<uint8_t> source = fullPacketBytes(0x02);
    for (uint8_t length : {0, 1, 27, 28}) {
        SCOPED_TRACE("length " + std::to_string(length));
        aPacket* packet = aPacket_CreateWithData(0x08, length, source.data());
        ASSERT_NE(packet, nullptr);
        EXPECT_TRUE(aVALIDPACKET(packet));
        EXPECT_EQ(packet->address, 0x08);
        EXPECT_EQ(packet->dataSize, length);
        EXPECT_EQ(packet->byteCount, length + 2);
        EXPECT_TRUE(aPacket_IsComplete(packet));
        EXPECT_EQ(std::memcmp(packet->data, source.data(), length), 0);
        aPacket_Destroy(&packet);
    }
    for (uint8_t length : {29, 30, 255}) {
        SCOPED_TRACE("length " + std::to_string(length));
        EXPECT_EQ(aPacket_CreateWithData(0x08, length, source.data()), nullptr);
    }
    EXPECT_EQ(aPacket_CreateWithData(0x08, 1, nullptr), nullptr);
}

TEST(APacket, CreateWithDataKeepsAnyAddress)
{
    const uint8_t on = 1;
    aPacket* packet = aPacket_CreateWithData(cmdFORCEROUTE, 1, &on);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->address, 0xAF);
    EXPECT_EQ(packet->data[0], 1);
    aPacket_Destroy(&packet);
}

TEST(APacket, CopyIsAnIndependentDuplicate)
{
    const uint8_t data[] = {0x03, 0x48, 0x20, 0x07};
    aPacket* original = aPacket_CreateWithData(0x02, sizeof(data), data);
    ASSERT_NE(original, nullptr);
    aPacket* copy = aPacket_Copy(original);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, original);
    EXPECT_EQ(std::memcmp(copy, original, sizeof(aPacket)), 0);
    original->data[0] = 0xFF;
    EXPECT_EQ(copy->data[0], 0x03);
    aPacket_Destroy(&original);
    EXPECT_TRUE(aPacket_IsComplete(copy));
    aPacket_Destroy(&copy);
}

TEST(APacket, CopyRefusesAPacketWithARefusedLength)
{
    PacketHolder holder;
    aPacket_AddByte(holder.packet, 0x02);
    ASSERT_EQ(aPacket_AddByte(holder.packet, 0xFF), aErrPacket);
    EXPECT_EQ(aPacket_Copy(holder.packet), nullptr);
}

TEST(APacket, DestroyFreesAndClearsThePointer)
{
    aPacket* packet = aPacket_Create();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrNone);
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrParam);
    EXPECT_EQ(aPacket_Destroy(nullptr), aErrParam);
}

struct HeaderCase {
    std::string name;
    std::vector<uint8_t> data;
    aErr cmdResult;
    uint8_t cmd;
    aErr optionResult;
    uint8_t option;
    aErr indexResult;
    uint8_t index;
};

constexpr uint8_t kUntouched = 0x99;

const std::vector<HeaderCase> kHeaderCases = {
    {"NoData", {}, aErrPacket, kUntouched, aErrPacket, kUntouched, aErrPacket, kUntouched},
    {"CommandOnly", {0x03}, aErrNone, 0x03, aErrPacket, kUntouched, aErrPacket, kUntouched},
    {"CommandAndOption", {0x03, 0x48}, aErrNone, 0x03, aErrNone, 0x08, aErrPacket, kUntouched},
    {"FlagsAreMaskedOff", {0x12, 0xFF, 0xFF}, aErrNone, 0x12, aErrNone, 0x3F, aErrNone, 0x1F},
    {"SetReplyWithValue", {0x03, 0xC8, 0x25, 0x01}, aErrNone, 0x03, aErrNone, 0x08, aErrNone, 0x05},
};

class APacketHeader : public testing::TestWithParam<HeaderCase> {};

TEST_P(APacketHeader, ReadsOnlyBytesThePacketHolds)
{
    const HeaderCase& c = GetParam();
    uint8_t source[aPACKET_MAX_DATA] = {};
    std::copy(c.data.begin(), c.data.end(), source);
    aPacket* packet = aPacket_CreateWithData(0x02, static_cast<uint8_t>(c.data.size()), source);
    ASSERT_NE(packet, nullptr);
    // Bytes beyond the length must not be read, even when something sits there.
    std::memset(packet->data + c.data.size(), 0x7E, sizeof(packet->data) - c.data.size());
    uint8_t cmd = kUntouched;
    uint8_t option = kUntouched;
    uint8_t index = kUntouched;
    EXPECT_EQ(aPacket_GetCmd(packet, &cmd), c.cmdResult);
    EXPECT_EQ(cmd, c.cmd);
    EXPECT_EQ(aPacket_GetOption(packet, &option), c.optionResult);
    EXPECT_EQ(option, c.option);
    EXPECT_EQ(aPacket_GetIndex(packet, &index), c.indexResult);
    EXPECT_EQ(index, c.index);
    aPacket_Destroy(&packet);
}

INSTANTIATE_TEST_SUITE_P(Cases, APacketHeader, testing::ValuesIn(kHeaderCases),
                         [](const testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

TEST(APacket, HeaderAccessorsCheckOutPointerThenPacket)
{
    const uint8_t data[] = {0x03, 0x48, 0x20};
    aPacket* packet = aPacket_CreateWithData(0x02, sizeof(data), data);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(aPacket_GetCmd(packet, nullptr), aErrParam);
    EXPECT_EQ(aPacket_GetOption(packet, nullptr), aErrParam);
    EXPECT_EQ(aPacket_GetIndex(packet, nullptr), aErrParam);
    EXPECT_EQ(aPacket_GetOption(nullptr, nullptr), aErrParam);

    uint8_t out = kUntouched;
    EXPECT_EQ(aPacket_GetCmd(nullptr, &out), aErrPacket);
    packet->check = 0;
    EXPECT_EQ(aPacket_GetCmd(packet, &out), aErrPacket);
    EXPECT_EQ(aPacket_GetOption(packet, &out), aErrPacket);
    EXPECT_EQ(aPacket_GetIndex(packet, &out), aErrPacket);
    EXPECT_EQ(out, kUntouched);
    packet->check = aPACKET_CHECK;
    aPacket_Destroy(&packet);
}

} // namespace
