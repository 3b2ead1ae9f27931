// aDebug: the device library's own diagnostic switch and category mask, printing to standard output.
#ifndef KESTRELON2_COMMON_ADEBUG_H
#define KESTRELON2_COMMON_ADEBUG_H

#include <atomic>
#include <cstdint>

// Both off by default; the tool never sets them. Library users switch printing on here.
extern std::atomic<bool> aKestrelonDebuggingEnable;
extern std::atomic<uint32_t> aKestrelonDebuggingLevel;

// Categories of the mask.
inline constexpr uint32_t aDEBUG_LINK = 0x1;       // link lifecycle, pipes, sync, stream errors
inline constexpr uint32_t aDEBUG_TRAFFIC = 0x2;    // packets and heartbeats
inline constexpr uint32_t aDEBUG_SERVER = 0x4;     // link-sharing server
inline constexpr uint32_t aDEBUG_CLIENT = 0x20;    // link-server client streams
inline constexpr uint32_t aDEBUG_USB = 0x400;      // USB transfers

// Prints to standard output and flushes, only when debugging is enabled and every bit of
// category is in the mask.
void aDebug_Printf(uint32_t category, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
