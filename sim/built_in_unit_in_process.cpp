// The built-in unit on systems without pseudo-terminals (Windows): the unit behind a simulated
// port in the program itself, on the machine's steady clock.
#include "sim/built_in_unit.h"
#include "sim/simulated_port.h"

namespace vrk::sim {

namespace {

class InProcessUnit final : public BuiltInUnit {
  public:
    explicit InProcessUnit(UnitConfig config) : unit_(std::move(config)), ports_(unit_, clock_) {}
    bool start(std::string* error) override { return unit_.prepare(error); }
    [[nodiscard]] platform::PortProvider& ports() override { return ports_; }
    [[nodiscard]] std::string port_name() const override { return SIMULATED_PORT_NAME; }
    bool stop(std::string* error) override {
        if (stopped_) return true;
        stopped_ = true;
        return unit_.write_flash_out(error);
    }

  private:
    UnitEnd unit_;
    SteadyLineClock clock_;
    SimulatedPortProvider ports_;
    bool stopped_ = false;
};

}  // namespace

std::unique_ptr<BuiltInUnit> make_built_in_unit(UnitConfig config,
                                                platform::PortProvider& /*system_ports*/) {
    return std::make_unique<InProcessUnit>(std::move(config));
}

}  // namespace vrk::sim
