// ModuleConfig: parsing and checking of the config file and of the command-line flags.
#include "sim/module/ModuleConfig.h"

#include <arpa/inet.h>

#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

namespace ksim {

namespace {

std::string _trim(const std::string& text)
{
    const char* blanks = " \t\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Decimal, or hexadecimal after 0x.
std::optional<uint64_t> _number(const std::string& text, bool hexOnly = false)
{
    std::string digits = text;
    int base = hexOnly ? 16 : 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

uint64_t _ranged(const std::string& text, uint64_t max, const char* what, bool hexOnly = false)
{
    const std::optional<uint64_t> value = _number(text, hexOnly);
    if (!value || *value > max) {
        throw std::invalid_argument(std::string("not ") + what + ": '" + text + "'");
    }
    return *value;
}

uint8_t _address(const std::string& text, bool zeroAllowed)
{
    const uint64_t value = _ranged(text, 254, zeroAllowed ? "an even address 0-254" : "an even address 2-254");
    if ((value & 1) != 0 || (value == 0 && !zeroAllowed)) {
        throw std::invalid_argument(std::string(zeroAllowed ? "not an even address 0-254" : "not an even address 2-254") +
                                    ": '" + text + "'");
    }
    return static_cast<uint8_t>(value);
}

void _tcp(ModuleConfig& config, const std::string& text)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        throw std::invalid_argument("not ADDRESS:PORT: '" + text + "'");
    }
    const std::string address = text.substr(0, colon);
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        throw std::invalid_argument("not an IPv4 address: '" + address + "'");
    }
    config.tcpPort = static_cast<uint16_t>(_ranged(text.substr(colon + 1), 65535, "a port 0-65535"));
    config.tcpAddress = address;
    config.tcp = true;
}

bool _yesNo(const std::string& text)
{
    if (text == "yes" || text == "true" || text == "on" || text == "1") {
        return true;
    }
    if (text == "no" || text == "false" || text == "off" || text == "0") {
        return false;
    }
    throw std::invalid_argument("not yes or no: '" + text + "'");
}

// Applies one key; std::invalid_argument carries what is wrong with the value.
void _apply(ModuleConfig& config, const std::string& key, const std::string& value)
{
    if (key == "serial") {
        config.serialNumber = static_cast<uint32_t>(_ranged(value, 0xFFFFFFFF, "a hexadecimal 32-bit serial number", true));
    } else if (key == "model") {
        config.model = static_cast<uint8_t>(_ranged(value, 255, "a model 0-255"));
    } else if (key == "version") {
        if (!ModuleConfig::packVersion(value)) {
            throw std::invalid_argument("not a version MAJOR.MINOR.PATCH that packs: '" + value + "'");
        }
        config.version = value;
    } else if (key == "build") {
        config.build = static_cast<uint32_t>(_ranged(value, 0xFFFFFFFF, "a 32-bit build number"));
    } else if (key == "name") {
        std::string name = value;
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
            name = name.substr(1, name.size() - 2);
        }
        if (name.size() > ModuleConfig::MAX_NAME) {
            throw std::invalid_argument("longer than " + std::to_string(ModuleConfig::MAX_NAME) + " bytes");
        }
        config.name = name;
    } else if (key == "address") {
        config.moduleAddress = _address(value, false);
    } else if (key == "router") {
        config.routerAddress = _address(value, true);
    } else if (key == "heartbeat") {
        config.heartbeatMs = static_cast<uint32_t>(_ranged(value, ModuleConfig::MAX_HEARTBEAT_MS, "milliseconds 0-2550"));
    } else if (key == "features") {
        config.protocolFeatures = static_cast<uint32_t>(_ranged(value, 0xFFFFFFFF, "a 32-bit number"));
    } else if (key == "tcp") {
        _tcp(config, value);
    } else if (key == "pty") {
        config.pty = _yesNo(value);
    } else if (key == "log") {
        if (value.empty()) {
            throw std::invalid_argument("no file name");
        }
        config.logPath = value;
    } else {
        throw std::out_of_range("unknown key");
    }
}

// A module without any endpoint would be unreachable; it gets a TCP port on the loopback address.
void _finish(ModuleConfig& config)
{
    if (!config.tcp && !config.pty) {
        config.tcp = true;
    }
}

} // namespace

