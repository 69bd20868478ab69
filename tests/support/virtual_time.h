// Time that passes only when someone sleeps or waits: a read's wait on the simulated port shows
// as exactly the time it took, and a job's 10 ms tick moves it on by 10 ms. A session, its
// simulated unit and a whole vrk job run on it without any real time passing, so the
// protocol's limits (2 s page retry, 30 s without progress) cost nothing to test.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/tick_clock.h"
#include "sim/simulated_port.h"

namespace vrk::test {

class VirtualTime final : public sim::LineClock, public platform::TickClock {
  public:
    [[nodiscard]] Clock::time_point now() override { return now_; }
    void sleep_until(Clock::time_point deadline) override { now_ = std::max(now_, deadline); }
    [[nodiscard]] std::uint32_t tick_ms() override {
        return static_cast<std::uint32_t>(
            1000 + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed()).count());
    }
    void sleep_ms(std::uint32_t ms) override { now_ += std::chrono::milliseconds(ms); }
    [[nodiscard]] Clock::duration elapsed() const { return now_ - Clock::time_point{}; }

  private:
    Clock::time_point now_{};
};

}  // namespace vrk::test
