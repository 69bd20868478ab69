// A dialog from the resource script, run over its controls model. The model is the truth: the
// dialog procedure draws what changed in it after every command and tick, and turns the
// controls' notifications into the model's user_* calls, which raise the commands. No protocol
// lives here.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/front_end.h"
#include "app/res/dialog_templates.h"
#include "platform/controls_model.h"

namespace vrk::win32 {

class Win32HostServices;

struct DialogHooks {
    // The main window's session: ticked by a 10 ms timer. Null for the port choice.
    app::MainWindowDriver* driver = nullptr;
    // Called after every tick with the dialog's window (an HWND), e.g. for the self-test.
    std::function<void(void* window)> after_tick;
    // Told which window owns the message boxes while this dialog runs.
    Win32HostServices* host = nullptr;
};

// Runs the dialog template `dialog.name` of the program's resources modally until the model
// is ended. Returns at once when the model is ended already.
void run_dialog(const res::DialogTemplate& dialog, platform::ControlsModel& model,
                DialogHooks hooks);

}  // namespace vrk::win32
