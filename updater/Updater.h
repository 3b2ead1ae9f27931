// Updater: the operations of the tool (discovery, downloads, build lists, update, recovery) and the records they return.
#ifndef UPDATER_UPDATER_H
#define UPDATER_UPDATER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Kestrelon2/common/aError.h"
#include "Kestrelon2/common/aLink.h"
#include "app/UpdaterDisplayInterface.h"

// The serial number a module reports while its recovery loader runs.
constexpr uint32_t DEFAULT_SERIAL_NUMBER = 0xDEADDEAD;

// One discovered device: how to reach it and what it reported.
struct DeviceInfo {
    linkSpec spec{};
    uint16_t busAddress = 0; // I2C address behind a router; 0 when reached directly
    uint32_t build = 0;      // 0 when it could not be read
    uint8_t major = 0;
    uint8_t minor = 0;
    uint32_t patch = 0;
    std::string modelName;
    std::string name; // empty for firmware older than 2.10.4
    aErr error = aErrNone;
};

// Identity of a chip in its boot-loader mode; printed and sent with word 0 first.
struct Fingerprint {
    uint32_t words[4] = {0, 0, 0, 0};
};

class Updater {
public:
    Updater(const char* serverUrl, const char* storeDirectory, UpdaterDisplayInterface& display);

    void Set_UEIBytes_Load(bool allow);

    // Each operation below reports its failures through the display and returns its failure
    // value (an empty list, 0, false or an empty text) when it cannot do its work.
    std::vector<DeviceInfo> Discover_Devices(linkType type);
    std::vector<DeviceInfo> Discover_KSNetwork_Devices(unsigned routerSerial, linkType type);
    unsigned Download_Firmware(unsigned serial, std::string build, bool override, bool noCalibration);
    unsigned Download_Firmware(Fingerprint fingerprint, std::string build, bool override);
    std::map<std::string, std::string> Get_BuildList(unsigned serial);
    std::map<std::string, std::string> Get_BuildListLocal(unsigned serial);
    std::string Get_JWT(unsigned serial);
    bool Update_Firmware(unsigned serial, unsigned build, std::string birdFile, unsigned char moduleAddress,
                         unsigned routerSerial, bool override);
    bool Recover_Firmware(std::string port, unsigned build, unsigned baud, unsigned serial, std::string birdFile,
                          bool override);
    bool Get_Fingerprint(Fingerprint& fingerprint, std::string port, unsigned serial, std::string birdFile,
                         unsigned baud, bool reset);

private:
    std::string serverUrl;
    std::string storeDirectory;
    UpdaterDisplayInterface& display;
    bool ueiBytesLoad = false;
};

#endif
