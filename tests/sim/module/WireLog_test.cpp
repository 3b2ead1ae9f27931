// Tests of WireLog: one whole, flushed line per packet in the documented format, shared safely by several writers.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "sim/module/VirtualModule.h"
#include "sim/module/WireLog.h"

namespace {

namespace fs = std::filesystem;

class WireLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "wirelog-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        path = (directory / "wire.log").string();
    }
    void TearDown() override { fs::remove_all(directory); }

    std::vector<std::string> Lines() const
    {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    fs::path directory;
    std::string path;
};

TEST_F(WireLogTest, WritesOneFlushedLinePerPacket)
{
    ksim::WireLog log(path);
    log.write(0x5EED0001, "rx", {0x02, 0x03, 0x05, 0x40, 0x20});
    // Read while the log is still open: every line is on disk at once.
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("[0-9]+ 5EED0001 rx 02 03 05 40 20"))) << lines[0];
    log.write(0xAB, "drop", {0xFF});
    log.write(0xAB, "inject", {});
    lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("[0-9]+ 000000AB drop FF"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("[0-9]+ 000000AB inject"))) << lines[2];
}

TEST_F(WireLogTest, KeepsLinesWholeUnderConcurrentWriters)
{
    {
        ksim::WireLog log(path);
        std::vector<std::thread> writers;
        for (uint32_t serial = 1; serial <= 4; ++serial) {
            writers.emplace_back([&log, serial] {
                for (int i = 0; i < 200; ++i) {
                    log.write(serial, "tx", ksim::Bytes(28, static_cast<uint8_t>(serial)));
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
    }
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 800u);
    const std::regex whole("[0-9]+ 0000000([1-4]) tx( 0\\1){28}");
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
}

TEST_F(WireLogTest, ModuleOpensItsConfiguredLogAndRecordsWhatItReceives)
{
    ksim::ModuleConfig config;
    config.logPath = path;
    ksim::VirtualModule module(config);
    module.handle(ksim::Packet{0xAD, {}});
    module.log("tx", {0x02, 0x00});
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("[0-9]+ 5EED0001 rx AD 00"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("[0-9]+ 5EED0001 tx 02 00"))) << lines[1];
}

TEST_F(WireLogTest, RefusesAFileItCannotOpen)
{
    try {
        ksim::WireLog log((directory / "missing" / "wire.log").string());
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot open the packet log " + (directory / "missing" / "wire.log").string()),
                  std::string::npos)
            << e.what();
    }
}

} // namespace
