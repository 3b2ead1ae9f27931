// Tests of CLI_Display: the exact bytes of bar, spinner and line clearing on a pseudo-terminal,
// and silence apart from the messages when the output is a file.
#include "app/CLI_Display.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// Written to the terminal after the calls; reading stops once it arrives, so a capture ends
// as soon as the output is in, without guessing how long the terminal takes to pass it on.
static const std::string _end_marker = "\x1b[capture-end]";

static const std::string _cleared_line = "\r" + std::string(88, ' ') + "\r";

// A raw pseudo-terminal, so that no output processing changes the bytes. Its writing side does
// not block: output that overflows the terminal's buffer fails the test instead of hanging it.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            return;
        }
        termios mode{};
        tcgetattr(slave, &mode);
        cfmakeraw(&mode);
        tcsetattr(slave, TCSANOW, &mode);
        fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    }
    ~PseudoTerminal()
    {
        if (master >= 0) {
            close(master);
        }
        if (slave >= 0) {
            close(slave);
        }
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Runs the calls with standard output on the terminal and returns what they wrote.
    // Nothing may report a test failure while standard output is redirected, so the calls
    // must not hold assertions.
    std::string capture(const std::function<void()>& calls)
    {
        fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        dup2(slave, STDOUT_FILENO);
        calls();
        const bool marked = write(slave, _end_marker.data(), _end_marker.size()) ==
                            static_cast<ssize_t>(_end_marker.size());
        dup2(saved, STDOUT_FILENO);
        close(saved);
        // A write refused by a full terminal leaves the error flag set on standard output.
        clearerr(stdout);
        if (!marked) {
            ADD_FAILURE() << "could not write the end marker";
            return {};
        }
        return read_until_marker();
    }

    int master = -1;
    int slave = -1;

private:
    std::string read_until_marker()
    {
        std::string received;
        while (received.size() < _end_marker.size() ||
               received.compare(received.size() - _end_marker.size(), _end_marker.size(), _end_marker) != 0) {
            pollfd ready{master, POLLIN, 0};
            if (poll(&ready, 1, 5000) != 1) {
                ADD_FAILURE() << "terminal output did not arrive; got so far: " << received;
                return received;
            }
            char chunk[512];
            const ssize_t n = read(master, chunk, sizeof chunk);
            if (n <= 0) {
                ADD_FAILURE() << "reading the terminal failed";
                return received;
            }
            received.append(chunk, static_cast<size_t>(n));
        }
        received.resize(received.size() - _end_marker.size());
        return received;
    }
};

struct Captured {
    std::string out;
    std::string err;
};

static std::string _contents(int fd)
{
    std::string text;
    char chunk[512];
    off_t offset = 0;
    ssize_t n;
    while ((n = pread(fd, chunk, sizeof chunk, offset)) > 0) {
        text.append(chunk, static_cast<size_t>(n));
        offset += n;
    }
    return text;
}

