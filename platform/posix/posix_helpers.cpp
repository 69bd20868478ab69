#include "platform/posix/posix_helpers.h"

#include <cerrno>
#include <cstddef>
#include <string_view>

namespace vrk::platform::posix {
namespace {

struct SpeedEntry {
    std::uint32_t baud;
    speed_t speed;
};

// The unit hunts 1200 to 115200; the slower and faster rates are here so that a test rig or a
// future unit can use them. The fast ones are not POSIX, hence the guards.
constexpr SpeedEntry SPEEDS[] = {
    {300, B300},       {600, B600},     {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600}, {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

struct NamePattern {
    std::string_view prefix;
    PortNameKind kind;
};

// Longer prefixes that share a start with a shorter one (ttyS / ttySAC) are told apart by the
// rule that only digits may follow the prefix.
constexpr NamePattern PORT_NAMES[] = {
    {"ttyS", PortNameKind::serial_if_uart},  // 8250/16550 UARTs of PCs
    {"ttyUSB", PortNameKind::serial},        // USB serial adapters (FTDI, CP210x, PL2303, ...)
    {"ttyACM", PortNameKind::serial},        // USB CDC-ACM devices
    {"ttyAMA", PortNameKind::serial},        // ARM PrimeCell UARTs (Raspberry Pi)
    {"ttyXRUSB", PortNameKind::serial},      // Exar USB UARTs with the vendor's driver
    {"rfcomm", PortNameKind::serial},        // Bluetooth serial links
};

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::optional<speed_t> speed_for_baud(std::uint32_t baud) {
    for (const auto& entry : SPEEDS) {
        if (entry.baud == baud) return entry.speed;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> baud_for_speed(speed_t speed) {
    for (const auto& entry : SPEEDS) {
        if (entry.speed == speed) return entry.baud;
    }
    return std::nullopt;
}

PortError classify_port_error(int error_number) {
    // EAGAIN and EWOULDBLOCK are one value on Linux but need not be elsewhere, so no switch.
    if (error_number == EWOULDBLOCK || error_number == EAGAIN || error_number == EBUSY) {
        return PortError::busy;
    }
    switch (error_number) {
        case 0:
            return PortError::none;
        case ENOENT:
        case ENOTDIR:
        case ENODEV:  // the node exists but no driver or hardware answers for it
        case ENXIO:   // likewise: a ttyS node with no UART, an unplugged adapter's old node
            return PortError::not_found;
        case EACCES:
        case EPERM:
            return PortError::access_denied;
        case ENOTTY:  // a file or device that takes no terminal requests (/dev/null, a file)
        case EISDIR:
            return PortError::not_a_serial;
        default:
            return PortError::io_failure;
    }
}

FileError classify_file_error(int error_number) {
    switch (error_number) {
        case 0:
            return FileError::none;
        case ENOENT:
        case ENOTDIR:
            return FileError::not_found;
        case EACCES:
        case EPERM:
        case EROFS:
            return FileError::access_denied;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return FileError::no_space;
        default:
            return FileError::io_failure;
    }
}

PortNameKind classify_port_name(std::string_view name) {
    for (const auto& pattern : PORT_NAMES) {
        if (name.starts_with(pattern.prefix) && all_digits(name.substr(pattern.prefix.size()))) {
            return pattern.kind;
        }
    }
    return PortNameKind::not_serial;
}

bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
    if (suffix.size() > name.size()) return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (ascii_lower(tail[i]) != ascii_lower(suffix[i])) return false;
    }
    return true;
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
