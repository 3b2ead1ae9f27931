// Tests of Log: package filtering, cutting, the null stream, the time stamp and the single
// write per line, with the output captured through real streams.
#include "app/Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <unistd.h>

// The logger is global; every test starts from the program's defaults and leaves them behind.
class LogTest : public testing::Test {
protected:
    void SetUp() override
    {
        Log::package_bitmask = 0;
        Log::timestamped = false;
        stream = tmpfile();
        ASSERT_NE(stream, nullptr);
        Log::SetOutput(stream);
    }
    void TearDown() override
    {
        Log::SetOutput(nullptr);
        Log::package_bitmask = 0;
        Log::timestamped = false;
        if (stream != nullptr) {
            fclose(stream);
        }
    }

    // Everything written so far; the stream is left positioned for the next line.
    std::string written()
    {
        fflush(stream);
        rewind(stream);
        std::string text;
        int c;
        while ((c = fgetc(stream)) != EOF) {
            text += static_cast<char>(c);
        }
        fseek(stream, 0, SEEK_END);
        return text;
    }

    FILE* stream = nullptr;
};

TEST_F(LogTest, WritesOnlyLinesOfActivePackages)
{
    const struct {
        const char* name;
        std::vector<unsigned int> activated;
        std::vector<unsigned int> deactivated;
        unsigned int mask;
        bool shown;
    } cases[] = {
        {"mask 0 with nothing active", {}, {}, 0, true},
        {"inactive package", {}, {}, DEBUG_Updater, false},
        {"mask 0 with packages active", {0x21}, {}, 0, true},
        {"0x21 activates DEBUG_Updater", {0x21}, {}, DEBUG_Updater, true},
        {"0x21 activates DEBUG_ServerComm", {0x21}, {}, DEBUG_ServerComm, true},
        {"0x21 leaves DEBUG_Attributes", {0x21}, {}, DEBUG_Attributes, false},
        {"the two DEBUG_Network bits are distinct", {DEBUG_Network}, {}, DEBUG_Network_Link, false},
        {"activations accumulate", {DEBUG_APP, DEBUG_iMXSerial}, {}, DEBUG_APP, true},
        {"any common bit suffices", {DEBUG_NXPSerial_E}, {}, DEBUG_NXPSerial | DEBUG_NXPSerial_E, true},
        {"deactivation clears its bits only", {0x21}, {DEBUG_Updater}, DEBUG_Updater, false},
        {"deactivation keeps other bits", {0x21}, {DEBUG_Updater}, DEBUG_ServerComm, true},
        {"mask 0 survives deactivation", {0x21}, {0xFFFFFFFF}, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Log::package_bitmask = 0;
        for (unsigned int mask : c.activated) {
            Log::ActivatePackage(mask);
        }
        for (unsigned int mask : c.deactivated) {
            Log::DeactivatePackage(mask);
        }
        const size_t before = written().size();
        Log::log(c.mask, "line %u\n", c.mask);
        EXPECT_EQ(written().substr(before), c.shown ? "line " + std::to_string(c.mask) + "\n" : "");
    }
}

TEST_F(LogTest, WritesTextUnchangedWithoutAddingLineFeeds)
{
    Log::ActivatePackage(DEBUG_Network_Link);
    Log::log(DEBUG_Network_Link, "Found Link Module");
    Log::log(0, "NETWORK: Failed to transfer firmware\n");
    Log::log(0, "\nNETWORK: Unable to validate transfer [%02X] [%08X != %08X].\n", 5u, 0xABCDu, 0x1234u);
    EXPECT_EQ(written(), "Found Link ModuleNETWORK: Failed to transfer firmware\n"
                         "\nNETWORK: Unable to validate transfer [05] [0000ABCD != 00001234].\n");
}

TEST_F(LogTest, CutsLongLinesTo2047Characters)
{
    std::string text;
    for (size_t i = 0; i < 3000; ++i) {
        text += static_cast<char>('A' + i % 26);
    }
    Log::log(0, "%s", text.c_str());
    EXPECT_EQ(written(), text.substr(0, 2047));
}

// Runs the calls with standard output and standard error on regular files and returns both.
static std::pair<std::string, std::string> _capture_standard_streams(const std::function<void()>& calls)
{
    FILE* files[2] = {tmpfile(), tmpfile()};
    if (files[0] == nullptr || files[1] == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    fflush(stdout);
    fflush(stderr);
    const int saved[2] = {dup(STDOUT_FILENO), dup(STDERR_FILENO)};
    dup2(fileno(files[0]), STDOUT_FILENO);
    dup2(fileno(files[1]), STDERR_FILENO);
    calls();
    fflush(stdout);
    fflush(stderr);
    dup2(saved[0], STDOUT_FILENO);
    dup2(saved[1], STDERR_FILENO);
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {
        close(saved[i]);
        char chunk[512];
        ssize_t n;
        off_t offset = 0;
        while ((n = pread(fileno(files[i]), chunk, sizeof chunk, offset)) > 0) {
            texts[i].append(chunk, static_cast<size_t>(n));
            offset += n;
        }
        fclose(files[i]);
    }
    return {texts[0], texts[1]};
}

TEST_F(LogTest, NullStreamWritesNothingAnywhere)
{
    Log::ActivatePackage(0xFFFFFFFF);
    Log::timestamped = true;
    Log::SetOutput(nullptr);
    const auto [out, err] = _capture_standard_streams([] {
        Log::log(0, "NETWORK: Failed to transfer firmware\n");
        Log::log(DEBUG_Updater, "a line of an active package\n");
    });
    Log::SetOutput(stream);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_EQ(written(), "");
}

TEST_F(LogTest, TimestampPrefixesLongFormatsOnStandardOutput)
{
    const std::regex stamp(R"(\d{4}:\d{2}:\d{2}:\d{2}:\d{2}:\d{2} \| )");
    // The stamp is decided by the length of the format, not of the formatted text.
    const struct {
        const char* name;
        std::function<void()> call;
        std::string line;
        bool stamped;
    } cases[] = {
        {"ten characters", [] { Log::log(0, "ten chars\n"); }, "ten chars\n", false},
        {"eleven characters", [] { Log::log(0, "eleven char\n"); }, "eleven char\n", true},
        {"short format, long text", [] { Log::log(0, "%s\n", "a long formatted text"); }, "a long formatted text\n",
         false},
        {"filtered out", [] { Log::log(DEBUG_BirdFile, "an inactive package\n"); }, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = written().size();
        Log::timestamped = true;
        const auto [out, err] = _capture_standard_streams(c.call);
        Log::timestamped = false;
        EXPECT_EQ(written().substr(before), c.line);
        EXPECT_EQ(err, "");
        if (c.stamped) {
            EXPECT_TRUE(std::regex_match(out, stamp)) << out;
        } else {
            EXPECT_EQ(out, "");
        }
    }
}

// Collects each write the stream makes, so a line split over several writes shows.
static ssize_t _record_write(void* cookie, const char* data, size_t size)
{
    static_cast<std::vector<std::string>*>(cookie)->emplace_back(data, size);
    return static_cast<ssize_t>(size);
}

TEST_F(LogTest, HandsEachLineToTheStreamInOneWrite)
{
    std::vector<std::string> writes;
    cookie_io_functions_t io{};
    io.write = _record_write;
    FILE* recorder = fopencookie(&writes, "w", io);
    ASSERT_NE(recorder, nullptr);
    // Unbuffered like the program's standard error, so every write of the logger passes
    // straight through.
    setvbuf(recorder, nullptr, _IONBF, 0);
    Log::SetOutput(recorder);
    Log::ActivatePackage(DEBUG_ServerComm);
    Log::log(DEBUG_ServerComm, "GET %s [%d]\n", "http://server/?op=list", 200);
    Log::log(0, "%s", std::string(3000, 'x').c_str());
    Log::SetOutput(stream);
    fclose(recorder);
    const std::vector<std::string> expected = {"GET http://server/?op=list [200]\n", std::string(2047, 'x')};
    EXPECT_EQ(writes, expected);
}
