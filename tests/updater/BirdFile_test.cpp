// Tests of BirdFile: writer-made files through load and query, patches checked byte by byte, and malformed files that must do no harm.
#include "updater/BirdFile.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "app/Log.h"
#include "sim/birdtool/BirdWriter.h"
#include "tests/support/NoiseImage.h"

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

const BirdIdentity kIdentity{"1234", "1.2.3 beta", "0001A2B3", "KS-HUB"};
const std::array<uint32_t, 4> kKey{0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10};

Bytes Be32(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A block record as it stands in a payload, with whatever length it claims.
Bytes Record(uint8_t typeAndFlags, uint32_t length, const Bytes& data)
{
    return Join({{typeAndFlags}, Be32(length), data});
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

struct WrittenBlock {
    uint8_t type;
    uint8_t flags;
    uint32_t address;
    Bytes data; // the whole block data, address bytes included
};

// A loader, two firmware images, the identity and the recovery loader's start.
const std::vector<WrittenBlock> kStandard = {
    {BirdFile::BLOCK_LOADER, 3, 0x20000000, Join({Be32(0x20000000), NoiseImage(100, 1)})},
    {BirdFile::BLOCK_FIRMWARE, 2, 0x4000, Join({Be32(0x4000), NoiseImage(300, 2)})},
    {BirdFile::BLOCK_FIRMWARE, 0, 0x8000, Join({Be32(0x8000), NoiseImage(200, 3)})},
    {BirdFile::BLOCK_IDENTITY, 0, 0, Text("1234            1.2.3 beta      0001A2B3        KS-HUB          ")},
    {BirdFile::BLOCK_LOADER_START, 0, 0, Be32(0x20000400)},
};

BirdWriter Standard()
{
    BirdWriter writer;
    writer.AddLoader(0x20000000, NoiseImage(100, 1), 3);
    writer.AddFirmware(0x4000, NoiseImage(300, 2), 2);
    writer.AddFirmware(0x8000, NoiseImage(200, 3));
    writer.AddIdentity(kIdentity);
    writer.AddLoaderStart(0x20000400);
    return writer;
}

// Every block must lie inside the payload, and no reader may be handed a block too short for it.
void ExpectBlocksInsidePayload(const BirdFile& bird)
{
    ASSERT_EQ(bird.blocks.size(), static_cast<size_t>(bird.blockCount));
    const uint8_t* begin = bird.payload.get();
    for (const BirdBlock& block : bird.blocks) {
        ASSERT_NE(block.data, nullptr);
        EXPECT_GE(block.data, begin);
        EXPECT_LE(block.data + block.length, begin + bird.payloadSize);
        const uint32_t least = block.type <= 1 ? 4 : block.type == 2 ? 8 : block.type == 4 ? 64 : 0;
        EXPECT_GE(block.length, least) << "type " << int(block.type);
    }
}

class BirdFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "birdfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        log = tmpfile();
        ASSERT_NE(log, nullptr);
        Log::SetOutput(log);
        Log::package_bitmask = DEBUG_BirdFile;
    }
    void TearDown() override
    {
        Log::SetOutput(nullptr);
        Log::package_bitmask = 0;
        fclose(log);
        fs::remove_all(directory);
    }

    std::string Write(const Bytes& bytes, const std::string& name = "file.bird")
    {
        const std::string path = (directory / name).string();
        EXPECT_TRUE(WriteBird(path, bytes));
        return path;
    }

    // Everything logged since the last call.
    std::string Logged()
    {
        fflush(log);
        rewind(log);
        std::string text;
        for (int c; (c = fgetc(log)) != EOF;) {
            text += static_cast<char>(c);
        }
        rewind(log);
        EXPECT_EQ(ftruncate(fileno(log), 0), 0);
        return text;
    }

    // What the call printed on standard output.
    template <typename Call> std::string Printed(Call call)
    {
        fflush(stdout);
        FILE* capture = tmpfile();
        const int saved = dup(STDOUT_FILENO);
        dup2(fileno(capture), STDOUT_FILENO);
        call();
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        rewind(capture);
        std::string text;
        for (int c; (c = fgetc(capture)) != EOF;) {
            text += static_cast<char>(c);
        }
        fclose(capture);
        return text;
    }

    BirdFile Load(const BirdWriter& writer)
    {
        return BirdFile(Write(writer.File()).c_str());
    }

    // The payload offset of a byte of a block's image.
    static size_t ImageOffset(const BirdFile& bird, size_t block, size_t at)
    {
        return static_cast<size_t>(bird.blocks[block].data - bird.payload.get()) + 4 + at;
    }

    static Bytes PayloadOf(const BirdFile& bird)
    {
        return Bytes(bird.payload.get(), bird.payload.get() + bird.payloadSize);
    }

    fs::path directory;
    FILE* log = nullptr;
};

