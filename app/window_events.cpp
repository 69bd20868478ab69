#include "app/window_events.h"

#include <array>
#include <cstdio>

#include "platform/control_ids.h"

namespace vrk::app {

namespace {

constexpr std::size_t PROGRESS_TEXT_SIZE = 64;

}  // namespace

WindowEvents::WindowEvents(platform::ControlsModel& window, platform::TickClock& clock)
    : window_(window), clock_(clock) {
    // The progress line is rewritten with every page: room for its longest form now.
    text_.reserve(PROGRESS_TEXT_SIZE);
    window_.reserve_text(ids::PROGRESS_TEXT, PROGRESS_TEXT_SIZE);
}

void WindowEvents::status_changed(std::string_view text) {
    window_.set_text(ids::STATUS, text);
}

void WindowEvents::operation_started(const device::OperationStart& start) {
    phase_ = start.phase;
    passes_ = start.kind == device::OperationKind::download_and_verify ? 2 : 1;
    pass_pages_ = start.pages;
    // A late reply may take up a download with verify in its second pass.
    estimate_.start(clock_.tick_ms(), bar_start(), passes_ * pass_pages_);
    window_.show(ids::PROGRESS, true);
    window_.show(ids::PROGRESS_TEXT, true);
    draw_progress();
}

void WindowEvents::progress(const device::Progress& progress) {
    // A new phase (a verify after the programming) is timed on its own: its pages go at
    // another rate.
    const bool new_phase = progress.phase != phase_;
    phase_ = progress.phase;
    pass_pages_ = progress.pages;
    const std::uint32_t position = bar_start() + progress.pages_done;
    if (new_phase || position < estimate_.pages_done()) {
        estimate_.start(clock_.tick_ms(), position, passes_ * pass_pages_);
    } else {
        estimate_.update(clock_.tick_ms(), position);
    }
    draw_progress();
}

void WindowEvents::operation_finished(const device::OperationEnd&) {
    phase_ = device::Phase::idle;
    window_.show(ids::PROGRESS, false);
    window_.show(ids::PROGRESS_TEXT, false);
}

std::uint32_t WindowEvents::bar_start() const {
    return passes_ == 2 && phase_ == device::Phase::verifying ? pass_pages_ : 0;
}

void WindowEvents::draw_progress() {
    window_.set_progress(ids::PROGRESS, estimate_.pages_done(), estimate_.pages());
    const std::uint32_t pass_done = estimate_.pages_done() - bar_start();
    std::array<char, PROGRESS_TEXT_SIZE> buffer{};
    int n = std::snprintf(buffer.data(), buffer.size(), "%u of %u pages", pass_done, pass_pages_);
    if (const auto left = estimate_.ms_left(); left && n > 0) {
        std::array<char, 16> time{};
        format_duration(*left, time.data(), time.size());
        n += std::snprintf(buffer.data() + n, buffer.size() - static_cast<std::size_t>(n),
                           ", %s left", time.data());
    }
    text_.assign(buffer.data());
    window_.set_text(ids::PROGRESS_TEXT, text_);
}

void WindowPrompts::qb7_mode() {
    (void)host_.message_box(QB7_MODE_TEXT, CONFIRMATION_CAPTION, platform::MessageButtons::ok,
                            platform::MessageIcon::none);
}

bool WindowPrompts::exit_when_application_runs() {
    return host_.message_box(APPLICATION_RUNNING_TEXT, CONFIRMATION_CAPTION,
                             platform::MessageButtons::yes_no,
                             platform::MessageIcon::question) == platform::MessageAnswer::yes;
}

}  // namespace vrk::app
