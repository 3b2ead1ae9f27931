// Tests of UEI payload access: big-endian values, byte-sequence bytes and the payload and stream tests.
#include "Kestrelon2/common/aUEI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// A live packet with the given data bytes, destroyed with the holder.
struct PacketWith {
    aPacket* packet;
    explicit PacketWith(const std::vector<uint8_t>& data)
    {
        uint8_t source[aPACKET_MAX_DATA] = {};
        std::copy(data.begin(), data.end(), source);
        packet = aPacket_CreateWithData(0x02, static_cast<uint8_t>(data.size()), source);
    }
    ~PacketWith() { aPacket_Destroy(&packet); }
};

TEST(AUEI, ShortsAreBigEndianAndTouchTwoBytes)
{
    const std::vector<std::pair<uint16_t, std::array<uint8_t, 2>>> cases = {
        {0x0000, {0x00, 0x00}}, {0x1234, {0x12, 0x34}}, {0x00FF, {0x00, 0xFF}}, {0xFF00, {0xFF, 0x00}},
        {0xFFFF, {0xFF, 0xFF}},
    };
    for (const auto& [value, bytes] : cases) {
        SCOPED_TRACE("value " + std::to_string(value));
        std::array<uint8_t, 4> buffer = {0xEE, 0xEE, 0xEE, 0xEE};
        aUEI_StoreShort(&buffer[1], value);
        EXPECT_EQ(buffer[0], 0xEE);
        EXPECT_EQ(buffer[1], bytes[0]);
        EXPECT_EQ(buffer[2], bytes[1]);
        EXPECT_EQ(buffer[3], 0xEE);
        EXPECT_EQ(aUEI_RetrieveShort(bytes.data()), value);
    }
}

TEST(AUEI, IntsAreBigEndianAndTouchFourBytes)
{
    const std::vector<std::pair<uint32_t, std::array<uint8_t, 4>>> cases = {
        {0x00000000u, {0x00, 0x00, 0x00, 0x00}}, {0x12345678u, {0x12, 0x34, 0x56, 0x78}},
        {0xDEADDEADu, {0xDE, 0xAD, 0xDE, 0xAD}}, {0x000000FFu, {0x00, 0x00, 0x00, 0xFF}},
        {0xFF000000u, {0xFF, 0x00, 0x00, 0x00}}, {0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& [value, bytes] : cases) {
        SCOPED_TRACE("value " + std::to_string(value));
        std::array<uint8_t, 6> buffer = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        aUEI_StoreInt(&buffer[1], value);
        EXPECT_EQ(buffer[0], 0xEE);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin() + 1));
        EXPECT_EQ(buffer[5], 0xEE);
        EXPECT_EQ(aUEI_RetrieveInt(bytes.data()), value);
    }
}

TEST(AUEI, NullPointersReadZeroAndWriteNothing)
{
    EXPECT_EQ(aUEI_RetrieveShort(nullptr), 0);
    EXPECT_EQ(aUEI_RetrieveInt(nullptr), 0u);
    aUEI_StoreShort(nullptr, 0x1234);
    aUEI_StoreInt(nullptr, 0x12345678);
    EXPECT_EQ(aUEI_ModifyIntBuffer(nullptr, 3), 0u);
}

TEST(AUEI, ModifyIntBufferTurnsReceivedBytesIntoWords)
{
    const uint8_t received[] = {0x12, 0x34, 0x56, 0x78, 0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x00, 0x00, 0x01};
    uint32_t words[4] = {};
    std::memcpy(words, received, sizeof(received));
    words[3] = 0xCAFEF00D;
    EXPECT_EQ(aUEI_ModifyIntBuffer(words, 3), 3u);
    EXPECT_EQ(words[0], 0x12345678u);
    EXPECT_EQ(words[1], 0xDEADBEEFu);
    EXPECT_EQ(words[2], 0x00000001u);
    EXPECT_EQ(words[3], 0xCAFEF00Du);
    EXPECT_EQ(aUEI_ModifyIntBuffer(words, 0), 0u);
    EXPECT_EQ(words[0], 0x12345678u);
}

struct SequenceCase {
    std::vector<uint8_t> data;
    uint8_t sequence;
    bool more;
};

