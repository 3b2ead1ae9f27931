// Parameters: the command line of one run, parsed into the requested commands and their settings.
#ifndef APP_PARAMETERS_H
#define APP_PARAMETERS_H

#include <cstdint>
#include <string>

#include "app/UpdaterDisplayInterface.h"

enum COMMANDS : uint32_t {
    COMMAND_DISCOVER = 0x00000001,
    COMMAND_UPDATE = 0x00000002,
    COMMAND_LIST_BUILDS = 0x00000004,
    COMMAND_GET_FIRMWARE = 0x00000008,
    COMMAND_VIEW_INFO = 0x00000010,
    COMMAND_CHECK_BIRDFILE = 0x00000020,
    COMMAND_FINGERPRINT = 0x00000040,
    COMMAND_OPTION_Z = 0x00000080,
    COMMAND_GET_JWT = 0x00000100,
    COMMAND_LIST_LOCAL_BUILDS = 0x00000200,
    COMMAND_HELP = 0x80000000,
};

// Every bit that counts as a command for the "nothing to do, show usage" test: the command
// bits without COMMAND_HELP, and three bits no option sets.
constexpr uint32_t COMMANDS_ANY = 0x000307FF;

class CommandsClass {
public:
    // ORs the bits in; true when the set is no longer empty.
    bool Set(uint32_t bits);
    // True when any of the given bits is set, so one call can test several commands.
    bool IsSet(uint32_t bits) const;

private:
    uint32_t commands = 0;
};

// Transport value of "-t RECOVER": through a chip's boot loader rather than a link type.
constexpr uint32_t TRANSPORT_RECOVER = 255;

// The update server a run talks to unless "-u" names another. The host lies under ".invalid",
// which never resolves, so a run without "-u" can never reach anyone by accident.
constexpr const char* DEFAULT_SERVER_HOST = "update.tessmark.invalid";
constexpr const char* DEFAULT_SERVER_PORT = "80";
constexpr const char* DEFAULT_SERVER_URL = "http://update.tessmark.invalid:80/cgi/u";

struct Parameters {
    CommandsClass commands;
    uint32_t serialNumber = 0;
    uint32_t routerSerialNumber = 0;
    uint32_t transport = 1; // a linkType, TRANSPORT_RECOVER, or 0 after an invalid "-t"
    bool transportGiven = false;
    std::string serialPort;
    uint32_t baudRate = 115200;
    uint8_t moduleAddress = 0;
    std::string birdFile;
    std::string logMessage;
    std::string build;
    bool echo = false;
    std::string serverUrl = DEFAULT_SERVER_URL;
    bool optionN = false;
    std::string storeDirectory;
    std::string programName;
    std::string logMode = "a+";
    std::string logFile = "Updater.log";
    bool override = false;
    bool ueiBytes = true;
    uint32_t debugMask = 0;
    bool debugMaskGiven = false;
    bool helpRequested = false;
};

// Parses the command line into `params`, reporting every bad option through `display` as it
// is met. Returns 0 when the command line is acceptable, 1 otherwise; a help option ends the
// parse at once with 0.
int _get_params(UpdaterDisplayInterface& display, int argc, const char* const* argv, Parameters* params);

// Hook run after a clean parse; every parameter set is accepted.
int _validate_params(Parameters* params);

// The value of a text made only of hexadecimal digits (an empty text reads 0), saturating at
// 0xFFFFFFFF; `end` is then set past the text. Any other text gives 0 and leaves `end` alone,
// as does a null `end`.
uint32_t _get_hex_arg(const char* text, char** end);

// As _get_hex_arg, for decimal digits.
uint32_t _get_int_arg(const char* text, char** end);

#endif
