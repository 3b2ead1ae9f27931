// Updater: the tool's operations. Discovery, downloads, update and recovery arrive with the
// device, store and server layers they need; until then each one says so and fails.
#include "updater/Updater.h"

namespace {

void _unavailable(UpdaterDisplayInterface& display, const char* operation)
{
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "%s is not available in this build of Updater", operation);
}

} // namespace

Updater::Updater(const char* serverUrl, const char* storeDirectory, UpdaterDisplayInterface& display)
    : serverUrl(serverUrl != nullptr ? serverUrl : ""),
      storeDirectory(storeDirectory != nullptr ? storeDirectory : ""),
      display(display)
{
}

void Updater::Set_UEIBytes_Load(bool allow)
{
    ueiBytesLoad = allow;
}

std::vector<DeviceInfo> Updater::Discover_Devices(linkType)
{
    _unavailable(display, "Device discovery");
    return {};
}

std::vector<DeviceInfo> Updater::Discover_KSNetwork_Devices(unsigned, linkType)
{
    _unavailable(display, "Discovery behind a router");
    return {};
}

unsigned Updater::Download_Firmware(unsigned, std::string, bool, bool)
{
    _unavailable(display, "Firmware download");
    return 0;
}

unsigned Updater::Download_Firmware(Fingerprint, std::string, bool)
{
    _unavailable(display, "Recovery image download");
    return 0;
}

std::map<std::string, std::string> Updater::Get_BuildList(unsigned)
{
    _unavailable(display, "The server's build list");
    return {};
}

std::map<std::string, std::string> Updater::Get_BuildListLocal(unsigned)
{
    _unavailable(display, "The local build list");
    return {};
}

std::string Updater::Get_JWT(unsigned)
{
    _unavailable(display, "The device token");
    return {};
}

bool Updater::Update_Firmware(unsigned, unsigned, std::string, unsigned char, unsigned, bool)
{
    _unavailable(display, "Firmware update");
    return false;
}

bool Updater::Recover_Firmware(std::string, unsigned, unsigned, unsigned, std::string, bool)
{
    _unavailable(display, "Recovery");
    return false;
}

bool Updater::Get_Fingerprint(Fingerprint&, std::string, unsigned, std::string, unsigned, bool)
{
    _unavailable(display, "Reading a chip fingerprint");
    return false;
}
