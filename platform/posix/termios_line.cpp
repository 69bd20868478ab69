#include "platform/posix/termios_line.h"

#include "platform/line_speeds.h"

namespace vrk::platform::posix {

std::optional<speed_t> speed_for_baud(std::uint32_t baud) {
    if (!is_line_speed(baud)) return std::nullopt;
    switch (baud) {
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
            // The fast rates are not POSIX; Linux and the BSDs have them.
#ifdef B230400
        case 230400:
            return B230400;
#endif
#ifdef B460800
        case 460800:
            return B460800;
#endif
#ifdef B921600
        case 921600:
            return B921600;
#endif
        default:
            return std::nullopt;
    }
}

std::optional<std::uint32_t> baud_for_speed(speed_t speed) {
    for (const std::uint32_t baud : LINE_SPEEDS) {
        if (speed_for_baud(baud) == speed) return baud;
    }
    return std::nullopt;
}

void make_unit_line(termios& settings) {
    // Input: every byte as received. No break or parity marking (with parity off nothing is
    // checked; a break or framing error arrives as a 0 byte, like any other line noise), no
    // stripping to 7 bits, no CR/NL mapping, and above all no XON/XOFF: 0x11 and 0x13 are
    // ordinary data in the unit's frames.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
    // Output: bytes go out unchanged (no NL to CR-NL).
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    // No line editing, echo or signal characters: 0x03 must not become an interrupt.
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // 8N1, receiver on, CLOCAL so that a unit without DCD neither blocks the open nor hangs the
    // line up, and no RTS/CTS handshake: the unit's CTS and DSR are status we watch, not a
    // throttle. HUPCL stays as the driver had it; the program drops DTR and RTS itself.
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    settings.c_cflag |= static_cast<tcflag_t>(CS8 | CREAD | CLOCAL);
    // Reads are paced with poll() on a non-blocking descriptor, so these only keep a stray
    // blocking read() to the usual one-byte minimum.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

}  // namespace vrk::platform::posix
