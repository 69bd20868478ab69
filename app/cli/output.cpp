#include "app/cli/output.h"

#include <chrono>

namespace vrk::cli {

Output::Output(OutputSettings settings, std::FILE* out, std::FILE* err)
    : settings_(settings), out_(out), err_(err), bars_(settings.bar_rows) {}

void Output::write_locked(std::FILE* stream, std::string_view lines) {
    if (lines.empty()) return;
    // Standard output may be the same terminal: the bars go first, and come back under the
    // new lines.
    erase_bars_locked();
    std::fwrite(lines.data(), 1, lines.size(), stream);
    if (lines.back() != '\n') std::fputc('\n', stream);
    std::fflush(stream);
    draw_bars_locked();
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

void Output::bar(std::size_t row, std::string_view text) {
    if (!settings_.bars || row >= bars_.size()) return;
    std::lock_guard lock(mutex_);
    erase_bars_locked();
    bars_[row].assign(text);
    // Cut to the terminal's width: a wrapped line would break the erase that moves up by lines.
    const auto width = static_cast<std::size_t>(settings_.columns > 1 ? settings_.columns - 1 : 1);
    if (bars_[row].size() > width) bars_[row].resize(width);
    draw_bars_locked();
}

void Output::erase_bars_locked() {
    if (bars_drawn_ == 0) return;
    // Up to the first bar's line, then clear to the end of the screen.
    std::fprintf(err_, "\x1b[%zuF\x1b[J", bars_drawn_);
    bars_drawn_ = 0;
    std::fflush(err_);
}

void Output::draw_bars_locked() {
    if (!settings_.bars) return;
    for (const std::string& text : bars_) {
        if (text.empty()) continue;
        std::fwrite(text.data(), 1, text.size(), err_);
        std::fputc('\n', err_);
        ++bars_drawn_;
    }
    std::fflush(err_);
}

std::string utc_time_now() {
    using namespace std::chrono;
    const auto now = time_point_cast<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

}  // namespace vrk::cli
