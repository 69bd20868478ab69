// The flow of one port's job: find a unit, do the plan's steps to it over one link-up, end the
// unit with one outcome, and with --repeat wait for the next. An explicit state machine: the
// engine's events only record what the unit said; tick() decides, once per timer tick, what
// happens next. It speaks to the unit through the session's commands (app/session_commands.h)
// and tells its decisions to the job's observers (the reporters).
//
//   finding_unit  the hunt, the unit's reports, then (confirming) its identity asked again
//                 until it agrees; with --repeat, a unit found again is told to go
//   running       the steps, one at a time; the first that fails ends the unit's run. For
//                 program the station's records come first: the unit's row (nothing is done
//                 to a unit whose row cannot be written), the recipe's checks, the ID the
//                 records choose (reserved before it is sent, bound once the unit confirms
//                 it, else spent); and last: the row completed before the unit is shown
//                 passed
//   between_units --repeat: the unit handled is still there; its going starts the next hunt
//   done
//
// For program the flow tells the port's UnitRecords (app/cli/station/unit_records.h) its
// moments and acts on what they answer; it holds no store of its own.
//
// One job's thread; the clock may be any TickClock (tests move a fake one).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/cli/job_events.h"
#include "app/cli/job_plan.h"
#include "app/cli/station/unit_records.h"
#include "app/cli/unit_identity.h"
#include "device/events.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::app {
class Session;
}

namespace vrk::cli {

class LineTally;

// How long a change or a mode request may wait for the unit's answer. The unit answers at once;
// this leaves room for a slow line and a busy machine.
inline constexpr std::uint32_t ANSWER_LIMIT_MS = 5'000;
// A unit that answered the probe but not yet every query by then is asked again.
inline constexpr std::uint32_t QUERY_AGAIN_MS = 1'500;

class UnitFlow final : public device::EngineObserver {
  public:
    // `line` counts the units of every port (--count, --max-failures), this one as port number
    // `index`; it outlives the flow.
    // `records`: program's, for the units of this port (null for the other commands); it
    // outlives the flow.
    UnitFlow(const JobPlan& plan, std::string port, std::size_t index, platform::TickClock& clock,
             JobObserver& observers, LineTally& line, UnitRecords* records = nullptr);

    // Called with each unit's row once it is completed in the records (passed or failed),
    // before the unit's result is shown.
    void on_row_completed(std::function<void(const RunRecord&)> completed) {
        row_completed_ = std::move(completed);
    }
    // The session on the job's port, once the port is open; null to detach.
    void attach(app::Session* session);
    // Once per timer tick, after the session's tick.
    void tick();
    // Ctrl+C: a transfer is ended through the engine, a unit in hand ends interrupted; between
    // units the job just ends.
    void interrupt();
    // The job could not start on its port: the unit's outcome without a unit, and the end.
    void fail_without_unit(Result result, std::string message);
    // A notice box of the engine said something failed (a macro file write).
    void note_error_box() { error_box_ = true; }

    [[nodiscard]] bool done() const { return state_ == State::done; }
    // The highest exit code of the units handled.
    [[nodiscard]] int exit_code() const;

    // device::EngineObserver
    void link_up(std::uint32_t baud) override;
    void link_lost(link::LinkLoss why) override;
    void version_reported(const device::VersionReport& report) override;
    void setting_reported(const device::SettingReport& report) override;
    void mode_reported(device::UnitMode mode) override;
    void operation_started(const device::OperationStart& start) override;
    void progress(const device::Progress& progress) override;
    void operation_finished(const device::OperationEnd& end) override;
    void operation_refused(const device::OperationEnd& end) override;

  private:
    enum class State { finding_unit, running, between_units, done };
    enum class StepKind { transfer, unit_id, setting, mode };
    struct Step {
        StepKind kind = StepKind::transfer;
        std::size_t setting = 0;  // index into plan.settings
    };
    // The end of a step, as the events and the time limits decide it.
    struct StepResult {
        Result result = Result::success;
        std::string message;
    };

