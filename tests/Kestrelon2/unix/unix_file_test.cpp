// Tests of the library's files: modes, reading to the end, seeking, lines and error mapping.
#include "Kestrelon2/unix/unix_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class AFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/unix_file_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }

    void TearDown() override
    {
        std::filesystem::permissions(directory, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(directory);
    }

    std::string path(const std::string& name) const { return directory + "/" + name; }

    std::string make(const std::string& name, const std::string& content) const
    {
        std::ofstream(path(name), std::ios::binary) << content;
        return path(name);
    }

    static std::string contents(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string directory;
};

TEST_F(AFile, ExistsOnlyForFiles)
{
    const std::string file = make("present", "x");
    const std::string tooLong(aFILE_MAX_PATH + 1, 'a');
    const struct {
        const char* path;
        bool expected;
    } cases[] = {
        {file.c_str(), true},
        {directory.c_str(), false},
        {"/dev/null", true},
        {nullptr, false},
        {tooLong.c_str(), false},
    };
    const std::string missing = path("missing");
    EXPECT_FALSE(aFile_Exists(missing.c_str()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path != nullptr ? std::string(c.path).substr(0, 40) : "null");
        EXPECT_EQ(aFile_Exists(c.path), c.expected);
    }
}

TEST_F(AFile, OpenRefusesBadPathsModesAndMissingFiles)
{
    const std::string file = make("present", "x");
    const std::string missing = path("missing");
    const std::string tooLong(aFILE_MAX_PATH + 1, 'a');
    const struct {
        const char* path;
        int mode;
    } cases[] = {
        {nullptr, aFILE_MODE_READ}, {"", aFILE_MODE_WRITE},     {tooLong.c_str(), aFILE_MODE_APPEND},
        {file.c_str(), 3},          {file.c_str(), -1},         {missing.c_str(), aFILE_MODE_READ},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.path != nullptr ? c.path : "null") << " mode " << c.mode);
        aFile* opened = aFile_Open(c.path, c.mode);
        EXPECT_EQ(opened, nullptr);
        aFile_Close(&opened);
    }
    EXPECT_FALSE(aFile_Exists(missing.c_str())) << "a refused read must not create the file";
}

TEST_F(AFile, EachModeAllowsOnlyItsOperations)
{
    const struct {
        int mode;
        bool reads;
        bool writes;
    } cases[] = {
        {aFILE_MODE_READ, true, false},
        {aFILE_MODE_WRITE, false, true},
        {aFILE_MODE_APPEND, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode);
        const std::string file = make("modes", "line\n");
        aFile* opened = aFile_Open(file.c_str(), c.mode);
        ASSERT_NE(opened, nullptr);
        const aErr whenReading = c.reads ? aErrEOF : aErrMode;
        const aErr whenWriting = c.writes ? aErrNone : aErrMode;
        uint8_t bytes[4] = {'a', 'b', 'c', 'd'};
        char line[16];
        size_t count = 99;
        // At the end, so that every mode that may read finds nothing more.
        if (c.mode == aFILE_MODE_READ) {
            ASSERT_EQ(aFile_Seek(opened, 0, aFILE_SEEK_END), aErrNone);
        }
        EXPECT_EQ(aFile_Read(opened, bytes, sizeof bytes, &count), whenReading);
        EXPECT_EQ(aFile_ReadLine(opened, line, sizeof line, &count), whenReading);
        EXPECT_EQ(aFile_Write(opened, bytes, sizeof bytes, &count), whenWriting);
        EXPECT_EQ(aFile_Printf(opened, "%d", 5), whenWriting);
        EXPECT_EQ(aFile_SetUnbuffered(opened), whenWriting);
        EXPECT_EQ(aFile_Close(&opened), aErrNone);
        EXPECT_EQ(opened, nullptr);
        const std::string expected = c.mode == aFILE_MODE_READ ? "line\n" : c.mode == aFILE_MODE_WRITE ? "abcd5" : "line\nabcd5";
        EXPECT_EQ(contents(file), expected);
    }
}

