#include "platform/serial_port.h"

namespace vrk::platform {

std::string describe_port_error(PortError error, const std::string& device) {
    switch (error) {
        case PortError::none:
            return device + " is open.";
        case PortError::not_found:
            return "There is no serial port " + device + ". Check the cable and the port name.";
        case PortError::access_denied:
            return "Permission denied on " + device +
                   ". Add yourself to the port's group (usually 'dialout': sudo usermod -aG "
                   "dialout "
                   "$USER), then log out and in again.";
        case PortError::busy:
            return device + " is in use by another program. Close that program and try again.";
        case PortError::not_a_serial:
            return device + " is not a serial port.";
        case PortError::io_failure:
            break;
    }
    return "The serial port " + device + " could not be opened.";
}

}  // namespace vrk::platform
