// The line speeds a serial port of ours can be set to. The unit's own hunt uses seven of them
// (its order is the link's); the slower and faster ones are here for test rigs and for
// adapters that a future unit may use. Every platform maps exactly these, and the simulator
// refuses to run at any other.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace vrk::platform {

inline constexpr std::array<std::uint32_t, 14> LINE_SPEEDS = {
    300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600,
};

[[nodiscard]] constexpr bool is_line_speed(std::uint32_t baud) {
    return std::find(LINE_SPEEDS.begin(), LINE_SPEEDS.end(), baud) != LINE_SPEEDS.end();
}

}  // namespace vrk::platform
