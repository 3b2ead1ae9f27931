// Log: package filtering and writing of diagnostic lines.
#include "app/Log.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

uint32_t Log::package_bitmask = 0;
FILE* Log::fh = nullptr;
bool Log::timestamped = false;

static void _write_timestamp()
{
    char stamp[128];
    const time_t now = time(nullptr);
    struct tm utc;
    if (gmtime_r(&now, &utc) == nullptr) {
        return;
    }
    if (strftime(stamp, sizeof stamp, Log::TIMESTAMP_FORMAT, &utc) == 0) {
        return;
    }
    fputs(stamp, stdout);
    fputs(Log::SEPARATOR, stdout);
}

void Log::log(unsigned int mask, const char* format, ...)
{
    if (mask != 0 && (mask & package_bitmask) == 0) {
        return;
    }
    // Without a stream the line goes nowhere, its time stamp included.
    if (fh == nullptr) {
        return;
    }
    // Only formats longer than ten characters carry a stamp, which keeps it off short
    // fragments such as a lone line feed.
    if (timestamped && strlen(format) > 10) {
        _write_timestamp();
    }
    char text[2048];
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length <= 0) {
        return;
    }
    const size_t size = static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1;
    // One fwrite, so the line reaches an unbuffered stream in a single write.
    fwrite(text, 1, size, fh);
}

void Log::SetOutput(FILE* stream)
{
    fh = stream;
}

void Log::ActivatePackage(unsigned int mask)
{
    package_bitmask |= mask;
}

void Log::DeactivatePackage(unsigned int mask)
{
    package_bitmask &= ~mask;
}