TEST_F(BirdFileTest, LoadsTheBlocksAndIdentityItWasWrittenWith)
{
    BirdWriter writer = Standard();
    writer.AddSerialOffsets(0x4010, 0x4020);
    const Bytes payload = writer.Payload();
    const BirdFile bird = Load(writer);

    EXPECT_EQ(bird.signature, 0x62697264u);
    EXPECT_EQ(bird.formatVersion, 0x0101u);
    EXPECT_EQ(PayloadOf(bird), payload);
    EXPECT_EQ(bird.fileChecksum, uint32_t(payload[payload.size() - 4]) << 24 | uint32_t(payload[payload.size() - 3]) << 16 |
                                     uint32_t(payload[payload.size() - 2]) << 8 | payload[payload.size() - 1]);
    ASSERT_EQ(bird.blockCount, 6);
    ExpectBlocksInsidePayload(bird);
    for (size_t i = 0; i < kStandard.size(); i++) {
        SCOPED_TRACE(i);
        const BirdBlock& block = bird.blocks[i];
        EXPECT_EQ(block.type, kStandard[i].type);
        EXPECT_EQ(block.flags, kStandard[i].flags);
        EXPECT_EQ(block.address, kStandard[i].address);
        EXPECT_EQ(Bytes(block.data, block.data + block.length), kStandard[i].data);
    }
    EXPECT_EQ(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE).size(), 2u);
    EXPECT_EQ(bird.FindBlocks(BirdFile::BLOCK_FIRMWARE)[1].address, 0x8000u);
    EXPECT_TRUE(bird.FindBlocks(static_cast<BirdFile::BLOCK_TYPE>(3)).empty());
    EXPECT_TRUE(bird.serialOffsetsPresent);
    EXPECT_EQ(bird.serialNumberAddress, 0x4010u);
    EXPECT_EQ(bird.descriptorAddress, 0x4020u);

    const std::string logged = Logged();
    EXPECT_NE(logged.find("BIRDFILE:\t\t File reports 6 blocks\n"), std::string::npos);
    EXPECT_NE(logged.find("BIRDFILE:\t\t 00   03   104\n"), std::string::npos);
    EXPECT_NE(logged.find("BIRDFILE:\t\t \t[1.2.3 beta      ]\n"), std::string::npos);
    EXPECT_NE(logged.find("BIRDFILE: Offsets: Serial number: 16400, Descriptor: 16416\n"), std::string::npos);
    EXPECT_EQ(logged.find("mismatch"), std::string::npos);
}