std::optional<uint32_t> ModuleConfig::packVersion(const std::string& text)
{
    uint32_t parts[3] = {};
    size_t position = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t end = i < 2 ? text.find('.', position) : text.size();
        if (end == std::string::npos) {
            return std::nullopt;
        }
        const std::optional<uint64_t> value = _number(text.substr(position, end - position));
        if (!value || text.substr(position, 2) == "0x" || *value > 0xFFFFFF) {
            return std::nullopt;
        }
        parts[i] = static_cast<uint32_t>(*value);
        position = end + 1;
    }
    const uint32_t major = parts[0], minor = parts[1], patch = parts[2];
    if (major > 2 || (major == 2 && minor > 14)) {
        if (major > 255 || minor > 255 || patch > 255) {
            return std::nullopt;
        }
        return 0x2F000000u | major << 16 | minor << 8 | patch;
    }
    // The legacy layout has a nibble for the minor number; a wider one would read back wrong.
    if (minor > 15) {
        return std::nullopt;
    }
    return major << 28 | minor << 24 | patch;
}

std::vector<ModuleConfig> ModuleConfig::parseText(const std::string& text, const std::string& origin)
{
    std::vector<ModuleConfig> modules;
    std::set<std::string> keysSeen;
    std::set<uint32_t> serials;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    const auto fail = [&](const std::string& what) {
        throw ConfigError(origin + ":" + std::to_string(lineNumber) + ": " + what);
    };
    while (std::getline(lines, line)) {
        ++lineNumber;
        line = _trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            if (line != "[module]") {
                fail("unknown section " + line + " (only [module] is known)");
            }
            if (!modules.empty()) {
                _finish(modules.back());
            }
            modules.emplace_back();
            keysSeen.clear();
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            fail("expected KEY = VALUE: '" + line + "'");
        }
        const std::string key = _trim(line.substr(0, equals));
        const std::string value = _trim(line.substr(equals + 1));
        if (modules.empty()) {
            fail(key + ": outside a [module] section");
        }
        if (!keysSeen.insert(key).second) {
            fail(key + ": given twice in one section");
        }
        try {
            _apply(modules.back(), key, value);
        } catch (const std::out_of_range&) {
            fail(key + ": unknown key");
        } catch (const std::invalid_argument& e) {
            fail(key + ": " + e.what());
        }
        if (key == "serial" && !serials.insert(modules.back().serialNumber).second) {
            fail(key + ": a second module with the serial number '" + value + "'");
        }
    }
    if (modules.empty()) {
        throw ConfigError(origin + ": no [module] section");
    }
    _finish(modules.back());
    // Modules left at the default serial number collide as well.
    std::set<uint32_t> all;
    for (const ModuleConfig& module : modules) {
        if (!all.insert(module.serialNumber).second) {
            throw ConfigError(origin + ": two modules share a serial number; give each its own 'serial'");
        }
    }
    return modules;
}

std::vector<ModuleConfig> ModuleConfig::parseFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ConfigError(path + ": cannot be read");
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseText(text.str(), path);
}

std::vector<ModuleConfig> ModuleConfig::fromArguments(const std::vector<std::string>& args)
{
    static const std::set<std::string> valued = {"--serial", "--model", "--version", "--build",     "--name",
                                                 "--address", "--router", "--heartbeat", "--features", "--tcp",
                                                 "--log", "--config"};
    ModuleConfig config;
    std::optional<std::string> configFile;
    bool moduleFlags = false;
    std::set<std::string> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (!seen.insert(flag).second) {
            throw ConfigError(flag + ": given twice");
        }
        if (flag == "--pty") {
            config.pty = true;
            moduleFlags = true;
            continue;
        }
        if (valued.count(flag) == 0) {
            throw ConfigError(flag + ": unknown flag (see -h)");
        }
        if (i + 1 >= args.size()) {
            throw ConfigError(flag + ": needs a value");
        }
        const std::string& value = args[++i];
        if (flag == "--config") {
            configFile = value;
            continue;
        }
        moduleFlags = true;
        try {
            _apply(config, flag.substr(2), value);
        } catch (const std::invalid_argument& e) {
            throw ConfigError(flag + ": " + e.what());
        }
    }
    if (configFile) {
        if (moduleFlags) {
            throw ConfigError("--config: describes the modules itself; give no other flags with it");
        }
        return parseFile(*configFile);
    }
    _finish(config);
    return {config};
}

} // namespace ksim
