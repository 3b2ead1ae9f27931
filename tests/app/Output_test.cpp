// Tests of the front end's fixed output formats: device table, build list, fingerprint, token, version.
#include "app/Output.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "Kestrelon2/common/aDefs.h"
#include "tests/support/RecordingDisplay.h"

#include <string>
#include <vector>

namespace {

DeviceInfo Device(linkType type, uint32_t serial, uint32_t model)
{
    DeviceInfo device;
    device.spec.type = type;
    device.spec.serialNumber = serial;
    device.spec.module = 2;
    device.spec.router = 0x10;
    device.spec.model = model;
    device.major = 2;
    device.minor = 11;
    device.patch = 5;
    device.build = 1234;
    device.name = "bench-hub";
    return device;
}

TEST(DisplayDeviceList, RowsFollowEachDevicesOwnLinkType)
{
    DeviceInfo tcp = Device(kLinkTypeTCPIP, 0x40F5849A, 0);
    tcp.spec.ipAddress = inet_addr("192.0.2.17");
    tcp.error = aErrTimeout; // a network row shows whatever it has, error or not
    DeviceInfo failed = Device(kLinkTypeUSB, 0x0001A2B3, 0);
    failed.error = aErrBusy;
    const DeviceInfo usb = Device(kLinkTypeUSB, 0x2181F0EE, 4);
    const std::string model4 = aDefs_GetModelName(4);

    RecordingDisplay display;
    _display_device_list(display, {tcp, failed, usb}, kLinkTypeUSB);

    char usbRow[160];
    std::snprintf(usbRow, sizeof(usbRow), "    2181F0EE  02       10      %-12s   2.11.5 (      1234)         bench-hub",
                  model4.c_str());
    const std::vector<std::string> expected = {
        "Discovered Devices: (USB)",
        "    Device    Module   Router  Model          Firmware Version (Build)    Device Name",
        "    40F5849A  02       10      Unknown        2.11.5 (      1234)        [192.0.2.17]       bench-hub",
        "    0001A2B3  [Error (5): Is someone else connected to this device?]",
        usbRow,
    };
    EXPECT_EQ(display.lines, expected);
}

TEST(DisplayDeviceList, TitleAndHeaderByRequestedType)
{
    const struct {
        linkType type;
        const char* title;
    } cases[] = {{kLinkTypeTCPIP, "Discovered Devices: (TCPIP)"}, {kLinkTypeInvalid, "Discovered Devices: (Unknown)"},
                 {kLinkTypeSerial, "Discovered Devices: (Unknown)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        RecordingDisplay empty;
        _display_device_list(empty, {}, c.type);
        EXPECT_EQ(empty.lines, (std::vector<std::string>{c.title, "    No devices found."}));

        RecordingDisplay one;
        _display_device_list(one, {Device(kLinkTypeUSB, 1, 0)}, c.type);
        ASSERT_EQ(one.lines.size(), 3u);
        EXPECT_EQ(one.lines[1], "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]"
                                "       Device Name");
    }
}

TEST(DisplayDeviceList, ModelCodesBeyondEightBitsAreUnknown)
{
    RecordingDisplay display;
    _display_device_list(display, {Device(kLinkTypeUSB, 1, 0x104)}, kLinkTypeUSB);
    ASSERT_EQ(display.lines.size(), 3u);
    EXPECT_NE(display.lines[2].find(" Unknown "), std::string::npos) << display.lines[2];
}

TEST(DisplayBuilds, NewestVersionFirstInFixedColumns)
{
    RecordingDisplay display;
    _display_builds(display,
                    {{"1001", "2.9.9"}, {"1002", "10.0.1"}, {"1003", "2.10.0"}, {"12345678901234567890", "1.0.0"}},
                    0x1A2B3);
    const std::vector<std::string> expected = {
        "Build List for device [0001A2B3]:\n",
        "Build          \tVersion        ",
        "1002           \t10.0.1         ",
        "1003           \t2.10.0         ",
        "1001           \t2.9.9          ",
        "123456789012345\t1.0.0          ",
    };
    EXPECT_EQ(display.lines, expected);
}

TEST(DisplayBuilds, EmptyListSaysSo)
{
    RecordingDisplay display;
    _display_builds(display, {}, 0x40F5849A);
    EXPECT_EQ(display.lines, std::vector<std::string>{"No builds found for device [40F5849A]"});
}

TEST(DisplayResults, FingerprintTokenAndVersion)
{
    RecordingDisplay display;
    Fingerprint fingerprint;
    fingerprint.words[0] = 0x1;
    fingerprint.words[1] = 0xDEADBEEF;
    fingerprint.words[2] = 0x00ABCDEF;
    fingerprint.words[3] = 0xFFFFFFFF;
    _display_fingerprint(display, fingerprint);
    _display_jwt(display, "");
    _display_jwt(display, "aa.bb.cc");
    _display_app_version(display);
    const std::vector<std::string> expected = {
        "[ 00000001 DEADBEEF 00ABCDEF FFFFFFFF ]",
        "",
        "aa.bb.cc",
        "Updater (Version: 2.11.5 Oct 13 2025)",
    };
    EXPECT_EQ(display.lines, expected);
}

} // namespace
