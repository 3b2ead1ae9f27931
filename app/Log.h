// Log: the package-masked diagnostics of the application layer.
#ifndef APP_LOG_H
#define APP_LOG_H

#include <cstdint>
#include <cstdio>

// Packages, one bit each, activated with "-X". Two bits share the name DEBUG_Network in the
// extended help; the second is the device-link package.
constexpr unsigned int DEBUG_Updater = 0x00000001;
constexpr unsigned int DEBUG_History = 0x00000002;
constexpr unsigned int DEBUG_Attributes = 0x00000004;
constexpr unsigned int DEBUG_BirdFile = 0x00000008;
constexpr unsigned int DEBUG_Network = 0x00000010;
constexpr unsigned int DEBUG_ServerComm = 0x00000020;
constexpr unsigned int DEBUG_Network_Link = 0x00000100;
constexpr unsigned int DEBUG_Network_SR = 0x00000200;
constexpr unsigned int DEBUG_Network_FIRM = 0x00000400;
constexpr unsigned int DEBUG_NXPSerial = 0x00001000;
constexpr unsigned int DEBUG_NXPSerial_E = 0x00002000;
constexpr unsigned int DEBUG_NXPSerial_SR = 0x00004000;
constexpr unsigned int DEBUG_APP = 0x00010000;
constexpr unsigned int DEBUG_iMXSerial = 0x10000000;

// One logger for the whole program, set up once at start-up; nothing is active by default,
// so a normal run writes no diagnostics. It has no lock: lines come from one thread at a time.
class Log {
public:
    static uint32_t package_bitmask;
    // While null, nothing is written.
    static FILE* fh;
    // Prefixes lines with the UTC time on standard output.
    static bool timestamped;
    static constexpr const char* TIMESTAMP_FORMAT = "%Y:%m:%d:%H:%M:%S";
    static constexpr const char* SEPARATOR = " | ";

    // Writes the formatted text (at most 2047 characters, no line feed added) to fh in one
    // write when mask is 0 or shares a bit with the active packages. Inactive lines cost one
    // mask test: their arguments are never formatted.
    static void log(unsigned int mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
    static void SetOutput(FILE* stream);
    static void ActivatePackage(unsigned int mask);
    static void DeactivatePackage(unsigned int mask);
};

#endif
