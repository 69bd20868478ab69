// The whole program against the simulated unit: the real POSIX port on the simulator's
// pseudo-terminal, the main window's controls model initialised as start-up does it, and a
// loop of timer ticks. Shared by the end-to-end tests and the benchmarks, so it uses no test
// framework.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/session.h"
#include "link/link.h"
#include "platform/control_ids.h"
#include "platform/controls_model.h"
#include "platform/posix/posix_platform.h"
#include "sim/simulator.h"

namespace vrk::test {

// The steady clock, running `factor` times faster than real time. The program's time limits
// (2 s page retry, 30 s without progress) can then be met in a fraction of the time; the
// program only ever compares tick differences, so it cannot tell.
class ScaledClock final : public platform::TickClock {
  public:
    using Clock = std::chrono::steady_clock;
    explicit ScaledClock(std::uint32_t factor = 1) : factor_(factor), origin_(Clock::now()) {}
    std::uint32_t tick_ms() override {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin_).count();
        return static_cast<std::uint32_t>(base_ + static_cast<std::uint64_t>(ms) * factor_);
    }
    void sleep_ms(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::microseconds(std::uint64_t{ms} * 1000 / factor_));
    }
    // Changes the rate from now on; the tick goes on from where it is, never backwards.
    void set_factor(std::uint32_t factor) {
        base_ = tick_ms();
        origin_ = Clock::now();
        factor_ = factor;
    }

  private:
    // Starts well above zero: the transfer engine treats a start time of 0 as "idle".
    std::uint64_t base_ = 1000;
    std::uint32_t factor_;
    Clock::time_point origin_;
};

class SimSession {
  public:
    using Clock = std::chrono::steady_clock;

    SimSession(sim::UnitConfig unit, platform::FileSystem& files, platform::HostServices& host,
               std::uint32_t clock_factor = 1)
        : sim_(std::move(unit)), clock_(clock_factor), files_(files), host_(host) {}
    ~SimSession() {
        // The program lets go of its end first, as at shutdown.
        session_.reset();
        sim_.stop();
    }

    // Starts the unit, opens its line with the real port and brings the program up as start-up
    // does: line settings at 115200, the window initialised, the first probe sent, and a lost
    // port opened again by the name it was opened by. With `link_path` the unit's terminal is
    // reached through a symbolic link there, as through vrk-sim --link. False, with the reason
    // in *error, when the unit or the port cannot be had.
    bool open(std::string* error, const std::string& link_path = {}) {
        if (!sim_.start(error)) return false;
        if (!link_path.empty() && !sim_.link_at(link_path, error)) return false;
        const std::string name = link_path.empty() ? sim_.device_path() : link_path;
        platform::OpenResult opened = ports_.open(name);
        if (!opened.port) {
            if (error) *error = platform::describe_port_error(opened.error, name);
            return false;
        }
        session_ = std::make_unique<app::Session>(std::move(opened.port), name,
                                                  app::SessionServices{clock_, files_, host_});
        session_->set_reopen([this, name] {
            ++reopen_attempts_;
            return ports_.open(name);
        });
        return true;
    }

    // Runs timer ticks until done() holds or the limit passes; true when it held. The ticks come
    // on the main window's 10 ms period, as the timer delivers them: a tick that overran its
    // period (a quiet read waits 50 ms) is followed at once by the next, never by a burst.
    template <typename Done>
    bool run_until(Done done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        const auto deadline = Clock::now() + limit;
        auto next = Clock::now();
        for (;;) {
            if (done()) return true;
            if (Clock::now() >= deadline || session_->window().ended()) return done();
            const auto now = Clock::now();
            if (next > now) std::this_thread::sleep_until(next);
            next = std::max(next + std::chrono::milliseconds(app::TIMER_PERIOD_MS), Clock::now());
            session_->tick();
            ++ticks_;
        }
    }

    // The linked state with the unit's settings loaded: the hunt is over.
    [[nodiscard]] bool settings_loaded() {
        return session_->context().link.link_state == link::LINK_SETTINGS_LOADED;
    }
    [[nodiscard]] std::string status() { return session_->window().text(ids::STATUS); }
    // Index of the list item with exactly this text, or -1.
    [[nodiscard]] int item_index(int list, const std::string& text) {
        auto& window = session_->window();
        for (int i = 0; i < window.item_count(list); ++i)
            if (window.item_text(list, i) == text) return i;
        return -1;
    }

    sim::Simulator& sim() { return sim_; }
    platform::ControlsModel& window() { return session_->window(); }
    app::Context& ctx() { return session_->context(); }
    app::Session& session() { return *session_; }
    ScaledClock& clock() { return clock_; }
    [[nodiscard]] std::uint64_t ticks() const { return ticks_; }
    // How often the session has tried to open its lost port again.
    [[nodiscard]] int reopen_attempts() const { return reopen_attempts_; }

  private:
    sim::Simulator sim_;
    ScaledClock clock_;
    platform::FileSystem& files_;
    platform::HostServices& host_;
    platform::PosixPortProvider ports_;
    std::unique_ptr<app::Session> session_;
    std::uint64_t ticks_ = 0;
    int reopen_attempts_ = 0;
};

}  // namespace vrk::test
