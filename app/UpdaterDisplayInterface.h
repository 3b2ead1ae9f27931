// UpdaterDisplayInterface: the abstract display through which every update operation reports.
#ifndef APP_UPDATERDISPLAYINTERFACE_H
#define APP_UPDATERDISPLAYINTERFACE_H

// The update logic never prints; it formats its messages here and leaves drawing to the
// implementation the program supplies.
class UpdaterDisplayInterface {
public:
    enum Level { LEVEL_INFO = 0, LEVEL_ERROR = 1 };

    // Starts (true) or ends (false) a progress phase.
    virtual void display_progress(bool show) = 0;
    // Draws the bar at fraction 0.0 to 1.0; label may be null.
    virtual void update_progress(double fraction, const char* label) = 0;
    // Advances (true) or clears (false) the spinner; label may be null.
    virtual void update_spinner(bool on, const char* label) = 0;
    virtual void info_message(const char* text) = 0;
    virtual void error_message(const char* text) = 0;

    // Formats with the printf rules (at most 2047 characters) and hands the text to
    // error_message for LEVEL_ERROR, to info_message otherwise; nothing while muted.
    void message(Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Silences message only; progress and spinner keep drawing.
    void mute_messages(bool mute);

protected:
    // Displays are owned by their concrete type; a protected destructor keeps anyone from
    // deleting one through this interface, which has no virtual destructor.
    ~UpdaterDisplayInterface() = default;

    bool muted = false;
};

#endif
