#include <time.h>

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

void PosixTickClock::sleep_ms(std::uint32_t ms) {
    if (ms == 0) return;
    // nanosleep measures on the monotonic clock as well; a signal (the interrupt key) cuts it
    // short, which only brings the next tick forward.
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(ms / 1000);
    wait.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000L;
    (void)::nanosleep(&wait, nullptr);
}

}  // namespace vrk::platform
