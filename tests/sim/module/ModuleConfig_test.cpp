// Tests of ModuleConfig: the config file and the flags become module configurations, and bad input is refused naming file, line and key.
#include <gtest/gtest.h>

#include <functional>

#include "sim/module/ModuleConfig.h"

namespace {

using ksim::ConfigError;
using ksim::ModuleConfig;

std::string ErrorOf(const std::function<void()>& parse)
{
    try {
        parse();
    } catch (const ConfigError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ModuleConfig, ReadsEveryKeyOfEachModuleSection)
{
    const std::vector<ModuleConfig> modules = ModuleConfig::parseText(
        "# two modules\n"
        "[module]\n"
        "serial = 0x1A2B3C4D\n"
        "model=4\n"
        "  version = 2.15.3  \n"
        "build = 0x10\n"
        "name = \" padded name \"\n"
        "address = 6\n"
        "router = 0x0A\n"
        "heartbeat = 500\n"
        "features = 0x80000000\n"
        "tcp = 127.0.0.1:9000\n"
        "pty = yes\n"
        "log = /tmp/wire.log\n"
        "\n"
        "; the second takes the defaults, and a TCP port because it names no endpoint\n"
        "[module]\n"
        "serial = 5eed0002\n",
        "two.ini");
    ASSERT_EQ(modules.size(), 2u);
    const ModuleConfig& first = modules[0];
    EXPECT_EQ(first.serialNumber, 0x1A2B3C4Du);
    EXPECT_EQ(first.model, 4);
    EXPECT_EQ(first.version, "2.15.3");
    EXPECT_EQ(first.build, 16u);
    EXPECT_EQ(first.name, " padded name ");
    EXPECT_EQ(first.moduleAddress, 6);
    EXPECT_EQ(first.routerAddress, 10);
    EXPECT_EQ(first.heartbeatMs, 500u);
    EXPECT_EQ(first.protocolFeatures, 0x80000000u);
    EXPECT_TRUE(first.tcp);
    EXPECT_EQ(first.tcpAddress, "127.0.0.1");
    EXPECT_EQ(first.tcpPort, 9000);
    EXPECT_TRUE(first.pty);
    EXPECT_EQ(first.logPath, "/tmp/wire.log");

    const ModuleConfig& second = modules[1];
    const ModuleConfig defaults;
    EXPECT_EQ(second.serialNumber, 0x5EED0002u);
    EXPECT_EQ(second.model, defaults.model);
    EXPECT_EQ(second.version, "2.11.5");
    EXPECT_EQ(second.name, "kestrelon-sim");
    EXPECT_EQ(second.moduleAddress, 2);
    EXPECT_EQ(second.heartbeatMs, 0u);
    EXPECT_TRUE(second.tcp);
    EXPECT_EQ(second.tcpAddress, "127.0.0.1");
    EXPECT_EQ(second.tcpPort, 0);
    EXPECT_FALSE(second.pty);
    EXPECT_EQ(second.logPath, "");
}

TEST(ModuleConfig, RefusesBadFilesNamingLineAndKey)
{
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {"", "f.ini: no [module] section"},
        {"# only a comment\n", "f.ini: no [module] section"},
        {"serial = 1\n", "f.ini:1: serial: outside a [module] section"},
        {"[modules]\n", "f.ini:1: unknown section [modules] (only [module] is known)"},
        {"[module]\nserial\n", "f.ini:2: expected KEY = VALUE: 'serial'"},
        {"[module]\ncolour = red\n", "f.ini:2: colour: unknown key"},
        {"[module]\n\nserial = xyz\n", "f.ini:3: serial: not a hexadecimal 32-bit serial number: 'xyz'"},
        {"[module]\nserial = 123456789\n", "f.ini:2: serial: not a hexadecimal 32-bit serial number: '123456789'"},
        {"[module]\nmodel = 256\n", "f.ini:2: model: not a model 0-255: '256'"},
        {"[module]\nmodel = -1\n", "f.ini:2: model: not a model 0-255: '-1'"},
        {"[module]\nversion = 2.11\n", "f.ini:2: version: not a version MAJOR.MINOR.PATCH that packs: '2.11'"},
        {"[module]\nversion = 1.20.0\n", "f.ini:2: version: not a version MAJOR.MINOR.PATCH that packs: '1.20.0'"},
        {"[module]\nbuild = 4294967296\n", "f.ini:2: build: not a 32-bit build number: '4294967296'"},
        {"[module]\nname = " + std::string(65, 'n') + "\n", "f.ini:2: name: longer than 64 bytes"},
        {"[module]\naddress = 3\n", "f.ini:2: address: not an even address 2-254: '3'"},
        {"[module]\naddress = 0\n", "f.ini:2: address: not an even address 2-254: '0'"},
        {"[module]\nrouter = 255\n", "f.ini:2: router: not an even address 0-254: '255'"},
        {"[module]\nheartbeat = 2551\n", "f.ini:2: heartbeat: not milliseconds 0-2550: '2551'"},
        {"[module]\ntcp = 9000\n", "f.ini:2: tcp: not ADDRESS:PORT: '9000'"},
        {"[module]\ntcp = localhost:9000\n", "f.ini:2: tcp: not an IPv4 address: 'localhost'"},
        {"[module]\ntcp = 127.0.0.1:65536\n", "f.ini:2: tcp: not a port 0-65535: '65536'"},
        {"[module]\npty = maybe\n", "f.ini:2: pty: not yes or no: 'maybe'"},
        {"[module]\nlog =\n", "f.ini:2: log: no file name"},
        {"[module]\nmodel = 4\nmodel = 5\n", "f.ini:3: model: given twice in one section"},
        {"[module]\nserial = 1\n[module]\nserial = 0x1\n", "f.ini:4: serial: a second module with the serial number '0x1'"},
        {"[module]\n[module]\n", "f.ini: two modules share a serial number; give each its own 'serial'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ErrorOf([&] { ModuleConfig::parseText(c.text, "f.ini"); }), c.message);
    }
    EXPECT_EQ(ErrorOf([] { ModuleConfig::parseFile("/nonexistent/sim.ini"); }), "/nonexistent/sim.ini: cannot be read");
}

TEST(ModuleConfig, PacksVersionsInTheLayoutTheirNumberCalls)
{
    const struct {
        const char* text;
        std::optional<uint32_t> packed;
    } cases[] = {
        {"2.11.5", 0x2B000005},  {"2.14.3", 0x2E000003}, {"2.15.3", 0x2F020F03}, {"3.0.0", 0x2F030000},
        {"1.2.70000", 0x12011170}, {"0.0.0", 0},         {"2.16.256", {}},      {"1.16.0", {}},
        {"2.11", {}},            {"2.11.5.1", {}},       {"2.x.5", {}},         {"0x2.1.1", {}},
        {"", {}},                {"2..5", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ModuleConfig::packVersion(c.text), c.packed);
    }
}

TEST(ModuleConfig, TakesOneModuleFromFlags)
{
    const std::vector<ModuleConfig> modules = ModuleConfig::fromArguments(
        {"--serial", "ABCD", "--model", "13", "--version", "2.15.0", "--build", "77", "--name", "bench", "--address", "4",
         "--router", "2", "--heartbeat", "100", "--features", "0x80000000", "--pty", "--log", "w.log"});
    ASSERT_EQ(modules.size(), 1u);
    const ModuleConfig& module = modules[0];
    EXPECT_EQ(module.serialNumber, 0xABCDu);
    EXPECT_EQ(module.model, 13);
    EXPECT_EQ(module.version, "2.15.0");
    EXPECT_EQ(module.build, 77u);
    EXPECT_EQ(module.name, "bench");
    EXPECT_EQ(module.moduleAddress, 4);
    EXPECT_EQ(module.routerAddress, 2);
    EXPECT_EQ(module.heartbeatMs, 100u);
    EXPECT_EQ(module.protocolFeatures, 0x80000000u);
    EXPECT_TRUE(module.pty);
    EXPECT_FALSE(module.tcp) << "a pty alone is asked for, so no TCP port is added";
    EXPECT_EQ(module.logPath, "w.log");

    const std::vector<ModuleConfig> plain = ModuleConfig::fromArguments({});
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_TRUE(plain[0].tcp);
    EXPECT_EQ(plain[0].serialNumber, 0x5EED0001u);
}

TEST(ModuleConfig, RefusesBadFlags)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--serial"}, "--serial: needs a value"},
        {{"--serial", "xyz"}, "--serial: not a hexadecimal 32-bit serial number: 'xyz'"},
        {{"--address", "5"}, "--address: not an even address 2-254: '5'"},
        {{"--tcp", "127.0.0.1"}, "--tcp: not ADDRESS:PORT: '127.0.0.1'"},
        {{"--bogus"}, "--bogus: unknown flag (see -h)"},
        {{"--model", "4", "--model", "5"}, "--model: given twice"},
        {{"--config", "sim.ini", "--serial", "1"}, "--config: describes the modules itself; give no other flags with it"},
        {{"--config", "/nonexistent/sim.ini"}, "/nonexistent/sim.ini: cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(ErrorOf([&] { ModuleConfig::fromArguments(c.args); }), c.message);
    }
}

} // namespace
