// The millisecond tick that every time limit of the program is measured on.
//
// Threads: one clock may be shared by every session of a process. Both systems' clocks keep
// nothing of their own; each call reads the system's monotonic clock (the steady clock on
// POSIX, GetTickCount on Windows), which any thread may read at any time.
#pragma once

#include <cstdint>

namespace vrk::platform {

class TickClock {
  public:
    virtual ~TickClock() = default;
    // Milliseconds from an arbitrary origin, 32 bits wide. It wraps about every 49.7 days, so
    // every time limit compares the difference of two ticks, never the ticks themselves. A
    // time stamp may lie ahead of the present (a request still crossing the line stamps the
    // moment it will have left), so the limits take the difference as signed: a stamp still
    // ahead is not overdue.
    [[nodiscard]] virtual std::uint32_t tick_ms() = 0;
};

}  // namespace vrk::platform