TEST_F(AFile, WriteModeCreatesAndTruncates)
{
    const std::string created = path("created");
    aFile* file = aFile_Open(created.c_str(), aFILE_MODE_WRITE);
    ASSERT_NE(file, nullptr);
    aFile_Close(&file);
    EXPECT_TRUE(aFile_Exists(created.c_str()));
    EXPECT_EQ(contents(created), "");

    const std::string existing = make("existing", "old contents");
    file = aFile_Open(existing.c_str(), aFILE_MODE_WRITE);
    ASSERT_NE(file, nullptr);
    const uint8_t data[] = {'n', 'e', 'w'};
    size_t count = 0;
    EXPECT_EQ(aFile_Write(file, data, sizeof data, &count), aErrNone);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(aFile_Close(&file), aErrNone);
    EXPECT_EQ(contents(existing), "new");
}

TEST_F(AFile, AppendModeStartsAtTheEndAndInterleavesReadsAndWrites)
{
    const std::string name = make("log", "abc");
    aFile* file = aFile_Open(name.c_str(), aFILE_MODE_APPEND);
    ASSERT_NE(file, nullptr);
    size_t position = 99;
    EXPECT_EQ(aFile_GetPosition(file, &position), aErrNone);
    EXPECT_EQ(position, 3u);

    ASSERT_EQ(aFile_Seek(file, 0, aFILE_SEEK_START), aErrNone);
    uint8_t first[1] = {0};
    size_t count = 0;
    ASSERT_EQ(aFile_Read(file, first, 1, &count), aErrNone);
    EXPECT_EQ(first[0], 'a');
    // Writing straight after reading: appended at the end, nothing in the middle overwritten.
    const uint8_t tail[] = {'d', 'e'};
    EXPECT_EQ(aFile_Write(file, tail, sizeof tail, &count), aErrNone);
    ASSERT_EQ(aFile_Seek(file, 0, aFILE_SEEK_START), aErrNone);
    uint8_t all[16] = {0};
    EXPECT_EQ(aFile_Read(file, all, sizeof all, &count), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(all), count), "abcde");
    EXPECT_EQ(aFile_Close(&file), aErrNone);

    const std::string missing = path("new-log");
    file = aFile_Open(missing.c_str(), aFILE_MODE_APPEND);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(aFile_Printf(file, "%s=%d\n", "x", 42), aErrNone);
    EXPECT_EQ(aFile_Close(&file), aErrNone);
    EXPECT_EQ(contents(missing), "x=42\n");
}

TEST_F(AFile, ReadIsShortAtTheEndThenReportsEOF)
{
    const std::string name = make("data", "0123456789abcd");
    aFile* file = aFile_Open(name.c_str(), aFILE_MODE_READ);
    ASSERT_NE(file, nullptr);
    const struct {
        size_t length;
        aErr expected;
        size_t count;
    } steps[] = {
        {10, aErrNone, 10}, {10, aErrNone, 4}, {10, aErrEOF, 0}, {0, aErrNone, 0}, {10, aErrEOF, 0},
    };
    uint8_t buffer[10];
    for (const auto& step : steps) {
        size_t count = 99;
        EXPECT_EQ(aFile_Read(file, buffer, step.length, &count), step.expected);
        EXPECT_EQ(count, step.count);
    }
    EXPECT_EQ(aFile_Read(file, nullptr, 1, nullptr), aErrParam);
    aFile_Close(&file);
}

TEST_F(AFile, ReadThatFailsIsAnIOErrorNotTheEnd)
{
    aFile* file = aFile_Open(directory.c_str(), aFILE_MODE_READ);
    if (file == nullptr) {
        GTEST_SKIP() << "directories cannot be opened as files here";
    }
    uint8_t buffer[4];
    size_t count = 99;
    EXPECT_EQ(aFile_Read(file, buffer, sizeof buffer, &count), aErrIO);
    EXPECT_EQ(count, 0u);
    char line[8];
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof line, &count), aErrIO);
    aFile_Close(&file);
}

