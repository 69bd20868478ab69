#include "app/cli/common/utc_time.h"

#include <chrono>
#include <cstdio>

namespace vrk::cli {

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

std::optional<std::string> utc_time_text(std::string_view text) {
    std::size_t at = 0;
    const auto number = [&](std::size_t digits) -> std::optional<unsigned> {
        if (at + digits > text.size()) return std::nullopt;
        unsigned value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            const char c = text[at + i];
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        at += digits;
        return value;
    };
    const auto literal = [&](char c) {
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    };
    const auto year = number(4);
    if (!year || !literal('-')) return std::nullopt;
    const auto month = number(2);
    if (!month || !literal('-')) return std::nullopt;
    const auto day = number(2);
    if (!day) return std::nullopt;
    unsigned hour = 0, minute = 0, second = 0, millisecond = 0;
    if (literal('T')) {
        const auto h = number(2);
        if (!h || !literal(':')) return std::nullopt;
        const auto m = number(2);
        if (!m) return std::nullopt;
        hour = *h;
        minute = *m;
        if (literal(':')) {
            const auto sec = number(2);
            if (!sec) return std::nullopt;
            second = *sec;
            if (literal('.')) {
                // Milliseconds, as the records keep them; finer digits are cut.
                std::size_t digits = 0;
                for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
                    if (digits < 3)
                        millisecond = millisecond * 10 + static_cast<unsigned>(text[at] - '0');
                if (digits == 0) return std::nullopt;
                for (; digits < 3; ++digits) millisecond *= 10;
            }
        }
    }
    (void)literal('Z');
    if (at != text.size()) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*year)),
                                           std::chrono::month(*month), std::chrono::day(*day)};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    char out[32];
    std::snprintf(out, sizeof out, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", *year, *month, *day, hour,
                  minute, second, millisecond);
    return std::string(out);
}

}  // namespace vrk::cli
