#include <windows.h>

#include "platform/win32/win32_platform.h"

namespace vrk::platform {

std::uint32_t Win32TickClock::tick_ms() {
    // The 32-bit tick that wraps after 49.7 days is exactly what the time limits are written
    // for (they compare unsigned differences); GetTickCount64 would only be cut back to it.
    return static_cast<std::uint32_t>(::GetTickCount());
}

void Win32TickClock::sleep_ms(std::uint32_t ms) {
    if (ms == 0) return;
    ::Sleep(ms);
}

}  // namespace vrk::platform