TEST_F(AFile, SeekStaysWithinTheFile)
{
    const std::string name = make("ten", "0123456789");
    const struct {
        size_t from;
        int32_t offset;
        int origin;
        aErr expected;
        size_t position;
    } cases[] = {
        {4, 0, aFILE_SEEK_START, aErrNone, 0},    {4, 10, aFILE_SEEK_START, aErrNone, 10},
        {4, 11, aFILE_SEEK_START, aErrRange, 4},  {4, -1, aFILE_SEEK_START, aErrRange, 4},
        {4, 0, aFILE_SEEK_END, aErrNone, 10},     {4, -3, aFILE_SEEK_END, aErrNone, 7},
        {4, 1, aFILE_SEEK_END, aErrRange, 4},     {4, -11, aFILE_SEEK_END, aErrRange, 4},
        {4, 2, aFILE_SEEK_CURRENT, aErrNone, 6},  {4, -4, aFILE_SEEK_CURRENT, aErrNone, 0},
        {4, -5, aFILE_SEEK_CURRENT, aErrRange, 4}, {4, 7, aFILE_SEEK_CURRENT, aErrRange, 4},
        {4, 5, 7, aErrNone, 5},                   {4, 5, -1, aErrNone, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.from << " offset " << c.offset << " origin " << c.origin);
        aFile* file = aFile_Open(name.c_str(), aFILE_MODE_READ);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(aFile_Seek(file, static_cast<int32_t>(c.from), aFILE_SEEK_START), aErrNone);
        EXPECT_EQ(aFile_Seek(file, c.offset, c.origin), c.expected);
        size_t position = 99;
        EXPECT_EQ(aFile_GetPosition(file, &position), aErrNone);
        EXPECT_EQ(position, c.position);
        uint8_t next = 0;
        size_t count = 0;
        const aErr read = aFile_Read(file, &next, 1, &count);
        if (c.position < 10) {
            EXPECT_EQ(read, aErrNone);
            EXPECT_EQ(next, static_cast<uint8_t>('0' + c.position));
        } else {
            EXPECT_EQ(read, aErrEOF);
        }
        aFile_Close(&file);
    }
}

TEST_F(AFile, SizeCountsBufferedOutputAndKeepsThePosition)
{
    const std::string name = path("growing");
    aFile* file = aFile_Open(name.c_str(), aFILE_MODE_WRITE);
    ASSERT_NE(file, nullptr);
    const uint8_t data[] = {1, 2, 3, 4, 5};
    size_t count = 0;
    ASSERT_EQ(aFile_Write(file, data, sizeof data, &count), aErrNone);
    ASSERT_EQ(aFile_Seek(file, 2, aFILE_SEEK_START), aErrNone);
    size_t size = 0;
    EXPECT_EQ(aFile_GetSize(file, &size), aErrNone);
    EXPECT_EQ(size, 5u);
    size_t position = 0;
    EXPECT_EQ(aFile_GetPosition(file, &position), aErrNone);
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(aFile_GetSize(file, nullptr), aErrParam);
    EXPECT_EQ(aFile_GetPosition(file, nullptr), aErrNone);
    aFile_Close(&file);
}

TEST_F(AFile, UnseekableStreamReportsIOErrors)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "hi", 2), 2);
    const std::string name = "/proc/self/fd/" + std::to_string(ends[0]);
    aFile* file = aFile_Open(name.c_str(), aFILE_MODE_READ);
    ASSERT_NE(file, nullptr);
    size_t size = 99;
    EXPECT_EQ(aFile_GetSize(file, &size), aErrIO);
    EXPECT_EQ(size, 0u);
    size_t position = 99;
    EXPECT_EQ(aFile_GetPosition(file, &position), aErrIO);
    EXPECT_EQ(position, 99u);
    EXPECT_EQ(aFile_Seek(file, 0, aFILE_SEEK_START), aErrIO);
    uint8_t buffer[8];
    size_t count = 0;
    EXPECT_EQ(aFile_Read(file, buffer, 2, &count), aErrNone);
    EXPECT_EQ(count, 2u);
    aFile_Close(&file);
    close(ends[0]);
    close(ends[1]);
}

