// One port's vrk job, as vrk runs it, on one thread in virtual time: the unit is the simulated
// unit inside the process, in a socket where the test plugs units in and pulls them out as an
// operator does on a line; the files are in memory; standard output and error are captured.
// The job's flow, its 10 ms tick and the protocol's limits run as in the program, but 30 s
// without progress pass in no time at all.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/job_events.h"
#include "app/cli/output.h"
#include "app/cli/station/station_store.h"
#include "platform/console.h"
#include "platform/serial_port.h"
#include "sim/simulator.h"
#include "sim/unit_end.h"
#include "tests/support/fakes.h"
#include "tests/support/virtual_time.h"

namespace vrk::test {

// The port name a job opens the socket by.
inline constexpr const char* SOCKET_PORT = "SOCKET";

// A serial port whose unit can be changed: plugged in, it opens to the unit on its simulated
// line; pulled out, an open port reports the device lost (as a USB adapter pulled out does) and
// the port cannot be opened (not found) until the next unit is plugged in.
class UnitSocket final : public platform::PortProvider {
  public:
    explicit UnitSocket(VirtualTime& time) : time_(time) {}

    // A unit in the socket (the one before must be out); kept for the test to look at.
    sim::UnitEnd& plug_in(sim::UnitConfig config);
    void pull_out();
    [[nodiscard]] sim::UnitEnd* unit() { return current_; }
    // Every unit plugged in so far, in order.
    [[nodiscard]] const std::vector<std::unique_ptr<sim::UnitEnd>>& units() const { return units_; }
    [[nodiscard]] int opens() const { return opens_; }

    [[nodiscard]] std::vector<std::string> candidate_ports() override { return {SOCKET_PORT}; }
    [[nodiscard]] platform::OpenResult open(const std::string& device) override;

  private:
    friend class SocketPort;
    VirtualTime& time_;
    std::vector<std::unique_ptr<sim::UnitEnd>> units_;
    sim::UnitEnd* current_ = nullptr;
    std::uint64_t generation_ = 0;  // a new one with every pull
    int opens_ = 0;
};

class FakeConsole final : public platform::Console {
  public:
    bool terminal = false;
    bool interrupt = false;
    int interrupts_seen = 0;  // more than one: Ctrl+C pressed again
    [[nodiscard]] bool is_terminal(platform::StandardStream) override { return terminal; }
    [[nodiscard]] std::optional<int> columns(platform::StandardStream) override { return 100; }
    void watch_interrupt() override {}
    [[nodiscard]] bool interrupted() override { return interrupt; }
    [[nodiscard]] int interrupts() override {
        return interrupts_seen > 0 ? interrupts_seen : (interrupt ? 1 : 0);
    }
};

// What a run left behind.
struct JobRun {
    int exit_code = -1;
    std::string out, err;
    std::vector<nlohmann::json> objects;  // with --json: standard output, parsed

    // The objects of one event.
    [[nodiscard]] std::vector<nlohmann::json> of(const std::string& event) const;
};

class JobRig {
  public:
    JobRig();
    ~JobRig();

    VirtualTime time;
    UnitSocket socket{time};
    FakeConsole console;
    MemoryFileSystem files;
    std::string db_path;  // a database file of the test's own, for program
    // When set, the store program opens is handed to it and the run uses what it gives back
    // (a store that stands for a line's server, with its outages).
    std::function<std::unique_ptr<cli::StationStore>(std::unique_ptr<cli::StationStore>)>
        wrap_store;

    // Runs vrk with `args` (the command line after "vrk", without --port: the socket is the
    // port) to its end. `observer`, when given, hears the job's events as the reporters do
    // and may act on the socket or the console from there.
    JobRun run(const std::vector<std::string>& args, cli::JobObserver* observer = nullptr);
    // The store behind db_path, opened as vrk log opens it.
    [[nodiscard]] std::unique_ptr<cli::StationStore> records();

  private:
    std::string dir_;
};

// A unit with its own serial number and a previous application in its flash.
[[nodiscard]] sim::UnitConfig unit_with_serial(std::int32_t serial);

}  // namespace vrk::test
