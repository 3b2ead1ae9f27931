// Usage: the help text of the Updater.
#ifndef APP_USAGE_H
#define APP_USAGE_H

// Writes the usage text to standard error: always its head; with `full` the parameters and
// commands and the samples, and between them, when `extended` too, the extended section.
void _display_usage(bool extended, bool full);

#endif
