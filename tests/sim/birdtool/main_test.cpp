// End-to-end tests of birdtool: what it writes loads in BirdFile as written and prints back, and bad command lines are refused.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/birdtool/BirdWriter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NoiseImage.h"
#include "updater/BirdFile.h"

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

class Birdtool : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "birdtool-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        loader = Path("loader.bin");
        firmware = Path("firmware:1.bin");
        second = Path("second.bin");
        ASSERT_TRUE(WriteBird(loader, NoiseImage(100, 1)));
        ASSERT_TRUE(WriteBird(firmware, NoiseImage(3000, 2)));
        ASSERT_TRUE(WriteBird(second, NoiseImage(200, 3)));
    }
    void TearDown() override
    {
        fs::remove_all(directory);
    }

    std::string Path(const std::string& name) const
    {
        return (directory / name).string();
    }

    static ChildResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), KESTRELON_BIRDTOOL_BIN);
        return RunChild(args);
    }

    fs::path directory;
    std::string loader;
    std::string firmware;
    std::string second;
};

TEST_F(Birdtool, WritesAFileThatLoadsAsWrittenAndShowsItBack)
{
    const std::string out = Path("1234.bird");
    const ChildResult written =
        Run({"write", "-o", out, "--loader", "0x20000000:" + loader + ":3", "--firmware", "0x4000:" + firmware + ":2",
             "--build", "1234", "--firmware", "32768:" + second, "--version", "1.2.3", "--serial", "1a2b3", "--model",
             "KS-HUB", "--serial-offsets", "0x4010:0x4020", "--loader-start", "0x20000400"});
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(written.err, "");

    ASSERT_TRUE(BirdFile::VerifyFile(out.c_str()));
    BirdFile bird(out.c_str());
    const struct {
        uint8_t type;
        uint8_t flags;
        uint32_t address;
        Bytes image;
    } expected[] = {
        {BirdFile::BLOCK_LOADER, 3, 0x20000000, NoiseImage(100, 1)},
        {BirdFile::BLOCK_FIRMWARE, 2, 0x4000, NoiseImage(3000, 2)},
        {BirdFile::BLOCK_IDENTITY, 0, 0, {}},
        {BirdFile::BLOCK_FIRMWARE, 0, 0x8000, NoiseImage(200, 3)},
        {BirdFile::BLOCK_SERIAL_OFFSETS, 0, 0, {}},
        {BirdFile::BLOCK_LOADER_START, 0, 0, {}},
    };
    ASSERT_EQ(bird.blockCount, 6);
    for (size_t i = 0; i < bird.blocks.size(); i++) {
        SCOPED_TRACE(i);
        const BirdBlock& block = bird.blocks[i];
        EXPECT_EQ(block.type, expected[i].type);
        EXPECT_EQ(block.flags, expected[i].flags);
        EXPECT_EQ(block.address, expected[i].address);
        if (!expected[i].image.empty()) {
            EXPECT_EQ(Bytes(block.data + 4, block.data + block.length), expected[i].image);
        }
    }
    EXPECT_EQ(bird.GetBuild(), 1234u);
    EXPECT_EQ(bird.GetVersion(), "1.2.3");
    EXPECT_EQ(bird.GetSerialNumber(), 0x0001A2B3u);
    EXPECT_TRUE(bird.ValidateModel("KS-HUB"));
    EXPECT_FALSE(bird.ValidateModel("KS-HUB2"));
    EXPECT_TRUE(bird.serialOffsetsPresent);
    EXPECT_EQ(bird.serialNumberAddress, 0x4010u);
    EXPECT_EQ(bird.descriptorAddress, 0x4020u);
    EXPECT_EQ(Bytes(bird.blocks[5].data, bird.blocks[5].data + 4), (Bytes{0x20, 0x00, 0x04, 0x00}));

    const ChildResult shown = Run({"show", out});
    ASSERT_EQ(shown.status, 0) << shown.err;
    char checksum[9];
    snprintf(checksum, sizeof checksum, "%08X", bird.fileChecksum);
    EXPECT_EQ(shown.out, "File: " + out + "\n" +
                             "Header: signature \"bird\", format version 0x0101, accepted\n"
                             "Payload: " + std::to_string(bird.payloadSize) + " bytes, 6 blocks (6 declared), checksum " +
                             checksum + "\n" +
                             "Blocks:\n"
                             "   #  type               flags     length  address\n"
                             "   0   0 loader              3        104  0x20000000\n"
                             "   1   1 firmware            2       3004  0x00004000\n"
                             "   2   4 identity            0         64\n"
                             "   3   1 firmware            0        204  0x00008000\n"
                             "   4   2 serial offsets      0          8\n"
                             "   5   5 loader start        0          4\n"
                             "Identity: build 1234, version \"1.2.3\", serial 0001A2B3, model \"KS-HUB\"\n"
                             "Serial offsets: serial number 0x00004010, descriptor 0x00004020 (generic file)\n"
                             "Loader start: 0x20000400\n");
    EXPECT_EQ(shown.err, "");
}

