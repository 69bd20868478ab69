// The texts of this program carry at most one "%s" (an image name, a file path). Names are
// inserted as strings, never through printf, so a name of any length or holding '%' is safe.
#pragma once

#include <string>
#include <string_view>

namespace vrk::device {

// format with its first "%s" replaced by value.
[[nodiscard]] inline std::string format_text(std::string_view format, std::string_view value) {
    std::string text(format);
    const auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

}  // namespace vrk::device
