// Tests of the library's clocks and sleeping: sleeps last what was asked, signals included.
#include "Kestrelon2/unix/unix_time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <pthread.h>
#include <sys/time.h>

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Generous enough for loaded machines and sanitizers, tight enough to catch a unit slip.
constexpr long long kSlackMs = 400;

TEST(ATime, SleepsLastAtLeastWhatWasAsked)
{
    const uint32_t cases[] = {0, 1, 25, 1200};
    for (const uint32_t ms : cases) {
        SCOPED_TRACE(testing::Message() << ms << " ms");
        Clock::time_point start = Clock::now();
        osMSSleep(ms);
        long long slept = millisecondsSince(start);
        EXPECT_GE(slept, ms);
        EXPECT_LT(slept, ms + kSlackMs);

        start = Clock::now();
        EXPECT_EQ(aTime_MSSleep(ms), aErrNone);
        slept = millisecondsSince(start);
        EXPECT_GE(slept, ms);
        EXPECT_LT(slept, ms + kSlackMs);
    }
}

TEST(ATime, ZeroReturnsAtOnce)
{
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        osMSSleep(0);
    }
    EXPECT_LT(millisecondsSince(start), 20);
}

std::atomic<int> gSignals{0};

void countSignal(int)
{
    gSignals.fetch_add(1);
}

TEST(ATime, SignalsDoNotShortenASleep)
{
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = countSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: the interrupted sleep returns EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    gSignals = 0;

    const pthread_t sleeper = pthread_self();
    std::thread interrupter([sleeper] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            pthread_kill(sleeper, SIGUSR1);
        }
    });
    const Clock::time_point start = Clock::now();
    osMSSleep(400);
    const long long slept = millisecondsSince(start);
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(gSignals, 3);
    EXPECT_GE(slept, 400);
    EXPECT_LT(slept, 400 + kSlackMs);
}

uint32_t wallClockTicks()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<uint32_t>(now.tv_sec) * 1000u + static_cast<uint32_t>(now.tv_usec / 1000);
}

TEST(ATime, TicksAreWallClockMillisecondsWrappingIn32Bits)
{
    const uint32_t before = wallClockTicks();
    const uint32_t ticks = aTime_GetMSTicks();
    const uint32_t after = wallClockTicks();
    // Differences in unsigned 32 bits stay right across the wrap.
    EXPECT_LE(static_cast<uint32_t>(ticks - before), static_cast<uint32_t>(after - before));

    osMSSleep(50);
    const uint32_t elapsed = aTime_GetMSTicks() - ticks;
    EXPECT_GE(elapsed, 49u); // the wall clock counts whole milliseconds of two readings
    EXPECT_LT(elapsed, 50u + kSlackMs);
}

TEST(ATime, MonotonicMillisecondsFollowTheSteadyClock)
{
    const auto steady = [] {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
    };
    const uint64_t before = steady();
    const uint64_t first = aTime_GetMonotonicMS();
    const uint64_t after = steady();
    EXPECT_GE(first + 1, before);
    EXPECT_LE(first, after + 1);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint64_t second = aTime_GetMonotonicMS();
    EXPECT_GE(second - first, 99u);
    EXPECT_LT(second - first, 100u + kSlackMs);
}

} // namespace
