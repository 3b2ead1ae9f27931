// Tests of streams: all-or-nothing reads, push-back, write choice, records, C strings, flushing, waiting and file streams.
#include "Kestrelon2/common/aStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>


namespace {

// One answer of the scripted transport's get: a byte, or a result without one.
struct Step {
    aErr result;
    uint8_t byte;
};

Step byte(uint8_t value)
{
    return {aErrNone, value};
}

std::vector<Step> bytes(const std::string& text)
{
    std::vector<Step> steps;
    for (const char c : text) {
        steps.push_back(byte(static_cast<uint8_t>(c)));
    }
    return steps;
}

const Step notReady = {aErrNotReady, 0};
const Step endOfData = {aErrEOF, 0};

// A transport that answers get from a script (then end of data) and records what is sent.
struct Script {
    std::deque<Step> steps;
    int gets = 0;
    std::string sent;
    int puts = 0;
    std::vector<std::string> writes;
    aErr putResult = aErrNone;
    int putFailsAt = -1; // the put of this index (0-based) fails with putResult
    aErr writeResult = aErrNone;
    int deletes = 0;
    aErr deleteResult = aErrNone;
    int waits = 0;
    uint32_t waitTimeout = 0;
    aErr waitResult = aErrNone;

    void add(const std::vector<Step>& more) { steps.insert(steps.end(), more.begin(), more.end()); }
};

aErr scriptGet(uint8_t* out, void* ref)
{
    auto* script = static_cast<Script*>(ref);
    ++script->gets;
    if (script->steps.empty()) {
        return aErrEOF;
    }
    const Step step = script->steps.front();
    script->steps.pop_front();
    if (step.result == aErrNone) {
        *out = step.byte;
    }
    return step.result;
}

aErr scriptPut(const uint8_t* data, void* ref)
{
    auto* script = static_cast<Script*>(ref);
    if (script->puts++ == script->putFailsAt) {
        return script->putResult;
    }
    script->sent.push_back(static_cast<char>(*data));
    return aErrNone;
}

aErr scriptWrite(const uint8_t* data, size_t length, void* ref)
{
    auto* script = static_cast<Script*>(ref);
    script->writes.emplace_back(reinterpret_cast<const char*>(data), length);
    if (script->writeResult == aErrNone) {
        script->sent.append(reinterpret_cast<const char*>(data), length);
    }
    return script->writeResult;
}

aErr scriptDelete(void* ref)
{
    auto* script = static_cast<Script*>(ref);
    ++script->deletes;
    return script->deleteResult;
}

aErr scriptWait(uint32_t msTimeout, void* ref)
{
    auto* script = static_cast<Script*>(ref);
    ++script->waits;
    script->waitTimeout = msTimeout;
    return script->waitResult;
}

class AStream : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (stream != nullptr) {
            aStream_Destroy(&stream);
        }
    }

    aStream* open(bool get = true, bool put = true, bool write = true)
    {
        stream = aStream_Create(get ? scriptGet : nullptr, put ? scriptPut : nullptr,
                                write ? scriptWrite : nullptr, scriptDelete, &script);
        return stream;
    }

    std::string read(size_t count, aErr expected)
    {
        std::string buffer(count, '?');
        EXPECT_EQ(aStream_Read(stream, reinterpret_cast<uint8_t*>(buffer.data()), count), expected);
        return buffer;
    }

    std::string readCString(size_t size, aErr expected = aErrNone)
    {
        std::vector<char> buffer(size, '?');
        EXPECT_EQ(aStream_ReadCString(stream, buffer.data(), size), expected);
        return expected == aErrNone ? std::string(buffer.data()) : std::string();
    }

    std::string readRecord(size_t maximum, const std::string& separator, aErr expected = aErrNone)
    {
        std::vector<uint8_t> buffer(maximum, '?');
        size_t length = 12345;
        EXPECT_EQ(aStream_ReadRecord(stream, buffer.data(), &length, maximum,
                                     reinterpret_cast<const uint8_t*>(separator.data()), separator.size()),
                  expected);
        if (expected != aErrNone) {
            return {};
        }
        EXPECT_LE(length, maximum);
        return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length)};
    }

    Script script;
    aStream* stream = nullptr;
};