TEST(AUEI, SequenceByteIsTheLastDataByte)
{
    // The byte before the last is set to a sequence byte of its own, so reading the wrong
    // position shows.
    const std::vector<SequenceCase> cases = {
        {{0x12, 0x40, 0x21, 0x81, 0x85}, 5, true},
        {{0x12, 0x40, 0x21, 0x85, 0x05}, 5, false},
        {{0x12, 0x40, 0x21, 0xFF, 0x7F}, 127, false},
        {{0x12, 0x40, 0x21, 0x00, 0xFF}, 127, true},
        {{0x12, 0x40, 0x21, 0x85, 0x80}, 0, true},
        {{0x85}, 5, true},
        {{}, 0, false},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.data.size()));
        PacketWith p(c.data);
        ASSERT_NE(p.packet, nullptr);
        EXPECT_EQ(aUEI_getBytesSequence(p.packet), c.sequence);
        EXPECT_EQ(aUEI_getBytesContinue(p.packet), c.more);
    }
    EXPECT_EQ(aUEI_getBytesSequence(nullptr), 0);
    EXPECT_FALSE(aUEI_getBytesContinue(nullptr));
}

TEST(AUEI, SequenceTestsIgnoreALengthBeyondTheData)
{
    aPacket* packet = aPacket_Create();
    ASSERT_NE(packet, nullptr);
    aPacket_AddByte(packet, 0x02);
    ASSERT_EQ(aPacket_AddByte(packet, 0xFF), aErrPacket);
    EXPECT_EQ(aUEI_getBytesSequence(packet), 0);
    EXPECT_FALSE(aUEI_getBytesContinue(packet));
    aPacket_Destroy(&packet);
}

TEST(AUEI, FullPacketMeansTwentySevenOrTwentyEightBytes)
{
    for (size_t size = 0; size <= aPACKET_MAX_DATA; size++) {
        SCOPED_TRACE("size " + std::to_string(size));
        PacketWith p(std::vector<uint8_t>(size, 0x11));
        EXPECT_EQ(aUEI_getBytesFullPacket(p.packet), size == 27 || size == 28);
    }
    EXPECT_FALSE(aUEI_getBytesFullPacket(nullptr));
}

TEST(AUEI, PayloadKindFollowsTheCommandByte)
{
    const std::set<int> nonUEI = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};
    for (int cmd = 0; cmd <= 0xFF; cmd++) {
        SCOPED_TRACE("command " + std::to_string(cmd));
        PacketWith p({static_cast<uint8_t>(cmd), 0x40, 0x20});
        const bool expectNonUEI = nonUEI.count(cmd) != 0;
        EXPECT_EQ(aUEI_isNotUEIPayload(p.packet), expectNonUEI);
        EXPECT_EQ(aUEI_isUEIPayload(p.packet), !expectNonUEI);
    }
}

TEST(AUEI, InvalidPacketIsNeitherKindOfPayload)
{
    EXPECT_FALSE(aUEI_isNotUEIPayload(nullptr));
    EXPECT_FALSE(aUEI_isUEIPayload(nullptr));
    EXPECT_FALSE(aUEI_isStreamPacket(nullptr));

    PacketWith p({0x03, 0x08, 0x40, 0x00, 0x01});
    p.packet->check = 0;
    EXPECT_FALSE(aUEI_isUEIPayload(p.packet));
    EXPECT_FALSE(aUEI_isStreamPacket(p.packet));
    p.packet->check = aPACKET_CHECK;
}

struct StreamCase {
    std::string name;
    std::vector<uint8_t> data;
    bool stream;
};

const std::vector<StreamCase> kStreamCases = {
    {"StreamedValue", {0x0C, 0x05, 0x41, 0x00, 0x10}, true},
    {"StreamedValueWithOtherFlags", {0x0C, 0x3F, 0xFF, 0x00, 0x10, 0x20}, true},
    {"FourBytesAreTooShort", {0x0C, 0x05, 0x41, 0x10}, false},
    {"GetRequest", {0x0C, 0x45, 0x61, 0x00, 0x10}, false},
    {"SetRequest", {0x0C, 0x85, 0x61, 0x00, 0x10}, false},
    {"SetReply", {0x0C, 0xC5, 0x41, 0x00, 0x10}, false},
    {"PlainGetReply", {0x0C, 0x05, 0x01, 0x00, 0x10}, false},
    {"NonUEICommand", {0x17, 0x05, 0x41, 0x00, 0x10}, false},
};

class AUEIStream : public testing::TestWithParam<StreamCase> {};

TEST_P(AUEIStream, RecognisesUnsolicitedValues)
{
    PacketWith p(GetParam().data);
    ASSERT_NE(p.packet, nullptr);
    EXPECT_EQ(aUEI_isStreamPacket(p.packet), GetParam().stream);
}

INSTANTIATE_TEST_SUITE_P(Cases, AUEIStream, testing::ValuesIn(kStreamCases),
                         [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

} // namespace
