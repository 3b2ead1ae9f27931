// End-to-end tests of the Updater's command line: exit status and exact output of the real binary.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace {

namespace fs = std::filesystem;

const std::string kVersion = "Updater (Version: 2.11.5 Oct 13 2025)\n";
const std::string kLegal = "Copyright (c) 2025 Tessmark. All rights reserved.\n";
const std::string kHead =
    "\n"
    "Application Usage:\n"
    "Updater <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
    "    [-d serial_num]\n"
    "    [-t transport] [-r router_serial]\n"
    "    [-s serial_port] [-o baud_rate]\n"
    "\n"
    "  Kestrelon Update and Maintenance Application\n"
    "    -H -h or --help for full usage information.\n"
    "\n";

// The README shows the whole usage text, extended section included; it is the reference
// for what -h and -X 1 -h print.
std::string ExtendedUsage()
{
    std::ifstream readme(std::string(KESTRELON_SOURCE_DIR) + "/README.md");
    std::stringstream text;
    text << readme.rdbuf();
    const std::string all = text.str();
    const std::string open = "<!-- usage -->\n```\n";
    const size_t start = all.find(open);
    const size_t end = all.find("```\n<!-- /usage -->", start);
    if (start == std::string::npos || end == std::string::npos) {
        return "README.md has no usage section";
    }
    return all.substr(start + open.size(), end - start - open.size());
}

std::string FullUsage()
{
    std::string usage = ExtendedUsage();
    const size_t from = usage.find("  Extended Parameters:\n");
    const size_t to = usage.find(" Sample usage:\n");
    if (from != std::string::npos && to != std::string::npos) {
        usage.erase(from, to - from);
    }
    return usage;
}

class UpdaterCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/updater-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base = pattern;
        std::ofstream(base + "/blocker") << "a file where the store should go";
    }
    void TearDown() override { fs::remove_all(base); }

    // Placeholders: {base} is this test's scratch directory, {bin} the binary's path.
    std::string Expand(std::string text) const
    {
        for (const auto& [key, value] : {std::pair<std::string, std::string>{"{base}", base},
                                         std::pair<std::string, std::string>{"{bin}", KESTRELON_UPDATER_BIN}}) {
            for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
                text.replace(at, key.size(), value);
            }
        }
        return text;
    }

    ChildResult Run(const std::vector<std::string>& args) const
    {
        std::vector<std::string> argv{KESTRELON_UPDATER_BIN};
        for (const std::string& arg : args) {
            argv.push_back(Expand(arg));
        }
        return RunChild(argv);
    }

    std::string base;
};

