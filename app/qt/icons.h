// The program's two icon resources: "VRK700" for the main window and "VRK700APPLICATION"
// for the program itself.
#pragma once

#include <QIcon>

namespace vrk::qt {

inline constexpr const char* MAIN_WINDOW_ICON = "VRK700";
inline constexpr const char* APPLICATION_ICON = "VRK700APPLICATION";

// The icon resource of that name, in every size it is drawn in; a null icon for an unknown
// name.
[[nodiscard]] QIcon resource_icon(const char* name);

}  // namespace vrk::qt
