// UpdaterDisplayInterface: message formatting and muting shared by every display.
#include "app/UpdaterDisplayInterface.h"

#include <cstdarg>
#include <cstdio>

void UpdaterDisplayInterface::message(Level level, const char* format, ...)
{
    if (muted) {
        return;
    }
    char text[2048];
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // On a formatting failure the buffer's contents are unspecified; show an empty line
    // rather than whatever was left in it.
    if (length < 0) {
        text[0] = '\0';
    }
    if (level == LEVEL_ERROR) {
        error_message(text);
    } else {
        info_message(text);
    }
}

void UpdaterDisplayInterface::mute_messages(bool mute)
{
    muted = mute;
}