TEST_F(AStream, CreatesALiveEmptyStreamOverTheGivenOperations)
{
    ASSERT_NE(open(true, false, true), nullptr);
    EXPECT_TRUE(aVALIDSTREAM(stream));
    EXPECT_EQ(stream->check, aSTREAMCHECK);
    EXPECT_EQ(stream->getProc, &scriptGet);
    EXPECT_EQ(stream->putProc, nullptr);
    EXPECT_EQ(stream->writeProc, &scriptWrite);
    EXPECT_EQ(stream->procRef, &script);
    EXPECT_EQ(stream->pushback, nullptr);
    EXPECT_EQ(stream->pushbackCount, 0U);
    EXPECT_EQ(stream->waitProc, nullptr);
}

TEST_F(AStream, DestroyReleasesTheTransportAndPassesItsResultBack)
{
    script.deleteResult = aErrIO;
    ASSERT_NE(open(), nullptr);
    ASSERT_EQ(aStreamBufferChar(stream, 'x'), aErrNone);
    EXPECT_EQ(aStream_Destroy(&stream), aErrIO);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(script.deletes, 1);

    aStream* bare = aStream_Create(nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(aStream_Destroy(&bare), aErrNone);
    EXPECT_EQ(bare, nullptr);
}

TEST_F(AStream, DestroyRefusesWhatIsNoLiveStreamAndClearsThePointer)
{
    ASSERT_NE(open(), nullptr);
    ASSERT_EQ(aStream_Destroy(&stream), aErrNone);
    EXPECT_EQ(aStream_Destroy(&stream), aErrParam) << "a second destroy";
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(script.deletes, 1);

    aStream dead{};
    aStream* stale = &dead;
    EXPECT_EQ(aStream_Destroy(&stale), aErrParam);
    EXPECT_EQ(stale, nullptr);
    EXPECT_EQ(aStream_Destroy(nullptr), aErrParam);
}

TEST_F(AStream, NotReadyReadDeliversNothingAndTheNextReadStartsWithTheTakenBytes)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes("ab"));
    script.add({notReady});
    EXPECT_EQ(read(4, aErrNotReady), "????") << "the caller receives nothing";
    const int gets = script.gets;
    EXPECT_EQ(read(2, aErrNone), "ab");
    EXPECT_EQ(script.gets, gets) << "the bytes came from the push-back buffer";

    script.add(bytes("cd"));
    EXPECT_EQ(read(2, aErrNone), "cd");
}

TEST_F(AStream, NotReadyAfterPushedBackBytesKeepsTheirOrder)
{
    ASSERT_NE(open(), nullptr);
    ASSERT_EQ(aStreamBufferChar(stream, '1'), aErrNone);
    ASSERT_EQ(aStreamBufferChar(stream, '2'), aErrNone);
    script.add(bytes("3"));
    script.add({notReady});
    script.add(bytes("45"));
    EXPECT_EQ(read(5, aErrNotReady), "?????");
    EXPECT_EQ(read(5, aErrNone), "12345");
}

TEST_F(AStream, EndOfDataMidReadDeliversTheBytesBeforeIt)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes("x"));
    EXPECT_EQ(read(3, aErrEOF), "x??");
    EXPECT_EQ(read(1, aErrEOF), "?");
}

TEST_F(AStream, OtherFailureDropsTheTakenBytes)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes("ab"));
    script.add({{aErrIO, 0}});
    script.add(bytes("cd"));
    EXPECT_EQ(read(3, aErrIO), "???");
    EXPECT_EQ(read(2, aErrNone), "cd");
}

TEST_F(AStream, LongReadsAreWholeToo)
{
    ASSERT_NE(open(), nullptr);
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text.push_back(static_cast<char>('a' + i % 26));
    }
    script.add(bytes(text.substr(0, 200)));
    script.add({notReady});
    script.add(bytes(text.substr(200)));
    EXPECT_EQ(read(300, aErrNotReady), std::string(300, '?'));
    EXPECT_EQ(read(300, aErrNone), text);
}

