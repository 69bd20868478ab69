// The main window's share of the engine's events: the status line shows their texts, the
// progress bar under it follows the pages of a running download or compare (a download with
// verify runs the bar over both passes, and the text beside it counts the pages of the pass
// that is running), and the unit's mode
// reports become the window's two message boxes. The command-line tool has consumers of its
// own; the window's are what a person at the bench sees.
#pragma once

#include <string>

#include "app/progress_estimate.h"
#include "device/events.h"
#include "platform/controls_model.h"
#include "platform/host_services.h"
#include "platform/tick_clock.h"

namespace vrk::app {

class WindowEvents final : public device::EngineObserver {
  public:
    WindowEvents(platform::ControlsModel& window, platform::TickClock& clock);

    void status_changed(std::string_view text) override;
    void operation_started(const device::OperationStart& start) override;
    void progress(const device::Progress& progress) override;
    void operation_finished(const device::OperationEnd& end) override;

  private:
    void draw_progress();
    // Where the running pass begins on the bar: the verify of a download with verify starts
    // half-way.
    [[nodiscard]] std::uint32_t bar_start() const;

    platform::ControlsModel& window_;
    platform::TickClock& clock_;
    // Measured over the bar: both passes of a download with verify (0 to twice the pages), so
    // the time left is that of the whole operation.
    ProgressEstimate estimate_;
    device::Phase phase_ = device::Phase::idle;
    std::uint32_t passes_ = 1;      // 2 for a download with verify
    std::uint32_t pass_pages_ = 0;  // pages of one pass, which the text counts
    std::string text_;              // reused: a page costs no allocation
};

// The unit's mode reports as the window asks them.
class WindowPrompts final : public device::UnitPrompts {
  public:
    explicit WindowPrompts(platform::HostServices& host) : host_(host) {}
    void qb7_mode() override;
    [[nodiscard]] bool exit_when_application_runs() override;

  private:
    platform::HostServices& host_;
};

inline constexpr const char* QB7_MODE_TEXT = "The VRK is in QB7 mode.";
inline constexpr const char* APPLICATION_RUNNING_TEXT =
    "The VRK is running the application.\nExit VRKCFG?";
inline constexpr const char* CONFIRMATION_CAPTION = "Confirmation";

}  // namespace vrk::app
