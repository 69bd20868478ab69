// --simulate, the same in every front-end (the two windows and vrk): the built-in simulated
// unit is made and started before the program opens its port, and a unit that cannot start
// ends the program with one text and one exit code wherever it was asked for.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/serial_port.h"
#include "sim/built_in_unit.h"

namespace vrk::app {

// The exit code of a program whose simulated unit could not be started: vrk's for a port that
// cannot be opened, which is what it comes to.
inline constexpr int SIMULATED_UNIT_FAILED_EXIT = 3;

struct SimulatedUnit {
    std::unique_ptr<sim::BuiltInUnit> unit;  // running; null when it could not be started
    // When it could not: "<program>: the simulated unit could not be started: <why>", one line.
    std::string error;
};

// Makes the system's built-in unit with `config` and starts it. `program` is the name the
// text gives the program.
[[nodiscard]] SimulatedUnit start_simulated_unit(sim::UnitConfig config,
                                                 platform::PortProvider& system_ports,
                                                 std::string_view program);

}  // namespace vrk::app
