#include "app/cli/board_reporter.h"

#include <cstdio>

#include "app/cli/text_reporter.h"

namespace vrk::cli {

namespace {

constexpr std::size_t STATUS_WIDTH = 52;

std::string pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

BoardReporter::BoardReporter(Output& output, FinalMode then, std::string port, std::size_t row,
                             std::size_t port_width, platform::TickClock& clock,
                             const LineTally& line)
    : output_(output),
      then_(then),
      port_(std::move(port)),
      row_(row),
      port_width_(port_width),
      clock_(clock),
      tally_(line) {
    show("waiting for a unit");
}

std::string BoardReporter::total_line(const Tally& total) {
    return "total: " + std::to_string(total.passed) + " passed, " + std::to_string(total.failed()) +
           " failed, yield " + total.yield_text() + " %";
}

void BoardReporter::show(std::string status) {
    status_ = std::move(status);
    const Tally mine = tally_.of_port(row_);
    const std::string line = pad(port_, port_width_) + "  " + pad(status_, STATUS_WIDTH) + "  " +
                             std::to_string(mine.passed) + " passed, " +
                             std::to_string(mine.failed()) + " failed";
    output_.board_row(row_, line);
}

void BoardReporter::link_up(std::uint32_t baud) {
    if (!unit_in_hand_) show("linking at " + std::to_string(baud) + " baud");
}

void BoardReporter::waiting(Waiting what) {
    unit_in_hand_ = false;
    switch (what) {
        case Waiting::port:
            show("waiting for the port");
            return;
        case Waiting::next_unit:
            // The result stays up until the next unit comes: the operator reads it there.
            show(status_ + ", next unit");
            return;
    }
}

void BoardReporter::unit_found(const UnitIdentity& unit, std::uint32_t) {
    unit_in_hand_ = true;
    id_.clear();
    retry_page_ = -1;
    show("unit " + (unit.version ? std::to_string(unit.version->serial_number) : "?") + " " +
         unit.id_utf8);
}

void BoardReporter::unit_left_in_place(const UnitIdentity& unit) {
    unit_in_hand_ = false;
    show("remove unit " +
         (unit.version ? std::to_string(unit.version->serial_number) : std::string()) +
         " (done already)");
}

void BoardReporter::step_started(RecipeStep step) {
    switch (step) {
        case RecipeStep::download:
            show("erasing");
            return;
        case RecipeStep::id:
            show(id_.empty() ? "setting the ID" : "setting ID " + id_);
            return;
        case RecipeStep::settings:
            show("setting the device settings");
            return;
        case RecipeStep::then:
            show(then_ == FinalMode::qb7 ? "entering QB7 mode" : "starting the application");
            return;
    }
}

void BoardReporter::id_chosen(const IdChosen& chosen) {
    id_ = chosen.id;
}

void BoardReporter::operation_started(const device::OperationStart& start) {
    phase_ = start.phase;
    estimate_.start(clock_.tick_ms(), 0, start.pages);
    retry_page_ = -1;
    draw_transfer(true);
}

void BoardReporter::page_sent(const device::PageSent& page) {
    if (!page.retry) return;
    if (page.page != retry_page_) {
        retry_page_ = page.page;
        retries_ = 0;
    }
    ++retries_;
    // As the window numbers its pages: from 1.
    show("retrying page " + std::to_string(page.page + 1) + " (" + std::to_string(retries_) + ")");
}

void BoardReporter::progress(const device::Progress& p) {
    const std::uint32_t t = clock_.tick_ms();
    if (p.phase != phase_ || p.pages_done < estimate_.pages_done()) {
        // A new phase (the verify after programming) is timed on its own.
        phase_ = p.phase;
        estimate_.start(t, p.pages_done, p.pages);
    } else {
        estimate_.update(t, p.pages_done);
    }
    const bool moved = retry_page_ >= 0;
    retry_page_ = -1;
    draw_transfer(moved || p.pages_done == p.pages);
}

void BoardReporter::draw_transfer(bool force) {
    const std::uint32_t t = clock_.tick_ms();
    if (!force && t - drawn_at_ < BOARD_PERIOD_MS) return;
    drawn_at_ = t;
    std::string text(device::phase_name(phase_));
    char part[96];
    if (phase_ != device::Phase::erasing) {
        std::snprintf(part, sizeof part, " %3u %% %u/%u pages", estimate_.percent(),
                      estimate_.pages_done(), estimate_.pages());
        text += part;
    }
    if (const auto rate = estimate_.pages_per_second()) {
        std::snprintf(part, sizeof part, " %.1f KiB/s", *rate * 256 / 1024);
        text += part;
    }
    if (const auto left = estimate_.ms_left()) {
        char time[16];
        app::format_duration(*left, time, sizeof time);
        text += " ";
        text += time;
        text += " left";
    }
    show(text);
}

void BoardReporter::unit_finished(const UnitOutcome& outcome) {
    unit_in_hand_ = false;
    if (outcome.ok()) {
        const std::string id = outcome.unit ? outcome.unit->id_utf8 : std::string();
        show("PASS " + id + " (" + seconds_text(outcome.duration_ms) + ")");
    } else {
        show("FAIL " + outcome.result + ": " + outcome.message);
        output_.bell();
    }
    output_.board_total(total_line(tally_.total()));
}

}  // namespace vrk::cli
