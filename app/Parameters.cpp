// Parameters: the option table of the Updater and the rules that turn each option into settings.
#include "app/Parameters.h"

#include <cstring>

#include "app/Log.h"
#include "app/OptionParser.h"

namespace {

enum OptionKind {
    KIND_HELP = 0,
    KIND_COMMAND = 1,
    KIND_PARAMETER = 2,
};

const OptionSpec _options[] = {
    {KIND_COMMAND, "-B", OptionArgument::None},
    {KIND_COMMAND, "-L", OptionArgument::None},
    {KIND_COMMAND, "-D", OptionArgument::None},
    {KIND_COMMAND, "-G", OptionArgument::None},
    {KIND_COMMAND, "-I", OptionArgument::None},
    {KIND_COMMAND, "-U", OptionArgument::None},
    {KIND_COMMAND, "-OVERRIDE", OptionArgument::None},
    {KIND_COMMAND, "-N", OptionArgument::None},
    {KIND_COMMAND, "-Y", OptionArgument::None},
    {KIND_COMMAND, "-C", OptionArgument::None},
    {KIND_COMMAND, "-J", OptionArgument::None},
    {KIND_HELP, "-h", OptionArgument::None},
    {KIND_HELP, "-H", OptionArgument::None},
    {KIND_PARAMETER, "-n", OptionArgument::None},
    {KIND_PARAMETER, "-X", OptionArgument::Required},
    {KIND_PARAMETER, "-Z", OptionArgument::Required},
    {KIND_PARAMETER, "-m", OptionArgument::Required},
    {KIND_PARAMETER, "-i", OptionArgument::Required},
    {KIND_PARAMETER, "-b", OptionArgument::Required},
    {KIND_PARAMETER, "-d", OptionArgument::Required},
    {KIND_PARAMETER, "-t", OptionArgument::Required},
    {KIND_PARAMETER, "-f", OptionArgument::Required},
    {KIND_PARAMETER, "-r", OptionArgument::Required},
    {KIND_PARAMETER, "-s", OptionArgument::Required},
    {KIND_PARAMETER, "-o", OptionArgument::Required},
    {KIND_PARAMETER, "-e", OptionArgument::None},
    {KIND_PARAMETER, "-l", OptionArgument::Required},
    {KIND_PARAMETER, "-k", OptionArgument::Required},
    {KIND_PARAMETER, "-u", OptionArgument::Required},
    {KIND_HELP, "--help", OptionArgument::None},
    {-1, nullptr, OptionArgument::None},
};

// Reads the digits of one base, saturating at 0xFFFFFFFF; 0 unless every character is a digit.
uint32_t _get_digits_arg(const char* text, char** end, const char* digits, unsigned base)
{
    if (end == nullptr || text == nullptr) {
        return 0;
    }
    const size_t length = std::strlen(text);
    if (std::strspn(text, digits) != length) {
        return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        const unsigned digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) {
            value = 0xFFFFFFFFu;
            break;
        }
    }
    *end = const_cast<char*>(text + length);
    return static_cast<uint32_t>(value);
}

// "-X": hexadecimal after a "0x" prefix, decimal otherwise. Returns the text the number did not
// use; the mask counts only when that is empty.
std::string _read_mask(const std::string& text, uint32_t* mask)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
                     std::strchr("0123456789ABCDEFabcdef", text[2]) != nullptr;
    const size_t start = hex ? 2 : 0;
    const char* digits = hex ? "0123456789ABCDEFabcdef" : "0123456789";
    const size_t stop = text.find_first_not_of(digits, start);
    const std::string number = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    char* end = nullptr;
    *mask = number.empty() ? 0 : _get_digits_arg(number.c_str(), &end, digits, hex ? 16 : 10);
    return stop == std::string::npos ? std::string() : text.substr(stop);
}

// "-d" and "-r": one "0x" prefix is dropped, the rest must be a non-zero hexadecimal number.
bool _serial_arg(UpdaterDisplayInterface& display, std::string text, const char* prefixNote,
                 const char* invalidFormat, uint32_t* serial)
{
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.erase(0, 2);
        Log::log(DEBUG_Updater, "%s", prefixNote);
    }
    char* end = nullptr;
    *serial = _get_hex_arg(text.c_str(), &end);
    if (*serial == 0) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, invalidFormat, text.c_str());
        return false;
    }
    return true;
}

bool _transport_arg(UpdaterDisplayInterface& display, const std::string& text, Parameters* params)
{
    params->transportGiven = true;
    if (text.compare(0, 3, "USB") == 0) {
        params->transport = 1;
    } else if (text.compare(0, 3, "TCP") == 0) {
        params->transport = 2;
    } else if (text.compare(0, 7, "RECOVER") == 0) {
        params->transport = TRANSPORT_RECOVER;
    } else {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER",
                        text.c_str());
        params->transport = 0;
        return false;
    }
    return true;
}