struct CliCase {
    const char* label;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

TEST_F(UpdaterCommandLine, ExitStatusAndOutput)
{
    const std::string full = FullUsage();
    const std::string extended = ExtendedUsage();
    const std::string get1 = kVersion + "Retrieving firmware for device with serial number 00000001\n";
    const std::string downloadFails = "Firmware download is not available in this build of Updater\n";
    const std::string latest = "No build specified\nUsing Latest build\n";

    const std::vector<CliCase> cases = {
        {"no arguments", {}, 0, kVersion + kLegal, kHead},
        {"help", {"-h"}, 0, kVersion + kLegal, full},
        {"long help", {"--help"}, 0, kVersion + kLegal, full},
        {"mask before help adds the extended block", {"-X", "1", "-h"}, 0, kVersion + kLegal, extended},
        {"help stops parsing", {"-h", "-X", "1"}, 0, kVersion + kLegal, full},
        {"a failure before help still shows, then help",
         {"-t", "FOO", "-h"},
         0,
         kVersion + kLegal,
         "Invalid transport type:[FOO]\nMust be one of the following: USB, TCPIP, RECOVER\n" + full},
        {"zero serial number", {"-D", "-d", "0"}, 1, kVersion + kLegal,
         "Invalid serial number obtained from argument [0]\n" + kHead},
        {"prefix dropped once", {"-D", "-d", "0x0x1"}, 1, kVersion + kLegal,
         "Invalid serial number obtained from argument [0x1]\n" + kHead},
        {"every bad option reported", {"-d", "0", "-t", "x", "-Y"}, 1, kVersion + kLegal,
         "Invalid serial number obtained from argument [0]\nInvalid transport type:[x]\n"
         "Must be one of the following: USB, TCPIP, RECOVER\nUnhandled command: [-Y]\n" +
             kHead},
        {"serial with prefix", {"-i", "{base}", "-G", "-d", "0x40F5849A"}, 1,
         kVersion + "Retrieving firmware for device with serial number 40F5849A\n" + latest, downloadFails},
        {"serial without prefix", {"-i", "{base}", "-G", "-d", "40F5849A"}, 1,
         kVersion + "Retrieving firmware for device with serial number 40F5849A\n" + latest, downloadFails},
        {"serial joined with equals", {"-i", "{base}", "-G", "-d=40F5849A"}, 1,
         kVersion + "Retrieving firmware for device with serial number 40F5849A\n" + latest, downloadFails},
        {"nine digits saturate", {"-i", "{base}", "-G", "-d", "123456789"}, 1,
         kVersion + "Retrieving firmware for device with serial number FFFFFFFF\n" + latest, downloadFails},
        {"-d without argument is dropped", {"-i", "{base}", "-G", "-d"}, 1, kVersion,
         "-G must specify a specific device via -d\n--help for usage information\n"},
        {"non-numeric build reads 0", {"-i", "{base}", "-G", "-d", "1", "-b", "abc"}, 1,
         get1 + "Retrieving firmware build 0\n", downloadFails},
        {"option without action", {"-Y"}, 1, kVersion + kLegal, "Unhandled command: [-Y]\n" + kHead},
        {"unknown option ignored", {"-Q"}, 0, kVersion + kLegal, kHead},
        {"discover wins over update", {"-i", "{base}", "-U", "-D", "-d", "1"}, 0,
         kVersion + "Searching for Kestrelon devices\nDiscovered Devices: (USB)\n    No devices found.\n",
         "Device discovery is not available in this build of Updater\n"},
        {"discover over TCP", {"-i", "{base}", "-D", "-t", "TCPIP"}, 0,
         kVersion + "Searching for Kestrelon devices\nDiscovered Devices: (TCPIP)\n    No devices found.\n",
         "Device discovery is not available in this build of Updater\n"},
        {"discover behind a router", {"-i", "{base}", "-D", "-r", "D272031D"}, 0,
         kVersion + "Searching for Kestrelon Network devices connected to D272031D\n"
                    "Discovered Devices: (Unknown)\n    No devices found.\n",
         "Discovery behind a router is not available in this build of Updater\n"},
        {"bad mask is reported, not activated", {"-i", "{base}", "-X", "12abc", "-I"}, 0, kVersion,
         "Invalid format for \"-X\" parameter, unprocessed characters [abc]\n"},
        {"bad application mask dumps nothing", {"-i", "{base}", "-X", "65536abc", "-I"}, 0, kVersion,
         "Invalid format for \"-X\" parameter, unprocessed characters [abc]\n"},
        {"application mask dumps the command line", {"-X", "0x10000", "-i", "{base}", "-C"}, 0, kVersion,
         "\nApplication parameters:[Updater]\n\t[{bin}]\n\t[-X]\n\t[0x10000]\n\t[-i]\n\t[{base}]\n\t[-C]\n"},
        {"local builds in the given store", {"-i", "{base}", "-L", "-d", "1"}, 0,
         kVersion + "No builds found for device [00000001]\n",
         "The local build list is not available in this build of Updater\n"},
        {"server builds", {"-i", "{base}", "-B", "-d", "1"}, 0, kVersion + "No builds found for device [00000001]\n",
         "The server's build list is not available in this build of Updater\n"},
        {"device token prints an empty line", {"-i", "{base}", "-J", "-d", "1"}, 0, kVersion + "\n",
         "The device token is not available in this build of Updater\n"},
        {"list builds needs a device", {"-i", "{base}", "-B"}, 1, kVersion,
         "Error must supply a serial number for the List Builds command\n" + kHead},
        {"local builds need a device", {"-i", "{base}", "-L"}, 1, kVersion,
         "Error must supply a serial number for the List Local Builds command\n" + kHead},
        {"token needs a device", {"-i", "{base}", "-J"}, 1, kVersion,
         "Error must supply a serial number for the Get JWT command\n" + kHead},
        {"update needs a device", {"-i", "{base}", "-U"}, 1, kVersion,
         "Must specify the specific device to be updated\n"},
        {"update reports its failure", {"-i", "{base}", "-U", "-d", "1"}, 1, kVersion,
         "Firmware update is not available in this build of Updater\n"},
        {"recovery needs no device", {"-i", "{base}", "-U", "-t", "RECOVER", "-s", "/dev/ttyUSB0"}, 1, kVersion,
         "Recovery is not available in this build of Updater\n"},
        {"fingerprint needs a port", {"-i", "{base}", "-N", "-D"}, 1, kVersion,
         "Must specify the serial port used for connecting\n"},
        {"fingerprint failure does not end the run", {"-i", "{base}", "-N", "-s", "/dev/ttyUSB0", "-D"}, 0,
         kVersion + "Searching for Kestrelon devices\nDiscovered Devices: (USB)\n    No devices found.\n",
         "Reading a chip fingerprint is not available in this build of Updater\nGot no response from chip\n"
         "Device discovery is not available in this build of Updater\n"},
        {"store that cannot be made", {"-i", "{base}/blocker", "-I"}, 1, kVersion,
         "Could not find updater directory at {base}/blocker/updater\n"},
    };

    for (const CliCase& c : cases) {
        SCOPED_TRACE(c.label);
        const ChildResult result = Run(c.args);
        ASSERT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, Expand(c.out));
        EXPECT_EQ(result.err, Expand(c.err));
    }
}

TEST_F(UpdaterCommandLine, StoreRootIsTheGivenDirectoryJoinedWithUpdater)
{
    const ChildResult result = Run({"-i", "{base}/data", "-L", "-d", "1"});
    EXPECT_EQ(result.status, 0);
    struct stat info {};
    ASSERT_EQ(stat((base + "/data/updater").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0755u & ~[] {
        const mode_t mask = umask(0);
        umask(mask);
        return mask;
    }());
}

} // namespace
