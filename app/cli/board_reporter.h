// The operator's board, one port's line of it: on a terminal, what the port is doing now
// (waiting, linking, programming 43 %, verifying), redrawn in place, with the port's counters;
// and the total line under all the ports. A unit's result (PASS with its ID and serial number,
// FAIL with the reason) stays on its line until the next unit is found there: the operator
// labels or sorts the unit from it, also while it is still in the socket ("remove unit" is
// added then). A unit that stops answering shows "retrying page N (k of n done)".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/board_line.h"
#include "app/cli/job_events.h"
#include "app/cli/line_tally.h"
#include "app/cli/output.h"
#include "app/progress_estimate.h"
#include "device/events.h"
#include "platform/tick_clock.h"

namespace vrk::cli {

// A transfer's line is redrawn at most this often.
inline constexpr std::uint32_t BOARD_PERIOD_MS = 100;

class BoardReporter final : public device::EngineObserver, public JobObserver {
  public:
    // `row`: the port's line; `port_width`: the width of the ports' column.
    BoardReporter(Output& output, FinalMode then, std::string port, std::size_t row,
                  std::size_t port_width, platform::TickClock& clock, const LineTally& line);

    // device::EngineObserver
    void link_up(std::uint32_t baud) override;
    void operation_started(const device::OperationStart& start) override;
    void page_sent(const device::PageSent& page) override;
    void progress(const device::Progress& progress) override;

    // JobObserver
    void waiting(Waiting what) override;
    void records_waiting(const std::string& since, const std::string& why) override;
    void records_back() override;
    void unit_found(const UnitIdentity& unit, std::uint32_t baud) override;
    void unit_left_in_place(const UnitIdentity& unit) override;
    void step_started(RecipeStep step) override;
    void id_chosen(const IdChosen& chosen) override;
    void ids_running_out(const std::string& scheme, std::uint64_t left) override;
    void unit_finished(const UnitOutcome& outcome) override;
    void hook_ended(const HookEnded& hook) override;

    // The total line of the board, from the tally.
    [[nodiscard]] static std::string total_line(const Tally& total);

  private:
    // What the port does now; shown unless a result is up.
    void show(BoardLine status);
    // What comes after the result that is up ("next unit", "remove unit").
    void after_result(std::string what);
    void draw();
    void draw_transfer(bool force);

    Output& output_;
    FinalMode then_;
    std::string port_;
    std::size_t row_;
    std::size_t port_width_;
    platform::TickClock& clock_;
    const LineTally& tally_;

    BoardLine status_;
    std::optional<BoardLine> before_wait_;  // shown again once the database is back
    BoardLine result_;  // the last unit's PASS or FAIL, until the next unit is found
    std::string after_;
    std::string ids_note_;  // the ID scheme running out: beside this port's next result
    bool unit_in_hand_ = false;
    std::string id_;  // the ID the unit gets, once chosen
    std::string run_key_;  // the row of the result that is up, for its hook's outcome

    device::Phase phase_ = device::Phase::idle;
    app::ProgressEstimate estimate_;
    std::uint32_t drawn_at_ = 0;
    std::int32_t retry_page_ = -1;  // the page being sent again
};

}  // namespace vrk::cli
