#include "app/progress_estimate.h"

#include <algorithm>
#include <cstdio>

namespace vrk::app {

void ProgressEstimate::start(std::uint32_t now, std::uint32_t pages_done, std::uint32_t pages) {
    start_tick_ = now_ = now;
    start_done_ = done_ = pages_done;
    pages_ = pages;
}

void ProgressEstimate::update(std::uint32_t now, std::uint32_t pages_done) {
    now_ = now;
    done_ = pages_done;
}

unsigned ProgressEstimate::percent() const {
    if (pages_ == 0) return 0;
    return static_cast<unsigned>(std::min<std::uint64_t>(100, std::uint64_t{done_} * 100 / pages_));
}

std::optional<double> ProgressEstimate::pages_per_second() const {
    const std::uint32_t elapsed = now_ - start_tick_;  // ticks wrap: a difference is safe
    if (done_ <= start_done_ || elapsed == 0) return std::nullopt;
    return 1000.0 * (done_ - start_done_) / elapsed;
}

std::optional<std::uint32_t> ProgressEstimate::ms_left() const {
    const auto rate = pages_per_second();
    if (!rate) return std::nullopt;
    const std::uint32_t left = pages_ > done_ ? pages_ - done_ : 0;
    return static_cast<std::uint32_t>(std::min(1000.0 * left / *rate, 4.0e9));
}

std::size_t format_duration(std::uint32_t ms, char* buffer, std::size_t size) {
    const std::uint32_t seconds = (ms + 999) / 1000;  // "0:00 left" only when nothing is left
    int n;
    if (seconds >= 3600)
        n = std::snprintf(buffer, size, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                          seconds % 60);
    else
        n = std::snprintf(buffer, size, "%u:%02u", seconds / 60, seconds % 60);
    return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), size == 0 ? 0 : size - 1);
}

}  // namespace vrk::app
