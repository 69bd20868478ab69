#include "app/cli/board_reporter.h"

#include <cstdio>
#include <utility>

#include "app/cli/text_reporter.h"

namespace vrk::cli {

namespace {

// The board's words while a port waits for room in the hooks' queue.
constexpr const char* HOOKS_WAIT = "waiting for the hooks";
// ... and while a call to the line's database waits for its server.
constexpr const char* DATABASE_WAIT = "waiting for the database";

// Where the port's counters start after the port's column, when the line has room: the
// counters of every port stand one under the other.
constexpr std::size_t STATUS_WIDTH = 52;

std::string pad(std::string text, std::size_t width) {
    const std::size_t shown = text_width(text);
    if (shown < width) text.append(width - shown, ' ');
    return text;
}

std::string serial_text(const UnitIdentity& unit) {
    return unit.version ? std::to_string(unit.version->serial_number) : "?";
}

// A failure's reason with the image's path in it as a piece that may lose its middle: the
// reason's own words stay longer than the folders of the path.
void add_reason(BoardLine& line, const std::string& message,
                const std::optional<TransferFacts>& transfer) {
    std::size_t at = std::string::npos;
    std::size_t length = 0;
    if (transfer && !transfer->image.empty()) {
        at = message.find(transfer->image);
        length = transfer->image.size();
    }
    if (at == std::string::npos) {
        line.add(": " + message, Fit::trim);
        return;
    }
    const std::string before = message.substr(0, at);
    line.add(": " + before, Fit::trim);
    line.add((before.empty() || before.back() == ' ' ? "" : " ") + message.substr(at, length),
             Fit::shorten);
    line.add(message.substr(at + length), Fit::trim);
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
    show(BoardLine("waiting for a unit"));
}

std::string BoardReporter::total_line(const Tally& total) {
    std::string line = "total: " + std::to_string(total.passed) + " passed, " +
                       std::to_string(total.failed()) + " failed";
    if (const auto yield = total.yield_text()) line += ", yield " + *yield + " %";
    return line;
}

void BoardReporter::show(BoardLine status) {
    status_ = std::move(status);
    draw();
}

void BoardReporter::after_result(std::string what) {
    after_ = std::move(what);
    draw();
}

void BoardReporter::draw() {
    BoardLine line(pad(port_, port_width_));
    const BoardLine& shown = result_.empty() ? status_ : result_;
    std::size_t width = 0;
    bool first = true;
    for (const BoardPiece& piece : shown.pieces()) {
        line.add((first ? "  " : "") + piece.text, piece.fit);
        width += text_width(piece.text);
        first = false;
    }
    if (!result_.empty() && !after_.empty()) {
        // Added to the result, never in its place; on a narrow terminal the result, its ID and
        // serial number come first.
        line.add(" - " + after_, Fit::drop);
        width += 3 + text_width(after_);
    }
    const Tally mine = tally_.of_port(row_);
    line.add(std::string(width + 2 < STATUS_WIDTH ? STATUS_WIDTH - width : 2, ' ') +
                 std::to_string(mine.passed) + " passed, " + std::to_string(mine.failed()) +
                 " failed",
             Fit::drop);
    output_.board_row(row_, std::move(line));
}

void BoardReporter::link_up(std::uint32_t baud) {
    if (!unit_in_hand_) show(BoardLine("linking at " + std::to_string(baud) + " baud"));
}

void BoardReporter::waiting(Waiting what) {
    unit_in_hand_ = false;
    switch (what) {
        case Waiting::port:
            if (!result_.empty()) return after_result("waiting for the port");
            show(BoardLine("waiting for the port"));
            return;
        case Waiting::next_unit:
            // The result stays up until the next unit comes: the operator reads it there.
            if (!result_.empty()) {
                if (after_ == HOOKS_WAIT) after_result("");
                return;
            }
            show(BoardLine("waiting for a unit"));
            return;
        case Waiting::hooks:
            if (!result_.empty()) return after_result(HOOKS_WAIT);
            show(BoardLine(HOOKS_WAIT));
            return;
    }
}

void BoardReporter::unit_found(const UnitIdentity& unit, std::uint32_t) {
    unit_in_hand_ = true;
    id_.clear();
    retry_page_ = -1;
    result_ = {};
    run_key_.clear();
    after_.clear();
    show(BoardLine("unit " + serial_text(unit) + " " + unit.id_utf8));
}

void BoardReporter::records_waiting(const std::string& since, const std::string&) {
    // The port's thread waits inside the store: its line says so until the server answers,
    // then shows again what it showed. The server's words are in the text and JSON output.
    if (!result_.empty()) return after_result(DATABASE_WAIT);
    before_wait_ = status_;
    BoardLine line(DATABASE_WAIT);
    // "2025-03-01T12:30:15.000Z": the time of day, in UTC as the records have it.
    if (since.size() >= 19) line.add(" since " + since.substr(11, 8) + " UTC", Fit::drop);
    show(std::move(line));
}

void BoardReporter::records_back() {
    if (!result_.empty()) {
        if (after_ == DATABASE_WAIT) after_result("");
        return;
    }
    if (before_wait_) show(*std::exchange(before_wait_, std::nullopt));
}

void BoardReporter::unit_left_in_place(const UnitIdentity& unit) {
    unit_in_hand_ = false;
    // The unit done last is still in the socket: its result stays for the operator to read.
    if (!result_.empty()) return after_result("remove unit");
    show(BoardLine("remove unit " + serial_text(unit) + " (done already)"));
}

void BoardReporter::step_started(RecipeStep step) {
    switch (step) {
        case RecipeStep::download:
            show(BoardLine("erasing"));
            return;
        case RecipeStep::id:
            show(BoardLine(id_.empty() ? "setting the ID" : "setting ID " + id_));
            return;
        case RecipeStep::settings:
            show(BoardLine("setting the device settings"));
            return;
        case RecipeStep::then:
            show(BoardLine(then_ == FinalMode::qb7 ? "entering QB7 mode"
                                                   : "starting the application"));
            return;
    }
}

void BoardReporter::id_chosen(const IdChosen& chosen) {
    id_ = chosen.id;
}

void BoardReporter::ids_running_out(const std::string& scheme, std::uint64_t left) {
    // Shown beside the unit's result, where the operator looks when the unit is done.
    ids_note_ = ids_running_out_text(scheme, left);
}

void BoardReporter::operation_started(const device::OperationStart& start) {
    phase_ = start.phase;
    estimate_.start(clock_.tick_ms(), 0, start.pages);
    retry_page_ = -1;
    draw_transfer(true);
}

void BoardReporter::page_sent(const device::PageSent& page) {
    if (!page.retry || page.page == retry_page_) return;
    retry_page_ = page.page;
    // The page as the window and the text output number it (from 1; pages go down), the
    // count as the progress has it.
    BoardLine line("retrying page " + std::to_string(page.page + 1));
    line.add(" (" + std::to_string(estimate_.pages_done()) + " of " +
                 std::to_string(estimate_.pages()) + " done)",
             Fit::drop);
    show(std::move(line));
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
    BoardLine line{std::string(device::phase_name(phase_))};
    char part[96];
    if (phase_ != device::Phase::erasing) {
        std::snprintf(part, sizeof part, " %3u %%", estimate_.percent());
        line.add(part);
        std::snprintf(part, sizeof part, " %u/%u pages", estimate_.pages_done(), estimate_.pages());
        line.add(part, Fit::drop);
    }
    // What gives way first on a narrow terminal comes last: the rate, then the time left.
    if (const auto left = estimate_.ms_left()) {
        char time[16];
        app::format_duration(*left, time, sizeof time);
        line.add(" " + std::string(time) + " left", Fit::drop);
    }
    if (const auto rate = estimate_.pages_per_second()) {
        std::snprintf(part, sizeof part, " %.1f KiB/s", *rate * 256 / 1024);
        line.add(part, Fit::drop);
    }
    show(std::move(line));
}

void BoardReporter::unit_finished(const UnitOutcome& outcome) {
    unit_in_hand_ = false;
    after_.clear();
    BoardLine result;
    std::string id;
    if (outcome.unit && outcome.unit->id) id = " " + outcome.unit->id_utf8;
    if (outcome.ok()) {
        if (outcome.program && outcome.program->id_after) id = " " + *outcome.program->id_after;
        result.add("PASS" + id);
        // The serial number stays on a narrow terminal; the word before it goes.
        if (outcome.unit && outcome.unit->version) {
            result.add(" serial", Fit::drop);
            result.add(" " + serial_text(*outcome.unit));
        }
        result.add(" " + seconds_text(outcome.duration_ms), Fit::drop);
    } else {
        result.add("FAIL" + id + " " + outcome.result);
        add_reason(result, outcome.message, outcome.transfer);
        output_.bell();
    }
    result_ = std::move(result);
    // Told once per run: beside the result of the unit that found it, until the next unit.
    if (!ids_note_.empty()) after_ = std::exchange(ids_note_, std::string());
    run_key_ = outcome.program ? outcome.program->run_key : std::string();
    draw();
    output_.board_total(BoardLine(total_line(tally_.total())));
}

void BoardReporter::hook_ended(const HookEnded& hook) {
    // Beside the unit it belongs to, while that unit's result is up; a hook that ends after
    // the next unit was found is in the records only.
    if (run_key_.empty() || hook.run_key != run_key_ || result_.empty()) return;
    result_.add(" hook " + hook.status, hook.failed ? Fit::keep : Fit::drop);
    run_key_.clear();
    draw();
}

}  // namespace vrk::cli
