#include "app/cli/line_tally.h"

#include <cstdio>
#include <utility>

namespace vrk::cli {

std::optional<std::string> Tally::yield_text() const {
    if (units == 0) return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", 100.0 * passed / units);
    return text;
}

LineTally::LineTally(std::size_t ports, std::optional<std::uint32_t> count,
                     std::optional<std::uint32_t> max_failures)
    : count_(count), max_failures_(max_failures), ports_(ports) {}

bool LineTally::take_unit() {
    std::lock_guard lock(mutex_);
    if (stopped_ || (count_ && taken_ >= *count_)) return false;
    ++taken_;
    return true;
}

void LineTally::unit_ended(std::size_t port, bool passed) {
    std::lock_guard lock(mutex_);
    ++total_.units;
    if (passed) ++total_.passed;
    if (port < ports_.size()) {
        ++ports_[port].units;
        if (passed) ++ports_[port].passed;
    }
    if (max_failures_ && total_.failed() >= *max_failures_) stopped_ = true;
}

bool LineTally::first_ids_warning() {
    std::lock_guard lock(mutex_);
    return !std::exchange(ids_warned_, true);
}

void LineTally::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
}

bool LineTally::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_ || (count_ && taken_ >= *count_);
}

Tally LineTally::total() const {
    std::lock_guard lock(mutex_);
    return total_;
}

Tally LineTally::of_port(std::size_t port) const {
    std::lock_guard lock(mutex_);
    return port < ports_.size() ? ports_[port] : Tally{};
}

}  // namespace vrk::cli
