// Which names in /dev are serial lines worth offering. Pure, so the tests check it without a
// device. Internal to platform/posix and its tests.
#pragma once

#include <string_view>

namespace vrk::platform::posix {

enum class PortNameKind {
    not_serial,      // not a serial line, or not one we offer
    serial,          // a serial line whenever the node exists (USB, ACM, SoC, Bluetooth)
    serial_if_uart,  // a ttyS node: the kernel makes them whether or not a UART is there
};
// Classifies a name in /dev (no directory part): a known prefix followed by a port number.
[[nodiscard]] PortNameKind classify_port_name(std::string_view name);

}  // namespace vrk::platform::posix
