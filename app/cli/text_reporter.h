// The reporter of one port for a person or a script reading text: the result of every unit on
// standard output (the info block, a line per unit), notes on standard error as the verbosity
// asks, and on a terminal the port's progress bar. Observes the engine and the job's flow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/cli/job_events.h"
#include "app/cli/output.h"
#include "app/progress_estimate.h"
#include "device/events.h"
#include "platform/tick_clock.h"

namespace vrk::cli {

// The progress bar is redrawn at most this often.
inline constexpr std::uint32_t BAR_PERIOD_MS = 100;

class TextReporter final : public device::EngineObserver, public JobObserver {
  public:
    // `row` is the port's line among the bars.
    TextReporter(Output& output, Command command, std::string port, std::size_t row,
                 platform::TickClock& clock);

    // device::EngineObserver
    void link_up(std::uint32_t baud) override;
    void link_lost(link::LinkLoss why) override;
    void operation_started(const device::OperationStart& start) override;
    void page_sent(const device::PageSent& page) override;
    void progress(const device::Progress& progress) override;
    void status_changed(std::string_view text) override;

    // JobObserver
    void waiting(Waiting what) override;
    void unit_found(const UnitIdentity& unit, std::uint32_t baud) override;
    void unit_finished(const UnitOutcome& outcome) override;

    // A box of the engine, as a line on standard error.
    void box(std::string_view text);
    // The bar's line goes.
    void clear();

  private:
    void draw_bar(bool force);
    [[nodiscard]] std::string label(const UnitOutcome& outcome) const;

    Output& output_;
    std::string port_;
    std::size_t row_;
    platform::TickClock& clock_;
    Command command_;
    bool linked_ = false;

    device::Phase phase_ = device::Phase::idle;
    app::ProgressEstimate estimate_;
    std::uint32_t bar_drawn_at_ = 0;
};

// "1.5 s"
[[nodiscard]] std::string seconds_text(std::uint32_t ms);

}  // namespace vrk::cli