TEST_F(AStream, ReadRefusesBadArguments)
{
    uint8_t buffer[4];
    ASSERT_NE(open(false, true, true), nullptr);
    EXPECT_EQ(aStream_Read(stream, buffer, 1), aErrMode);
    EXPECT_EQ(aStream_Read(stream, nullptr, 1), aErrParam);
    EXPECT_EQ(aStream_Read(nullptr, buffer, 1), aErrParam);
    aStream dead{};
    EXPECT_EQ(aStream_Read(&dead, buffer, 1), aErrParam);
}

TEST_F(AStream, PushedBackBytesKeepTheirOrderAcrossGrowth)
{
    ASSERT_NE(open(), nullptr);
    std::string pushed;
    for (int i = 0; i < 600; ++i) {
        pushed.push_back(static_cast<char>(i % 251));
        ASSERT_EQ(aStreamBufferChar(stream, static_cast<uint8_t>(i % 251)), aErrNone);
        if (i == 510) {
            EXPECT_EQ(stream->pushbackSize, aSTREAMBUFCHUNK) << "511 bytes still fit";
        }
    }
    EXPECT_EQ(stream->pushbackSize, 2 * aSTREAMBUFCHUNK);
    EXPECT_EQ(stream->pushbackCount, 600U);
    EXPECT_EQ(read(600, aErrNone), pushed);
    EXPECT_EQ(script.gets, 0);
    EXPECT_EQ(stream->pushbackSize, 2 * aSTREAMBUFCHUNK) << "the buffer never shrinks";
}

TEST_F(AStream, GrowthOfAWrappedRingKeepsTheOrder)
{
    ASSERT_NE(open(), nullptr);
    std::string expected;
    int next = 0;
    auto push = [&](int count) {
        for (int i = 0; i < count; ++i, ++next) {
            expected.push_back(static_cast<char>(next % 256));
            ASSERT_EQ(aStreamBufferChar(stream, static_cast<uint8_t>(next % 256)), aErrNone);
        }
    };
    push(400);
    EXPECT_EQ(read(300, aErrNone), expected.substr(0, 300));
    expected.erase(0, 300);
    push(450); // wraps past the end of the ring, then grows it while wrapped
    EXPECT_EQ(stream->pushbackSize, 2 * aSTREAMBUFCHUNK);
    EXPECT_EQ(read(550, aErrNone), expected);
}

TEST_F(AStream, BufferCharRefusesAnInvalidStream)
{
    EXPECT_EQ(aStreamBufferChar(nullptr, 'x'), aErrParam);
    aStream dead{};
    EXPECT_EQ(aStreamBufferChar(&dead, 'x'), aErrParam);
}

TEST_F(AStream, WriteChoosesBetweenWriteAndPut)
{
    const struct {
        bool put;
        bool write;
        size_t count;
        int expectedPuts;
        size_t expectedWrites;
    } cases[] = {
        {true, true, 1, 1, 0},
        {true, true, 2, 0, 1},
        {true, true, 0, 0, 0},
        {true, false, 3, 3, 0},
        {false, true, 1, 0, 1}, // a lone byte goes through write when there is no put
        {false, true, 5, 0, 1},
        {false, true, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "put " << c.put << " write " << c.write << " count " << c.count);
        script = Script();
        ASSERT_NE(open(true, c.put, c.write), nullptr);
        EXPECT_EQ(aStream_Write(stream, reinterpret_cast<const uint8_t*>("abcde"), c.count), aErrNone);
        EXPECT_EQ(script.puts, c.expectedPuts);
        EXPECT_EQ(script.writes.size(), c.expectedWrites);
        EXPECT_EQ(script.sent, std::string("abcde", c.count));
        aStream_Destroy(&stream);
    }
}

TEST_F(AStream, WriteStopsAtTheFirstFailure)
{
    ASSERT_NE(open(true, true, false), nullptr);
    script.putFailsAt = 1;
    script.putResult = aErrIO;
    EXPECT_EQ(aStream_Write(stream, reinterpret_cast<const uint8_t*>("abc"), 3), aErrIO);
    EXPECT_EQ(script.puts, 2);
    EXPECT_EQ(script.sent, "a");

    aStream_Destroy(&stream);
    script = Script();
    script.writeResult = aErrWrite;
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(aStream_Write(stream, reinterpret_cast<const uint8_t*>("abc"), 3), aErrWrite);
}

