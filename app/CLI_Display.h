// CLI_Display: the console display of the command-line program.
#ifndef APP_CLI_DISPLAY_H
#define APP_CLI_DISPLAY_H

#include "app/UpdaterDisplayInterface.h"

// Information goes to standard output, errors to standard error; the bar and the spinner are
// drawn in place on one line, and only when standard output is a terminal, so that redirected
// output holds the messages alone. Final because the interface has no virtual destructor.
class CLI_Display final : public UpdaterDisplayInterface {
public:
    // Makes standard output and standard error unbuffered so partial lines appear at once.
    CLI_Display();

    void display_progress(bool show) override;
    void update_progress(double fraction, const char* label) override;
    void update_spinner(bool on, const char* label) override;
    void info_message(const char* text) override;
    void error_message(const char* text) override;
};

#endif
