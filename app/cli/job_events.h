// What a port's job tells its reporters (text, terminal board, JSON): the decisions of its
// flow, as the engine's events tell what happens on the line. A reporter observes both; none
// of them decides anything.
//
// Events are called on the job's thread. Texts passed as string_view live only for the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/options.h"
#include "app/cli/station/device_codes.h"
#include "app/cli/station/station_store.h"
#include "app/cli/station/unit_records.h"
#include "app/cli/unit_identity.h"
#include "device/events.h"

namespace vrk::cli {

// For an observer that follows the link: marks it down and says whether the loss is worth
// acting on. A loss while the hunt was still looking (a probe unanswered) is the hunt going on;
// a port that went is always a loss.
[[nodiscard]] inline bool link_really_lost(bool& linked, link::LinkLoss why) {
    const bool was_linked = linked;
    linked = false;
    return was_linked || why == link::LinkLoss::port_lost;
}

// What the job is waiting for between units.
enum class Waiting {
    port,       // the port is not there (yet): --repeat waits for it
    next_unit,  // the unit handled is to go and the next to come
    hooks,      // the hooks' queue is full: the next unit waits for room
};

// How a unit's hook ended (--on-unit).
struct HookEnded {
    std::string run_key;  // the unit's row
    std::string status;   // "exit 0", "exit 3", "timed out", "not started", "not run", ...
    std::string message;
    bool failed = false;
};

// The download or compare of one unit, as far as it went.
struct TransferFacts {
    device::OperationKind operation = device::OperationKind::download;
    std::string image;  // the path given
    std::uint32_t image_size = 0;
    std::string image_sha256;
    std::uint32_t pages_done = 0;
    std::uint32_t pages = 0;
};

// What program did to one unit, for the records and the reports.
struct ProgramFacts {
    std::string run_key;
    RunSteps steps;
    std::optional<std::string> id_before;
    std::optional<std::string> id_after;
};

// How one unit ended: the `finished` object, the result line, the board's PASS or FAIL.
struct UnitOutcome {
    Command command = Command::none;
    std::string result;  // a stable name
    int exit_code = EXIT_OK;
    std::string message;
    // The unit as it reported itself last; nullopt when no unit answered.
    std::optional<UnitIdentity> unit;
    std::optional<TransferFacts> transfer;  // download, compare, program
    std::optional<ProgramFacts> program;
    std::uint32_t duration_ms = 0;  // from the unit's first answer (or the start of the wait)

    [[nodiscard]] bool ok() const { return exit_code == EXIT_OK; }
};

// A change the unit answered (set-id, set, and the recipe's ID and settings).
struct SettingAnswer {
    device::Setting setting = device::Setting::unit_id;
    std::uint8_t code = 0;
    std::string text;  // UTF-8
    bool confirmed = false;
};

struct StepEnd {
    RecipeStep step = RecipeStep::download;
    std::string result;  // STEP_SUCCESS, or the failure's stable name
    std::string message;
};

// A row of the station's records was written.
struct RecordWritten {
    std::string run_key;
    bool completed = false;  // false: begun (the unit's run starts)
    std::string result;      // completed: the unit's result
    std::string database;
};

class JobObserver {
  public:
    virtual ~JobObserver() = default;
    virtual void waiting(Waiting what) { (void)what; }
    // A call to the line's database waits for its server to come back (nothing more is sent
    // to the unit meanwhile), since `since` (UTC); then it is back.
    virtual void records_waiting(const std::string& since, const std::string& why) {
        (void)since;
        (void)why;
    }
    virtual void records_back() {}
    // The unit answered and its identity agreed: the job works on it now.
    virtual void unit_found(const UnitIdentity& unit, std::uint32_t baud) {
        (void)unit;
        (void)baud;
    }
    // The unit handled last was found again, not a new one: not worked on twice.
    virtual void unit_left_in_place(const UnitIdentity& unit) { (void)unit; }
    virtual void step_started(RecipeStep step) { (void)step; }
    virtual void id_chosen(const IdChosen& chosen) { (void)chosen; }
    // The ID scheme has used 90 % of its range; `left` IDs remain. Once per run.
    virtual void ids_running_out(const std::string& scheme, std::uint64_t left) {
        (void)scheme;
        (void)left;
    }
    virtual void setting_answered(const SettingAnswer& answer) { (void)answer; }
    virtual void step_finished(const StepEnd& end) { (void)end; }
    virtual void record_written(const RecordWritten& record) { (void)record; }
    virtual void unit_finished(const UnitOutcome& outcome) { (void)outcome; }
    // A unit's hook ended; it may be a unit finished long ago.
    virtual void hook_ended(const HookEnded& hook) { (void)hook; }
};

// Hands every event to every observer, in the order they were added.
class JobObservers final : public JobObserver {
  public:
    void add(JobObserver& observer) { observers_.push_back(&observer); }

    void waiting(Waiting what) override;
    void records_waiting(const std::string& since, const std::string& why) override;
    void records_back() override;
    void unit_found(const UnitIdentity& unit, std::uint32_t baud) override;
    void unit_left_in_place(const UnitIdentity& unit) override;
    void step_started(RecipeStep step) override;
    void id_chosen(const IdChosen& chosen) override;
    void ids_running_out(const std::string& scheme, std::uint64_t left) override;
    void setting_answered(const SettingAnswer& answer) override;
    void step_finished(const StepEnd& end) override;
    void record_written(const RecordWritten& record) override;
    void unit_finished(const UnitOutcome& outcome) override;
    void hook_ended(const HookEnded& hook) override;

  private:
    std::vector<JobObserver*> observers_;
};

}  // namespace vrk::cli