TEST_F(AStream, WriteRefusesBadArguments)
{
    const uint8_t data[] = {1, 2};
    ASSERT_NE(open(true, false, false), nullptr);
    EXPECT_EQ(aStream_Write(stream, data, 2), aErrMode);
    EXPECT_EQ(aStream_Write(stream, nullptr, 2), aErrParam);
    EXPECT_EQ(aStream_Write(nullptr, data, 2), aErrParam);
}

TEST_F(AStream, ReadCStringTakesOneTextAndLeavesTheRest)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes(std::string("ab\0cd\0", 6)));
    EXPECT_EQ(readCString(16), "ab");
    EXPECT_EQ(readCString(16), "cd");
    EXPECT_EQ(readCString(16, aErrEOF), "");
}

TEST_F(AStream, ReadCStringStopsWhenTheBufferIsFull)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes(std::string("ab\0", 3)));
    EXPECT_EQ(readCString(2), "a");
    EXPECT_EQ(read(2, aErrNone), std::string("b\0", 2));
}

TEST_F(AStream, ReadCStringEndedByTheEndOfDataIsStillAText)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes("xy"));
    EXPECT_EQ(readCString(16), "xy");
}

TEST_F(AStream, ReadCStringRecordEndsAtTheSeparatorText)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes("key=value\r\nnext"));
    std::vector<char> buffer(32, '?');
    ASSERT_EQ(aStream_ReadCStringRecord(stream, buffer.data(), buffer.size(), "\r\n"), aErrNone);
    EXPECT_STREQ(buffer.data(), "key=value");
    ASSERT_EQ(aStream_ReadCStringRecord(stream, buffer.data(), buffer.size(), "\r\n"), aErrNone);
    EXPECT_STREQ(buffer.data(), "next");
    EXPECT_EQ(aStream_ReadCStringRecord(stream, buffer.data(), buffer.size(), ""), aErrParam);
    EXPECT_EQ(aStream_ReadCStringRecord(stream, buffer.data(), 1, "\n"), aErrParam);
    EXPECT_EQ(aStream_ReadCString(stream, buffer.data(), 1), aErrParam);
}

TEST_F(AStream, RecordCutByNotReadyIsReadAgainFromItsStart)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes("ab"));
    script.add({notReady});
    script.add(bytes("c;d"));
    EXPECT_EQ(readRecord(8, ";", aErrNotReady), "");
    EXPECT_EQ(readRecord(8, ";"), "abc");
    EXPECT_EQ(read(1, aErrNone), "d");
}

TEST_F(AStream, RecordCutByNotReadyInsideASeparatorKeepsThoseBytesToo)
{
    ASSERT_NE(open(), nullptr);
    script.add(bytes("xa"));
    script.add({notReady});
    script.add(bytes("cab"));
    EXPECT_EQ(readRecord(8, "ab", aErrNotReady), "");
    EXPECT_EQ(readRecord(8, "ab"), "xac");
}

TEST_F(AStream, RecordSeparators)
{
    const struct {
        std::string input;
        std::string separator;
        size_t maximum;
        std::string record;
        std::string rest;
    } cases[] = {
        {"abc;def", ";", 16, "abc", "def"},
        {";x", ";", 16, "", "x"},
        {"abcdef", ";", 4, "abcd", "ef"},
        {"abcd;x", ";", 4, "abcd", ";x"},
        {"aab!", "ab", 16, "a", "!"},      // the broken match holds the separator's start
        {"xacab!", "ab", 16, "xac", "!"},  // a broken match is data
        {"aaab!", "aab", 16, "a", "!"},    // the separator overlaps itself
        {"abaabab!", "abab", 16, "aba", "!"},
        {"xac!", "ab", 2, "xa", "c!"},     // full while a match breaks: the byte stays in the stream
        {"xaa!", "ab", 2, "xa", "a!"},
        {"xa", "ab", 16, "xa", ""},        // a separator cut short by the end is data
        {"xyaa", "aab", 3, "xya", "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input " + c.input + " separator " + c.separator);
        script = Script();
        ASSERT_NE(open(), nullptr);
        script.add(bytes(c.input));
        EXPECT_EQ(readRecord(c.maximum, c.separator), c.record);
        std::string rest;
        uint8_t next = 0;
        while (aStream_Read(stream, &next, 1) == aErrNone) {
            rest.push_back(static_cast<char>(next));
        }
        EXPECT_EQ(rest, c.rest);
        aStream_Destroy(&stream);
    }
}

