// Runs the two dialogs modally over their models: the port choice, then the main window with
// its 10 ms timer.
#pragma once

#include "app/startup.h"

namespace vrk::qt {

class QtDialogRunner final : public app::DialogRunner {
  public:
    void run_port_selection(platform::ControlsModel& model) override;
    void run_main_window(Context& ctx) override;
};

}  // namespace vrk::qt
