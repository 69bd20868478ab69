#include "app/win32/win32_dialog_runner.h"

#include <windows.h>

#include "app/res/dialog_templates.h"
#include "app/win32/dialog_window.h"
#include "app/win32/win32_host_services.h"
#include "app/win32/window_picture.h"

namespace vrk::win32 {

void Win32DialogRunner::run_port_selection(platform::ControlsModel& model) {
    run_dialog(res::select_port_template(), model, DialogHooks{nullptr, {}, &host_});
}

void Win32DialogRunner::run_main_window(app::MainWindowDriver& session) {
    DialogHooks hooks{&session, {}, &host_};
    if (self_test_ != nullptr) {
        SelfTest* self_test = self_test_;
        const DWORD started = ::GetTickCount();
        hooks.after_tick = [self_test, started, &session](void* window) {
            // Linked with the settings loaded and the version shown: what a person would call up.
            if (session.unit_settings_shown()) {
                self_test->linked = save_window_picture(window, self_test->picture_path);
                session.window().end_dialog(-1);
            } else if (::GetTickCount() - started > self_test->time_limit_ms) {
                session.window().end_dialog(-1);
            }
        };
    }
    run_dialog(res::main_template(), session.window(), std::move(hooks));
}

}  // namespace vrk::win32
