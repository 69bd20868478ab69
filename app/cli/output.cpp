#include "app/cli/output.h"

namespace vrk::cli {

Output::Output(OutputSettings settings, std::FILE* out, std::FILE* err)
    : settings_(settings), out_(out), err_(err), rows_(settings.board_rows + 1) {}

void Output::write_locked(std::FILE* stream, std::string_view lines) {
    if (lines.empty()) return;
    // Standard output may be the same terminal: the board goes first, and comes back under the
    // new lines.
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

void Output::board_row(std::size_t row, std::string_view text) {
    if (row < settings_.board_rows) set_row(row, text);
}

void Output::board_total(std::string_view text) {
    set_row(settings_.board_rows, text);
}

void Output::set_row(std::size_t row, std::string_view text) {
    if (!settings_.board) return;
    std::lock_guard lock(mutex_);
    erase_board_locked();
    rows_[row].assign(text);
    // Cut to the terminal's width: a wrapped line would break the erase that moves up by lines.
    const auto width = static_cast<std::size_t>(settings_.columns > 1 ? settings_.columns - 1 : 1);
    if (rows_[row].size() > width) rows_[row].resize(width);
    draw_board_locked();
}

void Output::bell() {
    if (!settings_.board) return;
    std::lock_guard lock(mutex_);
    std::fputc('\a', err_);
    std::fflush(err_);
}

void Output::erase_board_locked() {
    if (rows_drawn_ == 0) return;
    // Up to the first line of the board, then clear to the end of the screen.
    std::fprintf(err_, "\x1b[%zuF\x1b[J", rows_drawn_);
    rows_drawn_ = 0;
    std::fflush(err_);
}

void Output::draw_board_locked() {
    if (!settings_.board) return;
    for (const std::string& text : rows_) {
        if (text.empty()) continue;
        std::fwrite(text.data(), 1, text.size(), err_);
        std::fputc('\n', err_);
        ++rows_drawn_;
    }
    std::fflush(err_);
}

}  // namespace vrk::cli
