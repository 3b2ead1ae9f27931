// Tests of the BIRD writer: the payload layout byte by byte, the header and compression, and the scrambling key stream.
#include "sim/birdtool/BirdWriter.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

void Append(Bytes& to, const Bytes& bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

TEST(BirdWriter, LaysOutEveryKindOfBlockInTheOrderAdded)
{
    BirdWriter writer;
    writer.AddLoader(0x20000000, {0xAA, 0xBB}, 3);
    writer.AddIdentity({"12", "v1 beta", "0001A2B3", "ABCDEFGHIJKLMNOPQR"});
    writer.AddFirmware(0x00004000, {0xCC}, 9);
    writer.AddSerialOffsets(0x10, 0x12345678);
    writer.AddLoaderStart(0x20000400);
    writer.AddBlock(0xFF, 0xFF, {0x01});

    Bytes expected = {0x00, 0x00, 0x00, 0x06};
    Append(expected, {0x60, 0x00, 0x00, 0x00, 0x06, 0x20, 0x00, 0x00, 0x00, 0xAA, 0xBB});
    Append(expected, {0x04, 0x00, 0x00, 0x00, 0x40});
    Append(expected, Text("12              v1 beta         0001A2B3        ABCDEFGHIJKLMNOP"));
    // Flags keep their three bits.
    Append(expected, {0x21, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x40, 0x00, 0xCC});
    Append(expected, {0x02, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x10, 0x12, 0x34, 0x56, 0x78});
    Append(expected, {0x05, 0x00, 0x00, 0x00, 0x04, 0x20, 0x00, 0x04, 0x00});
    Append(expected, {0xFF, 0x00, 0x00, 0x00, 0x01, 0x01});
    const uint32_t crc = static_cast<uint32_t>(crc32(0, expected.data(), static_cast<uInt>(expected.size())));
    Append(expected, {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});

    EXPECT_EQ(writer.Payload(), expected);
}

TEST(BirdWriter, PacksTheHeaderAndOneZlibStream)
{
    BirdWriter writer;
    writer.AddFirmware(0x1000, Bytes(300, 0x5A));
    const Bytes payload = writer.Payload();
    for (const BirdHeader& header : {BirdHeader(), BirdHeader{{'x', 'y', 'z', 'w'}, {0x00, 0x07}}}) {
        const Bytes file = writer.File(header);
        ASSERT_GT(file.size(), 6u);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), Bytes(header.signature.begin(), header.signature.end()));
        EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 6), Bytes(header.version.begin(), header.version.end()));
        Bytes inflated(payload.size());
        uLongf size = inflated.size();
        ASSERT_EQ(uncompress(inflated.data(), &size, file.data() + 6, file.size() - 6), Z_OK);
        EXPECT_EQ(size, payload.size());
        EXPECT_EQ(inflated, payload);
    }
    const BirdHeader defaults;
    EXPECT_EQ(Bytes(defaults.signature.begin(), defaults.signature.end()), Text("bird"));
    EXPECT_EQ(defaults.version[0], 0x01);
    EXPECT_EQ(defaults.version[1], 0x01);
}

// Each stored byte is plain XOR key stream XOR previous plain byte; the key stream runs through
// the words most significant byte first and starts again after 16 bytes.
TEST(BirdWriter, ScramblesWithTheKeyStreamAndThePreviousPlainByte)
{
    Bytes image(18, 0);
    image[0] = 0xAA;
    image[1] = 0x55;
    ScrambleImage(image.data(), image.size(), {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10});
    EXPECT_EQ(image, (Bytes{0xAB, 0xFD, 0x56, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
                            0x10, 0x01, 0x02}));

    BirdWriter writer;
    writer.AddLoader(0x100, {0xAA, 0x55});
    writer.AddFirmware(0x200, {0xAA, 0x55});
    writer.AddBlock(BirdWriter::FIRMWARE, 0, {0x00, 0x00}); // too short to hold an image
    writer.Scramble({0x01020304, 0, 0, 0});
    const Bytes payload = writer.Payload();
    EXPECT_EQ(Bytes(payload.begin() + 4, payload.begin() + 15),
              (Bytes{0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x01, 0x00, 0xAA, 0x55}));
    EXPECT_EQ(Bytes(payload.begin() + 15, payload.begin() + 26),
              (Bytes{0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x02, 0x00, 0xAB, 0xFD}));
    EXPECT_EQ(Bytes(payload.begin() + 26, payload.begin() + 33), (Bytes{0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00}));
}

TEST(BirdWriter, ReportsAFileItCannotWrite)
{
    EXPECT_FALSE(WriteBird("/nonexistent-directory/file.bird", {1, 2, 3}));
}

} // namespace