// Runs the calls with standard output and standard error on two fresh regular files and
// returns what landed in each. Nothing is flushed after the calls: what is still held in a
// stdio buffer does not count as written.
static Captured _capture_to_files(const std::function<void()>& calls)
{
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    if (out == nullptr || err == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    fflush(stdout);
    fflush(stderr);
    const int saved_out = dup(STDOUT_FILENO);
    const int saved_err = dup(STDERR_FILENO);
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    calls();
    dup2(saved_out, STDOUT_FILENO);
    dup2(saved_err, STDERR_FILENO);
    close(saved_out);
    close(saved_err);
    Captured captured{_contents(fileno(out)), _contents(fileno(err))};
    fclose(out);
    fclose(err);
    return captured;
}

static std::string _bar(int filled, int blanks, const std::string& percent)
{
    return std::string(static_cast<size_t>(filled), '=') + ">" + std::string(static_cast<size_t>(blanks), ' ') +
           "] (" + percent + "% ) ";
}

struct ProgressCase {
    const char* name;
    double fraction;
    std::optional<std::string> label;
    std::string expected;
};

static const std::string _wide_label(70, 'L');

static const std::vector<ProgressCase> _progress_cases = {
    {"half", 0.5, std::nullopt, "\r[" + _bar(34, 34, " 50")},
    {"full", 1.0, std::nullopt, "\r[" + _bar(69, 1, "100")},
    {"empty", 0.0, std::nullopt, "\r[" + _bar(0, 68, "  0")},
    {"quarter", 0.25, std::nullopt, "\r[" + _bar(17, 51, " 25")},
    // A 9-character label takes 13 columns from the 69 of the bar.
    {"labelled half", 0.5, "Verifying", "\r (Verifying) [" + _bar(28, 27, " 50")},
    {"labelled full", 1.0, "Verifying", "\r (Verifying) [" + _bar(56, 1, "100")},
    // An empty total gives 0/0 or x/0; such fractions are drawn as the nearest end of the bar.
    {"not a number", std::numeric_limits<double>::quiet_NaN(), std::nullopt, "\r[" + _bar(0, 68, "  0")},
    {"infinite", std::numeric_limits<double>::infinity(), std::nullopt, "\r[" + _bar(69, 1, "100")},
    {"beyond full", 1.5, std::nullopt, "\r[" + _bar(69, 1, "100")},
    {"negative", -0.5, std::nullopt, "\r[" + _bar(0, 68, "  0")},
    // A label with no room for the bar leaves only the arrow.
    {"label wider than the bar", 0.5, _wide_label, "\r (" + _wide_label + ") [" + _bar(0, 1, " 50")},
};

static void PrintTo(const ProgressCase& c, std::ostream* os)
{
    *os << c.name;
}

class CLIDisplayProgress : public testing::TestWithParam<ProgressCase> {};

TEST_P(CLIDisplayProgress, DrawsExactBar)
{
    const ProgressCase& c = GetParam();
    CLI_Display display;
    PseudoTerminal terminal;
    ASSERT_GE(terminal.master, 0);
    const char* label = c.label ? c.label->c_str() : nullptr;
    EXPECT_EQ(terminal.capture([&] { display.update_progress(c.fraction, label); }), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Fractions, CLIDisplayProgress, testing::ValuesIn(_progress_cases),
                         [](const testing::TestParamInfo<ProgressCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p != '\0'; ++p) {
                                 if (std::isalnum(static_cast<unsigned char>(*p))) {
                                     name += *p;
                                 }
                             }
                             return name;
                         });

TEST(CLIDisplay, ClearsTheLineOnlyWhenAPhaseOrSpinnerEnds)
{
    CLI_Display display;
    PseudoTerminal terminal;
    ASSERT_GE(terminal.master, 0);
    const struct {
        const char* name;
        std::function<void()> call;
        std::string expected;
    } cases[] = {
        {"progress ends", [&] { display.display_progress(false); }, _cleared_line},
        {"progress starts", [&] { display.display_progress(true); }, ""},
        {"labelled spinner ends", [&] { display.update_spinner(false, "Downloading"); }, _cleared_line},
        {"spinner ends", [&] { display.update_spinner(false, nullptr); }, _cleared_line},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(terminal.capture(c.call), c.expected);
    }
}

static std::string _spinner_frame(const char* label, const std::string& frame)
{
    const std::string shown = label != nullptr ? " (" + std::string(label) + ") " : " ";
    return "\r" + shown + frame + "      \r";
}

TEST(CLIDisplay, SpinnerFramesContinueAcrossSpinners)
{
    PseudoTerminal terminal;
    ASSERT_GE(terminal.master, 0);

    // The position is shared by the whole process and other tests may have moved it, so
    // first turn to the one frame that occurs once per cycle, then to the start.
    {
        CLI_Display display;
        bool aligned = false;
        for (int turn = 0; turn < 8 && !aligned; ++turn) {
            aligned = terminal.capture([&] { display.update_spinner(true, nullptr); }) ==
                      _spinner_frame(nullptr, ".....");
        }
        ASSERT_TRUE(aligned);
        for (int turn = 0; turn < 3; ++turn) {
            terminal.capture([&] { display.update_spinner(true, nullptr); });
        }
    }

    const std::vector<std::string> frames = {".", "..", "...", "....", ".....", "....", "...", "..", "."};
    CLI_Display downloading;
    CLI_Display verifying;
    for (size_t call = 0; call < frames.size(); ++call) {
        SCOPED_TRACE("call " + std::to_string(call + 1));
        // The first four turns belong to one spinner, which is then cleared; a second display
        // with and without a label carries on from there.
        if (call < 4) {
            EXPECT_EQ(terminal.capture([&] { downloading.update_spinner(true, "Downloading"); }),
                      _spinner_frame("Downloading", frames[call]));
            if (call == 3) {
                EXPECT_EQ(terminal.capture([&] { downloading.update_spinner(false, "Downloading"); }),
                          _cleared_line);
            }
        } else {
            const char* label = call % 2 == 0 ? "Verifying Update" : nullptr;
            EXPECT_EQ(terminal.capture([&] { verifying.update_spinner(true, label); }),
                      _spinner_frame(label, frames[call]));
        }
    }
}

TEST(CLIDisplay, MutedDisplayStillDrawsSpinner)
{
    CLI_Display display;
    PseudoTerminal terminal;
    ASSERT_GE(terminal.master, 0);
    display.mute_messages(true);
    const std::string drawn = terminal.capture([&] {
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "hidden");
        display.update_spinner(true, "Downloading");
    });
    display.mute_messages(false);
    EXPECT_EQ(drawn.find("hidden"), std::string::npos);
    EXPECT_EQ(drawn.rfind("\r (Downloading) ", 0), 0u) << drawn;
}

TEST(CLIDisplay, RedirectedOutputHoldsOnlyMessages)
{
    CLI_Display display;
    const Captured captured = _capture_to_files([&] {
        display.display_progress(true);
        display.update_progress(0.0, nullptr);
        display.update_progress(0.5, nullptr);
        display.update_progress(1.0, "Verifying");
        display.display_progress(false);
        display.update_spinner(true, "Downloading");
        display.update_spinner(true, nullptr);
        display.update_spinner(false, "Downloading");
        display.info_message("Update complete");
    });
    EXPECT_EQ(captured.out, "Update complete\n");
    EXPECT_EQ(captured.err, "");
}

TEST(CLIDisplay, InformationToStandardOutputErrorsToStandardError)
{
    CLI_Display display;
    const Captured captured = _capture_to_files([&] {
        display.info_message("100% done %s");
        display.error_message("Failed: 50% %d");
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "build %d", 42);
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "device [%08X]", 0xBEEFu);
    });
    // The texts are printed as they are, never taken as formats themselves.
    EXPECT_EQ(captured.out, "100% done %s\nbuild 42\n");
    EXPECT_EQ(captured.err, "Failed: 50% %d\ndevice [0000BEEF]\n");
}

TEST(CLIDisplay, ConstructionMakesStandardStreamsUnbuffered)
{
    setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    setvbuf(stderr, nullptr, _IOFBF, BUFSIZ);
    CLI_Display display;
    // A partial line must reach the file without any flush.
    const Captured captured = _capture_to_files([] {
        fputs("partial out", stdout);
        fputs("partial err", stderr);
    });
    EXPECT_EQ(captured.out, "partial out");
    EXPECT_EQ(captured.err, "partial err");
}
