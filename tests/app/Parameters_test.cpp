// Tests of the command-line rules: conversions, serial numbers, transports, masks and help.
#include "app/Parameters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Log.h"
#include "tests/support/RecordingDisplay.h"

namespace {

class ParametersTest : public ::testing::Test {
protected:
    void SetUp() override { Log::DeactivatePackage(0xFFFFFFFF); }
    void TearDown() override { Log::DeactivatePackage(0xFFFFFFFF); }

    int Parse(std::vector<const char*> words)
    {
        words.insert(words.begin(), "/usr/local/bin/Updater");
        return _get_params(display, static_cast<int>(words.size()), words.data(), &params);
    }

    RecordingDisplay display;
    Parameters params;
};

TEST(GetHexArg, ReadsOnlyTextsOfHexadecimalDigits)
{
    const struct {
        const char* text;
        uint32_t value;
        bool consumed;
    } cases[] = {
        {"40F5849A", 0x40F5849A, true}, {"40f5849a", 0x40F5849A, true}, {"", 0, true},
        {"123456789", 0xFFFFFFFF, true}, {"FFFFFFFFFFFFFFFFFFFFFFFF", 0xFFFFFFFF, true},
        {"0x1", 0, false},              {"12G", 0, false},              {" 1", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char* end = nullptr;
        EXPECT_EQ(_get_hex_arg(c.text, &end), c.value);
        EXPECT_EQ(end, c.consumed ? c.text + std::strlen(c.text) : nullptr);
    }
    EXPECT_EQ(_get_hex_arg("1", nullptr), 0u);
}

TEST(GetIntArg, ReadsOnlyTextsOfDecimalDigits)
{
    const struct {
        const char* text;
        uint32_t value;
        bool consumed;
    } cases[] = {
        {"115200", 115200, true}, {"4294967295", 0xFFFFFFFF, true}, {"99999999999", 0xFFFFFFFF, true},
        {"abc", 0, false},        {"12a", 0, false},                 {"-1", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char* end = nullptr;
        EXPECT_EQ(_get_int_arg(c.text, &end), c.value);
        EXPECT_EQ(end, c.consumed ? c.text + std::strlen(c.text) : nullptr);
    }
}

TEST_F(ParametersTest, DefaultsWithoutOptions)
{
    EXPECT_EQ(Parse({}), 0);
    EXPECT_EQ(params.programName, "Updater");
    EXPECT_EQ(params.transport, 1u);
    EXPECT_EQ(params.baudRate, 115200u);
    EXPECT_TRUE(params.ueiBytes);
    EXPECT_EQ(params.serverUrl, DEFAULT_SERVER_URL);
    EXPECT_EQ(params.logFile, "Updater.log");
    EXPECT_EQ(params.logMode, "a+");
    EXPECT_FALSE(params.commands.IsSet(0xFFFFFFFF));
    EXPECT_TRUE(display.lines.empty());
}

TEST_F(ParametersTest, SerialNumberForms)
{
    const struct {
        std::vector<const char*> words;
        int result;
        uint32_t serial;
        uint32_t router;
        std::vector<std::string> lines;
    } cases[] = {
        {{"-d", "0x40F5849A"}, 0, 0x40F5849A, 0, {}},
        {{"-d", "0X40F5849A"}, 0, 0x40F5849A, 0, {}},
        {{"-d", "40F5849A"}, 0, 0x40F5849A, 0, {}},
        {{"-d=40F5849A"}, 0, 0x40F5849A, 0, {}},
        {{"-d", "123456789"}, 0, 0xFFFFFFFF, 0, {}},
        {{"-d", "0x0x1"}, 1, 0, 0, {"E:Invalid serial number obtained from argument [0x1]"}},
        {{"-d", "0"}, 1, 0, 0, {"E:Invalid serial number obtained from argument [0]"}},
        {{"-d", "0x"}, 1, 0, 0, {"E:Invalid serial number obtained from argument []"}},
        {{"-d", "XYZ"}, 1, 0, 0, {"E:Invalid serial number obtained from argument [XYZ]"}},
        {{"-r", "0xD272031D"}, 0, 0, 0xD272031D, {}},
        {{"-r", "nope"}, 1, 0, 0, {"E:Invalid router serial number obtained from argument [nope]"}},
        {{"-d", "0", "-r", "0"},
         1,
         0,
         0,
         {"E:Invalid serial number obtained from argument [0]", "E:Invalid router serial number obtained from argument [0]"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        display.lines.clear();
        EXPECT_EQ(Parse(c.words), c.result);
        EXPECT_EQ(params.serialNumber, c.serial);
        EXPECT_EQ(params.routerSerialNumber, c.router);
        EXPECT_EQ(display.lines, c.lines);
    }
}

TEST_F(ParametersTest, TransportByLeadingText)
{
    const struct {
        const char* text;
        int result;
        uint32_t transport;
    } cases[] = {
        {"USB", 0, 1}, {"USBX", 0, 1}, {"TCP", 0, 2}, {"TCPIP", 0, 2}, {"RECOVER", 0, TRANSPORT_RECOVER},
        {"RECOVERY", 0, TRANSPORT_RECOVER}, {"usb", 1, 0}, {"US", 1, 0}, {"RECOV", 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        display.lines.clear();
        EXPECT_EQ(Parse({"-t", c.text}), c.result);
        EXPECT_EQ(params.transport, c.transport);
        EXPECT_TRUE(params.transportGiven);
        if (c.result != 0) {
            EXPECT_EQ(display.lines, std::vector<std::string>{std::string("E:Invalid transport type:[") + c.text +
                                                              "]\nMust be one of the following: USB, TCPIP, RECOVER"});
        }
    }
}

TEST_F(ParametersTest, UeiBytesSwitch)
{
    const struct {
        std::vector<const char*> words;
        bool ueiBytes;
    } cases[] = {
        {{"-m"}, true}, {{"-m", "0"}, false}, {{"-m", "1"}, true}, {{"-m", "10"}, true},
        {{"-m", "true"}, true}, {{"-m", "trueish"}, true}, {{"-m", "TRUE"}, false}, {{"-m", "yes"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        EXPECT_EQ(Parse(c.words), 0);
        EXPECT_EQ(params.ueiBytes, c.ueiBytes);
    }
}

TEST_F(ParametersTest, NumbersAndTexts)
{
    EXPECT_EQ(Parse({"-b", "abc", "-o", "9600", "-f", "x.bird", "-s", "/dev/ttyS0", "-u", "http://127.0.0.1:1/cgi/u",
                     "-i", "/data", "-l", "note", "-k", "out.log", "-e", "-n", "-OV", "-Z", "ignored"}),
              0);
    EXPECT_EQ(params.build, "0");
    EXPECT_EQ(params.baudRate, 9600u);
    EXPECT_EQ(params.birdFile, "x.bird");
    EXPECT_EQ(params.serialPort, "/dev/ttyS0");
    EXPECT_EQ(params.serverUrl, "http://127.0.0.1:1/cgi/u");
    EXPECT_EQ(params.storeDirectory, "/data");
    EXPECT_EQ(params.logMessage, "note");
    EXPECT_EQ(params.logFile, "out.log");
    EXPECT_TRUE(params.echo);
    EXPECT_TRUE(params.optionN);
    EXPECT_TRUE(params.override);
    EXPECT_TRUE(params.commands.IsSet(COMMAND_OPTION_Z));

    EXPECT_EQ(Parse({"-b", "99528558"}), 0);
    EXPECT_EQ(params.build, "99528558");
    EXPECT_EQ(Parse({"-o", "fast"}), 0);
    EXPECT_EQ(params.baudRate, 0u);
}

TEST_F(ParametersTest, CommandsAddUp)
{
    EXPECT_EQ(Parse({"-G", "-U", "-D", "-B", "-L", "-I", "-N", "-C", "-J"}), 0);
    EXPECT_TRUE(params.commands.IsSet(COMMAND_GET_FIRMWARE));
    EXPECT_TRUE(params.commands.IsSet(COMMAND_UPDATE | COMMAND_HELP));
    EXPECT_FALSE(params.commands.IsSet(COMMAND_HELP | COMMAND_OPTION_Z));
    for (uint32_t bit : {COMMAND_DISCOVER, COMMAND_LIST_BUILDS, COMMAND_LIST_LOCAL_BUILDS, COMMAND_VIEW_INFO,
                         COMMAND_FINGERPRINT, COMMAND_CHECK_BIRDFILE, COMMAND_GET_JWT}) {
        EXPECT_TRUE(params.commands.IsSet(bit)) << bit;
    }
}

TEST_F(ParametersTest, UnhandledAndUnknownOptions)
{
    EXPECT_EQ(Parse({"-Y"}), 1);
    EXPECT_EQ(display.lines, std::vector<std::string>{"E:Unhandled command: [-Y]"});

    display.lines.clear();
    EXPECT_EQ(Parse({"-Q", "-D=1", "-d"}), 0);
    EXPECT_TRUE(display.lines.empty());
    EXPECT_FALSE(params.commands.IsSet(COMMAND_DISCOVER));
}

TEST_F(ParametersTest, DebugMaskIsActivatedWhileParsing)
{
    const struct {
        std::vector<const char*> words;
        uint32_t active;
        std::vector<std::string> lines;
    } cases[] = {
        {{"-X", "0x21"}, 0x21, {}},
        {{"-X", "33"}, 0x21, {}},
        {{"-X", "1", "-X", "0X20"}, 0x21, {}},
        {{"-X", "12abc"}, 0, {"E:Invalid format for \"-X\" parameter, unprocessed characters [abc]"}},
        {{"-X", "0xZ"}, 0, {"E:Invalid format for \"-X\" parameter, unprocessed characters [xZ]"}},
        {{"-X", "99999999999"}, 0xFFFFFFFF, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        Log::DeactivatePackage(0xFFFFFFFF);
        display.lines.clear();
        EXPECT_EQ(Parse(c.words), 0);
        EXPECT_TRUE(params.debugMaskGiven);
        EXPECT_EQ(Log::package_bitmask, c.active);
        EXPECT_EQ(display.lines, c.lines);
    }
}

TEST_F(ParametersTest, HelpEndsParsingAndForgivesEarlierFailures)
{
    EXPECT_EQ(Parse({"-t", "FOO", "-h", "-d", "0", "-X", "1"}), 0);
    EXPECT_TRUE(params.commands.IsSet(COMMAND_HELP));
    EXPECT_TRUE(params.helpRequested);
    EXPECT_FALSE(params.debugMaskGiven);
    EXPECT_EQ(display.lines.size(), 1u);

    for (const char* help : {"-H", "--help", "--he", "--h"}) {
        SCOPED_TRACE(help);
        EXPECT_EQ(Parse({help}), 0);
        EXPECT_TRUE(params.helpRequested);
    }
}

TEST_F(ParametersTest, PrefixNoteLoggedOnlyWhenItsPackageIsAlreadyActive)
{
    FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    FILE* previous = Log::fh;
    Log::SetOutput(sink);

    EXPECT_EQ(Parse({"-d", "0x1", "-X", "1", "-r", "0x2"}), 0);

    Log::SetOutput(previous);
    std::rewind(sink);
    char text[256] = {};
    const size_t n = std::fread(text, 1, sizeof(text) - 1, sink);
    std::fclose(sink);
    EXPECT_EQ(std::string(text, n), "Discarding '0x' router serial number prefix\n");
}

TEST_F(ParametersTest, ParameterDumpUnderTheApplicationPackage)
{
    FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    FILE* previous = Log::fh;
    Log::SetOutput(sink);

    EXPECT_EQ(Parse({"-X", "0x10000", "-D"}), 0);

    Log::SetOutput(previous);
    std::rewind(sink);
    char text[512] = {};
    const size_t n = std::fread(text, 1, sizeof(text) - 1, sink);
    std::fclose(sink);
    EXPECT_EQ(std::string(text, n),
              "\nApplication parameters:[Updater]\n\t[/usr/local/bin/Updater]\n\t[-X]\n\t[0x10000]\n\t[-D]\n");
}

} // namespace
