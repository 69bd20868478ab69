// The controls model's state drawn into the system's controls: one control at a time, only
// what differs, so that a tick without news costs a few compares.
#pragma once

#include <windows.h>

#include <string>

#include "platform/controls_model.h"

namespace vrk::win32 {

// Draws a control of the model into its window: enabled, visible, text, list items and
// selection, edit limit and selection, progress, a check box's state. Lists get the model's
// items at the model's indices (the windows must not sort: see vrkcfg.rc), so an index means
// the same item in both.
void mirror_control(const platform::Control& control, HWND window);

// A window's text.
[[nodiscard]] std::wstring window_text(HWND window);

}  // namespace vrk::win32
