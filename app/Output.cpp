// Output: the fixed formats in which the front end prints results.
#include "app/Output.h"

#include <cstdio>

#include "Kestrelon2/common/aDefs.h"
#include "updater/UpdateServerRequest.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;

const char* _model_name(uint32_t model)
{
    return aDefs_GetModelName(model <= 0xFF ? static_cast<uint8_t>(model) : 0);
}

const char* _link_type_name(linkType type)
{
    switch (type) {
    case kLinkTypeUSB:
        return "USB";
    case kLinkTypeTCPIP:
        return "TCPIP";
    default:
        return "Unknown";
    }
}

void _display_device(UpdaterDisplayInterface& display, const DeviceInfo& device)
{
    const linkSpec& spec = device.spec;
    if (spec.type == kLinkTypeTCPIP) {
        // The address is kept in network byte order, so its bytes in memory read naturally.
        const auto* ip = reinterpret_cast<const unsigned char*>(&spec.ipAddress);
        char address[20];
        std::snprintf(address, sizeof(address), "[%d.%d.%d.%d]", ip[0], ip[1], ip[2], ip[3]);
        display.message(INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)        %-17s  %s",
                        spec.serialNumber, spec.module, spec.router, _model_name(spec.model), device.major,
                        device.minor, static_cast<int>(device.patch), device.build, address, device.name.c_str());
    } else if (device.error != aErrNone) {
        display.message(INFO, "    %08X  [Error (%d): Is someone else connected to this device?]", spec.serialNumber,
                        static_cast<int>(device.error));
    } else {
        display.message(INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)         %s", spec.serialNumber,
                        spec.module, spec.router, _model_name(spec.model), device.major, device.minor,
                        static_cast<int>(device.patch), device.build, device.name.c_str());
    }
}

} // namespace

void _display_app_version(UpdaterDisplayInterface& display)
{
    display.message(INFO, "%s (%s)", "Updater", "Version: 2.11.5 Oct 13 2025");
}

void _display_copyright(UpdaterDisplayInterface& display)
{
    display.message(INFO, "%s", "Copyright (c) 2025 Tessmark. All rights reserved.");
}

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint)
{
    display.message(INFO, "[ %08X %08X %08X %08X ]", fingerprint.words[0], fingerprint.words[1],
                    fingerprint.words[2], fingerprint.words[3]);
}

void _display_jwt(UpdaterDisplayInterface& display, const std::string& text)
{
    display.message(INFO, "%s", text.c_str());
}

void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds,
                     unsigned serial)
{
    if (builds.empty()) {
        display.message(INFO, "No builds found for device [%08X]", serial);
        return;
    }
    display.message(INFO, "Build List for device [%08X]:\n", serial);
    display.message(INFO, "%-15.15s\t%-15.15s", "Build", "Version");
    for (const auto& [build, version] : UpdateServerRequest::SortBuildsByVersion(builds)) {
        display.message(INFO, "%-15.15s\t%-15.15s", build.c_str(), version.c_str());
    }
}

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices, linkType type)
{
    display.message(INFO, "Discovered Devices: (%s)", _link_type_name(type));
    if (devices.empty()) {
        display.message(INFO, "    No devices found.");
        return;
    }
    if (type == kLinkTypeUSB) {
        display.message(INFO, "    Device    Module   Router  Model          Firmware Version (Build)    Device Name");
    } else {
        display.message(INFO, "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]  "
                              "     Device Name");
    }
    for (const DeviceInfo& device : devices) {
        _display_device(display, device);
    }
}
