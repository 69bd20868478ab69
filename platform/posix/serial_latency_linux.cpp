// Low latency through the serial driver's TIOCSSERIAL, which only Linux has. Another system
// needs its own file in place of this one.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include "platform/posix/serial_latency.h"

namespace vrk::platform::posix {

std::optional<int> request_low_latency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return std::nullopt;
    if ((info.flags & ASYNC_LOW_LATENCY) != 0) return std::nullopt;
    const int previous = info.flags;
    // The rest of the structure goes back as read: without privilege the driver refuses any
    // change but to the flags a user may set, and this is one of them.
    info.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &info) != 0) return std::nullopt;
    return previous;
}

void restore_serial_flags(int fd, int flags) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return;
    info.flags = flags;
    (void)::ioctl(fd, TIOCSSERIAL, &info);
}

}  // namespace vrk::platform::posix
