// aDebug: the diagnostic switch of the device library.
#include "Kestrelon2/common/aDebug.h"

#include <cstdarg>
#include <cstdio>

std::atomic<bool> aKestrelonDebuggingEnable{false};
std::atomic<uint32_t> aKestrelonDebuggingLevel{0};

void aDebug_Printf(uint32_t category, const char* format, ...)
{
    if (!aKestrelonDebuggingEnable.load(std::memory_order_relaxed) ||
        (aKestrelonDebuggingLevel.load(std::memory_order_relaxed) & category) != category) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}