    void find_unit(std::uint32_t now);
    // Counts the unit in hand as one of the line's; false (and the job ends) when the line
    // takes no more.
    [[nodiscard]] bool take_unit();
    // The unit's identity is complete: true once it agreed (or ended the unit when it cannot).
    [[nodiscard]] bool confirm_identity(std::uint32_t now);
    // program, before the steps: the row, the checks, the ID. False when the unit's run ended.
    [[nodiscard]] bool begin_records();
    // The ID step after a set: the unit's reports asked for until they agree.
    void check_id_step(std::uint32_t now);
    // program: the row completed (and a reservation never confirmed spent); the outcome turns
    // to a failure when the records cannot be written.
    void complete_records(UnitOutcome& outcome);
    // The download or compare the plan asks for, before the engine has taken it.
    [[nodiscard]] TransferFacts planned_transfer() const;
    // Stops the line (no port takes another unit) and gives the unit's failure.
    [[nodiscard]] StepResult stop_line_for_records(const StoreError& error);
    [[nodiscard]] StepResult ids_exhausted() const;
    // The scheme's next ID reserved for the unit in hand as its ID step starts; the step's
    // failure when none can be.
    [[nodiscard]] std::optional<StepResult> reserve_id();
    void start_unit(std::uint32_t now);
    void start_step(std::uint32_t now);
    void check_step(std::uint32_t now);
    void end_step(StepResult result);
    void finish_unit(StepResult result);
    void forget_unit();

    [[nodiscard]] std::size_t step_count() const;
    [[nodiscard]] Step step_at(std::size_t index) const;
    [[nodiscard]] static RecipeStep recipe_step(StepKind kind);
    [[nodiscard]] bool first_of_group(std::size_t index) const;
    [[nodiscard]] bool last_of_group(std::size_t index) const;
    [[nodiscard]] std::uint32_t now() const { return clock_.tick_ms(); }
    [[nodiscard]] std::string port_gone_text() const;

    const JobPlan& plan_;
    std::string port_;
    std::size_t index_;
    platform::TickClock& clock_;
    JobObserver& observers_;
    LineTally& line_;
    UnitRecords* records_;
    std::function<void(const RunRecord&)> row_completed_;
    app::Session* session_ = nullptr;

    State state_ = State::finding_unit;
    std::uint32_t wait_started_ = 0;  // when the job began looking for this unit
    std::uint32_t unit_started_ = 0;  // when the unit first answered
    bool unit_answered_ = false;
    std::uint32_t last_query_ = 0;
    bool linked_ = false;
    std::uint32_t baud_ = 0;
    bool port_lost_ = false;
    bool unit_gone_ = false;  // the link went since the unit was handled
    // The next unit is one with another serial number, or one that came after the port was
    // lost (unplugged and plugged in again: a unit taken out, whatever it is).
    std::optional<std::int32_t> last_serial_;
    bool port_lost_since_ = false;
    UnitIdentity unit_;
    std::optional<UnitIdentity> unit_before_;  // as found, before any step
    // Since the link came up: the ID and the version, asked again until they agree.
    ReportAgreement<std::string> id_agreement_;
    ReportAgreement<VersionFacts> version_agreement_;
    // The three device settings, as the records keep them from before the unit is touched.
    std::array<ReportAgreement<SettingValue>, 3> setting_agreements_;

    // The step in flight.
    std::size_t step_ = 0;
    std::uint32_t step_started_ = 0;
    std::optional<StepResult> step_result_;  // set by the events
    std::optional<TransferFacts> transfer_;
    std::optional<std::string> id_to_send_;  // the ID step's ID (set-id's, or the records')
    bool id_carried_ = false;                // the unit holds it already: nothing to send
    bool id_to_reserve_ = false;             // the scheme's next ID, reserved as the ID step starts
    ReportAgreement<std::string> id_set_agreement_;

    bool unit_taken_ = false;           // counted as one of the line's units
    std::optional<UnitIdentity> held_;  // what the unit holds, taken before `then`

    int exit_code_ = EXIT_OK;
    bool error_box_ = false;
};

}  // namespace vrk::cli
