// unix_time: the library's clocks and sleeping.
#ifndef KESTRELON2_UNIX_UNIX_TIME_H
#define KESTRELON2_UNIX_UNIX_TIME_H

#include <cstdint>

#include "Kestrelon2/common/aError.h"

// Wall-clock milliseconds (seconds * 1000 + milliseconds of the time of day), wrapping in 32
// bits; 0 if the clock cannot be read. It jumps with the clock: take differences only, and
// use aTime_GetMonotonicMS for deadlines.
uint32_t aTime_GetMSTicks();

// Milliseconds of a clock that never goes back, from an arbitrary start; for bounded waits.
uint64_t aTime_GetMonotonicMS();

// Sleeps at least ms milliseconds; always aErrNone.
aErr aTime_MSSleep(uint32_t ms);

// Sleeps at least ms milliseconds, signals notwithstanding; returns at once for 0.
void osMSSleep(uint32_t ms);

#endif
