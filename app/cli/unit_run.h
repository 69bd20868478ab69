// A vrk run over units: what is checked before any port is used (the image, program's recipe
// and database), then one job per port, each on a thread of its own when there are several,
// and the summary over all of them. main() chooses the ports and the system's services; the
// tests hand in their own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/job_events.h"
#include "app/cli/options.h"
#include "app/cli/output.h"
#include "app/cli/station/station_commands.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process_runner.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::cli {

struct RunServices {
    platform::TickClock& clock;
    platform::FileSystem& files;
    platform::Console& console;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::string host = {};  // the station's machine, for program's records
    // Observers of every port's job besides its reporters, called on the job's thread.
    std::vector<JobObserver*> observers = {};
    // How program opens its database (empty: the file, as open_station_store does).
    StoreOpener open_store = {};
    // How program's hooks are started (empty: the system's processes).
    std::function<std::unique_ptr<platform::ProcessRunner>()> make_runner = {};
};

// The output settings of a run: JSON or text, the verbosity, and the board only for a person
// watching a terminal (never into a file, a pipe or between JSON lines).
[[nodiscard]] OutputSettings output_settings(const Options& options, platform::Console& console);

// An error found before any port is used: on standard error, and as a JSON object too.
// Returns the result's exit code.
int early_error(Output& output, bool json, Result result, const std::string& message);

class LineTally;
struct HookSummary;

class UnitRun {
  public:
    UnitRun(const Options& options, RunServices services);
    ~UnitRun();

    // The checks before any port is used: nullopt to go on, or the exit code to end with (the
    // reason told already).
    [[nodiscard]] std::optional<int> prepare();
    // One job per port, each opened through `provider`; the highest exit code of all.
    [[nodiscard]] int run(const std::vector<std::string>& ports, platform::PortProvider& provider);

  private:
    void summarise(Output& output, const LineTally& line,
                   const std::vector<std::string>& ports) const;
    void summarise_hooks(Output& output, const HookSummary& summary) const;

    const Options& options_;
    RunServices s_;
    ProgramStart program_;
};

}  // namespace vrk::cli
