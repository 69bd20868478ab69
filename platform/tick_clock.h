// The millisecond tick that every time limit of the program is measured on.
//
// Threads: one clock may be shared by every session of a process. Both systems' clocks keep
// nothing of their own; each call reads the system's monotonic clock (the steady clock on
// POSIX, GetTickCount on Windows), which any thread may read at any time, and a sleep blocks
// only the thread that calls it.
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
    // Blocks the calling thread for about `ms` milliseconds of this clock: the wait between two
    // timer ticks of a front-end that has no event loop to deliver them. Returns at once for 0.
    // A clock that tests move by hand moves forward by `ms` instead.
    virtual void sleep_ms(std::uint32_t ms) = 0;
};

}  // namespace vrk::platform
