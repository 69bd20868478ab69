// The simulated unit a program starts for --simulate, and the port it is reached by. Each system
// has its own (chosen by the build): on Linux the simulator serves a pseudo-terminal, which the
// program opens as it opens any serial device; on Windows, which has no pseudo-terminals, the
// unit sits behind a simulated port in the program itself. The programs see only this.
#pragma once

#include <memory>
#include <string>

#include "platform/serial_port.h"
#include "sim/simulator.h"

namespace vrk::sim {

class BuiltInUnit {
  public:
    virtual ~BuiltInUnit() = default;
    // Starts the unit. False, with a reason in *error (when given), when it cannot run.
    virtual bool start(std::string* error) = 0;
    // Where the unit's port opens, and by which name (after start()).
    [[nodiscard]] virtual platform::PortProvider& ports() = 0;
    [[nodiscard]] virtual std::string port_name() const = 0;
    // Stops the unit and writes its flash to the configuration's flash_out, when set. False,
    // with a reason in *error (when given), when the flash could not be written. Idempotent.
    virtual bool stop(std::string* error) = 0;
};

// The built-in unit of this system. `system_ports` is the system's own provider, for a unit
// whose port is a device of the system; it must outlive the unit.
[[nodiscard]] std::unique_ptr<BuiltInUnit> make_built_in_unit(UnitConfig config,
                                                              platform::PortProvider& system_ports);

}  // namespace vrk::sim
