// Commands: what each command of the Updater does with the parsed command line.
#include "app/Commands.h"

#include "app/Output.h"
#include "app/Usage.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;

int _discover(Parameters& params, Updater& updater, UpdaterDisplayInterface& display)
{
    const bool typeGiven = params.transportGiven && params.transport != TRANSPORT_RECOVER;
    const auto type = static_cast<linkType>(typeGiven ? params.transport : kLinkTypeInvalid);
    if (params.routerSerialNumber != 0) {
        display.message(INFO, "Searching for Kestrelon Network devices connected to %08X", params.routerSerialNumber);
        _display_device_list(display, updater.Discover_KSNetwork_Devices(params.routerSerialNumber, type), type);
    } else {
        const linkType used = type == kLinkTypeInvalid ? kLinkTypeUSB : type;
        display.message(INFO, "Searching for Kestrelon devices");
        _display_device_list(display, updater.Discover_Devices(used), used);
    }
    return 0;
}

int _update(Parameters& params, Updater& updater, UpdaterDisplayInterface& display)
{
    char* end = nullptr;
    const unsigned build = _get_int_arg(params.build.c_str(), &end);
    updater.Set_UEIBytes_Load(params.ueiBytes);
    if (params.transport == TRANSPORT_RECOVER) {
        return updater.Recover_Firmware(params.serialPort, build, params.baudRate, params.serialNumber,
                                        params.birdFile, params.override)
                   ? 0
                   : 1;
    }
    if (params.serialNumber == 0) {
        display.message(ERROR, "Must specify the specific device to be updated");
        return 1;
    }
    return updater.Update_Firmware(params.serialNumber, build, params.birdFile, params.moduleAddress,
                                   params.routerSerialNumber, params.override)
               ? 0
               : 1;
}

// The list and token commands all need a device and then print what the server or store gave.
bool _require_serial(const Parameters& params, UpdaterDisplayInterface& display, const char* command)
{
    if (params.serialNumber != 0) {
        return true;
    }
    display.message(ERROR, "Error must supply a serial number for the %s command", command);
    _display_usage(false, false);
    return false;
}

int _list_builds(Parameters& params, Updater& updater, UpdaterDisplayInterface& display)
{
    if (!_require_serial(params, display, "List Builds")) {
        return 1;
    }
    _display_builds(display, updater.Get_BuildList(params.serialNumber), params.serialNumber);
    return 0;
}

int _list_local_builds(Parameters& params, Updater& updater, UpdaterDisplayInterface& display)
{
    if (!_require_serial(params, display, "List Local Builds")) {
        return 1;
    }
    _display_builds(display, updater.Get_BuildListLocal(params.serialNumber), params.serialNumber);
    return 0;
}

int _get_jwt(Parameters& params, Updater& updater, UpdaterDisplayInterface& display)
{
    if (!_require_serial(params, display, "Get JWT")) {
        return 1;
    }
    _display_jwt(display, updater.Get_JWT(params.serialNumber));
    return 0;
}

// Of these, only the first one asked for runs.
const struct {
    COMMANDS command;
    int (*run)(Parameters&, Updater&, UpdaterDisplayInterface&);
} _exclusive_commands[] = {
    {COMMAND_DISCOVER, _discover},
    {COMMAND_UPDATE, _update},
    {COMMAND_LIST_BUILDS, _list_builds},
    {COMMAND_LIST_LOCAL_BUILDS, _list_local_builds},
    {COMMAND_GET_JWT, _get_jwt},
};

} // namespace

int _run_commands(Parameters& params, Updater& updater, UpdaterDisplayInterface& display)
{
    int status = 0;

    if (params.commands.IsSet(COMMAND_FINGERPRINT)) {
        if (params.serialPort.empty()) {
            display.message(ERROR, "Must specify the serial port used for connecting");
            return 1;
        }
        Fingerprint fingerprint;
        if (updater.Get_Fingerprint(fingerprint, params.serialPort, DEFAULT_SERIAL_NUMBER, params.birdFile,
                                    params.baudRate, true)) {
            _display_fingerprint(display, fingerprint);
        } else {
            display.message(ERROR, "Got no response from chip");
            status = 1;
        }
    }

    if (params.commands.IsSet(COMMAND_GET_FIRMWARE)) {
        if (params.serialNumber == 0) {
            display.message(ERROR, "-G must specify a specific device via -d");
            display.message(ERROR, "--help for usage information");
            return 1;
        }
        display.message(INFO, "Retrieving firmware for device with serial number %08X", params.serialNumber);
        if (params.build.empty()) {
            display.message(INFO, "No build specified");
            display.message(INFO, "Using Latest build");
        } else {
            display.message(INFO, "Retrieving firmware build %s", params.build.c_str());
        }
        const unsigned downloaded = updater.Download_Firmware(params.serialNumber, params.build, params.override, false);
        if (downloaded != 0) {
            // An update in the same run then uses exactly the build that was fetched.
            params.build = std::to_string(downloaded);
            status = 0;
        } else {
            status = 1;
        }
    }

    for (const auto& command : _exclusive_commands) {
        if (params.commands.IsSet(command.command)) {
            return command.run(params, updater, display);
        }
    }
    return status;
}
