// Where a user's data lives by the XDG base directory rules, from the two variables that
// decide it: pulled out of posix_machine.cpp to be tested without the environment.
#pragma once

#include <optional>
#include <string>

namespace vrk::platform::posix {

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share; nullopt when neither
// says (either may be null: not set).
[[nodiscard]] std::optional<std::string> data_directory(const char* xdg_data_home,
                                                        const char* home);

}  // namespace vrk::platform::posix