TEST_F(Birdtool, ScramblesFirmwareSoThatTheFingerprintDecodesIt)
{
    const std::string out = Path("scrambled.bird");
    const ChildResult written = Run({"write", "--output", out, "--loader", "0x20000000:" + loader, "--firmware",
                                     "0x60000000:" + second, "--scramble", "DEADBEEF:0:12345678:ffffffff"});
    ASSERT_EQ(written.status, 0) << written.err;
    BirdFile bird(out.c_str());
    ASSERT_EQ(bird.blockCount, 2);
    const BirdBlock image = bird.blocks[1];
    EXPECT_NE(Bytes(image.data + 4, image.data + image.length), NoiseImage(200, 3));
    EXPECT_EQ(Bytes(bird.blocks[0].data + 4, bird.blocks[0].data + bird.blocks[0].length), NoiseImage(100, 1));
    const uint32_t fingerprint[4] = {0xDEADBEEF, 0, 0x12345678, 0xFFFFFFFF};
    EXPECT_TRUE(bird.DecodeFirmwareBlocks(fingerprint));
    EXPECT_EQ(Bytes(image.data + 4, image.data + image.length), NoiseImage(200, 3));
    EXPECT_EQ(image.address, 0x60000000u);
}

TEST_F(Birdtool, WritesTheBarePayloadOnRequest)
{
    const std::string out = Path("payload.bin");
    ASSERT_EQ(Run({"write", "-o", out, "--firmware", "0x100:" + second, "--build", "7", "--payload-only"}).status, 0);
    std::ifstream in(out, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    BirdWriter writer;
    writer.AddFirmware(0x100, NoiseImage(200, 3));
    writer.AddIdentity({"7", "", "", ""});
    EXPECT_EQ(written, writer.Payload());
}

TEST_F(Birdtool, ShowsHeadersTheCheckRejectsAndFilesWithoutIdentity)
{
    const std::string out = Path("odd.bird");
    ASSERT_EQ(Run({"write", "-o", out, "--signature", "BIRD", "--format-version", "0x0100"}).status, 0);
    const ChildResult shown = Run({"show", "-v", out});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("Header: signature \"BIRD\", format version 0x0100, rejected by the header check\n"),
              std::string::npos);
    EXPECT_NE(shown.out.find("Payload: 8 bytes, 0 blocks (0 declared)"), std::string::npos);
    EXPECT_NE(shown.out.find("Identity: none\nSerial offsets: none\nLoader start: none\n"), std::string::npos);
    // -v shows the reader's diagnostics.
    EXPECT_NE(shown.err.find("BIRDFILE: Loading File [" + out + "]\n"), std::string::npos);
}

TEST_F(Birdtool, WarnsOfAFileTooCompressibleToLoad)
{
    const std::string zeros = Path("zeros.bin");
    ASSERT_TRUE(WriteBird(zeros, Bytes(100000, 0)));
    const std::string out = Path("zeros.bird");
    const ChildResult written = Run({"write", "-o", out, "--firmware", "0:" + zeros});
    EXPECT_EQ(written.status, 0);
    EXPECT_NE(written.err.find("more than eight-fold"), std::string::npos);
    const ChildResult shown = Run({"show", out});
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.err, "birdtool: " + out + " does not load as a BIRD file\n");
}

TEST_F(Birdtool, RefusesBadCommandLines)
{
    const std::string out = Path("bad.bird");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{}, 2, "Usage: birdtool write"},
        {{"convert"}, 2, "birdtool: unknown command convert\n"},
        {{"write"}, 2, "write needs -o FILE"},
        {{"write", "-o"}, 2, "-o needs a value"},
        {{"write", "-o", out, "--bogus", "1"}, 2, "unknown option --bogus"},
        {{"write", "-o", out, "--loader", "0x100"}, 2, "--loader needs ADDRESS:IMAGE[:FLAGS]"},
        {{"write", "-o", out, "--firmware", "0x100:" + loader + ":8"}, 2, "bad flags '8'"},
        {{"write", "-o", out, "--firmware", "0x1G:" + loader}, 2, "bad address '0x1G'"},
        {{"write", "-o", out, "--firmware", "0x100000000:" + loader}, 2, "bad address '0x100000000'"},
        {{"write", "-o", out, "--firmware", "-1:" + loader}, 2, "bad address '-1'"},
        {{"write", "-o", out, "--firmware", "0:" + Path("none.bin")}, 1, "cannot read "},
        {{"write", "-o", out, "--build", "12a"}, 2, "bad build number '12a'"},
        {{"write", "-o", out, "--serial", "xyz"}, 2, "bad serial number 'xyz'"},
        {{"write", "-o", out, "--model", "ABCDEFGHIJKLMNOPQ"}, 2, "longer than 16 characters"},
        {{"write", "-o", out, "--serial-offsets", "16"}, 2, "--serial-offsets needs SERIAL:DESCRIPTOR"},
        {{"write", "-o", out, "--scramble", "1:2:3"}, 2, "--scramble needs four words"},
        {{"write", "-o", out, "--signature", "bir"}, 2, "4 characters"},
        {{"write", "-o", out, "--format-version", "0x10000"}, 2, "bad format version"},
        {{"write", "-o", Path("no/such/dir.bird")}, 1, "cannot write "},
        {{"show"}, 2, "show needs a FILE"},
        {{"show", "-x", out}, 2, "show takes [-v] FILE"},
        {{"show", Path("none.bird")}, 1, "does not load as a BIRD file"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) {
            line += arg + " ";
        }
        SCOPED_TRACE(line);
        const ChildResult result = Run(c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Birdtool, PrintsItsHelp)
{
    for (const char* option : {"--help", "-h"}) {
        const ChildResult result = Run({option});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind("Usage: birdtool write -o FILE [BLOCK OPTION]...\n", 0), 0u);
        EXPECT_NE(result.out.find("--scramble K0:K1:K2:K3"), std::string::npos);
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
