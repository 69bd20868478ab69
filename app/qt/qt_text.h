// Bridges between the model's byte texts and Qt's strings (the rules are in code_page.h).
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace vrk::qt {

// A model text as the screen shows it: UTF-8 when valid (names and paths of this system), else
// the unit's Windows-1255.
[[nodiscard]] QString to_display(std::string_view bytes);

// The ID box holds the unit's own single-byte text: always Windows-1255, both ways, so a
// character the user types is one byte the unit can store, and what was typed reads back as
// typed.
[[nodiscard]] QString from_unit_text(std::string_view bytes);
[[nodiscard]] std::string to_unit_text(const QString& text);

// Paths handed to and from the system's file dialogs: the file system's own encoding.
[[nodiscard]] QString from_local_path(const std::string& path);
[[nodiscard]] std::string to_local_path(const QString& path);

}  // namespace vrk::qt
