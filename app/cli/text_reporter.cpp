#include "app/cli/text_reporter.h"

#include <cstdio>

#include "app/cli/job_plan.h"

namespace vrk::cli {

std::string seconds_text(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

TextReporter::TextReporter(Output& output, Command command, std::string port)
    : output_(output), port_(std::move(port)), command_(command) {}

void TextReporter::note(std::string_view text) {
    if (!output_.settings().board) output_.note(1, text);
}

std::string TextReporter::label(const UnitIdentity& unit) const {
    const std::string serial = unit.version ? std::to_string(unit.version->serial_number) : "?";
    return port_ + ": " + unit.id_utf8 + " (serial " + serial + ")";
}

std::string TextReporter::label(const UnitOutcome& outcome) const {
    if (!outcome.unit || !outcome.unit->id) return port_;
    return label(*outcome.unit);
}

void TextReporter::link_up(std::uint32_t baud) {
    linked_ = true;
    output_.note(2, port_ + ": a unit answers at " + std::to_string(baud) + " baud");
}

void TextReporter::link_lost(link::LinkLoss why) {
    if (!link_really_lost(linked_, why)) return;
    output_.note(2, port_ + ": the link is lost (" + std::string(device::loss_name(why)) + ")");
}

void TextReporter::page_sent(const device::PageSent& page) {
    // A unit that stops answering gets its page sent again every 2 s: one line says so, not
    // one per retry.
    if (!page.retry || page.page == retry_page_) return;
    retry_page_ = page.page;
    note(port_ + ": retrying page " + std::to_string(page.page + 1) + " (" +
         std::string(device::phase_name(page.phase)) + ")");
}

void TextReporter::progress(const device::Progress&) {
    retry_page_ = -1;
}

void TextReporter::status_changed(std::string_view text) {
    if (!text.empty()) output_.note(2, port_ + ": " + std::string(text));
}

void TextReporter::waiting(Waiting what) {
    if (what == Waiting::next_unit) note(port_ + ": waiting for the next unit (Ctrl+C ends)");
    if (what == Waiting::port) note(port_ + ": waiting for the port to appear (Ctrl+C ends)");
}

void TextReporter::records_waiting(const std::string& since, const std::string& why) {
    note(port_ + ": waiting for the database (away since " + since + "): " + why);
}

void TextReporter::records_back() {
    note(port_ + ": the database answers again");
}

void TextReporter::unit_left_in_place(const UnitIdentity& unit) {
    note(label(unit) + " is done already: remove the unit");
}

void TextReporter::id_chosen(const IdChosen& chosen) {
    // The records are the source of truth: a unit they know gets its ID back, whatever it
    // carries now.
    if (chosen.source == IdSource::records && chosen.id != chosen.id_before)
        note(port_ + ": serial " + std::to_string(chosen.serial_number) + " holds the ID " +
             chosen.id + " in the records; it carries '" + chosen.id_before + "', so " + chosen.id +
             " is set again");
}

std::string ids_running_out_text(const std::string& scheme, std::uint64_t left) {
    return "the ID scheme " + scheme + " is running out: " + std::to_string(left) +
           (left == 1 ? " ID left" : " IDs left");
}

void TextReporter::ids_running_out(const std::string& scheme, std::uint64_t left) {
    note(port_ + ": " + ids_running_out_text(scheme, left));
}

void TextReporter::unit_found(const UnitIdentity& unit, std::uint32_t baud) {
    if (command_ == Command::info) return;
    const std::string version = unit.version ? unit.version->version : "?";
    output_.note(
        1, label(unit) + ": firmware " + version + ", linked at " + std::to_string(baud) + " baud");
}

void TextReporter::unit_finished(const UnitOutcome& outcome) {
    if (!outcome.ok()) {
        // A line per unit on standard output, failed as passed: a shift's log lists them all.
        const std::string line = label(outcome) + ": " +
                                 std::string(command_name(outcome.command)) + " failed (" +
                                 outcome.result + "): " + outcome.message;
        output_.result(line);
        if (!output_.settings().board) output_.error(line);
        return;
    }
    if (outcome.command == Command::program) {
        std::string line = label(outcome) + ": passed";
        if (outcome.program && outcome.program->id_after)
            line += ", ID " + *outcome.program->id_after;
        line += " (" + seconds_text(outcome.duration_ms) + ")";
        output_.result(line);
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

}  // namespace vrk::cli
