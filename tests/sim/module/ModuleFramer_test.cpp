// Tests of ModuleFramer: packets cut from the byte stream, and the bytes its resynchronisation rule drops.
#include <gtest/gtest.h>

#include "sim/module/ModuleFramer.h"

namespace {

using ksim::Bytes;
using ksim::ModuleFramer;

struct FramingCase {
    const char* what;
    Bytes stream;
    std::vector<Bytes> packets; // wire bytes of each framed packet
    Bytes dropped;
};

TEST(ModuleFramer, CutsPacketsAndDropsWhatCannotStartOne)
{
    const FramingCase cases[] = {
        {"empty packet", {0x02, 0x00}, {{0x02, 0x00}}, {}},
        {"back to back", {0xAD, 0x00, 0x02, 0x03, 0x03, 0x41, 0x20, 0xAF, 0x01, 0x01},
         {{0xAD, 0x00}, {0x02, 0x03, 0x03, 0x41, 0x20}, {0xAF, 0x01, 0x01}}, {}},
        {"full packet", [] { Bytes b{0x04, 28}; b.resize(30, 0xEE); return b; }(),
         {[] { Bytes b{0x04, 28}; b.resize(30, 0xEE); return b; }()}, {}},
        {"odd and zero bytes before a start", {0x03, 0x00, 0xFF, 0x02, 0x00}, {{0x02, 0x00}}, {0x03, 0x00, 0xFF}},
        {"length above 28, then a sync", {0x02, 0x1D, 0xAD, 0x00}, {{0xAD, 0x00}}, {0x02, 0x1D}},
        {"a length byte that starts the next packet", {0x02, 0xAD, 0x00}, {{0xAD, 0x00}}, {0x02}},
        {"sync with a length", {0xAD, 0x04, 0xAD, 0x00}, {{0xAD, 0x00}}, {0xAD, 0x04}},
        {"force route with two bytes", {0xAF, 0x02, 0x00, 0x00}, {{0x02, 0x00}}, {0xAF, 0x00}},
        {"data bytes are never examined", {0x02, 0x02, 0x03, 0xAD, 0xAD, 0x00}, {{0x02, 0x02, 0x03, 0xAD}, {0xAD, 0x00}}, {}},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.what);
        ModuleFramer framer;
        std::vector<Bytes> packets;
        Bytes dropped;
        for (const uint8_t byte : c.stream) {
            if (const std::optional<ksim::Packet> packet = framer.push(byte)) {
                packets.push_back(packet->wire());
            }
            const Bytes now = framer.takeDropped();
            dropped.insert(dropped.end(), now.begin(), now.end());
        }
        EXPECT_EQ(packets, c.packets);
        EXPECT_EQ(dropped, c.dropped);
        EXPECT_EQ(framer.droppedCount(), c.dropped.size());
    }
}

TEST(ModuleFramer, ResetForgetsAPartialPacket)
{
    ModuleFramer framer;
    EXPECT_FALSE(framer.push(0x02));
    EXPECT_FALSE(framer.push(0x05));
    EXPECT_FALSE(framer.push(0x03));
    framer.reset();
    EXPECT_FALSE(framer.push(0xAD));
    const std::optional<ksim::Packet> packet = framer.push(0x00);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->wire(), (Bytes{0xAD, 0x00}));
    EXPECT_TRUE(framer.takeDropped().empty());
}

} // namespace
