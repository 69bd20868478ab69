#include "app/cli/text_reporter.h"

#include <cstdio>

#include "app/cli/job_plan.h"
#include "platform/hex_text.h"

namespace vrk::cli {

namespace {

std::string value_text(const SettingValue& value) {
    return (value.text.empty() ? std::string("(not in the list)") : value.text) + " (" +
           platform::hex_code(value.code) + ")";
}

}  // namespace

std::string seconds_text(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

TextReporter::TextReporter(Output& output, Command command, std::string port, std::size_t row,
                           platform::TickClock& clock)
    : output_(output), port_(std::move(port)), row_(row), clock_(clock), command_(command) {}

std::string TextReporter::label(const UnitOutcome& outcome) const {
    if (!outcome.unit || !outcome.unit->id) return port_;
    const std::string serial =
        outcome.unit->version ? std::to_string(outcome.unit->version->serial_number) : "?";
    return port_ + ": " + outcome.unit->id_utf8 + " (serial " + serial + ")";
}

void TextReporter::link_up(std::uint32_t baud) {
    linked_ = true;
    output_.note(2, port_ + ": a unit answers at " + std::to_string(baud) + " baud");
}

void TextReporter::link_lost(link::LinkLoss why) {
    const bool was_linked = linked_;
    linked_ = false;
    if (!was_linked && why != link::LinkLoss::port_lost) return;  // the hunt goes on
    output_.note(2, port_ + ": the link is lost (" + std::string(device::loss_name(why)) + ")");
}

void TextReporter::operation_started(const device::OperationStart& start) {
    phase_ = start.phase;
    estimate_.start(clock_.tick_ms(), 0, start.pages);
    draw_bar(true);
}

void TextReporter::page_sent(const device::PageSent& page) {
    if (!page.retry) return;
    output_.note(1, port_ + ": page " + std::to_string(page.page) + " sent again (" +
                        std::string(device::phase_name(page.phase)) + ")");
}

void TextReporter::progress(const device::Progress& p) {
    const std::uint32_t t = clock_.tick_ms();
    if (p.phase != phase_ || p.pages_done < estimate_.pages_done()) {
        // A new phase (the verify after programming) is timed on its own.
        phase_ = p.phase;
        estimate_.start(t, p.pages_done, p.pages);
    } else {
        estimate_.update(t, p.pages_done);
    }
    draw_bar(p.pages_done == p.pages);
}

void TextReporter::draw_bar(bool force) {
    const auto& settings = output_.settings();
    if (!settings.bars || settings.json || settings.verbosity == 0) return;
    const std::uint32_t t = clock_.tick_ms();
    if (!force && t - bar_drawn_at_ < BAR_PERIOD_MS) return;
    bar_drawn_at_ = t;
    constexpr int BAR_WIDTH = 24;
    const unsigned percent = estimate_.percent();
    std::string bar = port_ + " " + std::string(device::phase_name(phase_)) + " [";
    const int filled = static_cast<int>(percent) * BAR_WIDTH / 100;
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(BAR_WIDTH - filled), '.');
    char tail[96];
    std::snprintf(tail, sizeof tail, "] %3u%% %u/%u pages", percent, estimate_.pages_done(),
                  estimate_.pages());
    bar += tail;
    if (const auto rate = estimate_.pages_per_second()) {
        std::snprintf(tail, sizeof tail, " %.1f KiB/s", *rate * 256 / 1024);
        bar += tail;
    }
    if (const auto left = estimate_.ms_left()) {
        char time[16];
        app::format_duration(*left, time, sizeof time);
        bar += " ";
        bar += time;
        bar += " left";
    }
    output_.bar(row_, bar);
}

void TextReporter::status_changed(std::string_view text) {
    if (!text.empty()) output_.note(2, port_ + ": " + std::string(text));
}

void TextReporter::waiting(Waiting what) {
    if (what == Waiting::next_unit)
        output_.note(1, port_ + ": waiting for the next unit (Ctrl+C ends)");
}

void TextReporter::unit_found(const UnitIdentity& unit, std::uint32_t baud) {
    if (command_ == Command::info) return;
    const std::string serial = unit.version ? std::to_string(unit.version->serial_number) : "?";
    const std::string version = unit.version ? unit.version->version : "?";
    output_.note(1, port_ + ": " + unit.id_utf8 + " (serial " + serial + "): firmware " + version +
                        ", linked at " + std::to_string(baud) + " baud");
}

void TextReporter::unit_finished(const UnitOutcome& outcome) {
    output_.bar(row_, "");
    if (!outcome.ok()) {
        output_.error(label(outcome) + ": " + std::string(command_name(outcome.command)) +
                      " failed: " + outcome.message);
        return;
    }
    if (outcome.command == Command::info && outcome.unit) {
        const UnitIdentity& u = *outcome.unit;
        const auto row = [](const char* name, const std::string& value) {
            return std::string(name) + value + "\n";
        };
        const VersionFacts v = u.version.value_or(VersionFacts{});
        output_.result(row("Port:            ", port_) + row("ID:              ", u.id_utf8) +
                       row("Firmware:        ", v.version) +
                       row("Flash:           ", v.flash_type) +
                       row("Serial number:   ", std::to_string(v.serial_number)) +
                       row("Crystal:         ", v.crystal_hz ? v.crystal : "-") +
                       row("GPS:             ", value_text(u.gps)) +
                       row("Internal device: ", value_text(u.internal)) +
                       row("External device: ", value_text(u.external)));
        return;
    }
    if (outcome.transfer &&
        (outcome.command == Command::download || outcome.command == Command::compare)) {
        const std::string what =
            outcome.command == Command::compare ? "matches"
            : outcome.transfer->operation == device::OperationKind::download_and_verify
                ? "downloaded and verified"
                : "downloaded (not verified)";
        output_.result(label(outcome) + ": " + outcome.transfer->image + " " + what + " (" +
                       std::to_string(outcome.transfer->pages) + " pages, " +
                       seconds_text(outcome.duration_ms) + ")");
        return;
    }
    output_.result(label(outcome) + ": " + outcome.message);
}

void TextReporter::box(std::string_view text) {
    output_.error(port_ + ": " + std::string(text));
}

void TextReporter::clear() {
    output_.bar(row_, "");
}

}  // namespace vrk::cli
