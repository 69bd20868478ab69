#include <chrono>

#include "platform/posix/posix_platform.h"

namespace vrk::platform {

std::uint32_t PosixTickClock::tick_ms() {
    // The steady clock, not the wall clock: setting the system time must not stretch or cut
    // the protocol's time limits. Truncation to 32 bits gives the wrapping tick the limits are
    // written for (they compare differences of ticks).
    const auto since_origin = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_origin).count();
    return static_cast<std::uint32_t>(ms);
}

}  // namespace vrk::platform
