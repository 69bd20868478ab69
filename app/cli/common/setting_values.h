// A device setting's value as a person writes it, on the command line (vrk set, --set) and in
// a recipe file: the text the window's list shows, or the code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/events.h"

namespace vrk::cli {

// A device setting's value as vrk set takes it: the whole text of a list item (any case,
// blanks at either end ignored, in the unit's code page or UTF-8) or its code in decimal or as
// 0x.. hex. nullopt, with the reason and the valid values in *error, when it names no item or
// several.
[[nodiscard]] std::optional<std::uint8_t> resolve_setting(device::Setting setting,
                                                          std::string_view value,
                                                          std::string* error);
// "gps", "internal", "external".
[[nodiscard]] std::optional<device::Setting> setting_named(std::string_view name);

}  // namespace vrk::cli