TEST_F(AFile, LostOutputIsReportedAtWriteOrClose)
{
    if (!aFile_Exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    const uint8_t data[] = {'x', 'y', 'z'};
    size_t count = 99;

    aFile* buffered = aFile_Open("/dev/full", aFILE_MODE_WRITE);
    ASSERT_NE(buffered, nullptr);
    EXPECT_EQ(aFile_Write(buffered, data, sizeof data, &count), aErrNone);
    EXPECT_EQ(aFile_Close(&buffered), aErrIO);
    EXPECT_EQ(buffered, nullptr);

    buffered = aFile_Open("/dev/full", aFILE_MODE_WRITE);
    ASSERT_NE(buffered, nullptr);
    EXPECT_EQ(aFile_Write(buffered, data, sizeof data, &count), aErrNone);
    EXPECT_EQ(aFile_SetUnbuffered(buffered), aErrIO) << "the buffered bytes cannot be written out";
    aFile_Close(&buffered);

    buffered = aFile_Open("/dev/full", aFILE_MODE_WRITE);
    ASSERT_NE(buffered, nullptr);
    EXPECT_EQ(aFile_Printf(buffered, "%s", "abc"), aErrNone);
    EXPECT_EQ(aFile_Close(&buffered), aErrIO);

    aFile* unbuffered = aFile_Open("/dev/full", aFILE_MODE_WRITE);
    ASSERT_NE(unbuffered, nullptr);
    ASSERT_EQ(aFile_SetUnbuffered(unbuffered), aErrNone);
    EXPECT_EQ(aFile_Write(unbuffered, data, sizeof data, &count), aErrIO);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(aFile_Printf(unbuffered, "%s", "abc"), aErrIO);
    EXPECT_EQ(aFile_Close(&unbuffered), aErrNone);
}

TEST_F(AFile, UnbufferedWritesReachTheFileAtOnce)
{
    const std::string name = path("unbuffered");
    aFile* file = aFile_Open(name.c_str(), aFILE_MODE_WRITE);
    ASSERT_NE(file, nullptr);
    const uint8_t before[] = {'1', '2'};
    const uint8_t after[] = {'3'};
    size_t count = 0;
    ASSERT_EQ(aFile_Write(file, before, sizeof before, &count), aErrNone);
    ASSERT_EQ(aFile_SetUnbuffered(file), aErrNone);
    ASSERT_EQ(aFile_Write(file, after, sizeof after, &count), aErrNone);
    EXPECT_EQ(contents(name), "123");
    ASSERT_EQ(aFile_Printf(file, "%04x", 0xbeefu), aErrNone);
    EXPECT_EQ(contents(name), "123beef");
    aFile_Close(&file);
}

TEST_F(AFile, ReadLineSplitsLinesAndReportsOverrun)
{
    struct Line {
        aErr result;
        std::string text;
    };
    const struct {
        std::string content;
        size_t size;
        std::vector<Line> lines;
    } cases[] = {
        {"abcdef\n", 8, {{aErrNone, "abcdef\n"}, {aErrEOF, ""}}},
        {"abcdefg\n", 8, {{aErrOverrun, "abcdefg"}, {aErrNone, "\n"}, {aErrEOF, ""}}},
        {"abcdefghijklmn\nz", 8, {{aErrOverrun, "abcdefg"}, {aErrOverrun, "hijklmn"}, {aErrNone, "\n"}, {aErrNone, "z"}, {aErrEOF, ""}}},
        {"one\n\ntwo", 8, {{aErrNone, "one\n"}, {aErrNone, "\n"}, {aErrNone, "two"}, {aErrEOF, ""}}},
        {std::string("a\0b\n", 4), 8, {{aErrNone, std::string("a\0b\n", 4)}, {aErrEOF, ""}}},
        {"ab", 2, {{aErrOverrun, "a"}, {aErrOverrun, "b"}, {aErrEOF, ""}}},
        {"", 8, {{aErrEOF, ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "content [" << c.content << "] size " << c.size);
        const std::string name = make("lines", c.content);
        aFile* file = aFile_Open(name.c_str(), aFILE_MODE_READ);
        ASSERT_NE(file, nullptr);
        for (const Line& expected : c.lines) {
            std::vector<char> buffer(c.size, 'Z');
            size_t length = 99;
            EXPECT_EQ(aFile_ReadLine(file, buffer.data(), c.size, &length), expected.result);
            ASSERT_EQ(length, expected.text.size());
            EXPECT_EQ(std::string(buffer.data(), length), expected.text);
            EXPECT_EQ(buffer[length], '\0');
        }
        aFile_Close(&file);
    }
}

TEST_F(AFile, ReadLineRefusesBuffersThatHoldNoCharacter)
{
    const std::string name = make("lines", "abc\n");
    aFile* file = aFile_Open(name.c_str(), aFILE_MODE_READ);
    ASSERT_NE(file, nullptr);
    char buffer[2] = {'Z', 'Z'};
    size_t length = 99;
    EXPECT_EQ(aFile_ReadLine(file, buffer, 1, &length), aErrParam);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(aFile_ReadLine(file, buffer, 0, &length), aErrParam);
    EXPECT_EQ(aFile_ReadLine(file, nullptr, 8, &length), aErrParam);
    EXPECT_EQ(aFile_ReadLine(file, buffer, sizeof buffer, nullptr), aErrOverrun);
    EXPECT_EQ(buffer[0], 'a');
    aFile_Close(&file);
}

TEST_F(AFile, NullRecordsAreRefused)
{
    uint8_t bytes[4] = {0};
    char line[8];
    size_t value = 0;
    const std::vector<std::function<aErr()>> operations = {
        [&] { return aFile_Read(nullptr, bytes, sizeof bytes, &value); },
        [&] { return aFile_Write(nullptr, bytes, sizeof bytes, &value); },
        [&] { return aFile_Seek(nullptr, 0, aFILE_SEEK_START); },
        [&] { return aFile_GetSize(nullptr, &value); },
        [&] { return aFile_GetPosition(nullptr, &value); },
        [&] { return aFile_ReadLine(nullptr, line, sizeof line, &value); },
        [&] { return aFile_SetUnbuffered(nullptr); },
        [&] { return aFile_Printf(nullptr, "%d", 1); },
        [&] { return aFile_Close(nullptr); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "operation " << i);
        EXPECT_EQ(operations[i](), aErrParam);
    }
    aFile* none = nullptr;
    EXPECT_EQ(aFile_Close(&none), aErrParam);
    EXPECT_FALSE(aVALIDFILE(nullptr));

    const std::string name = make("data", "x");
    aFile* file = aFile_Open(name.c_str(), aFILE_MODE_APPEND);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(aVALIDFILE(file));
    EXPECT_EQ(aFile_Write(file, nullptr, 1, &value), aErrParam);
    aFile_Close(&file);
}

TEST_F(AFile, DeleteMapsItsFailures)
{
    const std::string file = make("doomed", "x");
    const std::string missing = path("missing");
    const std::string tooLong(aFILE_MAX_PATH + 1, 'a');
    const std::string longest(aFILE_MAX_PATH, 'a');
    const struct {
        const char* path;
        aErr expected;
    } cases[] = {
        {file.c_str(), aErrNone},
        {file.c_str(), aErrNotFound},
        {missing.c_str(), aErrNotFound},
        {nullptr, aErrParam},
        {tooLong.c_str(), aErrFileNameLength},
        {directory.c_str(), aErrIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path != nullptr ? std::string(c.path).substr(0, 60) : "null");
        EXPECT_EQ(aFile_Delete(c.path), c.expected);
    }
    EXPECT_FALSE(aFile_Exists(file.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(directory)) << "a directory is never removed as a file";
    EXPECT_NE(aFile_Delete(longest.c_str()), aErrFileNameLength) << "4096 characters are still a path";
}

TEST_F(AFile, PermissionDenied)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    const std::string locked = make("locked", "secret");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(aFile_Open(locked.c_str(), aFILE_MODE_READ), nullptr);
    EXPECT_EQ(aFile_Open(locked.c_str(), aFILE_MODE_APPEND), nullptr);
    ASSERT_EQ(chmod(directory.c_str(), 0555), 0);
    EXPECT_EQ(aFile_Delete(locked.c_str()), aErrPermission);
    EXPECT_TRUE(aFile_Exists(locked.c_str()));
}

} // namespace
