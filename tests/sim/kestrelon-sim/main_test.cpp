// End-to-end tests of kestrelon-sim as a child process: endpoint lines, raw packets and the library's links over TCP and a pty, stdin commands, signals, bad input.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "Kestrelon2/common/aLink.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SpawnedProcess.h"
#include "tests/support/WireBytes.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

int ConnectTo(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class KestrelonSim : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kestrelon-sim-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override { fs::remove_all(directory); }

    std::string Write(const std::string& name, const std::string& text) const
    {
        const std::string path = (directory / name).string();
        std::ofstream(path) << text;
        return path;
    }

    // Lines up to "ready"; empty when the child does not get there.
    static std::vector<std::string> StartUp(SpawnedProcess& child)
    {
        std::vector<std::string> lines;
        while (std::optional<std::string> line = child.readLine(5s)) {
            if (*line == "ready") {
                return lines;
            }
            lines.push_back(*line);
        }
        return {};
    }

    fs::path directory;
};

TEST_F(KestrelonSim, ServesTwoModulesOnTcpAndPtyUntilQuit)
{
    const std::string log = (directory / "wire.log").string();
    const std::string config = Write("sim.ini",
                                     "[module]\n"
                                     "serial = 5EED0001\n"
                                     "tcp = 127.0.0.1:0\n"
                                     "log = " + log + "\n"
                                     "\n"
                                     "[module]\n"
                                     "serial = 5EED0002\n"
                                     "address = 4\n"
                                     "pty = yes\n"
                                     "log = " + log + "\n");
    SpawnedProcess child({KESTRELON_SIM_BIN, "--config", config});
    ASSERT_TRUE(child.started());
    const std::vector<std::string> lines = StartUp(child);
    ASSERT_EQ(lines.size(), 2u);
    std::smatch tcp;
    std::smatch pty;
    ASSERT_TRUE(std::regex_match(lines[0], tcp, std::regex("module 5EED0001 tcp 127\\.0\\.0\\.1:([0-9]+)"))) << lines[0];
    ASSERT_TRUE(std::regex_match(lines[1], pty, std::regex("module 5EED0002 pty (/dev/pts/[0-9]+)"))) << lines[1];

    const int socket = ConnectTo(static_cast<uint16_t>(std::stoi(tcp[1])));
    ASSERT_GE(socket, 0);
    ASSERT_TRUE(WriteBytes(socket, {0xAD, 0x00, 0x02, 0x03, 0x03, 0x49, 0x20}));
    EXPECT_EQ(ReadBytes(socket, 11), (Bytes{0x02, 0x00, 0x02, 0x07, 0x03, 0x09, 0x00, 0x5E, 0xED, 0x00, 0x01}));

    const int line = open(pty[1].str().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(line, 0);
    ASSERT_TRUE(WriteBytes(line, {0xAD, 0x00, 0x04, 0x03, 0x03, 0x49, 0x20}));
    EXPECT_EQ(ReadBytes(line, 11), (Bytes{0x04, 0x00, 0x04, 0x07, 0x03, 0x09, 0x00, 0x5E, 0xED, 0x00, 0x02}));

    ASSERT_TRUE(child.write("reset\n"));
    EXPECT_EQ(child.readLine(5s), "reset done");
    int error = 0;
    EXPECT_EQ(ReadBytes(socket, 1, 2000ms, &error), Bytes{});
    EXPECT_EQ(error, ECONNRESET);
    close(socket);

    ASSERT_TRUE(child.write("nonsense\nquit\n"));
    EXPECT_EQ(child.wait(5s), 0);
    close(line);

    std::ifstream in(log);
    std::vector<std::string> logged;
    for (std::string text; std::getline(in, text);) {
        logged.push_back(text.substr(text.find(' ') + 1));
    }
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "5EED0001 rx AD 00",
                          "5EED0001 tx 02 00",
                          "5EED0001 rx 02 03 03 49 20",
                          "5EED0001 tx 02 07 03 09 00 5E ED 00 01",
                          "5EED0002 rx AD 00",
                          "5EED0002 tx 04 00",
                          "5EED0002 rx 04 03 03 49 20",
                          "5EED0002 tx 04 07 03 09 00 5E ED 00 02",
                      }));
}

int SerialAnswer(const aPacket* packet, void*)
{
    return packet->dataSize >= 3 && packet->data[0] == 0x03 && packet->data[1] == 0x09;
}