TEST_F(BirdFileTest, LoadsOrRefusesEachLayoutAndAnswersItsQueries)
{
    const Bytes payload = Standard().Payload();
    Bytes trailing = payload;
    trailing.insert(trailing.end(), {0xEE, 0xEE, 0xEE});
    Bytes miscounted = payload;
    miscounted[3] = 7;
    BirdWriter inflating = Standard();
    inflating.AddBlock(3, 0, Bytes(100000, 0));
    BirdWriter anonymous;
    anonymous.AddFirmware(0x4000, NoiseImage(300, 2));
    Bytes truncated = Standard().File();
    truncated.resize(truncated.size() - 10);

    const struct {
        const char* name;
        std::optional<Bytes> file; // none: no file at all
        bool loads;
        bool verified;
        int blocks;
        const char* logged;
        bool identity = true;
    } cases[] = {
        {"well-formed", Standard().File(), true, true, 5, "File checksum"},
        {"no file", std::nullopt, false, false, 0, "BIRDFILE: BIRD file not found ["},
        {"empty file", Bytes{}, false, false, 0, "BIRDFILE: Loading File ["},
        {"shorter than the header", Bytes{'b', 'i', 'r', 'd', 1}, false, false, 0, "Loading File"},
        {"exactly the header", Bytes{'b', 'i', 'r', 'd', 1, 1}, false, true, 0, "Loading File"},
        {"header and one byte", Bytes{'b', 'i', 'r', 'd', 1, 1, 0x78}, false, true, 0, "decompressing bird file"},
        {"not a zlib stream", Join({{'b', 'i', 'r', 'd', 1, 1}, NoiseImage(64, 9)}), false, true, 0,
         "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {"cut-off stream", truncated, false, true, 0, "decompressing bird file"},
        {"wrong signature", Standard().File(BirdHeader{{'B', 'I', 'R', 'D'}, {1, 1}}), true, false, 5, "File checksum"},
        {"zero high version byte", Standard().File(BirdHeader{{'b', 'i', 'r', 'd'}, {0, 1}}), true, false, 5,
         "File checksum"},
        {"zero low version byte", Standard().File(BirdHeader{{'b', 'i', 'r', 'd'}, {1, 0}}), true, false, 5,
         "File checksum"},
        {"another version", Standard().File(BirdHeader{{'b', 'i', 'r', 'd'}, {2, 7}}), true, true, 5, "File checksum"},
        {"trailing bytes", PackBird(trailing), true, true, 5, "BIRDFILE: Block parsing mismatch in data size. ("},
        {"count mismatch", PackBird(miscounted), true, true, 5,
         "BIRDFILE: Block parsing mismatch in number of blocks. (5 != 7)\n"},
        {"more than eight-fold", inflating.File(), false, true, 0, "BIRDFILE: Error (-5) decompressing bird file.\n"},
        {"no identity block", anonymous.File(), true, true, 1, "File checksum", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.file ? Write(*c.file) : (directory / "missing.bird").string();
        Logged();
        std::optional<BirdFile> bird;
        try {
            bird.emplace(path.c_str());
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to load bird data");
        }
        EXPECT_EQ(bird.has_value(), c.loads);
        EXPECT_NE(Logged().find(c.logged), std::string::npos);
        EXPECT_EQ(BirdFile::VerifyFile(path.c_str()), c.verified);
        if (!c.file) {
            EXPECT_NE(Logged().find("BIRDFILE: Error - cannot open bird file: '" + path + "'\n"), std::string::npos);
        }
        if (!bird) {
            continue;
        }
        EXPECT_EQ(bird->path, path);
        EXPECT_EQ(bird->blockCount, c.blocks);
        ExpectBlocksInsidePayload(*bird);
        EXPECT_EQ(bird->GetBuild(), c.identity ? 1234u : 0u);
        EXPECT_EQ(bird->GetVersion(), c.identity ? "1.2.3" : "");
        EXPECT_EQ(bird->GetSerialNumber(), c.identity ? 0x0001A2B3u : 0u);
        EXPECT_EQ(bird->ValidateModel("KS-HUB"), c.identity);
        EXPECT_EQ(bird->ValidateModel(""), c.identity);
        EXPECT_FALSE(bird->serialOffsetsPresent);
    }
}

TEST_F(BirdFileTest, RefusesAPathThatIsADirectory)
{
    EXPECT_THROW(BirdFile(directory.c_str()), std::runtime_error);
    EXPECT_NE(Logged().find("BIRDFILE: BIRD file not found [" + directory.string() + "]\n"), std::string::npos);
    EXPECT_FALSE(BirdFile::VerifyFile(directory.c_str()));
    EXPECT_FALSE(BirdFile::VerifyFile(nullptr));
    EXPECT_THROW(BirdFile(nullptr), std::runtime_error);
}

// The output buffer is exactly eight times the compressed size: a payload of that size still
// inflates, one byte more does not.
TEST_F(BirdFileTest, InflatesUpToEightTimesTheCompressedSize)
{
    const auto payloadWith = [](size_t zeros) {
        BirdWriter writer;
        writer.AddFirmware(0, NoiseImage(200, 4));
        writer.AddBlock(3, 0, Bytes(zeros, 0));
        return writer.Payload();
    };
    size_t zeros = 0;
    while (payloadWith(zeros).size() <= 8 * (PackBird(payloadWith(zeros)).size() - 6)) {
        zeros++;
    }
    const Bytes over = payloadWith(zeros);
    const Bytes under = payloadWith(zeros - 1);

    BirdFile bird;
    const Bytes underFile = PackBird(under);
    EXPECT_TRUE(bird.DecompressData(underFile.data() + 6, static_cast<uint32_t>(underFile.size() - 6)));
    EXPECT_EQ(PayloadOf(bird), under);
    const Bytes overFile = PackBird(over);
    EXPECT_FALSE(bird.DecompressData(overFile.data() + 6, static_cast<uint32_t>(overFile.size() - 6)));
    EXPECT_EQ(bird.payloadSize, 0u);
    EXPECT_NE(Logged().find("BIRDFILE: Error (-5) decompressing bird file.\n"), std::string::npos);
}

TEST_F(BirdFileTest, ReadsTheIdentityFieldsAsTheirTextAllows)
{
    const struct {
        BirdIdentity identity;
        uint32_t build;
        std::string version;
        uint32_t serial;
    } cases[] = {
        {kIdentity, 1234, "1.2.3", 0x0001A2B3},
        {{"  42abc", "2.11.5", "DEADDEAD", "M"}, 42, "2.11.5", 0xDEADDEAD},
        {{"", "", "", ""}, 0, "", 0},
        {{"x12", " 1.0", "0001a2b3", "M"}, 0, "", 0x0001A2B3},
        {{"4294967295", "0123456789abcdef", "0001A2B3FFFFFFFF", "M"}, 4294967295u, "0123456789abcdef", 0x0001A2B3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identity.build + "/" + c.identity.version + "/" + c.identity.serial);
        BirdWriter writer;
        writer.AddIdentity(c.identity);
        // Only the first identity block counts.
        writer.AddIdentity({"99", "9.9.9", "99999999", "OTHER"});
        BirdFile bird = Load(writer);
        EXPECT_EQ(bird.GetBuild(), c.build);
        EXPECT_EQ(bird.GetVersion(), c.version);
        EXPECT_EQ(bird.GetSerialNumber(), c.serial);
        EXPECT_TRUE(bird.ValidateSerialNumber(c.serial));
        EXPECT_FALSE(bird.ValidateSerialNumber(c.serial + 1));
    }
}

TEST_F(BirdFileTest, MatchesTheModelAsAPrefixOfTheFileModel)
{
    const struct {
        const char* fileModel;
        const char* model;
        bool matches;
    } cases[] = {
        {"KS-HUB", "KS-HUB", true},
        {"KS-HUB", "", true},
        {"KS-HUB", "KS", true},
        {"KS-HUB", "KS-HUB2", false},
        {"KS-HUB", "ks-hub", false},
        {"KS-HUB", "KS-HUB ", false},
        {"KS HUB", "KS HUB", true},
        {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP", true},
        {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOPQ", false},
        {"KS-HUB", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fileModel) + " against " + (c.model != nullptr ? c.model : "null"));
        BirdWriter writer;
        writer.AddIdentity({"1", "1", "1", c.fileModel});
        BirdFile bird = Load(writer);
        Logged();
        EXPECT_EQ(bird.ValidateModel(c.model), c.matches);
        const std::string line = std::string("Model matches model number ([") + c.fileModel + "] == [" +
                                 (c.model != nullptr ? c.model : "") + "])\n";
        EXPECT_EQ(Logged() == line, c.matches);
    }
}

TEST_F(BirdFileTest, WritesTheSerialNumberOnlyWhereItFitsInAnImage)
{
    // Images: firmware 0x1000..0x1040, 0x2000..0x2020 and 0xFFFFFFC0 up to the top of the address
    // space; a loader at 0x1000 that is never patched.
    const uint32_t top = 0xFFFFFFC0;
    const struct {
        const char* name;
        uint32_t serialAt;
        uint32_t descriptorAt;
        bool result;
        std::vector<std::pair<size_t, size_t>> words;       // (block, image offset) of the serial word
        std::vector<std::pair<size_t, size_t>> descriptors; // (block, image offset) of the descriptor
    } cases[] = {
        {"word and descriptor in the first image", 0x1010, 0x1020, true, {{1, 0x10}}, {{1, 0x20}}},
        {"word in the second image", 0x2004, 0, true, {{2, 4}}, {}},
        {"word in the last four bytes", 0x103C, 0, true, {{1, 0x3C}}, {}},
        {"word overhanging the end", 0x103D, 0, true, {}, {}},
        {"word in no image", 0x5000, 0, true, {}, {}},
        {"word just before an image", 0x0FFF, 0, true, {}, {}},
        {"word at the top of the address space", 0xFFFFFFFC, 0, true, {{3, 0x3C}}, {}},
        {"word whose span wraps around", 0xFFFFFFFE, 0, true, {}, {}},
        {"descriptor in the last sixteen bytes", 0, 0x1030, true, {}, {{1, 0x30}}},
        {"descriptor closer than sixteen bytes to the end", 0, 0x1031, false, {}, {}},
        {"descriptor in no image", 0, 0x9000, false, {}, {}},
        {"descriptor whose span wraps around", 0, 0xFFFFFFF8, false, {}, {}},
        {"descriptor at the top of the address space", 0, 0xFFFFFFF0, true, {}, {{3, 0x30}}},
        {"both absent", 0, 0, false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BirdWriter writer;
        writer.AddLoader(0x1000, NoiseImage(64, 5));
        writer.AddFirmware(0x1000, NoiseImage(64, 6));
        writer.AddFirmware(0x2000, NoiseImage(32, 7));
        writer.AddFirmware(top, NoiseImage(64, 8));
        writer.AddSerialOffsets(c.serialAt, c.descriptorAt);
        BirdFile bird = Load(writer);
        ASSERT_TRUE(bird.serialOffsetsPresent);
        Bytes expected = PayloadOf(bird);
        for (const auto& [block, at] : c.words) {
            const Bytes little = {0xB3, 0xA2, 0x01, 0x00};
            std::copy(little.begin(), little.end(), expected.begin() + ImageOffset(bird, block, at));
        }
        for (const auto& [block, at] : c.descriptors) {
            const std::string digits = "0001A2B3";
            for (size_t i = 0; i < digits.size(); i++) {
                expected[ImageOffset(bird, block, at + 2 * i)] = static_cast<uint8_t>(digits[i]);
            }
        }
        Logged();
        EXPECT_EQ(bird.ReplaceSerialNumber(0x0001A2B3), c.result);
        EXPECT_EQ(PayloadOf(bird), expected);
        EXPECT_EQ(Logged().find("==> 0001A2B3\n") != std::string::npos, !c.words.empty());
    }
}

TEST_F(BirdFileTest, ReplacesNoSerialNumberWithoutFirmwareOrOffsets)
{
    BirdWriter loaderOnly;
    loaderOnly.AddLoader(0x1000, NoiseImage(64, 5));
    loaderOnly.AddSerialOffsets(0x1010, 0x1020);
    BirdFile generic = Load(loaderOnly);
    const Bytes before = PayloadOf(generic);
    EXPECT_FALSE(generic.ReplaceSerialNumber(0x0001A2B3));
    EXPECT_EQ(PayloadOf(generic), before);

    BirdFile specific = Load(Standard());
    EXPECT_FALSE(specific.serialOffsetsPresent);
    EXPECT_FALSE(specific.FindSerialNumberOffsets());
    EXPECT_FALSE(specific.ReplaceSerialNumber(0x0001A2B3));
}

TEST_F(BirdFileTest, StoresTheVectorChecksumInImagesLoadedAtZero)
{
    Bytes vectors;
    for (uint32_t word : {0x20008000u, 0x00000101u, 0x00000201u, 0x00000301u, 0x00000401u, 0xFFFFFFFFu, 0x00000601u,
                          0x12345678u}) {
        vectors.insert(vectors.end(), {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)});
    }
    vectors.insert(vectors.end(), 8, 0xCC);
    BirdWriter writer;
    writer.AddLoader(0, vectors);
    writer.AddFirmware(0, vectors);
    writer.AddFirmware(0x1000, vectors);
    writer.AddFirmware(0, NoiseImage(31, 9)); // too short for a vector table
    BirdFile bird = Load(writer);
    Bytes expected = PayloadOf(bird);
    // 0x20008000 + 0x101 + 0x201 + 0x301 + 0x401 + 0x601 = 0x20009005, w5 left out.
    const Bytes checksum = {0xFB, 0x6F, 0xFF, 0xDF};
    std::copy(checksum.begin(), checksum.end(), expected.begin() + ImageOffset(bird, 1, 28));
    Logged();
    EXPECT_TRUE(bird.ReplaceVectorChecksum());
    EXPECT_EQ(PayloadOf(bird), expected);
    const std::string logged = Logged();
    EXPECT_NE(logged.find("BIRDFILE: updating vector checksum from 12345678 ==> DFFF6FFB\n"), std::string::npos);
    EXPECT_NE(logged.find("holds no vector table"), std::string::npos);
}

TEST_F(BirdFileTest, DescramblesWhatTheWriterScrambled)
{
    Bytes plain(18, 0);
    plain[0] = 0xAA;
    plain[1] = 0x55;
    BirdWriter writer;
    writer.AddLoader(0x20000000, plain);
    writer.AddFirmware(0x4000, plain, 1);
    writer.AddFirmware(0x8000, plain);
    writer.AddFirmware(0xC000, NoiseImage(5000, 10));
    writer.Scramble(kKey);
    BirdFile bird = Load(writer);

    // Each image starts the key stream and the chaining afresh; addresses and loaders stay plain.
    const Bytes scrambled = {0xAB, 0xFD, 0x56, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                             0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x01, 0x02};
    EXPECT_EQ(Bytes(bird.blocks[0].data + 4, bird.blocks[0].data + 22), plain);
    for (size_t block : {1, 2}) {
        EXPECT_EQ(Bytes(bird.blocks[block].data, bird.blocks[block].data + 4), Be32(block == 1 ? 0x4000 : 0x8000));
        EXPECT_EQ(Bytes(bird.blocks[block].data + 4, bird.blocks[block].data + 22), scrambled);
    }

    EXPECT_TRUE(bird.DecodeFirmwareBlocks(kKey.data()));
    for (size_t block : {0, 1, 2}) {
        EXPECT_EQ(Bytes(bird.blocks[block].data + 4, bird.blocks[block].data + 22), plain);
    }
    EXPECT_EQ(Bytes(bird.blocks[3].data, bird.blocks[3].data + bird.blocks[3].length),
              Join({Be32(0xC000), NoiseImage(5000, 10)}));
    EXPECT_EQ(bird.blocks[1].address, 0x4000u);

    // A second pass scrambles anew instead of restoring.
    EXPECT_TRUE(bird.DecodeFirmwareBlocks(kKey.data()));
    EXPECT_NE(Bytes(bird.blocks[1].data + 4, bird.blocks[1].data + 22), plain);
    const Bytes before = PayloadOf(bird);
    EXPECT_FALSE(bird.DecodeFirmwareBlocks(nullptr));
    EXPECT_EQ(PayloadOf(bird), before);
}

TEST_F(BirdFileTest, FindsADataPatternInFirmwareBlocks)
{
    const Bytes pattern = {'K', 'S', 'I', 'G'};
    Bytes image = NoiseImage(60, 11);
    std::copy(pattern.begin(), pattern.end(), image.begin() + 10);
    std::copy(pattern.begin(), pattern.end(), image.begin() + 40);
    Bytes atEnd = NoiseImage(20, 12);
    std::copy(pattern.begin(), pattern.end(), atEnd.end() - 4);
    BirdWriter writer;
    writer.AddLoader(0, pattern);
    writer.AddFirmware(0x1000, image);
    writer.AddFirmware(0x2000, atEnd);
    writer.AddFirmware(0x3000, {});
    BirdFile bird = Load(writer);
    Logged();
    EXPECT_TRUE(bird.ValidateData(pattern.data(), 4));
    // Offsets count from the address bytes; a match in the very last place is not looked for.
    EXPECT_EQ(Logged(), "BIRDFILE: looking for data pattern in [" + bird.path + "]\nFound data at 14\nFound data at 44\n\n");
    const Bytes absent = {'N', 'O', 'N', 'E'};
    EXPECT_FALSE(bird.ValidateData(absent.data(), 4));
    const Bytes huge(5000, 'K');
    EXPECT_FALSE(bird.ValidateData(huge.data(), static_cast<uint32_t>(huge.size())));
    EXPECT_FALSE(bird.ValidateData(nullptr, 4));
}

TEST_F(BirdFileTest, DumpsTheBlocksOfOneTypeInHexAndText)
{
    Bytes text;
    for (char c = 'A'; c <= 'Z'; c++) {
        text.push_back(static_cast<uint8_t>(c));
    }
    for (char c = 'a'; c <= 'y'; c++) {
        text.push_back(static_cast<uint8_t>(c));
    }
    text.push_back(0x01);
    BirdWriter writer;
    writer.AddBlock(3, 0, text);
    writer.AddLoaderStart(0x20000400);
    BirdFile bird = Load(writer);

    std::string hex;
    for (size_t i = 0; i < 50; i++) {
        char pair[4];
        snprintf(pair, sizeof pair, "%02X ", text[i]);
        hex += pair;
    }
    const std::string expected = "BIRDFILE: BLOCK DUMP [" + bird.path + "]\n" + " \r\n000000: " + hex + " " +
                                 std::string(text.begin(), text.begin() + 50) + "\r\n000050: 79 01  y \n\n";
    EXPECT_EQ(Printed([&] { EXPECT_TRUE(bird.DumpBlocks(static_cast<BirdFile::BLOCK_TYPE>(3))); }), expected);
    EXPECT_EQ(Printed([&] { bird.DumpBlocks(BirdFile::BLOCK_FIRMWARE); }), "BIRDFILE: BLOCK DUMP [" + bird.path + "]\n\n");
}

TEST_F(BirdFileTest, MovesItsPayloadAndLeavesTheSourceEmpty)
{
    static_assert(!std::is_copy_constructible_v<BirdFile> && !std::is_copy_assignable_v<BirdFile>);
    static_assert(std::is_nothrow_move_constructible_v<BirdFile> && std::is_nothrow_move_assignable_v<BirdFile>);
    BirdWriter writer = Standard();
    writer.AddSerialOffsets(0x4010, 0);
    BirdFile first = Load(writer);
    const uint8_t* data = first.blocks[1].data;
    const Bytes payload = PayloadOf(first);

    BirdFile second(std::move(first));
    BirdFile third;
    third = std::move(second);
    for (BirdFile* empty : {&first, &second}) {
        EXPECT_EQ(empty->blockCount, 0);
        EXPECT_TRUE(empty->blocks.empty());
        EXPECT_EQ(empty->payload, nullptr);
        EXPECT_EQ(empty->payloadSize, 0u);
        EXPECT_FALSE(empty->serialOffsetsPresent);
        EXPECT_EQ(empty->GetBuild(), 0u);
    }
    EXPECT_EQ(third.blocks[1].data, data);
    EXPECT_EQ(PayloadOf(third), payload);
    EXPECT_TRUE(third.serialOffsetsPresent);
    EXPECT_EQ(third.GetBuild(), 1234u);
    EXPECT_TRUE(third.ReplaceSerialNumber(0x0001A2B3));
    EXPECT_EQ(third.FindBlocks(BirdFile::BLOCK_FIRMWARE)[0].data[4 + 0x10], 0xB3);
}

TEST_F(BirdFileTest, ScanKeepsItsOwnCopyOfOutsideBytes)
{
    std::optional<Bytes> outside = Standard().Payload();
    BirdFile bird;
    EXPECT_TRUE(bird.ScanBlocks(outside->data(), static_cast<uint32_t>(outside->size())));
    const Bytes copy = *outside;
    outside.reset();
    ASSERT_EQ(bird.blockCount, 5);
    ExpectBlocksInsidePayload(bird);
    EXPECT_EQ(PayloadOf(bird), copy);
    EXPECT_EQ(bird.GetBuild(), 1234u);

    // A scan of part of its own payload drops the blocks of the earlier scan.
    EXPECT_FALSE(bird.ScanBlocks(bird.payload.get(), 4));
    EXPECT_EQ(bird.blockCount, 0);
    EXPECT_TRUE(bird.blocks.empty());
}

// Files whose blocks do not add up must load as far as they hold together, and no query or patch
// may then reach outside the payload (the sanitizer builds catch any that does).
TEST_F(BirdFileTest, SurvivesMalformedBlocks)
{
    const Bytes firmware = Record(BirdFile::BLOCK_FIRMWARE, 20, Join({Be32(0x1000), NoiseImage(16, 13)}));
    const Bytes identity = Record(BirdFile::BLOCK_IDENTITY, 64, Bytes(64, '7'));
    const Bytes offsets = Record(BirdFile::BLOCK_SERIAL_OFFSETS, 8, Join({Be32(0x1000), Be32(0x1000)}));
    const Bytes checksum = Be32(0xC0FFEE00);
    const struct {
        const char* name;
        Bytes payload;
        std::vector<uint8_t> kept; // types of the blocks that survive
        const char* logged;
    } cases[] = {
        {"length beyond the payload", Join({Be32(2), firmware, Record(1, 0x1000, NoiseImage(10, 1)), checksum}), {1},
         "runs past the end of the data"},
        {"length that wraps the position", Join({Be32(2), firmware, Record(1, 0xFFFFFFFB, NoiseImage(10, 1)), checksum}),
         {1}, "runs past the end of the data"},
        {"length one byte beyond the payload", Join({Be32(1), Record(3, 5, Be32(0))}), {},
         "runs past the end of the data"},
        {"largest length", Join({Be32(1), Record(0, 0xFFFFFFFF, NoiseImage(3, 1))}), {}, "runs past the end of the data"},
        {"loader shorter than its address", Join({Be32(2), Record(0, 3, {0, 0, 0}), identity, checksum}), {4},
         "Skipping malformed block at offset 4: type 00 needs 4 bytes"},
        {"firmware without data", Join({Be32(3), Record(1, 0, {}), offsets, firmware, checksum}), {2, 1},
         "type 01 needs 4 bytes"},
        {"serial offsets of seven bytes", Join({Be32(2), firmware, Record(2, 7, NoiseImage(7, 2)), checksum}), {1},
         "type 02 needs 8 bytes"},
        {"identity of 63 bytes", Join({Be32(2), Record(4, 63, Bytes(63, '7')), firmware, checksum}), {1},
         "type 04 needs 64 bytes"},
        {"block swallowing the checksum", Join({Be32(1), Record(3, 4, checksum)}), {3},
         "No room for the file checksum"},
        {"checksum cut short", Join({Be32(1), firmware, Bytes{1, 2}}), {1}, "No room for the file checksum"},
        {"count only", Be32(0), {}, "No room for the file checksum"},
        {"no count", Bytes{0, 0, 1}, {}, "3 bytes of bird data hold no block count"},
        {"nothing at all", Bytes{}, {}, "0 bytes of bird data hold no block count"},
        {"images too short to patch", Join({Be32(4), offsets, Record(1, 7, Join({Be32(0x1000), {1, 2, 3}})),
                                            Record(1, 4, Be32(0)), Record(0x21, 5, Join({Be32(0xFFFFFFFF), {9}})),
                                            checksum}),
         {2, 1, 1, 1}, "File checksum C0FFEE00"},
        {"huge declared count", Join({Be32(0xFFFFFFFF), firmware, checksum}), {1}, "(1 != -1)"},
        {"unused types and flags", Join({Be32(2), Record(0xFF, 3, {1, 2, 3}), Record(0xE3, 0, {}), checksum}),
         {31, 3}, "File checksum"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BirdFile bird(Write(PackBird(c.payload)).c_str());
        std::vector<uint8_t> kept;
        for (const BirdBlock& block : bird.blocks) {
            kept.push_back(block.type);
        }
        EXPECT_EQ(kept, c.kept);
        ExpectBlocksInsidePayload(bird);
        EXPECT_NE(Logged().find(c.logged), std::string::npos);

        const uint8_t pattern[] = {0, 0};
        bird.FindSerialNumberOffsets();
        bird.ReplaceSerialNumber(0x0001A2B3);
        EXPECT_TRUE(bird.ReplaceVectorChecksum());
        EXPECT_TRUE(bird.DecodeFirmwareBlocks(kKey.data()));
        bird.ValidateData(pattern, sizeof pattern);
        bird.ValidateModel("7777777777777777");
        bird.GetSerialNumber();
        bird.GetBuild();
        bird.GetVersion();
        Printed([&] {
            for (uint8_t type = 0; type < 32; type++) {
                bird.DumpBlocks(static_cast<BirdFile::BLOCK_TYPE>(type));
            }
        });
        ExpectBlocksInsidePayload(bird);
    }
}

} // namespace
