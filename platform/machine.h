// What the production station's records need of the machine: its name, where a user's data
// lives, making the folder for it, and the environment's settings. platform/posix/ and
// platform/win32/ implement these; each may be called from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/files.h"

namespace vrk::platform {

// The machine's name on the network ("station-3"); empty when the system does not tell.
[[nodiscard]] std::string host_name();

// The folder for this user's application data: $XDG_DATA_HOME, else ~/.local/share (POSIX);
// %LOCALAPPDATA% (Windows). nullopt when the system names none.
[[nodiscard]] std::optional<std::string> user_data_directory();

// The value of the environment variable `name`; nullopt when it is not set or empty.
[[nodiscard]] std::optional<std::string> environment_variable(const char* name);

// Creates the folder `path` with its missing parents (an existing folder is fine). false, with
// the reason in *error (when given), when it cannot be made.
[[nodiscard]] bool make_directories(const std::string& path, FileError* error);

}  // namespace vrk::platform
