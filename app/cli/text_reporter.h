// The reporter of one port for a person or a script reading text: the result of every unit on
// standard output, passed or failed (the info block, a line per unit), and notes on standard
// error as the verbosity asks (on a terminal the board shows most of them instead). Observes
// the engine and the job's flow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/cli/job_events.h"
#include "app/cli/output.h"
#include "device/events.h"
#include "platform/tick_clock.h"

namespace vrk::cli {

class TextReporter final : public device::EngineObserver, public JobObserver {
  public:
    TextReporter(Output& output, Command command, std::string port);

    // device::EngineObserver
    void link_up(std::uint32_t baud) override;
    void link_lost(link::LinkLoss why) override;
    void page_sent(const device::PageSent& page) override;
    void progress(const device::Progress& progress) override;
    void status_changed(std::string_view text) override;

    // JobObserver
    void waiting(Waiting what) override;
    void records_waiting(const std::string& since, const std::string& why) override;
    void records_back() override;
    void unit_found(const UnitIdentity& unit, std::uint32_t baud) override;
    void unit_left_in_place(const UnitIdentity& unit) override;
    void id_chosen(const IdChosen& chosen) override;
    void ids_running_out(const std::string& scheme, std::uint64_t left) override;
    void unit_finished(const UnitOutcome& outcome) override;

    // A box of the engine, as a line on standard error.
    void box(std::string_view text);

  private:
    // A note the board shows already, when there is one.
    void note(std::string_view text);
    // "PORT: ID (serial N)"; only the port for an outcome without a unit.
    [[nodiscard]] std::string label(const UnitIdentity& unit) const;
    [[nodiscard]] std::string label(const UnitOutcome& outcome) const;

    Output& output_;
    std::string port_;
    Command command_;
    bool linked_ = false;
    std::int32_t retry_page_ = -1;  // told once per page: the board counts the retries
};

// "1.5 s"
[[nodiscard]] std::string seconds_text(std::uint32_t ms);
// "the ID scheme L1{:05} is running out: 99 IDs left"
[[nodiscard]] std::string ids_running_out_text(const std::string& scheme, std::uint64_t left);

}  // namespace vrk::cli
