// What a front-end (the Qt window, the Windows dialogs) needs of the program: the controls
// model of each dialog and a tick to call. Nothing of the protocol comes through here.
#pragma once

#include "platform/controls_model.h"

namespace vrk::app {

// A running session as the main window's view sees it.
class MainWindowDriver {
  public:
    virtual ~MainWindowDriver() = default;
    [[nodiscard]] virtual platform::ControlsModel& window() = 0;
    // The 10 ms timer's tick (a poll cycle, unless one is running already).
    virtual void tick() = 0;
    // The unit is linked and its identity and settings are shown: what a person checking the
    // cable would wait for.
    [[nodiscard]] virtual bool unit_settings_shown() const = 0;
};

// The front-end that runs the two modal dialogs. Each call returns once the model is ended.
class DialogRunner {
  public:
    virtual ~DialogRunner() = default;
    // Shows "SELECTPORT" over its model until model.ended().
    virtual void run_port_selection(platform::ControlsModel& model) = 0;
    // Shows "MAIN" over the session's window model and calls its tick every 10 ms until the
    // model is ended.
    virtual void run_main_window(MainWindowDriver& session) = 0;
};

inline constexpr int TIMER_PERIOD_MS = 10;

}  // namespace vrk::app
