// One port's share of a vrk run: opens the port, runs a session on it with a timer tick every
// 10 ms (as the window's timer does), and hands the session's events to the job's flow and its
// reporters. It answers the engine's boxes and prompts as a program with nobody to ask. Runs
// on a thread of its own when there are several ports; it shares only the output, the trace
// file, the line's tally and, for program, the station's records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/board_reporter.h"
#include "app/cli/hook_queue.h"
#include "app/cli/job_plan.h"
#include "app/cli/json_reporter.h"
#include "app/cli/line_tally.h"
#include "app/cli/output.h"
#include "app/cli/station/station_store.h"
#include "app/cli/station/unit_records.h"
#include "app/cli/text_reporter.h"
#include "app/cli/unit_flow.h"
#include "device/events.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::app {
class Session;
}

namespace vrk::cli {

// A file of whole lines written by several threads: the wire trace.
class SharedLineFile {
  public:
    explicit SharedLineFile(std::unique_ptr<platform::OutputFile> file) : file_(std::move(file)) {}
    void write_line(std::string_view line);

  private:
    std::mutex mutex_;
    std::unique_ptr<platform::OutputFile> file_;
    std::string buffer_;
};

struct JobServices {
    platform::PortProvider& ports;
    platform::TickClock& clock;
    platform::FileSystem& files;
    platform::Console& console;
    Output& output;
    LineTally& line;
    SharedLineFile* trace = nullptr;    // --trace
    std::uint32_t origin = 0;           // the tick the run started at (trace times count from it)
    std::optional<std::string> record;  // --record: the macro file
    std::size_t port_width = 0;         // the board's column of port names
    // program: the station's records, shared by every port, and the station's machine.
    StationStore* store = nullptr;
    std::string host = {};
    // program --on-unit: the run's hooks, each unit's queued once its row is completed.
    HookQueue* hooks = nullptr;
};

// It watches its own calls to the station's records: a call that waits for a line's server
// that went away is one of this port's, made on this port's thread, so the store tells the job
// (not the other way round: the port's thread is inside the call and cannot ask).
class PortJob final : public device::UnitPrompts,
                      public platform::HostServices,
                      public StoreWaitObserver {
  public:
    // `index` is the port's place among the ports (its bar's row, its line in the tally).
    PortJob(const JobPlan& plan, std::string device, std::size_t index, JobServices services);
    ~PortJob() override;

    // Another observer of the job's events, besides its reporters.
    void add_observer(JobObserver& observer) { observers_.add(observer); }

    // Runs to the end; returns the port's exit code.
    [[nodiscard]] int run();

    // A hook of this port's units ended: kept for the job's thread, which tells its observers
    // (drain_hooks()). Any thread.
    void hook_ended(const HookOutcome& outcome);
    // Tells the observers of the hooks ended since; on the thread that owns the job's
    // reporters (its own while it runs, the run's once it has ended).
    void drain_hooks();

    // device::UnitPrompts: the tool asks nobody.
    void qb7_mode() override {}
    [[nodiscard]] bool exit_when_application_runs() override { return false; }

    // platform::HostServices: boxes become lines on standard error.
    platform::MessageAnswer message_box(const std::string& text, const std::string& caption,
                                        platform::MessageButtons buttons,
                                        platform::MessageIcon icon) override;
    void beep() override {}
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest&) override {
        return std::nullopt;
    }

    // StoreWaitObserver: on the job's thread, inside a call to the records.
    void records_waiting(const std::string& since, const std::string& why) override;
    void records_back() override;
    // Ctrl+C ends the wait: the unit fails (its row is not stored) and the run ends.
    [[nodiscard]] bool keep_waiting() override;

  private:
    // --repeat: the port is not there; tries to open it once a second until it is (or the run
    // ends: nothing is returned then).
    [[nodiscard]] platform::OpenResult wait_for_port();
    void run_session(std::unique_ptr<platform::SerialPort> port);
    // After a unit's hook was queued: waits for room in the queue before the next unit.
    void wait_for_hooks();

    const JobPlan& plan_;
    std::string device_;
    JobServices s_;
    JobObservers observers_;
    TextReporter text_;
    JsonReporter json_;
    BoardReporter board_;
    std::optional<UnitRecords> records_;  // program
    UnitFlow flow_;
    std::size_t index_;
    bool hook_queued_ = false;  // a unit's hook was queued in this tick

    std::mutex hooks_mutex_;
    std::vector<HookEnded> hooks_ended_;
};

}  // namespace vrk::cli
