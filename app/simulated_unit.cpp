#include "app/simulated_unit.h"

#include <utility>

namespace vrk::app {

SimulatedUnit start_simulated_unit(sim::UnitConfig config, platform::PortProvider& system_ports,
                                   std::string_view program) {
    SimulatedUnit started;
    started.unit = sim::make_built_in_unit(std::move(config), system_ports);
    std::string why;
    if (started.unit && started.unit->start(&why)) return started;
    started.unit.reset();
    started.error = std::string(program) + ": the simulated unit could not be started: " + why;
    return started;
}

}  // namespace vrk::app
