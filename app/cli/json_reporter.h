// The --json reporter of one port: one JSON object per event on standard output, as the README
// lists them. Observes the engine (the line) and the job's flow (its decisions).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/cli/common/json_line.h"
#include "app/cli/job_events.h"
#include "app/cli/output.h"
#include "device/events.h"

namespace vrk::cli {

class JsonReporter final : public device::EngineObserver, public JobObserver {
  public:
    JsonReporter(Output& output, std::string port);

    // device::EngineObserver
    void link_up(std::uint32_t baud) override;
    void link_lost(link::LinkLoss why) override;
    void mode_reported(device::UnitMode mode) override;
    void operation_started(const device::OperationStart& start) override;
    void page_sent(const device::PageSent& page) override;
    void progress(const device::Progress& progress) override;

    // JobObserver
    void waiting(Waiting what) override;
    void records_waiting(const std::string& since, const std::string& why) override;
    void records_back() override;
    void unit_found(const UnitIdentity& unit, std::uint32_t baud) override;
    void unit_left_in_place(const UnitIdentity& unit) override;
    void id_chosen(const IdChosen& chosen) override;
    void ids_running_out(const std::string& scheme, std::uint64_t left) override;
    void setting_answered(const SettingAnswer& answer) override;
    void step_finished(const StepEnd& end) override;
    void record_written(const RecordWritten& record) override;
    void unit_finished(const UnitOutcome& outcome) override;

  private:
    [[nodiscard]] JsonLine event(std::string_view name) const;

    Output& output_;
    std::string port_;
    bool linked_ = false;
    // The last progress told: at most one object per percent of a phase.
    device::Phase progress_phase_ = device::Phase::idle;
    int progress_percent_ = -1;
};

// The version of the JSON objects' layout: a field's meaning never changes within a version.
inline constexpr int JSON_SCHEMA = 1;

// The objects every reporter and main() write: {"schema", "event", "port", "time", ...}; a
// null port before any port is used.
[[nodiscard]] JsonLine json_event(std::string_view name, std::string_view port);
[[nodiscard]] JsonLine json_event_without_port(std::string_view name);
// The `error` object of a run that ends before any port is used (a usage error, a bad image).
[[nodiscard]] std::string error_json(Result result, std::string_view message);
// {"code", "text"} of a device setting.
[[nodiscard]] std::string setting_json(const SettingValue& value);

}  // namespace vrk::cli
