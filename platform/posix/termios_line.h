// The unit's line in termios terms: the speed constants for our rates and the raw 8N1
// settings. Pure functions on a termios structure, so the tests check them without a device.
// Internal to platform/posix and its tests.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

namespace vrk::platform::posix {

// The termios speed constant for a rate of LINE_SPEEDS, or nullopt for any other rate. 0 is
// not a rate: B0 means "hang up" and would drop DTR instead of setting a speed.
[[nodiscard]] std::optional<speed_t> speed_for_baud(std::uint32_t baud);
// The other way round; nullopt for B0 and for constants of rates we do not use.
[[nodiscard]] std::optional<std::uint32_t> baud_for_speed(speed_t speed);

// Turns termios settings into the unit's line: raw bytes, 8 data bits, no parity, 1 stop bit,
// no flow control of any kind, receiver on, modem status lines ignored for open and read. The
// speed is left alone; the XON/XOFF characters and the other control characters stay as the
// driver had them.
void make_unit_line(termios& settings);

}  // namespace vrk::platform::posix
