// ModuleConfig: what one virtual module is (identity, addresses, timers) and where it is reached, read from a config file or from command-line flags.
#ifndef SIM_MODULE_MODULECONFIG_H
#define SIM_MODULE_MODULECONFIG_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ksim {

// A configuration that cannot be used; the text names the file, line and key, or the flag.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ModuleConfig {
    // The longest name the module keeps (the host reads names into 32-byte buffers; more room
    // lets tests show what a long name does to it).
    static constexpr size_t MAX_NAME = 64;
    // The heartbeat interval is served in tens of milliseconds in one byte.
    static constexpr uint32_t MAX_HEARTBEAT_MS = 2550;

    uint32_t serialNumber = 0x5EED0001;
    uint8_t model = 27;
    std::string version = "2.11.5";
    uint32_t build = 1;
    std::string name = "kestrelon-sim";
    uint8_t moduleAddress = 2;
    uint8_t routerAddress = 0;   // 0: not behind a router
    uint32_t heartbeatMs = 0;    // 0: no heartbeats
    uint32_t protocolFeatures = 0;

    // Endpoints the simulator program opens for the module.
    bool tcp = false;
    std::string tcpAddress = "127.0.0.1";
    uint16_t tcpPort = 0;        // 0: any free port
    bool pty = false;
    std::string logPath;         // empty: no packet log

    // The version text "MAJOR.MINOR.PATCH" packed as the module reports it: 0x2F, major, minor,
    // patch from 2.15 on, else the legacy layout major<<28 | minor<<24 | patch. Nothing for a
    // text that is not a version or does not fit its layout.
    static std::optional<uint32_t> packVersion(const std::string& text);

    // One module per [module] section. `origin` names the text in error messages.
    static std::vector<ModuleConfig> parseText(const std::string& text, const std::string& origin);
    static std::vector<ModuleConfig> parseFile(const std::string& path);

    // The simulator's flags (program name not included): either --config FILE alone, or flags
    // describing a single module. -h and --help are the caller's to handle.
    static std::vector<ModuleConfig> fromArguments(const std::vector<std::string>& args);
};

} // namespace ksim

#endif
