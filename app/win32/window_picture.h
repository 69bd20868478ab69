// A picture of a window as the screen shows it, saved as PNG (the self-test's proof).
#pragma once

#include <string>

namespace vrk::win32 {

// Saves the window (an HWND) with its frame to a PNG file at path (UTF-8). False when the
// window could not be read or the file not written.
[[nodiscard]] bool save_window_picture(void* window, const std::string& path);

}  // namespace vrk::win32