// The payload of the answer to a raw system-entity get of the serial number (03 49 20) sent to
// module 2 over the link; empty when none comes.
Bytes SerialNumberAnswer(aLinkId id)
{
    const uint8_t request[] = {0x03, 0x49, 0x20};
    aPacket* packet = aPacket_CreateWithData(0x02, sizeof request, request);
    const aErr put = aLink_PutPacket(id, packet);
    aPacket_Destroy(&packet);
    packet = put == aErrNone ? aLink_AwaitFirst(id, SerialAnswer, nullptr, 2000) : nullptr;
    if (packet == nullptr) {
        return {};
    }
    const Bytes payload(packet->data, packet->data + packet->dataSize);
    aPacket_Destroy(&packet);
    return payload;
}

TEST_F(KestrelonSim, LinksOverTcpAndSerialLineReachTheModulesOfItsConfiguration)
{
    const std::string config = Write("sim.ini",
                                     "[module]\n"
                                     "serial = 40F5849A\n"
                                     "tcp = 127.0.0.1:0\n"
                                     "heartbeat = 200\n"
                                     "\n"
                                     "[module]\n"
                                     "serial = 1A2B3C4D\n"
                                     "pty = yes\n");
    SpawnedProcess child({KESTRELON_SIM_BIN, "--config", config});
    const std::vector<std::string> lines = StartUp(child);
    ASSERT_EQ(lines.size(), 2u);
    std::smatch tcp;
    std::smatch pty;
    ASSERT_TRUE(std::regex_match(lines[0], tcp, std::regex("module 40F5849A tcp 127\\.0\\.0\\.1:([0-9]+)")));
    ASSERT_TRUE(std::regex_match(lines[1], pty, std::regex("module 1A2B3C4D pty (/dev/pts/[0-9]+)")));

    aLinkId overTcp = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), static_cast<uint32_t>(std::stoi(tcp[1])));
    ASSERT_NE(overTcp, 0u);
    aLinkId overSerial = aLink_CreateSerial(0x1A2B3C4D, pty[1].str().c_str(), 115200);
    ASSERT_NE(overSerial, 0u);
    for (const aLinkId id : {overTcp, overSerial}) {
        EXPECT_EQ(aLink_GetStatus(id), kLinkRunning);
    }
    EXPECT_EQ(SerialNumberAnswer(overTcp), (Bytes{0x03, 0x09, 0x00, 0x40, 0xF5, 0x84, 0x9A}));
    EXPECT_EQ(SerialNumberAnswer(overSerial), (Bytes{0x03, 0x09, 0x00, 0x1A, 0x2B, 0x3C, 0x4D}));
    // The heartbeats of the first module are answered by the link, not handed to its callers.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(aLink_GetPacket(overTcp), nullptr);
    EXPECT_EQ(aLink_GetStatus(overTcp), kLinkRunning);

    aLink_Destroy(&overTcp);
    aLink_Destroy(&overSerial);
    ASSERT_TRUE(child.write("quit\n"));
    EXPECT_EQ(child.wait(5s), 0);
}

TEST_F(KestrelonSim, OutlivesItsInputAndStopsCleanlyOnSignals)
{
    for (const int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(number);
        SpawnedProcess child({KESTRELON_SIM_BIN, "--pty", "--heartbeat", "100"});
        ASSERT_EQ(StartUp(child).size(), 1u);
        child.closeInput();
        EXPECT_EQ(child.wait(300ms), std::nullopt) << "the end of standard input does not stop it";
        child.signal(number);
        EXPECT_EQ(child.wait(5s), 0);
    }
}

TEST_F(KestrelonSim, RefusesBadInputWithStatusTwo)
{
    const std::string bad = Write("bad.ini", "[module]\nserial = 1\nmodel = 300\n");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--serial", "xyz"}, "kestrelon-sim: --serial: not a hexadecimal 32-bit serial number: 'xyz'\n"},
        {{"--frobnicate"}, "kestrelon-sim: --frobnicate: unknown flag (see -h)\n"},
        {{"--config", bad}, "kestrelon-sim: " + bad + ":3: model: not a model 0-255: '300'\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> argv{KESTRELON_SIM_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ChildResult result = RunChild(argv, 10s);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.out, "");
    }

    const ChildResult help = RunChild({KESTRELON_SIM_BIN, "-h"}, 10s);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kestrelon-sim", 0), 0u);
}

TEST_F(KestrelonSim, ReportsAnEndpointItCannotOpen)
{
    const int taken = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof where;
    ASSERT_EQ(bind(taken, reinterpret_cast<const sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&where), &size), 0);
    const std::string port = std::to_string(ntohs(where.sin_port));

    const ChildResult result = RunChild({KESTRELON_SIM_BIN, "--tcp", "127.0.0.1:" + port}, 10s);
    close(taken);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "kestrelon-sim: module 5EED0001: cannot listen on 127.0.0.1:" + port + ": Address already in use\n");
    EXPECT_EQ(result.out, "");
}

} // namespace
