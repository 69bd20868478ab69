// Runs the two dialogs modally over their models: the port choice, then the main window with
// its 10 ms timer.
#pragma once

#include <string>

#include "app/front_end.h"

namespace vrk::qt {

// A check that the whole chain works (port, unit, link, panel): the main window runs until the
// unit's settings are loaded, saves a picture of itself and closes; or gives up after a while.
struct SelfTest {
    std::string screenshot_path;
    int time_limit_ms = 60'000;
    bool linked = false;  // the result
};

class QtDialogRunner final : public app::DialogRunner {
  public:
    explicit QtDialogRunner(SelfTest* self_test = nullptr) : self_test_(self_test) {}
    void run_port_selection(platform::ControlsModel& model) override;
    void run_main_window(app::MainWindowDriver& session) override;

  private:
    SelfTest* self_test_;
};

}  // namespace vrk::qt
