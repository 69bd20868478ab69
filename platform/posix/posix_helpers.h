// The decisions of the POSIX platform layer that need no device: the speed table, the one place
// where errno becomes an error category, which /dev names are serial lines, the extension match
// of the image search and the line settings. Kept apart from the system calls so that the tests
// can check them without hardware. Internal to platform/posix and its tests.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/files.h"
#include "platform/serial_port.h"

namespace vrk::platform::posix {

// The termios speed constant for a rate in bits per second, or nullopt for a rate the table does
// not hold. 0 is not a rate: B0 means "hang up" and would drop DTR instead of setting a speed.
[[nodiscard]] std::optional<speed_t> speed_for_baud(std::uint32_t baud);
// The other way round; nullopt for B0 and for constants the table does not hold.
[[nodiscard]] std::optional<std::uint32_t> baud_for_speed(speed_t speed);

// The category of a failed open or use of a serial device. EBUSY (exclusive mode held by someone
// else) and EWOULDBLOCK (their lock) both mean another program has the port.
[[nodiscard]] PortError classify_port_error(int error_number);
// The category of a failed file operation.
[[nodiscard]] FileError classify_file_error(int error_number);

enum class PortNameKind {
    not_serial,      // not a serial line, or not one we offer
    serial,          // a serial line whenever the node exists (USB, ACM, SoC, Bluetooth)
    serial_if_uart,  // a ttyS node: the kernel makes them whether or not a UART is there
};
// Classifies a name in /dev (no directory part): a known prefix followed by a port number.
[[nodiscard]] PortNameKind classify_port_name(std::string_view name);

// True when name ends in suffix, letters compared without regard to case (ASCII only: names
// are bytes to us, as they are to the file system).
[[nodiscard]] bool ends_with_ignoring_case(std::string_view name, std::string_view suffix);

// Turns termios settings into the unit's line: raw bytes, 8 data bits, no parity, 1 stop bit,
// no flow control of any kind, receiver on, modem status lines ignored for open and read. The
// speed is left alone; the XON/XOFF characters and the other control characters stay as the
// driver had them.
void make_unit_line(termios& settings);

}  // namespace vrk::platform::posix