void _debug_mask_arg(UpdaterDisplayInterface& display, const std::string& text, Parameters* params)
{
    params->debugMaskGiven = true;
    const std::string rest = _read_mask(text, &params->debugMask);
    if (!rest.empty()) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Invalid format for \"%s\" parameter, unprocessed characters [%s]", "-X", rest.c_str());
        return;
    }
    // At once, so that the options after it already log under the new packages.
    Log::ActivatePackage(params->debugMask);
}

uint32_t _decimal_arg(const std::string& text)
{
    char* end = nullptr;
    return _get_int_arg(text.c_str(), &end);
}

// Applies one command or parameter option; false when it is refused.
bool _apply(UpdaterDisplayInterface& display, const ParsedOption& option, Parameters* params)
{
    const std::string& name = option.name;
    const std::string& arg = option.argument;
    static const struct {
        const char* name;
        COMMANDS command;
    } commandOptions[] = {
        {"-B", COMMAND_LIST_BUILDS}, {"-L", COMMAND_LIST_LOCAL_BUILDS}, {"-D", COMMAND_DISCOVER},
        {"-G", COMMAND_GET_FIRMWARE}, {"-I", COMMAND_VIEW_INFO},         {"-U", COMMAND_UPDATE},
        {"-N", COMMAND_FINGERPRINT}, {"-C", COMMAND_CHECK_BIRDFILE},    {"-J", COMMAND_GET_JWT},
        {"-Z", COMMAND_OPTION_Z},
    };
    for (const auto& entry : commandOptions) {
        if (name == entry.name) {
            params->commands.Set(entry.command);
            return true;
        }
    }

    if (name == "-OVERRIDE") {
        params->override = true;
    } else if (name == "-n") {
        params->optionN = true;
    } else if (name == "-e") {
        params->echo = true;
    } else if (name == "-X") {
        _debug_mask_arg(display, arg, params);
    } else if (name == "-m") {
        params->ueiBytes = arg.compare(0, 1, "1") == 0 || arg.compare(0, 4, "true") == 0;
    } else if (name == "-i") {
        params->storeDirectory = arg;
    } else if (name == "-b") {
        params->build = std::to_string(_decimal_arg(arg));
    } else if (name == "-o") {
        params->baudRate = _decimal_arg(arg);
    } else if (name == "-d") {
        return _serial_arg(display, arg, "Discarding '0x' serial number prefix\n",
                           "Invalid serial number obtained from argument [%s]", &params->serialNumber);
    } else if (name == "-r") {
        return _serial_arg(display, arg, "Discarding '0x' router serial number prefix\n",
                           "Invalid router serial number obtained from argument [%s]", &params->routerSerialNumber);
    } else if (name == "-t") {
        return _transport_arg(display, arg, params);
    } else if (name == "-f") {
        params->birdFile = arg;
    } else if (name == "-s") {
        params->serialPort = arg;
    } else if (name == "-l") {
        params->logMessage = arg;
    } else if (name == "-k") {
        params->logFile = arg;
    } else if (name == "-u") {
        params->serverUrl = arg;
    } else {
        // A row of the table without an action of its own ("-Y").
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Unhandled command: [%s]", option.text.c_str());
        return false;
    }
    return true;
}

std::string _program_name(const char* path)
{
    const std::string text = path != nullptr ? path : "";
    const size_t slash = text.find_last_of("/\\");
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

} // namespace

bool CommandsClass::Set(uint32_t bits)
{
    commands |= bits;
    return commands != 0;
}

bool CommandsClass::IsSet(uint32_t bits) const
{
    return (commands & bits) != 0;
}

uint32_t _get_hex_arg(const char* text, char** end)
{
    return _get_digits_arg(text, end, "0123456789ABCDEFabcdef", 16);
}

uint32_t _get_int_arg(const char* text, char** end)
{
    return _get_digits_arg(text, end, "0123456789", 10);
}

int _validate_params(Parameters*)
{
    return 0;
}

int _get_params(UpdaterDisplayInterface& display, int argc, const char* const* argv, Parameters* params)
{
    *params = Parameters();
    params->programName = _program_name(argc > 0 ? argv[0] : nullptr);

    bool failed = false;
    OptionParser parser(argc, argv, _options);
    ParsedOption option;
    while (parser.Next(option)) {
        if (option.error != OptionError::None) {
            continue;
        }
        if (option.id == KIND_HELP) {
            params->commands.Set(COMMAND_HELP);
            params->helpRequested = true;
            return 0;
        }
        // Go on after a failure, so that one run reports every bad option.
        if (!_apply(display, option, params)) {
            failed = true;
        }
    }

    Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", params->programName.c_str());
    for (int i = 0; i < argc; ++i) {
        Log::log(DEBUG_APP, "\t[%s]\n", argv[i]);
    }
    return failed ? 1 : _validate_params(params);
}