TEST_F(AStream, RecordAtTheEndOfData)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(readRecord(8, ";", aErrEOF), "");
    script.add({{aErrIO, 0}});
    EXPECT_EQ(readRecord(8, ";", aErrIO), "");
}

TEST_F(AStream, ReadRecordRefusesBadArguments)
{
    uint8_t buffer[4];
    const uint8_t separator = ';';
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(aStream_ReadRecord(nullptr, buffer, nullptr, 4, &separator, 1), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(stream, nullptr, nullptr, 4, &separator, 1), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, nullptr, 4, nullptr, 1), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, nullptr, 4, &separator, 0), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, nullptr, 0, &separator, 1), aErrParam);
    EXPECT_EQ(script.gets, 0);
}

TEST_F(AStream, WritesRecordsAndTexts)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(aStream_WriteCStringRecord(stream, "x", ";"), aErrNone);
    EXPECT_EQ(script.sent, std::string("x;\0", 3));
    script.sent.clear();
    EXPECT_EQ(aStream_WriteCString(stream, "hi"), aErrNone);
    EXPECT_EQ(script.sent, std::string("hi\0", 3));
    script.sent.clear();
    EXPECT_EQ(aStream_WriteCString(stream, ""), aErrNone);
    EXPECT_EQ(script.sent, std::string("\0", 1));
    script.sent.clear();
    EXPECT_EQ(aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>("abc"), 3,
                                  reinterpret_cast<const uint8_t*>("\r\n"), 2),
              aErrNone);
    EXPECT_EQ(script.sent, "abc\r\n");

    EXPECT_EQ(aStream_WriteCString(stream, nullptr), aErrParam);
    EXPECT_EQ(aStream_WriteCStringRecord(stream, "x", nullptr), aErrParam);
    EXPECT_EQ(aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>("a"), 1, nullptr, 1), aErrParam);
    EXPECT_EQ(aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>("a"), 1,
                                  reinterpret_cast<const uint8_t*>(";"), 0),
              aErrParam);
}

TEST_F(AStream, WriteRecordSendsNoSeparatorAfterFailedData)
{
    ASSERT_NE(open(), nullptr);
    script.writeResult = aErrIO;
    EXPECT_EQ(aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>("abc"), 3,
                                  reinterpret_cast<const uint8_t*>(";"), 1),
              aErrIO);
    EXPECT_EQ(script.puts, 0);
}

TEST_F(AStream, FlushCopiesTheSourceToTheEnd)
{
    Script target;
    aStream* destination = aStream_Create(nullptr, scriptPut, scriptWrite, nullptr, &target);
    ASSERT_NE(destination, nullptr);
    ASSERT_NE(open(), nullptr);
    script.add(bytes("hello"));
    ASSERT_EQ(aStreamBufferChar(stream, '!'), aErrNone);
    EXPECT_EQ(aStream_Flush(stream, destination), aErrNone);
    EXPECT_EQ(target.sent, "hello") << "the source's pushed-back bytes are not copied";
    EXPECT_EQ(target.puts, 5);

    script.add(bytes("ab"));
    script.add({notReady});
    target.sent.clear();
    EXPECT_EQ(aStream_Flush(stream, destination), aErrNotReady);
    EXPECT_EQ(target.sent, "ab");

    script.add(bytes("abc"));
    target = Script();
    target.putFailsAt = 1;
    target.putResult = aErrWrite;
    EXPECT_EQ(aStream_Flush(stream, destination), aErrWrite);
    EXPECT_EQ(target.sent, "a");

    EXPECT_EQ(aStream_Flush(destination, stream), aErrMode) << "the destination stream has no get";
    EXPECT_EQ(aStream_Flush(stream, nullptr), aErrParam);
    EXPECT_EQ(aStream_Flush(nullptr, destination), aErrParam);
    aStream_Destroy(&destination);
}

