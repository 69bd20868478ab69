// The built-in unit on systems with pseudo-terminals: the simulator on its own thread behind a
// terminal, which the program opens with the system's own serial port, exactly as a person opens
// vrk-sim's terminal.
#include "sim/built_in_unit.h"

namespace vrk::sim {

namespace {

class PtyUnit final : public BuiltInUnit {
  public:
    PtyUnit(UnitConfig config, platform::PortProvider& ports)
        : simulator_(std::move(config)), ports_(ports) {}
    bool start(std::string* error) override { return simulator_.start(error); }
    [[nodiscard]] platform::PortProvider& ports() override { return ports_; }
    [[nodiscard]] std::string port_name() const override { return simulator_.device_path(); }
    bool stop(std::string* error) override { return simulator_.stop(error); }

  private:
    Simulator simulator_;
    platform::PortProvider& ports_;
};

}  // namespace

std::unique_ptr<BuiltInUnit> make_built_in_unit(UnitConfig config,
                                                platform::PortProvider& system_ports) {
    return std::make_unique<PtyUnit>(std::move(config), system_ports);
}

}  // namespace vrk::sim
