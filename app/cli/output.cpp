#include "app/cli/output.h"

namespace vrk::cli {

Output::Output(OutputSettings settings, std::FILE* out, std::FILE* err)
    : settings_(settings), out_(out), err_(err), rows_(settings.board_rows + 1) {}

void Output::write_locked(std::FILE* stream, std::string_view lines) {
    if (lines.empty()) return;
    // Standard output may be the same terminal: the board goes first, and comes back under the
    // new lines.
    follow_width_locked();
    erase_board_locked();
    std::fwrite(lines.data(), 1, lines.size(), stream);
    if (lines.back() != '\n') std::fputc('\n', stream);
    std::fflush(stream);
    draw_board_locked();
}

void Output::json(std::string_view object) {
    if (!settings_.json) return;
    std::lock_guard lock(mutex_);
    write_locked(out_, object);
}

void Output::result(std::string_view lines) {
    if (settings_.json) return;
    std::lock_guard lock(mutex_);
    write_locked(out_, lines);
}

void Output::note(int level, std::string_view lines) {
    if (settings_.verbosity < level) return;
    std::lock_guard lock(mutex_);
    write_locked(err_, lines);
}

void Output::error(std::string_view lines) {
    std::lock_guard lock(mutex_);
    write_locked(err_, lines);
}

void Output::board_row(std::size_t row, BoardLine line) {
    if (row < settings_.board_rows) set_row(row, std::move(line));
}

void Output::board_total(BoardLine line) {
    set_row(settings_.board_rows, std::move(line));
}

void Output::set_row(std::size_t row, BoardLine line) {
    if (!settings_.board) return;
    std::lock_guard lock(mutex_);
    if (board_ended_) return;
    follow_width_locked();
    erase_board_locked();
    rows_[row] = std::move(line);
    draw_board_locked();
}

void Output::end_board() {
    if (!settings_.board) return;
    std::lock_guard lock(mutex_);
    if (board_ended_) return;
    if (follow_width_locked()) {
        erase_board_locked();
        draw_board_locked();
    }
    // What is on the screen now is the run's last word on every port: it stays.
    board_ended_ = true;
    rows_drawn_ = 0;
}

bool Output::follow_width_locked() {
    if (!settings_.columns_now) return false;
    const std::optional<int> now = settings_.columns_now();
    if (!now || *now <= 0 || *now == settings_.columns) return false;
    // A terminal made narrower may have re-wrapped the board's lines into more rows than were
    // written (or cut them: which, it does not say), so going up by the lines written could
    // land inside the board or above it. The new drawing starts below the old one instead.
    // Made wider, no line wraps: the old drawing is erased by its own count.
    if (*now < settings_.columns) rows_drawn_ = 0;
    settings_.columns = *now;
    return true;
}

void Output::bell() {
    if (!settings_.board) return;
    std::lock_guard lock(mutex_);
    std::fputc('\a', err_);
    std::fflush(err_);
}

void Output::erase_board_locked() {
    if (rows_drawn_ == 0 || board_ended_) return;
    // Up to the first line of the board, then clear to the end of the screen.
    std::fprintf(err_, "\x1b[%zuF\x1b[J", rows_drawn_);
    rows_drawn_ = 0;
    std::fflush(err_);
}

void Output::draw_board_locked() {
    if (!settings_.board || board_ended_) return;
    // One column short of the width: a line that fills the last column makes some terminals
    // wrap at once, and the count of lines to go up by would be wrong.
    const auto width = static_cast<std::size_t>(settings_.columns > 1 ? settings_.columns - 1 : 1);
    for (const BoardLine& line : rows_) {
        if (line.empty()) continue;
        const std::string text = fit_line(line, width);
        std::fwrite(text.data(), 1, text.size(), err_);
        std::fputc('\n', err_);
        ++rows_drawn_;
    }
    std::fflush(err_);
}

}  // namespace vrk::cli