TEST_F(AStream, FlushNeedsAPutAtTheDestination)
{
    Script target;
    aStream* destination = aStream_Create(nullptr, nullptr, scriptWrite, nullptr, &target);
    ASSERT_NE(open(), nullptr);
    script.add(bytes("a"));
    EXPECT_EQ(aStream_Flush(stream, destination), aErrMode);
    EXPECT_EQ(script.gets, 0);
    aStream_Destroy(&destination);
}

TEST_F(AStream, WaitReturnsAtOnceWhenPushedBackBytesWait)
{
    ASSERT_NE(open(), nullptr);
    ASSERT_EQ(aStream_SetWaitProc(stream, scriptWait), aErrNone);
    ASSERT_EQ(aStreamBufferChar(stream, 'x'), aErrNone);
    EXPECT_EQ(aStream_Wait(stream, 1000), aErrNone);
    EXPECT_EQ(script.waits, 0);
    EXPECT_EQ(script.gets, 0);
}

TEST_F(AStream, WaitUsesTheTransportsWaitOperation)
{
    ASSERT_NE(open(), nullptr);
    ASSERT_EQ(aStream_SetWaitProc(stream, scriptWait), aErrNone);
    for (const aErr result : {aErrNone, aErrNotReady, aErrIO}) {
        SCOPED_TRACE(result);
        script.waitResult = result;
        EXPECT_EQ(aStream_Wait(stream, 250), result);
        EXPECT_EQ(script.waitTimeout, 250U);
    }
    EXPECT_EQ(script.waits, 3);
    EXPECT_EQ(script.gets, 0);

    ASSERT_EQ(aStream_SetWaitProc(stream, nullptr), aErrNone);
    script.add(bytes("z"));
    EXPECT_EQ(aStream_Wait(stream, 250), aErrNone);
    EXPECT_EQ(script.waits, 3) << "a removed wait operation is not called";
}

TEST_F(AStream, WaitWithoutAWaitOperationAsksGetAndKeepsTheByte)
{
    ASSERT_NE(open(), nullptr);
    script.add({notReady, notReady, notReady});
    script.add(bytes("q"));
    EXPECT_EQ(aStream_Wait(stream, 1000), aErrNone);
    EXPECT_EQ(script.gets, 4);
    EXPECT_EQ(read(1, aErrNone), "q");
    EXPECT_EQ(script.gets, 4);
}

TEST_F(AStream, WaitWithoutAWaitOperationIsBounded)
{
    ASSERT_NE(open(), nullptr);
    script.add(std::vector<Step>(100000, notReady));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aStream_Wait(stream, 50), aErrNotReady);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(49)) << "the clock counts whole milliseconds";
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    EXPECT_LE(script.gets, 52) << "get is asked about once a millisecond, not in a spin";
    EXPECT_EQ(stream->pushbackCount, 0U);

    script.steps.clear();
    script.add({notReady});
    EXPECT_EQ(aStream_Wait(stream, 0), aErrNotReady) << "a zero timeout asks once";
}

TEST_F(AStream, WaitPassesEndOfDataAndFailuresOn)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(aStream_Wait(stream, 1000), aErrEOF);
    script.add({notReady, {aErrIO, 0}});
    EXPECT_EQ(aStream_Wait(stream, 1000), aErrIO);
}

TEST_F(AStream, WaitRefusesStreamsThatCannotBeRead)
{
    EXPECT_EQ(aStream_Wait(nullptr, 10), aErrParam);
    EXPECT_EQ(aStream_SetWaitProc(nullptr, scriptWait), aErrParam);
    ASSERT_NE(open(false, true, true), nullptr);
    EXPECT_EQ(aStream_Wait(stream, 10), aErrMode);
}

class AFileStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/aStream_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }

    void TearDown() override { std::filesystem::remove_all(directory); }

    std::string path(const std::string& name) const { return directory + "/" + name; }

    static std::string contents(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string directory;
};

