// How soon a USB serial adapter hands received bytes on. FTDI-type adapters collect what
// arrives for up to 16 ms (their latency timer) before passing it to the host; for the unit's
// stop-and-wait exchanges that alone would add about 40 % to a download at 115200 baud. Their
// drivers shorten the timer to 1 ms when asked for low latency. Internal to platform/posix.
#pragma once

#include <optional>

namespace vrk::platform::posix {

// Asks the driver of the open terminal fd for low latency. Returns the driver's flags as they
// were, for restore_serial_flags at close, or nullopt when there is nothing to restore: the flag
// was on already, or the driver does not take the request (a pseudo-terminal, a driver without
// it). A refusal costs only speed.
[[nodiscard]] std::optional<int> request_low_latency(int fd);
// Puts the driver's flags back as request_low_latency found them.
void restore_serial_flags(int fd, int flags);

}  // namespace vrk::platform::posix
