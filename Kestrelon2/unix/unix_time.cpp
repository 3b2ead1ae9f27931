// unix_time: wall-clock and monotonic milliseconds and sleeping over POSIX clocks.
#include "Kestrelon2/unix/unix_time.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <sys/time.h>

// Sleeps whole slices of below a second: the microsecond field of a sleep request stays valid.
static constexpr uint64_t sMaxSliceMicroseconds = 999999;

// Sleeps the full time even if signals interrupt it, going on with what remains each time.
static void sSleepMicroseconds(uint64_t microseconds)
{
    timespec request = {0, static_cast<long>(microseconds * 1000)};
    timespec remaining = {0, 0};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        request = remaining;
    }
}

uint32_t aTime_GetMSTicks()
{
    timeval now;
    if (gettimeofday(&now, nullptr) != 0) {
        return 0;
    }
    return static_cast<uint32_t>(now.tv_sec) * 1000u + static_cast<uint32_t>(now.tv_usec / 1000);
}

uint64_t aTime_GetMonotonicMS()
{
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec / 1000000);
}

aErr aTime_MSSleep(uint32_t ms)
{
    osMSSleep(ms);
    return aErrNone;
}

void osMSSleep(uint32_t ms)
{
    uint64_t remaining = static_cast<uint64_t>(ms) * 1000u;
    while (remaining > 0) {
        const uint64_t slice = std::min(remaining, sMaxSliceMicroseconds);
        sSleepMicroseconds(slice);
        remaining -= slice;
    }
}
