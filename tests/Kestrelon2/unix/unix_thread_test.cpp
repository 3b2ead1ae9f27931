// Tests of the library's threads: the argument reaches the procedure and destroying joins.
#include "Kestrelon2/unix/unix_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace {

struct Work {
    std::atomic<int> runs{0};
    std::atomic<bool> finished{false};
};

void* slowWork(void* argument)
{
    auto* work = static_cast<Work*>(argument);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    work->runs.fetch_add(1);
    work->finished = true;
    return argument;
}

void* countWork(void* argument)
{
    static_cast<Work*>(argument)->runs.fetch_add(1);
    return nullptr;
}

TEST(AThread, RunsTheProcedureWithItsArgumentAndDestroyWaitsForIt)
{
    Work work;
    aThread* thread = aThread_Create(slowWork, &work);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(aThread_Destroy(&thread), 0);
    EXPECT_EQ(thread, nullptr);
    EXPECT_TRUE(work.finished) << "destroy returned before the thread ended";
    EXPECT_EQ(work.runs, 1);
}

TEST(AThread, ManyThreadsEachRunOnce)
{
    Work work;
    std::vector<aThread*> threads;
    for (int i = 0; i < 8; ++i) {
        threads.push_back(aThread_Create(countWork, &work));
        ASSERT_NE(threads.back(), nullptr);
    }
    for (aThread*& thread : threads) {
        EXPECT_EQ(aThread_Destroy(&thread), 0);
        EXPECT_EQ(thread, nullptr);
    }
    EXPECT_EQ(work.runs, 8);
}

TEST(AThread, RefusesWhatCannotRunOrBeJoined)
{
    EXPECT_EQ(aThread_Create(nullptr, nullptr), nullptr);
    EXPECT_NE(aThread_Destroy(nullptr), 0);
    aThread* none = nullptr;
    EXPECT_NE(aThread_Destroy(&none), 0);
}

// Learns its own handle from the creator, then asks whether it is the thread running it.
struct Identity {
    std::promise<aThread*> handle;
    std::promise<aThread*> other;
    bool ownIsCurrent = false;
    bool otherIsCurrent = true;
};

void* askIdentity(void* argument)
{
    auto* identity = static_cast<Identity*>(argument);
    auto own = identity->handle.get_future();
    auto other = identity->other.get_future();
    if (own.wait_for(std::chrono::seconds(5)) == std::future_status::ready &&
        other.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
        identity->ownIsCurrent = aThread_IsCurrent(own.get());
        identity->otherIsCurrent = aThread_IsCurrent(other.get());
    }
    return nullptr;
}

TEST(AThread, IsCurrentOnlyOnTheThreadTheHandleRuns)
{
    Identity identity;
    Work work;
    aThread* asker = aThread_Create(askIdentity, &identity);
    aThread* bystander = aThread_Create(slowWork, &work);
    ASSERT_NE(asker, nullptr);
    ASSERT_NE(bystander, nullptr);
    EXPECT_FALSE(aThread_IsCurrent(asker)) << "asked on the creating thread";
    identity.handle.set_value(asker);
    identity.other.set_value(bystander);
    EXPECT_EQ(aThread_Destroy(&asker), 0);
    EXPECT_EQ(aThread_Destroy(&bystander), 0);
    EXPECT_TRUE(identity.ownIsCurrent);
    EXPECT_FALSE(identity.otherIsCurrent);
    EXPECT_FALSE(aThread_IsCurrent(nullptr));
}

TEST(AThread, YieldReturnsPromptly)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        aThread_Yield();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

} // namespace
