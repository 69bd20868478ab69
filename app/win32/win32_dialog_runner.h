// Runs the two dialogs modally over their models: the port choice, then the main window with
// its 10 ms timer.
#pragma once

#include <string>

#include "app/front_end.h"

namespace vrk::win32 {

class Win32HostServices;

// A check that the whole chain works (port, unit, link, panel): the main window runs until the
// unit's settings are shown, saves a picture of itself and closes; or gives up after a while.
struct SelfTest {
    std::string picture_path;
    unsigned time_limit_ms = 60'000;
    bool linked = false;  // the result
};

class Win32DialogRunner final : public app::DialogRunner {
  public:
    explicit Win32DialogRunner(Win32HostServices& host, SelfTest* self_test = nullptr)
        : host_(host), self_test_(self_test) {}
    void run_port_selection(platform::ControlsModel& model) override;
    void run_main_window(app::MainWindowDriver& session) override;

  private:
    Win32HostServices& host_;
    SelfTest* self_test_;
};

}  // namespace vrk::win32
