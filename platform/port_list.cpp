#include "platform/serial_port.h"

namespace vrk::platform {

std::vector<PortInfo> PortProvider::list_ports() {
    std::vector<PortInfo> ports;
    for (const std::string& device : candidate_ports()) {
        OpenResult opened = open(device);
        if (opened.port) opened.port->close();
        if (opened.error != PortError::none && opened.error != PortError::busy &&
            opened.error != PortError::access_denied)
            continue;
        ports.push_back(PortInfo{device, device, {}, opened.error});
    }
    return ports;
}

}  // namespace vrk::platform
