// RecordingDisplay: a display that keeps the messages it is given, for tests of what code reports.
#ifndef TESTS_SUPPORT_RECORDINGDISPLAY_H
#define TESTS_SUPPORT_RECORDINGDISPLAY_H

#include <string>
#include <vector>

#include "app/UpdaterDisplayInterface.h"

// Information lines are kept as they are, error lines with the prefix "E:"; progress and
// spinner calls are ignored.
class RecordingDisplay final : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char* text) override { lines.push_back(text); }
    void error_message(const char* text) override { lines.push_back(std::string("E:") + text); }

    std::vector<std::string> lines;
};

#endif
