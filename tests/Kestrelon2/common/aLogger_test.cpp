// Tests of the logger: its thread calls the procedure until disabled, appends to its file, and survives calls from inside itself.
#include "Kestrelon2/common/aLogger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace {

// What a procedure does on its first call, from inside the logger's thread.
enum class Inside { Nothing, Disable, Destroy };

// The state one logger's procedure shares with its test; found through the logger reference.
struct Context {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    std::set<std::thread::id> threads;
    Inside inside = Inside::Nothing;
    aLogger* logger = nullptr;
    aErr insideResult = aErrUnknown;
    bool insidePointerKept = false;

    // Waits, at most a few seconds, until the procedure has run count times in all.
    bool waitForCalls(int count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return calls >= count; });
    }

    int callCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

Context* contexts[4];

void logLine(aFile* file, int32_t logRef)
{
    Context* context = contexts[logRef];
    bool first = false;
    int call = 0;
    {
        std::lock_guard<std::mutex> lock(context->mutex);
        first = context->calls == 0;
        call = context->calls + 1;
        context->threads.insert(std::this_thread::get_id());
    }
    if (first && context->inside == Inside::Disable) {
        context->insideResult = aLogger_Disable(context->logger);
    }
    if (first && context->inside == Inside::Destroy) {
        aLogger* self = context->logger;
        context->insideResult = aLogger_Destroy(&self);
        context->insidePointerKept = self == context->logger;
    }
    aFile_Printf(file, "line %d\n", call);
    {
        std::lock_guard<std::mutex> lock(context->mutex);
        context->calls = call;
    }
    context->changed.notify_all();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class ALogger : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/aLogger_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        file = directory + "/packets.log";
        contexts[0] = &context;
    }

    void TearDown() override
    {
        aLogger_Destroy(&context.logger);
        contexts[0] = nullptr;
        std::filesystem::remove_all(directory);
    }

    aLogger* create()
    {
        context.logger = aLogger_Create(0, logLine, file.c_str());
        return context.logger;
    }

    std::string contents() const
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The lines line 1 to line count.
    static std::string lines(int count)
    {
        std::string text;
        for (int i = 1; i <= count; ++i) {
            text += "line " + std::to_string(i) + "\n";
        }
        return text;
    }

    // The calls stay at what they are for a while.
    void expectStopped()
    {
        const int calls = context.callCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(context.callCount(), calls) << "the procedure still runs";
    }

    std::string directory;
    std::string file;
    Context context;
};

TEST_F(ALogger, CallsItsProcedureUntilDisabledAndAppendsToTheFile)
{
    std::ofstream(file, std::ios::binary) << "earlier\n";
    ASSERT_NE(create(), nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(context.callCount(), 0) << "a new logger is idle";

    ASSERT_EQ(aLogger_Enable(context.logger), aErrNone);
    ASSERT_TRUE(context.waitForCalls(3));
    EXPECT_EQ(aLogger_Disable(context.logger), aErrNone);
    expectStopped();
    // Unbuffered: every line is in the file already, behind what was there.
    EXPECT_EQ(contents(), "earlier\n" + lines(context.callCount()));

    EXPECT_EQ(aLogger_Destroy(&context.logger), aErrNone);
    EXPECT_EQ(context.logger, nullptr);
}

TEST_F(ALogger, RunsOneThreadAtATimeAndCanBeRestarted)
{
    ASSERT_NE(create(), nullptr);
    EXPECT_EQ(aLogger_Disable(context.logger), aErrNone) << "not running";
    ASSERT_EQ(aLogger_Enable(context.logger), aErrNone);
    ASSERT_EQ(aLogger_Enable(context.logger), aErrNone);
    ASSERT_TRUE(context.waitForCalls(5));
    EXPECT_EQ(aLogger_Disable(context.logger), aErrNone);
    EXPECT_EQ(aLogger_Disable(context.logger), aErrNone);
    {
        std::lock_guard<std::mutex> lock(context.mutex);
        EXPECT_EQ(context.threads.size(), 1U);
    }

    const int before = context.callCount();
    ASSERT_EQ(aLogger_Enable(context.logger), aErrNone);
    ASSERT_TRUE(context.waitForCalls(before + 3));
    EXPECT_EQ(aLogger_Destroy(&context.logger), aErrNone) << "destroy stops a running logger";
    EXPECT_EQ(context.logger, nullptr);
    expectStopped();
    EXPECT_EQ(contents(), lines(context.callCount()));
}

TEST_F(ALogger, DisableFromItsOwnProcedureLeavesItRunning)
{
    context.inside = Inside::Disable;
    ASSERT_NE(create(), nullptr);
    ASSERT_EQ(aLogger_Enable(context.logger), aErrNone);
    ASSERT_TRUE(context.waitForCalls(5)) << "the logger stopped itself";
    EXPECT_EQ(context.insideResult, aErrNone);
    EXPECT_EQ(aLogger_Disable(context.logger), aErrNone);
    expectStopped();
}

TEST_F(ALogger, DestroyFromItsOwnProcedureIsRefused)
{
    context.inside = Inside::Destroy;
    ASSERT_NE(create(), nullptr);
    ASSERT_EQ(aLogger_Enable(context.logger), aErrNone);
    ASSERT_TRUE(context.waitForCalls(5)) << "the logger was taken from under its own thread";
    EXPECT_EQ(context.insideResult, aErrBusy);
    EXPECT_TRUE(context.insidePointerKept);
    EXPECT_EQ(aLogger_Destroy(&context.logger), aErrNone);
    expectStopped();
}

TEST_F(ALogger, RefusesWhatItCannotUse)
{
    EXPECT_EQ(aLogger_Create(0, nullptr, file.c_str()), nullptr);
    EXPECT_EQ(aLogger_Create(0, logLine, nullptr), nullptr);
    EXPECT_EQ(aLogger_Create(0, logLine, (directory + "/missing/packets.log").c_str()), nullptr);
    EXPECT_EQ(aLogger_Create(0, logLine, directory.c_str()), nullptr);
    EXPECT_FALSE(std::filesystem::exists(file)) << "a refused logger leaves no file";

    EXPECT_EQ(aLogger_Enable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_Disable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_Destroy(nullptr), aErrNone);
    aLogger* none = nullptr;
    EXPECT_EQ(aLogger_Destroy(&none), aErrNone);
}

} // namespace
