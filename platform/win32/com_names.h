// COM port names as people type them and as the system opens them. Pure, so the tests check it
// without a port. Internal to platform/win32 and its tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vrk::platform::win32 {

// Port numbers the port list tries.
inline constexpr int FIRST_COM_NUMBER = 0;
inline constexpr int LAST_COM_NUMBER = 99;

// The name the port list shows for a port number: "com" and the number ("com5").
[[nodiscard]] std::string com_port_name(int number);
// The path CreateFile opens for a port name. A bare device name ("COM5", "com12", "CNCA0") goes
// into the device namespace ("\\.\COM5"): only COM1 to COM9 open without it. A path that names
// a directory, a drive or the namespace already ("\\.\COM5", "C:\x", "a\b") is left as given.
[[nodiscard]] std::string com_device_path(std::string_view name);
// The port number of "COM5", "com5" or "\\.\COM5"; nullopt for any other name.
[[nodiscard]] std::optional<int> com_port_number(std::string_view name);

}  // namespace vrk::platform::win32
