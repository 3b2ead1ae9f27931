// Tests of UpdaterDisplayInterface: formatting, routing by level and muting of messages, seen
// through a display that records what reaches it.
#include "app/UpdaterDisplayInterface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Every call the interface passes on to its implementation, in order.
class RecordingDisplay final : public UpdaterDisplayInterface {
public:
    void display_progress(bool show) override { calls.push_back(std::string("progress ") + (show ? "on" : "off")); }
    void update_progress(double fraction, const char*) override
    {
        calls.push_back("bar " + std::to_string(fraction));
    }
    void update_spinner(bool on, const char* label) override
    {
        calls.push_back(std::string("spinner ") + (on ? "on " : "off ") + (label != nullptr ? label : "-"));
    }
    void info_message(const char* text) override { calls.push_back("info " + std::string(text)); }
    void error_message(const char* text) override { calls.push_back("error " + std::string(text)); }

    std::vector<std::string> calls;
};

TEST(UpdaterDisplayInterface, RoutesFormattedMessagesByLevel)
{
    RecordingDisplay display;
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "%s (%s)", "Updater", "Version: 2.11.5");
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "No builds found for device [%08X]", 0x1A2Bu);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "%-6.6s|%3d%%", "Build12345", 7);
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "%s", "");
    const std::vector<std::string> expected = {
        "info Updater (Version: 2.11.5)",
        "error No builds found for device [00001A2B]",
        "info Build1|  7%",
        "error ",
    };
    EXPECT_EQ(display.calls, expected);
}

TEST(UpdaterDisplayInterface, CutsLongMessagesTo2047Characters)
{
    const struct {
        size_t length;
        size_t shown;
    } cases[] = {{2046, 2046}, {2047, 2047}, {2048, 2047}, {3000, 2047}};
    for (const auto& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length));
        std::string text;
        for (size_t i = 0; i < c.length; ++i) {
            text += static_cast<char>('a' + i % 26);
        }
        RecordingDisplay display;
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "%s", text.c_str());
        ASSERT_EQ(display.calls.size(), 1u);
        EXPECT_EQ(display.calls[0], "error " + text.substr(0, c.shown));
    }
}

TEST(UpdaterDisplayInterface, MutedMessagesVanishWhileSpinnerTurns)
{
    RecordingDisplay display;
    display.mute_messages(true);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "Downloading build %d", 3);
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Download failed");
    display.update_spinner(true, "Downloading");
    display.display_progress(true);
    display.update_progress(0.5, nullptr);
    display.display_progress(false);
    display.update_spinner(false, "Downloading");
    display.mute_messages(false);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "heard again");
    const std::vector<std::string> expected = {
        "spinner on Downloading", "progress on", "bar 0.500000", "progress off",
        "spinner off Downloading", "info heard again",
    };
    EXPECT_EQ(display.calls, expected);
}
