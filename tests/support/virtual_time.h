// Time that passes only when someone sleeps or waits: a read's wait on the simulated port shows
// as exactly the time it took, and a job's 10 ms tick moves it on by 10 ms. A session, its
// simulated unit and a whole vrk job run on it without any real time passing, so the
// protocol's limits (2 s page retry, 30 s without progress) cost nothing to test.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "platform/tick_clock.h"
#include "sim/simulated_port.h"

namespace vrk::test {

class VirtualTime final : public sim::LineClock, public platform::TickClock {
  public:
    [[nodiscard]] Clock::time_point now() override { return now_; }
    void sleep_until(Clock::time_point deadline) override { move_to(std::max(now_, deadline)); }
    [[nodiscard]] std::uint32_t tick_ms() override {
        return static_cast<std::uint32_t>(
            1000 + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed()).count());
    }
    void sleep_ms(std::uint32_t ms) override {
        ++sleeps_;
        move_to(now_ + std::chrono::milliseconds(ms));
    }
    [[nodiscard]] Clock::duration elapsed() const { return now_ - Clock::time_point{}; }
    // How often a timer's sleep (sleep_ms) was asked for.
    [[nodiscard]] std::uint64_t sleeps() const { return sleeps_; }

    // Runs `action` once time has passed `after` from now (a unit plugged in 3 s later).
    void at(std::chrono::milliseconds after, std::function<void()> action) {
        alarms_.push_back({now_ + after, std::move(action)});
    }

  private:
    void move_to(Clock::time_point when) {
        now_ = when;
        for (std::size_t i = 0; i < alarms_.size();) {
            if (alarms_[i].first > now_) {
                ++i;
                continue;
            }
            auto action = std::move(alarms_[i].second);
            alarms_.erase(alarms_.begin() + static_cast<std::ptrdiff_t>(i));
            action();
        }
    }

    Clock::time_point now_{};
    std::uint64_t sleeps_ = 0;
    std::vector<std::pair<Clock::time_point, std::function<void()>>> alarms_;
};

}  // namespace vrk::test
