// CLI_Display: messages, progress bar and spinner on the console.
#include "app/CLI_Display.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// Asked at every call: standard output may be redirected while the program runs.
static bool _stdout_is_terminal()
{
    return isatty(fileno(stdout)) == 1;
}

// Blanks a line wide enough for the widest bar or spinner and returns to its start.
static void _clear_line()
{
    printf("\r%*s\r", 88, " ");
}

CLI_Display::CLI_Display()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::display_progress(bool show)
{
    if (_stdout_is_terminal() && !show) {
        _clear_line();
    }
}

void CLI_Display::update_progress(double fraction, const char* label)
{
    if (!_stdout_is_terminal()) {
        return;
    }
    static const char bar[] = "=====================================================================";
    const int full_width = static_cast<int>(sizeof bar) - 1;

    // Callers divide done by total, so an empty total arrives as NaN or infinity, whose
    // conversion to int is undefined (in practice a pad of some two thousand million blanks),
    // and a negative fraction would turn the precision negative and print the whole bar.
    // Fractions outside 0 to 1 are drawn as the nearest end of the bar.
    if (!(fraction >= 0.0)) {
        fraction = 0.0;
    } else if (fraction > 1.0) {
        fraction = 1.0;
    }
    int width = full_width;
    if (label != nullptr) {
        width = full_width - static_cast<int>(strlen(label)) - 4;
        // A label too long for the line leaves just the arrow.
        if (width < 0) {
            width = 0;
        }
    }
    const int filled = static_cast<int>(width * fraction);
    const int percent = static_cast<int>(fraction * 100);

    // At a full bar the pad width is -1, which printf takes as a left-aligned field of one:
    // a single blank after the arrow.
    if (label == nullptr) {
        printf("\r[%.*s>%*s] (%3d%% ) ", filled, bar, width - filled - 1, "", percent);
    } else {
        printf("\r (%s) [%.*s>%*s] (%3d%% ) ", label, filled, bar, width - filled - 1, "", percent);
    }
}

void CLI_Display::update_spinner(bool on, const char* label)
{
    static const char* const frames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};
    // One position for the whole process, so a new spinner carries on where the last one stopped.
    static uint8_t count = 0;

    if (!_stdout_is_terminal()) {
        return;
    }
    if (!on) {
        _clear_line();
        return;
    }
    if (label != nullptr) {
        printf("\r (%s) %s      \r", label, frames[count]);
    } else {
        printf("\r %s      \r", frames[count]);
    }
    count = static_cast<uint8_t>((count + 1) % 8);
}

void CLI_Display::info_message(const char* text)
{
    printf("%s\n", text);
}

void CLI_Display::error_message(const char* text)
{
    fprintf(stderr, "%s\n", text);
}