TEST_F(AFileStream, WritesAFileThatReadsBack)
{
    const std::string file = path("out.bin");
    std::ofstream(file) << "old content that must go";
    aStream* out = nullptr;
    ASSERT_EQ(aStream_CreateFileOutput(file.c_str(), &out), aErrNone);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->getProc, nullptr);
    EXPECT_EQ(aStream_Write(out, reinterpret_cast<const uint8_t*>("a"), 1), aErrNone);
    EXPECT_EQ(aStream_WriteCStringRecord(out, "bc", "\n"), aErrNone);
    uint8_t byte = 0;
    EXPECT_EQ(aStream_Read(out, &byte, 1), aErrMode);
    EXPECT_EQ(aStream_Destroy(&out), aErrNone);
    EXPECT_EQ(contents(file), std::string("abc\n\0", 5));

    aStream* in = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(file.c_str(), &in), aErrNone);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->putProc, nullptr);
    EXPECT_EQ(in->writeProc, nullptr);
    char text[8];
    EXPECT_EQ(aStream_ReadCStringRecord(in, text, sizeof(text), "\n"), aErrNone);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(aStream_Read(in, &byte, 1), aErrNone);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(aStream_Read(in, &byte, 1), aErrEOF);
    EXPECT_EQ(aStream_Write(in, &byte, 1), aErrMode);
    EXPECT_EQ(aStream_Destroy(&in), aErrNone);
}

TEST_F(AFileStream, FlushCopiesOneFileIntoAnother)
{
    const std::string source = path("source");
    const std::string target = path("target");
    std::string data;
    for (int i = 0; i < 3000; ++i) {
        data.push_back(static_cast<char>(i * 7));
    }
    std::ofstream(source, std::ios::binary) << data;
    aStream* in = nullptr;
    aStream* out = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(source.c_str(), &in), aErrNone);
    ASSERT_EQ(aStream_CreateFileOutput(target.c_str(), &out), aErrNone);
    EXPECT_EQ(aStream_Flush(in, out), aErrNone);
    EXPECT_EQ(aStream_Destroy(&in), aErrNone);
    EXPECT_EQ(aStream_Destroy(&out), aErrNone);
    EXPECT_EQ(contents(target), data);
}

TEST_F(AFileStream, RefusesWhatCannotBeOpened)
{
    aStream* kept = reinterpret_cast<aStream*>(0x1);
    const std::string missing = path("missing");
    const std::string inMissingDirectory = path("none/file");
    const struct {
        const char* path;
        bool output;
    } cases[] = {
        {nullptr, false},
        {nullptr, true},
        {missing.c_str(), false},
        {inMissingDirectory.c_str(), true},
        {directory.c_str(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.path ? c.path : "null") << " output " << c.output);
        aStream* stream = kept;
        const aErr result = c.output ? aStream_CreateFileOutput(c.path, &stream)
                                     : aStream_CreateFileInput(c.path, &stream);
        EXPECT_EQ(result, aErrResource);
        EXPECT_EQ(stream, kept) << "nothing is stored on failure";
    }
    EXPECT_EQ(aStream_CreateFileInput(missing.c_str(), nullptr), aErrResource);
    EXPECT_EQ(aStream_CreateFileOutput(path("made").c_str(), nullptr), aErrResource);
}

TEST_F(AFileStream, AFileStreamWithoutItsFileReportsInputOutputErrors)
{
    // A transport whose record is gone: the operations say so instead of touching it.
    const std::string file = path("f");
    std::ofstream(file) << "x";
    aStream* in = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(file.c_str(), &in), aErrNone);
    aStream* orphan = aStream_Create(in->getProc, nullptr, nullptr, in->deleteProc, nullptr);
    ASSERT_NE(orphan, nullptr);
    uint8_t byte = 0;
    EXPECT_EQ(aStream_Read(orphan, &byte, 1), aErrIO);
    EXPECT_EQ(aStream_Destroy(&orphan), aErrIO);
    EXPECT_EQ(aStream_Destroy(&in), aErrNone);
}

} // namespace
